#include "http/request_log.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "platform/program.h"

namespace fs = std::filesystem;

namespace {

// How long a writer waits for another one to finish its line before it
// appends without the lock (a single O_APPEND write still lands whole on a
// local file system, and a stuck peer must not hang the request).
constexpr auto kLockPatience = std::chrono::seconds(2);

bool IsDirectory(const fs::path& dir) {
  std::error_code ec;
  return fs::is_directory(dir, ec);
}

// The folder the log goes to: CGI_LOG_DIR or "Log" beside the program,
// created when missing; the program's folder when that is impossible.
fs::path LogFolder() {
  const fs::path programDir = platform::ProgramDir();
  fs::path dir = programDir / "Log";
  if (const char* configured = std::getenv("CGI_LOG_DIR"); configured && *configured) {
    dir = fs::path(configured);
    if (dir.is_relative()) dir = programDir / dir;
  }
  dir = dir.lexically_normal();
  if (IsDirectory(dir)) return dir;
  std::error_code ec;
  fs::create_directories(dir, ec);
  return IsDirectory(dir) ? dir : programDir.lexically_normal();
}

std::string LogFileName() {
  const std::string program = platform::ProgramName();
  return program.substr(0, program.find('.')) + ".Log";
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return buf;
}

// Owns an open file descriptor.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Holds an exclusive flock while it lives (if it could be taken).
class ExclusiveLock {
 public:
  explicit ExclusiveLock(int fd) : fd_(fd) {
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    locked_ = true;
  }
  ~ExclusiveLock() {
    if (locked_) ::flock(fd_, LOCK_UN);
  }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  int fd_;
  bool locked_ = false;
};

// False with errno set when not everything could be written.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The line goes to standard error, which web servers keep in their error
// log, with the reason the request log could not take it.
void WriteToStandardError(std::string_view line, const fs::path& file, int error) {
  std::string text(line.substr(0, line.size() - 2));  // without CR LF
  text += "  [request log " + file.string() + " not writable: " + std::strerror(error) + "]\n";
  WriteAll(STDERR_FILENO, text);
}

}  // namespace

void WriteRequestLogLine(std::string_view message, int requestId) {
  try {
    std::string line = Timestamp();
    line.append(",  ");
    line.append(std::to_string(requestId));
    line.append(" : ");
    const std::size_t messageStart = line.size();
    line.append(message);
    for (std::size_t i = messageStart; i < line.size(); ++i) {
      if (line[i] == '\r' || line[i] == '\n') line[i] = ' ';
    }
    line.append("\r\n");

    const fs::path file = LogFolder() / LogFileName();
    FileHandle fd(::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) return WriteToStandardError(line, file, errno);
    ExclusiveLock lock(fd.get());
    if (!WriteAll(fd.get(), line)) WriteToStandardError(line, file, errno);
  } catch (...) {
    // The log is best effort; a failure here must not disturb the request.
  }
}
