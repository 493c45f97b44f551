#include "workbook/workbook_format.h"

#include <array>
#include <cctype>

#include "platform/sysutils.h"

namespace workbook {

namespace {

constexpr std::string_view kOdfSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
constexpr std::string_view kOfficeNamespace = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) != tail[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':' ||
         static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

const char* FormatName(Format format) {
  switch (format) {
    case Format::kBiff: return "biff";
    case Format::kXlsx: return "xlsx";
    case Format::kOds: return "ods";
    case Format::kFods: return "ods";  // flat or packaged, the same ODF content
    case Format::kCsv: return "csv";
  }
  return "biff";
}

bool LooksLikeZip(std::span<const std::uint8_t> head) {
  if (head.size() < 4 || head[0] != 'P' || head[1] != 'K') return false;
  return (head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6);
}

bool LooksLikeCompound(std::span<const std::uint8_t> head) {
  static constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  return head.size() >= kSignature.size() && std::equal(kSignature.begin(), kSignature.end(), head.begin());
}

Format ZipFormat(const ZipFacts& facts) {
  if (TrimBlanks(facts.mimetype) == kOdfSpreadsheet) return Format::kOds;
  if (facts.workbookContentType) return Format::kXlsx;
  throw Exception("File is not a Excel file");
}

// document ::= BOM? (decl | comment | pi | doctype | blank)* root-start-tag
bool IsFlatOdf(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  std::size_t i = 0;
  for (;;) {
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i]))) ++i;
    if (i >= head.size() || head[i] != '<') return false;
    const std::string_view rest = head.substr(i);
    std::string_view close;
    if (rest.starts_with("<?")) {
      close = "?>";
    } else if (rest.starts_with("<!--")) {
      close = "-->";
    } else if (rest.starts_with("<!DOCTYPE")) {
      const std::size_t subset = rest.find('[');
      close = subset != std::string_view::npos && subset < rest.find('>') ? "]>" : ">";
    } else {
      break;
    }
    const std::size_t end = rest.find(close);
    if (end == std::string_view::npos) return false;
    i += end + close.size();
  }
  // The root's start tag: its name, then its attributes up to ">".
  std::size_t p = i + 1;
  const std::size_t nameStart = p;
  while (p < head.size() && IsNameChar(head[p])) ++p;
  const std::string_view name = head.substr(nameStart, p - nameStart);
  const std::size_t colon = name.find(':');
  const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
  const std::string_view local = colon == std::string_view::npos ? name : name.substr(colon + 1);
  if (local != "document") return false;
  const std::string wanted = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  while (p < head.size() && head[p] != '>') {
    while (p < head.size() && std::isspace(static_cast<unsigned char>(head[p]))) ++p;
    const std::size_t attrStart = p;
    while (p < head.size() && IsNameChar(head[p])) ++p;
    const std::string_view attr = head.substr(attrStart, p - attrStart);
    while (p < head.size() && (std::isspace(static_cast<unsigned char>(head[p])) || head[p] == '=')) ++p;
    if (p >= head.size() || (head[p] != '"' && head[p] != '\'')) return false;
    const char quote = head[p++];
    const std::size_t close = head.find(quote, p);
    if (close == std::string_view::npos) return false;
    if (attr == wanted) return head.substr(p, close - p) == kOfficeNamespace;
    p = close + 1;
  }
  return false;
}

Format HeadFormat(std::span<const std::uint8_t> head, std::string_view fileName) {
  if (LooksLikeCompound(head)) return Format::kBiff;
  const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  if (IsFlatOdf(text)) return Format::kFods;
  if ((EndsWithNoCase(fileName, ".csv") || EndsWithNoCase(fileName, ".txt")) &&
      text.find('\0') == std::string_view::npos) {
    return Format::kCsv;
  }
  return Format::kBiff;
}

}  // namespace workbook
