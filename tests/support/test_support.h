// Small helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder below the system temp folder, removed with everything in it
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file);
std::string ReadText(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);
void WriteText(const std::filesystem::path& file, const std::string& text);

// Bytes as upper-case hex pairs separated by blanks ("0A FF"), and back
// (any whitespace between the pairs).
std::string Hex(const std::uint8_t* bytes, std::size_t count);
inline std::string Hex(const std::vector<std::uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }
std::vector<std::uint8_t> FromHex(const std::string& text);

// Folder of the shared .xls corpus and of the source tree.
std::filesystem::path CorpusDir();
std::filesystem::path SourceDir();

}  // namespace testing_support
