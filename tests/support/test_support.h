// Small helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
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

// The bytes of `text`, not copied.
inline std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// `size` bytes of a pattern that does not repeat at any sector size, so that
// a sector read from the wrong place shows.
std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed);

// The parts of `text` between the `sep` characters.
std::vector<std::string> Split(const std::string& text, char sep);

// A dump's lines as they are compared with an independent reader's: the
// first line (#biff or #format) left out, #sheet lines without their row and
// column counts, date cells as number cells; each line as its tab-separated
// fields.
std::vector<std::vector<std::string>> OracleFields(const std::vector<std::string>& lines);

// Folder of the shared .xls corpus and of the source tree.
std::filesystem::path CorpusDir();
std::filesystem::path SourceDir();

}  // namespace testing_support
