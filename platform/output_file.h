// A file being written: created (or truncated) at once, so that a path that
// cannot be written fails early, and filled in one go by Commit. Until
// Commit succeeds, destroying the object removes the file again (when it is
// a regular file), so that an abandoned or failed write leaves nothing that
// looks complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class OutputFile {
 public:
  // Raises Exception "Cannot create file \"PATH\": REASON".
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes the bytes, flushes them to disk and closes the file. On failure
  // the file is removed and Exception "Cannot write file \"PATH\": REASON"
  // raised.
  void Commit(const std::vector<std::uint8_t>& bytes);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool committed_ = false;
  bool regular_ = false;
};

}  // namespace platform
