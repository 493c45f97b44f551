// The file exchange between short-lived CGI processes (clients) and the
// resident copy of the program (the server): the work folder's file names,
// the queue file of 268-byte records, the request file, copying an answer
// to the client's output, and both sides' steps with their time limits.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/work_file.h"
#include "resident/cgi_exchange_format.h"

// File names of the exchange: all are the base path B plus a suffix. B is
// the program's folder plus "Temp/" (when that folder exists or can be made)
// plus the program's file name.
struct TExchangePaths {
  std::string Folder;  // with a trailing "/"
  std::string Base;    // Folder + program file name
  // False when the folder must not be used (a link, not ours, writable by
  // others): then there is no exchange and every request is served by the
  // CGI process itself. Refusal says why, as a log line.
  bool Usable = true;
  std::string Refusal;
  // Whether the refusal is worth a log line on every request: a Temp folder
  // that is there but wrong is; a program folder that is not ours (Temp
  // could not be made) is the normal case of a server-less installation.
  bool LogRefusal = false;

  std::string Queue() const { return Base + "_S"; }
  // Held with an exclusive flock by the running server for its whole life;
  // its time stamp is the server's heartbeat (only the server writes it).
  std::string Lock() const { return Base + "_S.lock"; }
  std::string Request(std::string_view id) const { return Base + "_C_" + std::string(id) + "_REQ"; }
  std::string Answer(std::string_view id) const { return Base + "_C_" + std::string(id) + "_out"; }
  // The name prefix of every request and answer file.
  std::string ClientPrefix() const { return Base + "_C_"; }
};

// The exchange paths for a program file in `programDir` (with trailing "/").
// Temp is made (mode 0700) when missing; one that is already there, or that
// another process made at the same moment, is used when it passes the
// work-folder check (platform/work_file.h), and refused otherwise.
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

// Seconds since the epoch as a local date-time value: days since 1899-12-30.
double LocalDateTime(double unixSeconds);

// The time limits of the exchange: a server whose heartbeat is older than
// the first is taken for gone, and no client waits longer than the second.
inline constexpr double kHeartbeatSeconds = 30;
inline constexpr double kAnswerWaitSeconds = 180;

// Reads a whole answer file: only a regular file of ours, opened without
// following a link or blocking on a FIFO, read to the size it had when
// opened. False with `why` set otherwise.
bool ReadAnswerFile(const std::string& path, std::string& bytes, std::string& why);

// Hands an answer to `write`, inserting "\r\nContent-Length: N" before the
// CR LF CR LF that ends its header when that lies in the first 1024 bytes
// (N the byte count behind it); otherwise the bytes go as they are.
void WriteAnswer(std::string_view answer, const std::function<void(const char*, std::size_t)>& write);

// ReadAnswerFile and WriteAnswer; false (nothing written) when the file
// cannot be read. A header that already holds a content length (the answer
// to a HEAD request) or answers 304 Not Modified (which has no body, and
// whose length would have to be that of the full answer) gets none.
bool CopyAnswer(const std::string& path, const std::function<void(const char*, std::size_t)>& write);

// True while a server of this program holds its lock and has written its
// process id into the lock file (its queue is ready).
bool ServerRunning(const TExchangePaths& paths);

// ServerRunning, and its heartbeat (the lock file's time stamp) is at most
// kHeartbeatSeconds old by the clock's time. A stopped or hung server holds
// its lock but stops beating.
bool ServerAlive(const TExchangePaths& paths, const TExchangeClock& clock);

// Seconds since the file was last changed (by the clock's time); nothing
// when it does not exist. A link is not followed.
std::optional<double> FileAge(const std::string& path, const TExchangeClock& clock);

// Deletes every request and answer file of the exchange.
void DeleteClientFiles(const TExchangePaths& paths);

// Returns the real name of the file in `path`'s folder whose name equals
// `path`'s name without regard to case, or nothing.
std::optional<std::string> FindFileNoCase(const std::string& path);

// Queue file operations under an exclusive lock, each as one locked session.
// A failed open or lock counts as one failed attempt; `attempts` tries are
// made `pauseMs` apart. A queue file that is a link, a FIFO or another
// user's file is never used (Refused, logged).
enum class TQueueAccess { Done, NoQueue, Locked, Refused };

// Appends a record and sets the file's time stamp to now. A write that
// fails or comes up short leaves no torn record behind (Locked).
TQueueAccess AppendQueueRecord(const TExchangePaths& paths, const TQueueRecord& record, const TExchangeClock& clock,
                               int attempts, int pauseMs);

// Reads all records.
TQueueAccess ReadQueue(const TExchangePaths& paths, std::vector<TQueueRecord>& records, const TExchangeClock& clock,
                       int attempts, int pauseMs);

// The client side of the exchange. While it waits, the client holds a
// shared flock on its request file: the server tells by that lock whether
// anybody still waits for an answer.
class TCgiServerClient {
 public:
  enum class TResult {
    Answered,      // the answer was copied to the output
    ServerGone,    // the server ended, or its heartbeat stopped for 30 s
    TimedOut,      // no answer within 180 seconds
    Aborted,       // the queue vanished or stayed locked ("CGI server aborted" logged)
    NoAnswer,      // the request was finished without a whole answer file
    Stopped,       // told to stop waiting (SIGTERM, SIGINT)
  };

  TCgiServerClient(TExchangePaths paths, TExchangeClock clock);
  ~TCgiServerClient();
  TCgiServerClient(const TCgiServerClient&) = delete;
  TCgiServerClient& operator=(const TCgiServerClient&) = delete;

  // Start-up clean-up: a queue file without a running server that has not
  // been touched for 30 seconds is deleted (then a 300 ms wait); without a
  // queue file every leftover request and answer file is deleted.
  void CleanStaleFiles();

  // Writes the request file (created exclusively with a new id, 0600; an id
  // whose answer file is still there is drawn again) and queues it, up to
  // `attempts` tries 50 ms apart. False when the queue file is missing,
  // refused or stays locked, or a write fails (the request file is then
  // deleted).
  bool Queue(const std::vector<std::string>& environment, std::string_view body, int attempts = 11);

  // Waits for the answer (at most 180 s) and copies it to `write`; nothing
  // is written unless the result is Answered. Whatever the result, this
  // client's request and answer files are gone afterwards; every result but
  // Answered and Stopped leaves the request to the caller to serve.
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
  // Deletes this client's request and answer files (only its own: the
  // request file is compared with the one it holds) and lets go of them.
  void Abandon();
  void Log(const std::string& message) const;

  TExchangePaths paths_;
  TExchangeClock clock_;
  std::string id_;
  std::string requestPath_;
  platform::UniqueFd request_;  // held open with a shared flock while waiting
};

// The server side's file work: owns the lock and the queue file.
class TCgiServerQueue {
 public:
  TCgiServerQueue(TExchangePaths paths, TExchangeClock clock);
  ~TCgiServerQueue();
  TCgiServerQueue(const TCgiServerQueue&) = delete;
  TCgiServerQueue& operator=(const TCgiServerQueue&) = delete;

  // Takes the lock (false when another server holds it, or the work folder
  // or lock file is refused; OpenError says why), creates the queue file
  // anew and deletes leftover request and answer files.
  bool Open();
  const std::string& OpenError() const { return openError_; }

  // Sets the lock file's time stamp to now: the heartbeat clients judge the
  // server by. Called on every round of the poll loop.
  void Heartbeat();

  // Takes the first waiting record (marks it taken). With none waiting the
  // queue's time stamp is set to now. `queueGone` tells that the queue file
  // no longer exists.
  std::optional<TQueueRecord> TakeNext(bool& queueGone);

  // Marks the request answered in place (no free space needed, so a client
  // whose answer is ready is never stranded), then rewrites the queue
  // without answered records (all others kept, however many) in the same
  // locked session, and deletes the request file unless told not to.
  void Finish(const std::string& requestName, bool deleteRequest = true);

  // True when nobody holds the client's lock on the open request file: its
  // client has ended or given up.
  static bool ClientGone(int requestFd);

  // Writes ANSWER whole under a temporary name beside ANSWERPATH and renames
  // it there, so an answer file is always whole; a failed or short write
  // leaves no file and returns false with `why`.
  static bool WriteAnswer(const std::string& answerPath, std::string_view answer, std::string& why);

  // Hands a finished request's files to their client: while it holds its
  // lock on REQUEST it deletes them itself (so its id stays taken until it
  // has its answer); once it is gone without doing so (killed), the request
  // file and ANSWERPATH (when not empty) are deleted here or by a later
  // SweepAnswers.
  void Release(const std::string& requestPath, platform::UniqueFd request, const std::string& answerPath);

  // Deletes the files of released requests whose clients are gone.
  void SweepAnswers();

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
  struct TFileId {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
  };
  struct TWatched {
    platform::UniqueFd fd;
    TFileId request, answer;
  };
  void SweepLocked();

  TExchangePaths paths_;
  TExchangeClock clock_;
  platform::UniqueFd lock_;
  bool ownsQueue_ = false;
  std::string openError_;
  std::mutex watchedMutex_;
  std::vector<TWatched> watched_;
};
