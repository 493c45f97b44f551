// Run-time helpers the whole program shares: the general exception class,
// integer and float conversions with the messages the program reports, and
// HTML escaping.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// The general exception class: every failure the program reports is one of
// these (or derived), carrying the message text that ends up in the log.
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed text-to-number conversion.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// Integer conversion as the run-time library does it: optional leading
// blanks, an optional sign, decimal digits or a "$"/"0x" hexadecimal number,
// nothing behind. Anything else (an empty text included) raises
// EConvertError "'<text>' ist kein gültiger Integerwert". The value must fit
// a signed 32-bit integer.
int StrToInt(std::string_view text);

// Like StrToInt but returns false instead of raising.
bool TryStrToInt(std::string_view text, int& value);

// Shortest general text of a double with up to 15 significant digits and a
// point as decimal separator: 12 -> "12", 2.5 -> "2.5", 1e20 -> "1E20".
std::string FloatToStr(double value);

// Decodes one UTF-8 sequence at text[i] (i < text.size()); returns the code
// point and advances i, or returns U+FFFD and advances by one byte for an
// invalid sequence (overlong forms, surrogates and values above U+10FFFF
// included).
char32_t DecodeUtf8(std::string_view text, std::size_t& i);

// Text for HTML: "&", "<" and ">" escaped; every
// non-ASCII character (UTF-8 decoded) written as a numeric character
// reference, so the page is right under an ISO-8859-1 declaration. Invalid
// UTF-8 bytes and control characters other than tab, CR and LF become
// U+FFFD references.
std::string HtmlEscape(std::string_view utf8);
