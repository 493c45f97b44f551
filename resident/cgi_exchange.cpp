#include "resident/cgi_exchange.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

#include "http/http_engine.h"

using platform::OpenWorkFile;
using platform::UniqueFd;

namespace {

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

// A queue file that is refused is logged once per process and name.
void LogRefusedQueue(const std::string& path, const std::string& why) {
  static thread_local std::string logged;
  if (logged == path) return;
  logged = path;
  WriteRequestLog("The CGI server queue " + path + " " + why + "; it is not used");
}

// Opens the queue file and takes its lock; tries `attempts` times. Within
// one attempt the lock is tried a few times 1 ms apart, since every holder
// keeps it only for a few microseconds. The lock is taken on the file the
// name stands for at that moment: the server replaces the queue by renaming
// a new one over it, so a lock won on the replaced file is given up and the
// name opened again.
TQueueAccess OpenLocked(const std::string& path, int flags, const TExchangeClock& clock, int attempts, int pauseMs,
                        UniqueFd& out) {
  int replaced = 0;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0) clock.Wait(pauseMs);
    for (int quick = 0; quick < 10; ++quick) {
      if (quick > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::string why;
      UniqueFd fd = OpenWorkFile(path, flags, 0600, why);
      if (!fd) {
        if (errno == ENOENT && ::access(path.c_str(), F_OK) != 0) return TQueueAccess::NoQueue;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
          LogRefusedQueue(path, why);
          return TQueueAccess::Refused;
        }
        break;
      }
      if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
        struct stat held {}, named {};
        if (::fstat(fd.get(), &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev) {
          out = std::move(fd);
          return TQueueAccess::Done;
        }
        if (++replaced < 1000) --quick;  // replaced meanwhile: open the new one
      }
      fd.reset();
      if (::access(path.c_str(), F_OK) != 0) return TQueueAccess::NoQueue;
    }
  }
  return TQueueAccess::Locked;
}

bool Touch(int fd, const TExchangeClock& clock) {
  const double now = clock.Now();
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(now);
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>((now - static_cast<double>(times[0].tv_sec)) * 1e9);
  return ::futimens(fd, times) == 0;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && UpperCaseName(text.substr(text.size() - suffix.size())) == suffix;
}

// Deletes PATH only while it is still the file FD has open: a name freed by
// its owner may already belong to another client.
void UnlinkIfSame(const std::string& path, int fd) {
  struct stat held {}, named {};
  if (fd >= 0 && ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
      held.st_dev == named.st_dev) {
    ::unlink(path.c_str());
  }
}

}  // namespace

TExchangePaths ExchangePaths(const std::string& programDir, const std::string& programName) {
  TExchangePaths paths;
  const std::string temp = programDir + "Temp";
  std::string why;
  // No look before the mkdir: a Temp that another process makes at the same
  // moment (EEXIST) is as good as our own, so two processes never end up in
  // two work folders.
  if (::mkdir(temp.c_str(), 0700) == 0 || errno == EEXIST) {
    paths.Folder = temp + "/";
    if (!platform::CheckWorkFolder(temp, why)) {
      paths.Usable = false;
      paths.LogRefusal = true;
      paths.Refusal = "The CGI server work folder " + temp + " " + why;
    }
  } else {
    paths.Folder = programDir;
    const std::string folder = programDir.size() > 1 ? programDir.substr(0, programDir.size() - 1) : programDir;
    if (!platform::CheckWorkFolder(folder, why)) {
      paths.Usable = false;
      paths.Refusal = "The CGI server work folder " + folder + " " + why;
    }
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

double LocalDateTime(double unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  localtime_r(&t, &local);
  return (unixSeconds + static_cast<double>(local.tm_gmtoff)) / 86400.0 + 25569.0;
}

bool ReadAnswerFile(const std::string& path, std::string& bytes, std::string& why) {
  UniqueFd fd = OpenWorkFile(path, O_RDONLY, 0, why);
  if (!fd) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !ReadWhole(fd.get(), bytes)) {
    why = std::strerror(errno);
    return false;
  }
  if (bytes.size() != static_cast<std::size_t>(st.st_size)) {
    why = "changed while it was read";
    return false;
  }
  return true;
}

namespace {

bool AnswerHeadNeedsNoLength(std::string_view head) {
  const std::string upper = "\n" + UpperCaseName(head);
  return upper.find("\nCONTENT-LENGTH:") != std::string::npos || upper.rfind("\nHTTP/1.1 304 ", 0) == 0 ||
         upper.find("\nSTATUS:304 ") != std::string::npos;
}

}  // namespace

void WriteAnswer(std::string_view answer, const std::function<void(const char*, std::size_t)>& write) {
  const std::size_t p = answer.substr(0, 1024).find("\r\n\r\n");
  if (p == std::string_view::npos) {
    if (!answer.empty()) write(answer.data(), answer.size());
    return;
  }
  if (AnswerHeadNeedsNoLength(answer.substr(0, p))) {
    write(answer.data(), answer.size());
    return;
  }
  write(answer.data(), p);
  const std::string length = "\r\nContent-Length: " + std::to_string(answer.size() - p - 4);
  write(length.data(), length.size());
  write(answer.data() + p, answer.size() - p);
}

bool CopyAnswer(const std::string& path, const std::function<void(const char*, std::size_t)>& write) {
  std::string bytes, why;
  if (!ReadAnswerFile(path, bytes, why)) return false;
  WriteAnswer(bytes, write);
  return true;
}

bool ServerRunning(const TExchangePaths& paths) {
  if (!paths.Usable) return false;
  std::string why;
  UniqueFd fd = OpenWorkFile(paths.Lock(), O_RDONLY, 0, why);
  if (!fd) return false;
  if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return false;  // nobody holds it
  if (errno != EWOULDBLOCK) return false;
  // The server writes its process id into the lock file once its queue is
  // ready; before that a request queued would be swept away.
  struct stat st {};
  return ::fstat(fd.get(), &st) == 0 && st.st_size > 0;
}

bool ServerAlive(const TExchangePaths& paths, const TExchangeClock& clock) {
  if (!ServerRunning(paths)) return false;
  const auto age = FileAge(paths.Lock(), clock);
  return age && *age <= kHeartbeatSeconds;
}

std::optional<double> FileAge(const std::string& path, const TExchangeClock& clock) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  const double changed = static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) * 1e-9;
  return clock.Now() - changed;
}

void DeleteClientFiles(const TExchangePaths& paths) {
  const std::string prefix = paths.ClientPrefix();
  const std::string folder = paths.Folder;
  const std::string namePrefix = UpperCaseName(prefix.substr(folder.size()));
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(dir)) {
    if (UpperCaseName(entry->d_name).rfind(namePrefix, 0) == 0) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  // A request file whose client still holds it belongs to a waiting client:
  // it and its answer stay (the client deletes them), so its id is never
  // drawn by another client meanwhile.
  std::vector<std::string> live;
  for (const auto& name : names) {
    if (!EndsWithNoCase(name, "_REQ")) continue;
    std::string why;
    UniqueFd fd = OpenWorkFile(folder + name, O_RDONLY, 0, why);
    if (fd && !TCgiServerQueue::ClientGone(fd.get())) live.push_back(UpperCaseName(name.substr(0, name.size() - 3)));
  }
  for (const auto& name : names) {
    const std::string upper = UpperCaseName(name);
    const bool keep = std::any_of(live.begin(), live.end(), [&](const std::string& stem) {
      return upper == stem + "REQ" || upper == stem + "OUT";
    });
    if (!keep) ::unlink((folder + name).c_str());
  }
}

std::optional<std::string> FindFileNoCase(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return path;
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
  if (!paths.Usable) return TQueueAccess::Refused;
  UniqueFd fd;
  const auto access = OpenLocked(paths.Queue(), O_RDWR, clock, attempts, pauseMs, fd);
  if (access != TQueueAccess::Done) return access;
  const auto bytes = EncodeQueueRecord(record);
  const off_t end = ::lseek(fd.get(), 0, SEEK_END);
  // A torn record left by a crash would shift every later one: start at a
  // record boundary.
  const off_t at = end - end % static_cast<off_t>(kQueueRecordSize);
  if (end < 0) return TQueueAccess::Locked;
  if (::pwrite(fd.get(), bytes.data(), bytes.size(), at) != static_cast<ssize_t>(bytes.size())) {
    // A full disk: a torn record must not stay for the server to misread.
    if (::ftruncate(fd.get(), at) != 0) WriteRequestLog("The CGI server queue could not be cut back to whole records");
    return TQueueAccess::Locked;
  }
  if (at != end && ::ftruncate(fd.get(), at + static_cast<off_t>(kQueueRecordSize)) != 0) return TQueueAccess::Locked;
  Touch(fd.get(), clock);
  return TQueueAccess::Done;
}

TQueueAccess ReadQueue(const TExchangePaths& paths, std::vector<TQueueRecord>& records, const TExchangeClock& clock,
                       int attempts, int pauseMs) {
  if (!paths.Usable) return TQueueAccess::Refused;
  // Readers take no lock: the queue is only ever appended to, changed in
  // its status bytes, or replaced as a whole by a rename, so any state read
  // is a consistent one.
  UniqueFd fd;
  for (int attempt = 0; attempt < attempts && !fd; ++attempt) {
    if (attempt > 0) clock.Wait(pauseMs);
    std::string why;
    fd = OpenWorkFile(paths.Queue(), O_RDONLY, 0, why);
    if (!fd && errno == ENOENT && ::access(paths.Queue().c_str(), F_OK) != 0) return TQueueAccess::NoQueue;
    struct stat st {};
    if (!fd && ::lstat(paths.Queue().c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      LogRefusedQueue(paths.Queue(), why);
      return TQueueAccess::Refused;
    }
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

TCgiServerClient::~TCgiServerClient() { Abandon(); }

void TCgiServerClient::Log(const std::string& message) const {
  // The id ties the line to the request's files and the server's lines.
  WriteRequestLog(id_.empty() ? message : message + " (request " + id_ + ")");
}

void TCgiServerClient::CleanStaleFiles() {
  if (!paths_.Usable) return;
  const bool running = ServerRunning(paths_);
  if (!running) {
    const auto age = FileAge(paths_.Queue(), clock_);
    if (age && *age > kHeartbeatSeconds) {
      ::unlink(paths_.Queue().c_str());
      clock_.Wait(300);
    }
  }
  if (::access(paths_.Queue().c_str(), F_OK) != 0) DeleteClientFiles(paths_);
}

void TCgiServerClient::Abandon() {
  if (!request_) return;
  // The answer first: while the request file is there nobody else draws
  // this id, so the answer file is still this client's.
  if (const auto answer = FindFileNoCase(paths_.Base + "_C_" + id_ + "_OUT")) ::unlink(answer->c_str());
  UnlinkIfSame(requestPath_, request_.get());
  request_.reset();
}

bool TCgiServerClient::Queue(const std::vector<std::string>& environment, std::string_view body, int attempts) {
  Abandon();
  if (!paths_.Usable || ::access(paths_.Queue().c_str(), F_OK) != 0) return false;
  // The request file is made exclusively: an id another client holds is
  // drawn again, and so is one whose answer still waits for its client, so
  // no client ever reads another's answer.
  for (int tries = 0; tries < 1000 && !request_; ++tries) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", static_cast<unsigned>(DrawId()) & 0xFFFF);
    id_ = id;
    requestPath_ = paths_.Request(id_);
    std::string why;
    request_ = OpenWorkFile(requestPath_, O_WRONLY | O_CREAT | O_EXCL, 0600, why);
    if (!request_ && errno != EEXIST) {
      Log("The CGI server request file " + requestPath_ + " could not be made: " + why);
      return false;
    }
    if (request_ && FindFileNoCase(paths_.Base + "_C_" + id_ + "_OUT")) {
      ::unlink(requestPath_.c_str());
      request_.reset();
    }
  }
  if (!request_) return false;
  // The server takes a free lock for a client that is gone.
  if (::flock(request_.get(), LOCK_SH | LOCK_NB) != 0) {
    Abandon();
    return false;
  }
  const std::string head = RequestFileHead(environment);
  if (!platform::WriteAll(request_.get(), head.data(), head.size()) ||
      !platform::WriteAll(request_.get(), body.data(), body.size())) {
    Log(std::string("The CGI server request file could not be written: ") + std::strerror(errno));
    Abandon();
    return false;
  }
  TQueueRecord record;
  record.Status = kRecordWaiting;
  record.QueuedAt = LocalDateTime(clock_.Now());
  record.RequestName = UpperCaseName(requestPath_);
  if (AppendQueueRecord(paths_, record, clock_, attempts, 50) != TQueueAccess::Done) {
    Abandon();
    return false;
  }
  return true;
}

TCgiServerClient::TStatus TCgiServerClient::RequestStatus() {
  std::vector<TQueueRecord> records;
  const auto access = ReadQueue(paths_, records, clock_, 11, 100);
  if (access == TQueueAccess::NoQueue) return TStatus::NoQueue;
  if (access != TQueueAccess::Done) {
    if (access == TQueueAccess::Locked) {
      if (const auto age = FileAge(paths_.Queue(), clock_); age && *age > kHeartbeatSeconds) {
        ::unlink(paths_.Queue().c_str());
      }
    }
    return TStatus::Unreadable;
  }
  const std::string name = UpperCaseName(requestPath_);
  for (const auto& record : records) {
    if (record.RequestName == name) return record.Status >= kRecordAnswered ? TStatus::Answered : TStatus::Waiting;
  }
  return TStatus::Answered;  // the server removes answered records
}

TCgiServerClient::TResult TCgiServerClient::WaitForAnswer(const std::function<void(const char*, std::size_t)>& write) {
  struct AbandonOnExit {
    TCgiServerClient* client;
    ~AbandonOnExit() { client->Abandon(); }
  } abandon{this};
  if (!request_) return TResult::Aborted;
  const double start = clock_.Now();
  while (clock_.Now() - start < kAnswerWaitSeconds) {
    if (StopRequested && StopRequested()) return TResult::Stopped;
    const TStatus status = RequestStatus();
    if (status == TStatus::Answered) {
      // The server names the answer as it found the request, "OUT" in
      // capitals. It renames the answer there only once it is whole; a
      // request finished without one was not answered (a write failed, or
      // the record went with a server that was replaced).
      auto answer = FindFileNoCase(paths_.Base + "_C_" + id_ + "_OUT");
      if (!answer) answer = FindFileNoCase(paths_.Answer(id_));
      std::string bytes, why = "is missing";
      if (answer && ReadAnswerFile(*answer, bytes, why)) {
        Abandon();
        WriteAnswer(bytes, write);
        return TResult::Answered;
      }
      Log("The CGI server finished the request without an answer: " + paths_.Base + "_C_" + id_ + "_OUT " + why);
      return TResult::NoAnswer;
    }
    if (status == TStatus::NoQueue || status == TStatus::Unreadable) {
      Log("CGI server aborted");
      return TResult::Aborted;
    }
    // Liveness comes from the lock and its heartbeat, which only the server
    // writes: clients refresh the queue's time stamp themselves.
    const bool ended = ServerSeen && !ServerRunning(paths_);
    const auto beat = FileAge(paths_.Lock(), clock_);
    if (ended || !beat || *beat > kHeartbeatSeconds) return TResult::ServerGone;
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
  lock_.reset();
}

bool TCgiServerQueue::Open() {
  if (!paths_.Usable) {
    openError_ = paths_.Refusal;
    return false;
  }
  std::string why;
  lock_ = OpenWorkFile(paths_.Lock(), O_RDWR | O_CREAT, 0600, why);
  if (!lock_) {
    openError_ = "The CGI server lock file " + paths_.Lock() + " " + why;
    return false;
  }
  if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    openError_ = "Another CGI server of this program is running";
    lock_.reset();
    return false;
  }
  if (::ftruncate(lock_.get(), 0) != 0) {
    openError_ = "The CGI server lock file " + paths_.Lock() + " cannot be emptied: " + std::strerror(errno);
    lock_.reset();
    return false;
  }
  // unlink removes a planted link or FIFO itself; O_EXCL makes a new file.
  if (::unlink(paths_.Queue().c_str()) == 0) clock_.Wait(200);
  UniqueFd queue = OpenWorkFile(paths_.Queue(), O_RDWR | O_CREAT | O_EXCL, 0600, why);
  if (!queue) {
    openError_ = "The CGI server queue " + paths_.Queue() + " cannot be made: " + why;
    lock_.reset();
    return false;
  }
  ownsQueue_ = true;
  Touch(queue.get(), clock_);
  DeleteClientFiles(paths_);
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (!platform::WriteAll(lock_.get(), pid.data(), pid.size())) {
    openError_ = "The CGI server lock file " + paths_.Lock() + " cannot be written: " + std::strerror(errno);
    Close();
    return false;
  }
  Touch(lock_.get(), clock_);
  return true;
}

void TCgiServerQueue::Heartbeat() {
  if (lock_) Touch(lock_.get(), clock_);
}

bool TCgiServerQueue::QueueExists() const { return ::access(paths_.Queue().c_str(), F_OK) == 0; }

std::optional<TQueueRecord> TCgiServerQueue::TakeNext(bool& queueGone) {
  queueGone = false;
  UniqueFd fd;
  // Read-only, so that a scan that finds nothing does not look like a new
  // request to the folder watch.
  const auto access = OpenLocked(paths_.Queue(), O_RDONLY, clock_, 11, 100, fd);
  if (access == TQueueAccess::NoQueue || access == TQueueAccess::Refused) {
    queueGone = true;
    return std::nullopt;
  }
  if (access != TQueueAccess::Done) return std::nullopt;
  std::string bytes;
  if (!ReadWhole(fd.get(), bytes)) return std::nullopt;
  for (std::size_t at = 0; at + kQueueRecordSize <= bytes.size(); at += kQueueRecordSize) {
    TQueueRecord record = DecodeQueueRecord(bytes.data() + at);
    if (record.Status != kRecordWaiting) continue;
    if (EndsWithNoCase(record.RequestName, "_REQ") || (IsOtherRequest && IsOtherRequest(record.RequestName))) {
      std::string why;
      UniqueFd writer = OpenWorkFile(paths_.Queue(), O_WRONLY, 0, why);
      const char taken = static_cast<char>(kRecordTaken);
      if (!writer || ::pwrite(writer.get(), &taken, 1, static_cast<off_t>(at)) != 1) return std::nullopt;
      record.Status = kRecordTaken;
    }
    return record;
  }
  Touch(fd.get(), clock_);
  return std::nullopt;
}

void TCgiServerQueue::Finish(const std::string& requestName, bool deleteRequest) {
  UniqueFd fd;
  if (OpenLocked(paths_.Queue(), O_RDWR, clock_, 11, 100, fd) == TQueueAccess::Done) {
    std::string bytes;
    if (ReadWhole(fd.get(), bytes)) {
      std::string kept;
      kept.reserve(bytes.size());
      const char answered = static_cast<char>(kRecordAnswered);
      for (std::size_t at = 0; at + kQueueRecordSize <= bytes.size(); at += kQueueRecordSize) {
        auto record = DecodeQueueRecord(bytes.data() + at);
        if (record.RequestName == requestName && record.Status < kRecordAnswered) {
          // In place first: this needs no free space, so the client learns
          // of its answer even when the rewrite below fails.
          if (::pwrite(fd.get(), &answered, 1, static_cast<off_t>(at)) != 1) {
            WriteRequestLog("The CGI server queue could not be marked: " + std::string(std::strerror(errno)));
          }
          record.Status = kRecordAnswered;
        }
        if (record.Status < kRecordAnswered) {
          const auto encoded = EncodeQueueRecord(record);
          kept.append(encoded.data(), encoded.size());
        }
      }
      // The new queue replaces the old one at once, under the old one's lock.
      const std::string next = paths_.Queue() + ".new";
      ::unlink(next.c_str());
      std::string why;
      UniqueFd out = OpenWorkFile(next, O_WRONLY | O_CREAT | O_EXCL, 0600, why);
      // A queue deleted meanwhile (the server is told to end) stays deleted.
      struct stat named {};
      if (::lstat(paths_.Queue().c_str(), &named) != 0) {
        ::unlink(next.c_str());
      } else if (!out || !platform::WriteAll(out.get(), kept.data(), kept.size()) || !Touch(out.get(), clock_) ||
                 ::rename(next.c_str(), paths_.Queue().c_str()) != 0) {
        WriteRequestLog("The CGI server queue could not be rewritten: " +
                        (out ? std::string(std::strerror(errno)) : why));
        ::unlink(next.c_str());
        Touch(fd.get(), clock_);
      }
    }
  }
  if (!deleteRequest) return;
  if (const auto request = RealFile(requestName)) ::unlink(request->c_str());
}

bool TCgiServerQueue::ClientGone(int requestFd) {
  if (::flock(requestFd, LOCK_EX | LOCK_NB) == 0) {
    ::flock(requestFd, LOCK_UN);
    return true;
  }
  return false;
}

bool TCgiServerQueue::WriteAnswer(const std::string& answerPath, std::string_view answer, std::string& why) {
  const std::string part = answerPath + ".part";
  ::unlink(part.c_str());  // a leftover, or anything planted there
  UniqueFd out = OpenWorkFile(part, O_WRONLY | O_CREAT | O_EXCL, 0600, why);
  if (!out) return false;
  if (!platform::WriteAll(out.get(), answer.data(), answer.size()) || ::close(out.release()) != 0 ||
      ::rename(part.c_str(), answerPath.c_str()) != 0) {
    why = std::strerror(errno);
    ::unlink(part.c_str());
    return false;
  }
  return true;
}

void TCgiServerQueue::Release(const std::string& requestPath, UniqueFd request, const std::string& answerPath) {
  TWatched watched;
  struct stat st {};
  if (::fstat(request.get(), &st) != 0) return;
  watched.request = {requestPath, st.st_dev, st.st_ino};
  if (!answerPath.empty() && ::lstat(answerPath.c_str(), &st) == 0) watched.answer = {answerPath, st.st_dev, st.st_ino};
  watched.fd = std::move(request);
  std::lock_guard lock(watchedMutex_);
  watched_.push_back(std::move(watched));
  SweepLocked();
}

void TCgiServerQueue::SweepAnswers() {
  std::lock_guard lock(watchedMutex_);
  SweepLocked();
}

void TCgiServerQueue::SweepLocked() {
  const auto unlinkSame = [](const TFileId& file) {
    struct stat st {};
    if (!file.path.empty() && ::lstat(file.path.c_str(), &st) == 0 && st.st_dev == file.device &&
        st.st_ino == file.inode) {
      ::unlink(file.path.c_str());
    }
  };
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (!ClientGone(it->fd.get())) {
      ++it;
      continue;
    }
    unlinkSame(it->answer);
    unlinkSame(it->request);
    it = watched_.erase(it);
  }
}

std::optional<std::string> TCgiServerQueue::RealFile(const std::string& upperName) const {
  // Only files of this exchange are touched, whatever a record names.
  const std::string prefix = UpperCaseName(paths_.ClientPrefix());
  if (upperName.rfind(prefix, 0) != 0 || upperName.find('/', prefix.size()) != std::string::npos) return std::nullopt;
  return FindFileNoCase(paths_.Folder + upperName.substr(paths_.Folder.size()));
}
