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

// Whether PATH may be replaced by a finished file: it is missing, or a
// regular file (not a link, device, FIFO or folder). Otherwise false with
// `why` set ("is not a regular file", or the system's error text).
bool MayReplace(const std::string& path, std::string& why);

// Renames the finished file FROM to TO when MayReplace(TO), checked again at
// the rename (a missing TO is only created, never replaced by something
// made meanwhile). False with `why` set otherwise; FROM then stays.
bool ReplaceFile(const std::string& from, const std::string& to, std::string& why);

// Creates an empty file with a fresh name beside PATH (".NAME.XXXXXX", mode
// 0666 less the umask) for a file that replaces PATH when it is complete.
// Returns its name; raises Exception "cannot create a file beside \"PATH\":
// REASON".
std::string CreateFileBeside(const std::string& path);

}  // namespace platform
