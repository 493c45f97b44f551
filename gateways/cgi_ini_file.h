// The request file of a WinCGI start: an ini-style text of sections and
// key=value lines, read into memory once.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class TCGIIniFile {
 public:
  // Largest request file read; a larger one is refused.
  inline static constexpr std::size_t kMaxSize = 16u << 20;

  TCGIIniFile() = default;
  // Reads the file; raises Exception "Cannot open WinCGI request file PATH:
  // REASON" when it cannot be opened or is no regular file (a link, FIFO or
  // device), "Cannot read WinCGI request file PATH: REASON" when reading
  // fails or it is larger than kMaxSize.
  explicit TCGIIniFile(const std::string& path);

  // Parses the text. Lines end at CR (the LF behind it is skipped) or at a
  // lone LF; bytes of code 32 or less at a line's start are dropped. "[name]"
  // starts a section (upper-cased, trimmed; a section named twice goes on
  // with its first list). Other lines are key lines when they hold "=" within
  // their first 32 characters: key upper-cased and trimmed, value trimmed; an
  // empty key or a key before the first section is ignored; a later value
  // replaces an earlier one.
  void Parse(std::string_view text);

  // The value, or `defaultValue` when the section or key is missing (names
  // are compared upper-cased and trimmed).
  std::string ReadString(std::string_view section, std::string_view key, std::string_view defaultValue) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  // Section names, sorted; the keys of a section, sorted.
  std::vector<std::string> Sections() const;
  std::vector<std::string> Keys(std::string_view section) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> sections_;
};
