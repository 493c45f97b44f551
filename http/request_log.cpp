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
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/program.h"
#include "platform/work_file.h"

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
// created when missing; the program's folder when that is impossible. When
// something that is not a folder stands there, it stays the log folder (and
// the log cannot be opened): a file put in the way must not move the log.
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
  if (IsDirectory(dir)) return dir;
  struct stat st {};
  const bool nothingThere = ::lstat(dir.c_str(), &st) != 0 && errno == ENOENT;
  return nothingThere ? programDir.lexically_normal() : dir;
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

// The line goes to standard error, which web servers keep in their error
// log, with the reason the request log could not take it.
void WriteToStandardError(std::string_view line, const fs::path& file, const std::string& why) {
  std::string text(line.substr(0, line.size() - 2));  // without CR LF
  text += "  [request log " + file.string() + " not writable: " + why + "]\n";
  platform::WriteAll(STDERR_FILENO, text.data(), text.size());
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

    // Not through a link, not blocked by a FIFO, only into a file of ours.
    const fs::path file = LogFolder() / LogFileName();
    std::string why;
    const platform::UniqueFd fd = platform::OpenWorkFile(file.string(), O_WRONLY | O_APPEND | O_CREAT, 0666, why);
    if (!fd) return WriteToStandardError(line, file, why);
    ExclusiveLock lock(fd.get());
    if (!platform::WriteAll(fd.get(), line.data(), line.size())) WriteToStandardError(line, file, std::strerror(errno));
  } catch (...) {
    // The log is best effort; a failure here must not disturb the request.
  }
}
