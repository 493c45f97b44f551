#include "http/cgi_exchange.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

#include "http/http_engine.h"

namespace {

// A file descriptor closed on scope exit.
class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, data, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadWhole(int fd, std::string& out) {
  out.clear();
  char buffer[8192];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out.append(buffer, static_cast<std::size_t>(n));
  }
}

// Opens the queue file and takes its lock; tries `attempts` times. Within
// one attempt the lock is tried a few times 1 ms apart, since every holder
// keeps it only for a few microseconds. The lock is taken on the file the
// name stands for at that moment: the server replaces the queue by renaming
// a new one over it, so a lock won on the replaced file is given up and the
// name opened again.
TQueueAccess OpenLocked(const std::string& path, int flags, const TExchangeClock& clock, int attempts, int pauseMs,
                        int& fdOut) {
  int replaced = 0;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) clock.Wait(pauseMs);
    for (int quick = 0; quick < 10; ++quick) {
      if (quick > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
      if (fd < 0) {
        if (errno == ENOENT) return TQueueAccess::NoQueue;
        break;
      }
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
          fdOut = fd;
          return TQueueAccess::Done;
        }
        if (++replaced < 1000) --quick;  // replaced meanwhile: open the new one
      }
      ::close(fd);
      if (::access(path.c_str(), F_OK) != 0) return TQueueAccess::NoQueue;
    }
  }
  return TQueueAccess::Locked;
}

std::vector<TQueueRecord> DecodeQueue(const std::string& bytes) {
  std::vector<TQueueRecord> records;
  for (std::size_t at = 0; at + kQueueRecordSize <= bytes.size(); at += kQueueRecordSize) {
    records.push_back(DecodeQueueRecord(bytes.data() + at));
  }
  return records;
}

void Touch(int fd, const TExchangeClock& clock) {
  const double now = clock.Now();
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(now);
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>((now - static_cast<double>(times[0].tv_sec)) * 1e9);
  ::futimens(fd, times);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && UpperCaseName(text.substr(text.size() - suffix.size())) == suffix;
}

}  // namespace

TExchangePaths ExchangePaths(const std::string& programDir, const std::string& programName) {
  TExchangePaths paths;
  const std::string temp = programDir + "Temp";
  struct stat st {};
  if ((::stat(temp.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) || ::mkdir(temp.c_str(), 0700) == 0) {
    paths.Folder = temp + "/";
  } else {
    paths.Folder = programDir;
  }
  paths.Base = paths.Folder + programName;
  return paths;
}

TExchangeClock SystemClock() {
  TExchangeClock clock;
  clock.Now = [] {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  };
  clock.Wait = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
  return clock;
}

std::array<char, kQueueRecordSize> EncodeQueueRecord(const TQueueRecord& record) {
  std::array<char, kQueueRecordSize> bytes{};
  bytes[0] = static_cast<char>(record.Status);
  static_assert(sizeof(double) == 8);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &record.QueuedAt, 8);
  for (int i = 0; i < 8; ++i) bytes[4 + i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  const std::size_t n = std::min<std::size_t>(record.RequestName.size(), 255);
  std::memcpy(bytes.data() + 12, record.RequestName.data(), n);
  return bytes;
}

TQueueRecord DecodeQueueRecord(const char* bytes) {
  TQueueRecord record;
  record.Status = static_cast<std::uint8_t>(bytes[0]);
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[4 + i])) << (8 * i);
  std::memcpy(&record.QueuedAt, &bits, 8);
  record.RequestName.assign(bytes + 12, strnlen(bytes + 12, 255));
  return record;
}

double LocalDateTime(double unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  return (unixSeconds + static_cast<double>(local.tm_gmtoff)) / 86400.0 + 25569.0;
}

std::string UpperCaseName(std::string_view name) {
  std::string upper(name);
  for (auto& ch : upper) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return upper;
}

std::string RequestFileHead(const std::vector<std::string>& environment) {
  std::string head;
  for (const auto& entry : environment) head.append(entry).append("\r\n");
  head.append("KESTREL_CGI_DEBUG=true\r\n\r\n");
  return head;
}

std::optional<std::size_t> ParseRequestHead(std::string_view bytes, std::vector<std::string>& lines) {
  lines.clear();
  const std::size_t end = bytes.substr(0, kMaxRequestHead).find("\r\n\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  std::size_t at = 0;
  while (at < end) {
    const std::size_t next = std::min(bytes.find("\r\n", at), end);
    lines.emplace_back(bytes.substr(at, next - at));
    at = next + 2;
  }
  return end + 4;
}

namespace {

bool AnswerHeadNeedsNoLength(std::string_view head) {
  const std::string upper = "\n" + UpperCase(head);
  return upper.find("\nCONTENT-LENGTH:") != std::string::npos || upper.rfind("\nHTTP/1.1 304 ", 0) == 0 ||
         upper.find("\nSTATUS:304 ") != std::string::npos;
}

}  // namespace

bool CopyAnswer(const std::string& path, const std::function<void(const char*, std::size_t)>& write) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return false;
  char block[1024];
  bool first = true;
  while (true) {
    ssize_t n = ::read(fd.get(), block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    const std::string_view bytes(block, static_cast<std::size_t>(n));
    const std::size_t p = first ? bytes.find("\r\n\r\n") : std::string_view::npos;
    first = false;
    if (p == std::string_view::npos) {
      write(block, bytes.size());
      continue;
    }
    write(block, p);
    if (AnswerHeadNeedsNoLength(bytes.substr(0, p))) {
      write(block + p, bytes.size() - p);
      continue;
    }
    const std::string length =
        "\r\nContent-Length: " + std::to_string(static_cast<long long>(st.st_size) - static_cast<long long>(p) - 4);
    write(length.data(), length.size());
    write(block + p, bytes.size() - p);
  }
}

bool ServerRunning(const TExchangePaths& paths) {
  TFd fd(::open(paths.Lock().c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;  // nobody holds it
  if (errno != EWOULDBLOCK) return false;
  // The server writes its process id into the lock file once its queue is
  // ready; before that a request queued would be swept away.
  struct stat st {};
  return ::fstat(fd.get(), &st) == 0 && st.st_size > 0;
}

std::optional<double> FileAge(const std::string& path, const TExchangeClock& clock) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const double changed = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
  return clock.Now() - changed;
}

void DeleteClientFiles(const TExchangePaths& paths) {
  const std::string prefix = paths.ClientPrefix();
  const std::string folder = paths.Folder;
  const std::string namePrefix = UpperCaseName(prefix.substr(folder.size()));
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> doomed;
  while (dirent* entry = ::readdir(dir)) {
    if (UpperCaseName(entry->d_name).rfind(namePrefix, 0) == 0) doomed.push_back(folder + entry->d_name);
  }
  ::closedir(dir);
  for (const auto& file : doomed) ::unlink(file.c_str());
}

std::optional<std::string> FindFileNoCase(const std::string& path) {
  if (::access(path.c_str(), F_OK) == 0) return path;
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
  const std::string wanted = UpperCaseName(path.substr(slash == std::string::npos ? 0 : slash + 1));
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::optional<std::string> found;
  while (dirent* entry = ::readdir(dir)) {
    if (UpperCaseName(entry->d_name) == wanted) {
      found = folder + "/" + entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

TQueueAccess AppendQueueRecord(const TExchangePaths& paths, const TQueueRecord& record, const TExchangeClock& clock,
                               int attempts, int pauseMs) {
  int raw = -1;
  const auto access = OpenLocked(paths.Queue(), O_RDWR, clock, attempts, pauseMs, raw);
  if (access != TQueueAccess::Done) return access;
  TFd fd(raw);
  const auto bytes = EncodeQueueRecord(record);
  const off_t end = ::lseek(fd.get(), 0, SEEK_END);
  // A torn record left by a crash would shift every later one: start at a
  // record boundary.
  const off_t at = end - end % static_cast<off_t>(kQueueRecordSize);
  if (end < 0 || ::pwrite(fd.get(), bytes.data(), bytes.size(), at) != static_cast<ssize_t>(bytes.size())) {
    return TQueueAccess::Locked;
  }
  if (at != end && ::ftruncate(fd.get(), at + static_cast<off_t>(kQueueRecordSize)) != 0) return TQueueAccess::Locked;
  Touch(fd.get(), clock);
  return TQueueAccess::Done;
}

TQueueAccess ReadQueue(const TExchangePaths& paths, std::vector<TQueueRecord>& records, const TExchangeClock& clock,
                       int attempts, int pauseMs) {
  // Readers take no lock: the queue is only ever appended to, changed in
  // its status bytes, or replaced as a whole by a rename, so any state read
  // is a consistent one.
  TFd fd;
  for (int attempt = 0; attempt < attempts && !fd; ++attempt) {
    if (attempt > 0) clock.Wait(pauseMs);
    fd.reset(::open(paths.Queue().c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd && errno == ENOENT) return TQueueAccess::NoQueue;
  }
  if (!fd) return TQueueAccess::Locked;
  std::string bytes;
  if (!ReadWhole(fd.get(), bytes)) return TQueueAccess::Locked;
  records = DecodeQueue(bytes);
  return TQueueAccess::Done;
}

// ---------------------------------------------------------------- client

TCgiServerClient::TCgiServerClient(TExchangePaths paths, TExchangeClock clock)
    : paths_(std::move(paths)), clock_(std::move(clock)) {
  DrawId = [] {
    static thread_local std::mt19937 generator(std::random_device{}());
    return std::uniform_int_distribution<int>(0, 65534)(generator);
  };
}

void TCgiServerClient::CleanStaleFiles() {
  const bool running = ServerRunning(paths_);
  if (!running) {
    const auto age = FileAge(paths_.Queue(), clock_);
    if (age && *age > 30) {
      ::unlink(paths_.Queue().c_str());
      clock_.Wait(300);
    }
  }
  if (::access(paths_.Queue().c_str(), F_OK) != 0) DeleteClientFiles(paths_);
}

bool TCgiServerClient::Queue(const std::vector<std::string>& environment, std::string_view body, int attempts) {
  if (::access(paths_.Queue().c_str(), F_OK) != 0) return false;
  // The request file is made exclusively: an id another client holds is
  // drawn again, so no client ever reads another's answer.
  int raw = -1;
  for (int tries = 0; tries < 1000 && raw < 0; ++tries) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", static_cast<unsigned>(DrawId()) & 0xFFFF);
    id_ = id;
    requestPath_ = paths_.Request(id_);
    raw = ::open(requestPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (raw < 0 && errno != EEXIST) return false;
  }
  if (raw < 0) return false;
  {
    TFd fd(raw);
    const std::string head = RequestFileHead(environment);
    if (!WriteAll(fd.get(), head.data(), head.size()) || !WriteAll(fd.get(), body.data(), body.size())) {
      ::unlink(requestPath_.c_str());
      return false;
    }
  }
  TQueueRecord record;
  record.Status = kRecordWaiting;
  record.QueuedAt = LocalDateTime(clock_.Now());
  record.RequestName = UpperCaseName(requestPath_);
  if (AppendQueueRecord(paths_, record, clock_, attempts, 50) != TQueueAccess::Done) {
    ::unlink(requestPath_.c_str());
    return false;
  }
  return true;
}

TCgiServerClient::TStatus TCgiServerClient::RequestStatus() {
  std::vector<TQueueRecord> records;
  const auto access = ReadQueue(paths_, records, clock_, 11, 100);
  if (access == TQueueAccess::NoQueue) return TStatus::NoQueue;
  if (access == TQueueAccess::Locked) {
    if (const auto age = FileAge(paths_.Queue(), clock_); age && *age > 30) ::unlink(paths_.Queue().c_str());
    return TStatus::Unreadable;
  }
  const std::string name = UpperCaseName(requestPath_);
  for (const auto& record : records) {
    if (record.RequestName == name) return record.Status >= kRecordAnswered ? TStatus::Answered : TStatus::Waiting;
  }
  return TStatus::Answered;  // the server removes answered records
}

TCgiServerClient::TResult TCgiServerClient::WaitForAnswer(const std::function<void(const char*, std::size_t)>& write) {
  const double start = clock_.Now();
  while (clock_.Now() - start < 180) {
    if (StopRequested && StopRequested()) return TResult::Stopped;
    const TStatus status = RequestStatus();
    const auto age = FileAge(paths_.Queue(), clock_);
    const bool gone = ServerSeen && !ServerRunning(paths_);
    if (status != TStatus::Answered && (gone || (age && *age > 30))) {
      ::unlink(paths_.Queue().c_str());
      ::unlink(requestPath_.c_str());
      return TResult::ServerGone;
    }
    if (status == TStatus::Answered) {
      // The server names the answer as it found the request, "OUT" in capitals.
      auto answer = FindFileNoCase(paths_.Base + "_C_" + id_ + "_OUT");
      if (!answer) answer = FindFileNoCase(paths_.Answer(id_));
      if (answer) CopyAnswer(*answer, write);
      if (answer) ::unlink(answer->c_str());
      return TResult::Answered;
    }
    if (status == TStatus::NoQueue || status == TStatus::Unreadable) {
      ::unlink(requestPath_.c_str());
      WriteRequestLog("CGI server aborted");
      return TResult::Aborted;
    }
    clock_.Wait(100);
  }
  return TResult::TimedOut;
}

// ---------------------------------------------------------------- server

TCgiServerQueue::TCgiServerQueue(TExchangePaths paths, TExchangeClock clock)
    : paths_(std::move(paths)), clock_(std::move(clock)) {}

TCgiServerQueue::~TCgiServerQueue() { Close(); }

void TCgiServerQueue::Close() {
  if (ownsQueue_) ::unlink(paths_.Queue().c_str());
  ownsQueue_ = false;
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

bool TCgiServerQueue::Open() {
  lockFd_ = ::open(paths_.Lock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(lockFd_, 0) != 0) return false;
  if (::unlink(paths_.Queue().c_str()) == 0) clock_.Wait(200);
  TFd queue(::open(paths_.Queue().c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!queue) return false;
  ownsQueue_ = true;
  Touch(queue.get(), clock_);
  DeleteClientFiles(paths_);
  const std::string pid = std::to_string(::getpid()) + "\n";
  return WriteAll(lockFd_, pid.data(), pid.size());
}

bool TCgiServerQueue::QueueExists() const { return ::access(paths_.Queue().c_str(), F_OK) == 0; }

std::optional<TQueueRecord> TCgiServerQueue::TakeNext(bool& queueGone) {
  queueGone = false;
  int raw = -1;
  // Read-only, so that a scan that finds nothing does not look like a new
  // request to the folder watch.
  const auto access = OpenLocked(paths_.Queue(), O_RDONLY, clock_, 11, 100, raw);
  if (access == TQueueAccess::NoQueue) {
    queueGone = true;
    return std::nullopt;
  }
  if (access != TQueueAccess::Done) return std::nullopt;
  TFd fd(raw);
  std::string bytes;
  if (!ReadWhole(fd.get(), bytes)) return std::nullopt;
  for (std::size_t at = 0; at + kQueueRecordSize <= bytes.size(); at += kQueueRecordSize) {
    TQueueRecord record = DecodeQueueRecord(bytes.data() + at);
    if (record.Status != kRecordWaiting) continue;
    if (EndsWithNoCase(record.RequestName, "_REQ") || (IsOtherRequest && IsOtherRequest(record.RequestName))) {
      TFd writer(::open(paths_.Queue().c_str(), O_WRONLY | O_CLOEXEC));
      const char taken = static_cast<char>(kRecordTaken);
      if (!writer || ::pwrite(writer.get(), &taken, 1, static_cast<off_t>(at)) != 1) return std::nullopt;
      record.Status = kRecordTaken;
    }
    return record;
  }
  Touch(fd.get(), clock_);
  return std::nullopt;
}

void TCgiServerQueue::Finish(const std::string& requestName) {
  int raw = -1;
  if (OpenLocked(paths_.Queue(), O_RDONLY, clock_, 11, 100, raw) == TQueueAccess::Done) {
    TFd fd(raw);
    std::string bytes;
    if (ReadWhole(fd.get(), bytes)) {
      std::string kept;
      kept.reserve(bytes.size());
      for (auto record : DecodeQueue(bytes)) {
        if (record.RequestName == requestName) record.Status = kRecordAnswered;
        if (record.Status < kRecordAnswered) {
          const auto encoded = EncodeQueueRecord(record);
          kept.append(encoded.data(), encoded.size());
        }
      }
      // The new queue replaces the old one at once, under the old one's lock.
      const std::string next = paths_.Queue() + ".new";
      TFd out(::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
      // A queue deleted meanwhile (the server is told to end) stays deleted.
      struct stat named {};
      if (::stat(paths_.Queue().c_str(), &named) != 0) {
        ::unlink(next.c_str());
      } else if (!out || !WriteAll(out.get(), kept.data(), kept.size()) || (Touch(out.get(), clock_), false) ||
                 ::rename(next.c_str(), paths_.Queue().c_str()) != 0) {
        WriteRequestLog("The CGI server queue could not be rewritten");
        ::unlink(next.c_str());
      }
    }
  }
  if (const auto request = RealFile(requestName)) ::unlink(request->c_str());
}

std::optional<std::string> TCgiServerQueue::RealFile(const std::string& upperName) const {
  // Only files of this exchange are touched, whatever a record names.
  const std::string prefix = UpperCaseName(paths_.ClientPrefix());
  if (upperName.rfind(prefix, 0) != 0 || upperName.find('/', prefix.size()) != std::string::npos) return std::nullopt;
  return FindFileNoCase(paths_.Folder + upperName.substr(paths_.Folder.size()));
}
