// Text decoding into the program's UTF-8: UTF-16LE (BIFF8 strings,
// compound-file names) and the 8-bit Windows code pages that BIFF2-BIFF7
// workbooks name in their CODEPAGE record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Code page a BIFF2-BIFF7 workbook is read with when it has no CODEPAGE
// record: Windows Latin 1 (cp1252), as Excel itself assumes on western
// systems. Note that xlrd, the reader our test oracle comes from, takes
// ISO-8859-1 in that case instead; the two differ only for the bytes
// 0x80-0x9F (cp1252 has printable characters such as the euro sign there,
// ISO-8859-1 has C1 control codes).
inline constexpr int kDefaultCodepage = 1252;

// `units` UTF-16LE code units starting at `p` as UTF-8. Surrogate pairs are
// joined into one character; a lone surrogate becomes U+FFFD. A unit of 0 is
// kept as a NUL character (callers pass exact counts).
std::string Utf16LeToUtf8(const std::uint8_t* p, std::size_t units);

// 8-bit (or double-byte) text in the given Windows code page as UTF-8.
// Known: 874, 932, 936, 949, 950, 1361, 1200 (UTF-16LE), 1250-1258, 10000
// and 32768 (Mac Roman), 367 and 20127 (US-ASCII), 32769 (cp1252), 65001
// (UTF-8) and the DOS code pages 437, 720, 737, 775, 850, 852, 855, 857,
// 858, 860-866 and 869. Any other number is read as cp1252. Bytes the code page cannot decode become
// U+FFFD and decoding goes on behind them. Safe to call from several threads.
std::string CodepageToUtf8(std::string_view bytes, int codepage);

// ISO-8859-1 bytes as UTF-8 (each byte is its own code point).
std::string Latin1ToUtf8(std::string_view bytes);

// UTF-8 text as Windows Latin 1 (cp1252) bytes, the code page the workbook
// writer stores 8-bit text in. Returns false when the text holds a
// character cp1252 has no byte for (or is not valid UTF-8); `offending` then
// receives that character (or the bad byte) as it appeared in the input.
bool Utf8ToCp1252(std::string_view utf8, std::string& out, std::string& offending);

}  // namespace platform
