#include "gateways/cgi_ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "http/http_fields.h"
#include "platform/sysutils.h"
#include "platform/work_file.h"

namespace {

std::string Name(std::string_view text) { return std::string(Trim(UpperCase(text))); }

}  // namespace

TCGIIniFile::TCGIIniFile(const std::string& path) {
  // A FIFO or device at the name would block or never end.
  std::string why;
  const platform::UniqueFd fd = platform::OpenRegularFile(path, O_RDONLY, 0, why);
  if (!fd) throw Exception("Cannot open WinCGI request file " + path + ": " + why);
  std::string text;
  struct stat st {};
  bool ok = ::fstat(fd.get(), &st) == 0 && static_cast<std::size_t>(st.st_size) <= kMaxSize;
  if (!ok) why = "larger than " + std::to_string(kMaxSize) + " bytes";
  char buffer[8192];
  while (ok) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      if (!ok) why = std::strerror(errno);
      break;
    }
    text.append(buffer, static_cast<std::size_t>(n));
    ok = text.size() <= kMaxSize;
    if (!ok) why = "larger than " + std::to_string(kMaxSize) + " bytes";
  }
  if (!ok) throw Exception("Cannot read WinCGI request file " + path + ": " + why);
  Parse(text);
}

void TCGIIniFile::Parse(std::string_view text) {
  std::map<std::string, std::string>* section = nullptr;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= 32 && text[pos] != '\r' && text[pos] != '\n') {
      ++pos;
    }
    std::size_t end = pos;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    if (line.empty()) continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      while (!name.empty() && (name.back() == ']' || name.back() == ' ')) name.remove_suffix(1);
      section = &sections_[Name(name)];
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos || eq >= 32 || !section) continue;
    std::string key = Name(line.substr(0, eq));
    if (key.empty()) continue;
    (*section)[std::move(key)] = std::string(Trim(line.substr(eq + 1)));
  }
}

std::string TCGIIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
  const auto s = sections_.find(Name(section));
  if (s == sections_.end()) return std::string(defaultValue);
  const auto k = s->second.find(Name(key));
  return k == s->second.end() ? std::string(defaultValue) : k->second;
}

bool TCGIIniFile::ValueExists(std::string_view section, std::string_view key) const {
  const auto s = sections_.find(Name(section));
  return s != sections_.end() && s->second.count(Name(key)) > 0;
}

std::vector<std::string> TCGIIniFile::Sections() const {
  std::vector<std::string> names;
  for (const auto& [name, keys] : sections_) names.push_back(name);
  return names;
}

std::vector<std::string> TCGIIniFile::Keys(std::string_view section) const {
  std::vector<std::string> names;
  const auto s = sections_.find(Name(section));
  if (s != sections_.end()) {
    for (const auto& [key, value] : s->second) names.push_back(key);
  }
  return names;
}
