#include "http/http_fields.h"

namespace {

int HexDigit(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  return -1;
}

}  // namespace

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (ch == '+') {
      out += ' ';
    } else if (ch == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (auto& ch : out) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::string LookupField(std::string_view content, std::string_view name, std::string_view defaultValue) {
  const std::string key(Trim(UpperCase(name)));
  const std::string work = std::string(content) + "&";
  std::string result;
  bool found = false;
  std::size_t pos = 0;
  while (true) {
    const auto eq = work.find('=', pos);
    if (eq == std::string::npos) break;
    const auto amp = work.find('&', eq + 1);  // always found: "&" was appended
    const std::string fieldName(Trim(UpperCase(UrlDecode(std::string_view(work).substr(pos, eq - pos)))));
    if (fieldName == key) {
      const std::string value = UrlDecode(std::string_view(work).substr(eq + 1, amp - eq - 1));
      if (found) result += "\r\n";
      result += value;
      found = true;
    }
    pos = amp + 1;
  }
  return found ? result : std::string(defaultValue);
}

std::vector<std::string> FieldNames(std::string_view content) {
  std::vector<std::string> names;
  std::size_t pos = 0;
  while (pos <= content.size()) {
    auto amp = content.find('&', pos);
    if (amp == std::string_view::npos) amp = content.size();
    const auto segment = content.substr(pos, amp - pos);
    const auto eq = segment.find('=');
    if (eq != std::string_view::npos) {
      std::string name = UrlDecode(segment.substr(0, eq));
      if (names.empty() || names.back() != name) names.push_back(std::move(name));
    }
    pos = amp + 1;
  }
  return names;
}
