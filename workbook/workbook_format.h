// Which reader a workbook file goes to, decided by its content (and, for
// CSV, its name): pure logic over the first bytes and a few facts a caller
// has looked up in the container.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace workbook {

enum class Format {
  kBiff,  // compound document or BIFF record file: the BIFF reader
  kXlsx,  // zip package whose [Content_Types].xml names a workbook part
  kOds,   // zip whose entry "mimetype" (first, as ODF asks, or later) names an ODF spreadsheet
  kFods,  // flat ODF: an XML document whose root is office:document
  kCsv,   // a .csv or .txt file holding text
};

// Name of a format in the dump's "#format" line: biff, xlsx, ods, fods, csv.
const char* FormatName(Format format);

// What the container tells about a zip file.
struct ZipFacts {
  std::string firstEntryName;     // the first entry in the central directory
  std::string mimetype;           // start of the entry named "mimetype", if any
  bool workbookContentType = false;  // [Content_Types].xml names a workbook part
};

// True when the bytes begin like a zip archive.
bool LooksLikeZip(std::span<const std::uint8_t> head);
// True when the bytes begin like a compound document.
bool LooksLikeCompound(std::span<const std::uint8_t> head);

// The format of a zip file from its facts; raises Exception "File is not a
// Excel file" when it is neither package.
Format ZipFormat(const ZipFacts& facts);

// The format of a file that is not a zip from its first bytes (up to a few
// KiB) and its name. A compound document is kBiff (encrypted OOXML packages
// are found by the caller, who opens the container); an XML document whose
// root element is office:document (in ODF's office namespace) is kFods; a
// file named .csv or .txt (any case) whose head is text (valid UTF-8 or a
// single-byte code page: no NUL and few control bytes) is kCsv; everything
// else is kBiff, whose reader gives the existing "not a Excel file" error.
Format HeadFormat(std::span<const std::uint8_t> head, std::string_view fileName);

// True when an XML head's root element is office:document in the ODF office
// namespace (whatever its prefix). The head may end inside the document.
bool IsFlatOdf(std::string_view head);

}  // namespace workbook
