#include "support/test_support.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <iterator>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  std::string name = (std::filesystem::temp_directory_path() / "grafolio-test-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const std::filesystem::path& file) {
  const auto bytes = ReadBytes(file);
  return {bytes.begin(), bytes.end()};
}

void WriteBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
  WriteBytes(file, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  char pair[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", bytes[i]);
    out += pair;
  }
  return out;
}

std::vector<std::uint8_t> FromHex(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::istringstream in(text);
  for (std::string pair; in >> pair;) out.push_back(static_cast<std::uint8_t>(std::stoul(pair, nullptr, 16)));
  return out;
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> v(size);
  for (std::size_t i = 0; i < size; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, sep);) out.push_back(part);
  return out;
}

std::vector<std::vector<std::string>> OracleFields(const std::vector<std::string>& lines) {
  std::vector<std::vector<std::string>> out;
  for (const auto& line : lines) {
    if (line.starts_with("#format") || line.starts_with("#biff")) continue;
    auto f = Split(line, '\t');
    if (line.starts_with("#sheet") && f.size() >= 3) f.resize(3);
    if (f.size() == 5 && f[3] == "date") f[3] = "number";
    out.push_back(f);
  }
  return out;
}

std::filesystem::path CorpusDir() { return GRAFOLIO_CORPUS_DIR; }
std::filesystem::path SourceDir() { return GRAFOLIO_SOURCE_DIR; }

}  // namespace testing_support
