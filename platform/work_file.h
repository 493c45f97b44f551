// Files in folders that other users or processes may write (Temp/, Log/,
// output paths named by a request): opened without following a symbolic
// link and without blocking on a FIFO, and accepted only when they are
// regular files owned by this process's user. Writes are checked whole.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace platform {

// An owned file descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Opens PATH with FLAGS (O_CREAT and O_EXCL allowed; O_NOFOLLOW, O_NONBLOCK
// and O_CLOEXEC are added) and MODE for a created file. The descriptor is
// returned in blocking mode, and only for a regular file owned by this user;
// otherwise an empty UniqueFd, with `why` set to the reason ("is a symbolic
// link", "is not a regular file", "is not owned by this user", or the
// system's error text), and nothing opened stays open. A file that O_TRUNC
// would empty is truncated only after those checks pass.
UniqueFd OpenWorkFile(const std::string& path, int flags, mode_t mode, std::string& why);

// OpenWorkFile without the owner check: for files another user (the web
// server) may have written for us to read, or that several users share.
UniqueFd OpenRegularFile(const std::string& path, int flags, mode_t mode, std::string& why);

// True when FOLDER is a directory (not a link to one) owned by this user and
// not writable by group or others; otherwise false with `why` set.
bool CheckWorkFolder(const std::string& folder, std::string& why);

// Writes COUNT bytes, retrying after interruptions and partial writes.
// False when a write fails or writes nothing (errno set; ENOSPC for a write
// that wrote nothing without an error): the caller must treat what was
// written as incomplete.
bool WriteAll(int fd, const void* data, std::size_t count);

}  // namespace platform
