// The file exchange between short-lived CGI processes (clients) and the
// resident copy of the program (the server): the work folder's file names,
// the queue file of 268-byte records, the request file, copying an answer
// to the client's output, and both sides' steps with their time limits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// File names of the exchange: all are the base path B plus a suffix. B is
// the program's folder plus "Temp/" (when that folder exists or can be made)
// plus the program's file name.
struct TExchangePaths {
  std::string Folder;  // with a trailing "/"
  std::string Base;    // Folder + program file name

  std::string Queue() const { return Base + "_S"; }
  // Held with an exclusive flock by the running server for its whole life.
  std::string Lock() const { return Base + "_S.lock"; }
  std::string Request(std::string_view id) const { return Base + "_C_" + std::string(id) + "_REQ"; }
  std::string Answer(std::string_view id) const { return Base + "_C_" + std::string(id) + "_out"; }
  // The name prefix of every request and answer file.
  std::string ClientPrefix() const { return Base + "_C_"; }
};

// The exchange paths for a program file in `programDir` (with trailing "/").
TExchangePaths ExchangePaths(const std::string& programDir, const std::string& programName);

// Time as the exchange needs it; tests replace both.
struct TExchangeClock {
  // Wall-clock seconds since the epoch (compared with file time stamps).
  std::function<double()> Now;
  // Waits up to `ms` milliseconds; may return early when the work folder
  // changed (the wake-up), which only shortens a wait.
  std::function<void(int ms)> Wait;
};

// The real clock with plain sleeps.
TExchangeClock SystemClock();

// One record of the queue file (268 bytes, little-endian).
inline constexpr std::size_t kQueueRecordSize = 268;
enum : std::uint8_t { kRecordWaiting = 0, kRecordTaken = 1, kRecordAnswered = 2 };

struct TQueueRecord {
  std::uint8_t Status = kRecordWaiting;  // only the first byte of the 4-byte field
  double QueuedAt = 0;                   // days since 1899-12-30, local time
  std::string RequestName;               // upper-cased file name, at most 255 characters

  bool operator==(const TQueueRecord&) const = default;
};

std::array<char, kQueueRecordSize> EncodeQueueRecord(const TQueueRecord& record);
// Reads a record; the name ends at its first zero byte or after 255 bytes.
TQueueRecord DecodeQueueRecord(const char* bytes);

// Seconds since the epoch as a local date-time value: days since 1899-12-30.
double LocalDateTime(double unixSeconds);

// Upper-cases ASCII letters (file names are matched without regard to case).
std::string UpperCaseName(std::string_view name);

// The head of a request file: every environment string followed by CR LF,
// then "KESTREL_CGI_DEBUG=true" and CR LF CR LF. The body follows it.
std::string RequestFileHead(const std::vector<std::string>& environment);

// Largest head a request file may have; a longer one is malformed.
inline constexpr std::size_t kMaxRequestHead = 256 * 1024;

// Splits the head of a request file into its lines (the empty line that ends
// it excluded). Returns the head's length (up to and including CR LF CR LF),
// or nothing when `bytes` holds no complete head within kMaxRequestHead.
std::optional<std::size_t> ParseRequestHead(std::string_view bytes, std::vector<std::string>& lines);

// Copies an answer file to `write`, inserting "\r\nContent-Length: N" before
// the CR LF CR LF that ends its header when that lies in the first 1024
// bytes (N the byte count behind it); otherwise the bytes go as they are.
// A header that already holds a content length (the answer to a HEAD
// request) or answers 304 Not Modified (which has no body, and whose length
// would have to be that of the full answer) gets none.
// Returns false when the file cannot be read.
bool CopyAnswer(const std::string& path, const std::function<void(const char*, std::size_t)>& write);

// True while a server of this program holds its lock.
bool ServerRunning(const TExchangePaths& paths);

// Seconds since the file was last changed (by the clock's time); nothing
// when it does not exist.
std::optional<double> FileAge(const std::string& path, const TExchangeClock& clock);

// Deletes every request and answer file of the exchange.
void DeleteClientFiles(const TExchangePaths& paths);

// Returns the real name of the file in `path`'s folder whose name equals
// `path`'s name without regard to case, or nothing.
std::optional<std::string> FindFileNoCase(const std::string& path);

// Queue file operations under an exclusive lock, each as one locked session.
// A failed open or lock counts as one failed attempt; `attempts` tries are
// made `pauseMs` apart.
enum class TQueueAccess { Done, NoQueue, Locked };

// Appends a record and sets the file's time stamp to now.
TQueueAccess AppendQueueRecord(const TExchangePaths& paths, const TQueueRecord& record, const TExchangeClock& clock,
                               int attempts, int pauseMs);

// Reads all records.
TQueueAccess ReadQueue(const TExchangePaths& paths, std::vector<TQueueRecord>& records, const TExchangeClock& clock,
                       int attempts, int pauseMs);

// The client side of the exchange.
class TCgiServerClient {
 public:
  enum class TResult {
    Answered,      // the answer was copied to the output
    ServerGone,    // the server ended or stopped beating; queue and request file deleted
    TimedOut,      // no answer within 180 seconds
    Aborted,       // the queue vanished or stayed locked ("CGI server aborted" logged)
    Stopped,       // told to stop waiting (SIGTERM, SIGINT)
  };

  TCgiServerClient(TExchangePaths paths, TExchangeClock clock);

  // Start-up clean-up: a queue file without a running server that has not
  // been touched for 30 seconds is deleted (then a 300 ms wait); without a
  // queue file every leftover request and answer file is deleted.
  void CleanStaleFiles();

  // Writes the request file (created exclusively with a new id, 0600) and
  // queues it, up to `attempts` tries 50 ms apart. False when the queue
  // file is missing or stays locked (the request file is then deleted).
  bool Queue(const std::vector<std::string>& environment, std::string_view body, int attempts = 11);

  // Waits for the answer (at most 180 s) and copies it to `write`.
  TResult WaitForAnswer(const std::function<void(const char*, std::size_t)>& write);

  // The id of the queued request (four hexadecimal digits).
  const std::string& Id() const { return id_; }

  // Draws ids; tests replace it to force collisions.
  std::function<int()> DrawId;
  // Polled between waits; true stops the wait.
  std::function<bool()> StopRequested;
  // Whether the server was running when the client began (its "window" seen).
  bool ServerSeen = false;

 private:
  enum class TStatus { Waiting, Answered, NoQueue, Unreadable };
  TStatus RequestStatus();

  TExchangePaths paths_;
  TExchangeClock clock_;
  std::string id_;
  std::string requestPath_;
};

// The server side's file work: owns the lock and the queue file.
class TCgiServerQueue {
 public:
  TCgiServerQueue(TExchangePaths paths, TExchangeClock clock);
  ~TCgiServerQueue();
  TCgiServerQueue(const TCgiServerQueue&) = delete;
  TCgiServerQueue& operator=(const TCgiServerQueue&) = delete;

  // Takes the lock (false when another server holds it), creates the queue
  // file anew and deletes leftover request and answer files.
  bool Open();

  // Takes the first waiting record (marks it taken). With none waiting the
  // queue's time stamp is set to now (the heartbeat). `queueGone` tells that
  // the queue file no longer exists.
  std::optional<TQueueRecord> TakeNext(bool& queueGone);

  // Marks the request answered, rewrites the queue without answered records
  // (all others kept, however many) in the same locked session, and deletes
  // the request file.
  void Finish(const std::string& requestName);

  // Deletes the queue file when this server made it and gives up the lock
  // (also done on destruction).
  void Close();

  bool QueueExists() const;
  // Names of further requests this server takes besides its own request
  // files (the request files of WinCGI clients); unset: none.
  std::function<bool(const std::string& name)> IsOtherRequest;
  // The real path of an exchange file known by its upper-cased name; nothing
  // when it does not exist or lies outside this exchange.
  std::optional<std::string> RealFile(const std::string& upperName) const;
  const TExchangePaths& Paths() const { return paths_; }

 private:
  TExchangePaths paths_;
  TExchangeClock clock_;
  int lockFd_ = -1;
  bool ownsQueue_ = false;
};
