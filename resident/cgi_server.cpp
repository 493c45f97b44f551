#include "resident/cgi_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include "http/request_log.h"
#include "platform/program.h"
#include "platform/sysutils.h"
#include "platform/work_file.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

// Watches the work folder for the queue file being written or deleted.
class TFolderWatch {
 public:
  TFolderWatch(std::string folder, std::string name) : folder_(std::move(folder)), name_(std::move(name)) {}
  ~TFolderWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFolderWatch(const TFolderWatch&) = delete;
  TFolderWatch& operator=(const TFolderWatch&) = delete;

  // Waits up to `ms` for an event on the queue file.
  void Wait(int ms) {
    Open();
    if (fd_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!g_stop) {
      if (Drain()) return;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) == 0) return;
    }
  }

 private:
  // The watch is made on the first wait, not before: most CGI requests never
  // wait, and closing a watch costs the kernel a grace period (milliseconds)
  // that the request would pay at exit. A change in the moment before the
  // first wait wakes nobody; that wait then lasts its full tick.
  void Open() {
    if (opened_) return;
    opened_ = true;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && ::inotify_add_watch(fd_, folder_.c_str(), IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_TO) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  // Reads the pending events; true when one concerns the queue file.
  bool Drain() {
    alignas(inotify_event) char buffer[4096];
    bool hit = false;
    while (true) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return hit;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && name_ == event->name) hit = true;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  bool opened_ = false;
  int fd_ = -1;
  std::string folder_;
  std::string name_;
};

// A body already read from standard input, served from memory.
void ServeBodyFromMemory(TCgiIO& io, std::string body) {
  auto rest = std::make_shared<std::string>(std::move(body));
  auto at = std::make_shared<std::size_t>(0);
  io.Read = [rest, at](void* buffer, std::size_t count) -> std::size_t {
    const std::size_t n = std::min(count, rest->size() - *at);
    std::memcpy(buffer, rest->data() + *at, n);
    *at += n;
    return n;
  };
}

// The body as the CGI process gets it: CONTENT_LENGTH bytes of standard
// input (fewer when it ends early). Nothing when the length is not a number
// or too large to hand over.
std::optional<std::string> ReadBody(TCgiIO& io) {
  const std::string text = ReadCgiEnvironment(io, "CONTENT_LENGTH");
  int length = 0;
  if (!text.empty() && !TryStrToInt(text, length)) return std::nullopt;
  if (length > (16 << 20)) return std::nullopt;
  std::string body;
  if (length < 1 || !io.Read) return body;
  body.resize(static_cast<std::size_t>(length));
  std::size_t got = 0;
  while (got < body.size()) {
    const std::size_t n = io.Read(body.data() + got, body.size() - got);
    if (n == 0) break;
    got += n;
  }
  body.resize(got);
  return body;
}

// Queues (attempts as given), waits and copies. True when done: answered,
// or told to stop (the web server ends the request). False: the request is
// left to this process, which serves it itself.
bool QueueAndWait(TCgiServerClient& client, TCgiIO& io, const std::vector<std::string>& environment,
                  const std::string& body, int attempts, bool& queued) {
  queued = client.Queue(environment, body, attempts);
  if (!queued) return false;
  const auto result = client.WaitForAnswer([&](const char* data, std::size_t count) {
    if (io.Write) io.Write(data, count);
  });
  const std::string request = " (request " + client.Id() + ")";
  switch (result) {
    case TCgiServerClient::TResult::Answered:
      return true;
    case TCgiServerClient::TResult::Stopped:
      WriteRequestLog("Told to stop while waiting for the CGI server" + request);
      return true;
    case TCgiServerClient::TResult::TimedOut:
      WriteRequestLog("No answer from the CGI server within 180 seconds; served by the CGI process itself" + request);
      return false;
    case TCgiServerClient::TResult::ServerGone:
      WriteRequestLog("The CGI server went away or stopped beating; served by the CGI process itself" + request);
      return false;
    case TCgiServerClient::TResult::Aborted:
    case TCgiServerClient::TResult::NoAnswer:
      WriteRequestLog("The request is served by the CGI process itself" + request);
      return false;
  }
  return false;
}

// The exchange can be used: its folder passed the checks (a refusal worth
// it is logged).
bool ExchangeUsable(const TExchangePaths& paths) {
  if (paths.Usable) return true;
  if (paths.LogRefusal) WriteRequestLog(paths.Refusal + "; the request is served by the CGI process itself");
  return false;
}

bool HandOverAllowed(TCgiIO& io) {
  if (ReadCgiEnvironment(io, "SERVER_SOFTWARE").empty()) return false;
  return UpperCase(ReadCgiEnvironment(io, "CGI_VERSION")).find("WIN") == std::string::npos;
}

}  // namespace

TExchangePaths ProgramExchangePaths() { return ExchangePaths(platform::ProgramDir(), platform::ProgramName()); }

TExchangeClock WakingClock(const TExchangePaths& paths) {
  TExchangeClock clock = SystemClock();
  const std::string name = paths.Queue().substr(paths.Folder.size());
  auto watch = std::make_shared<TFolderWatch>(paths.Folder, name);
  clock.Wait = [watch](int ms) { watch->Wait(ms); };
  return clock;
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

namespace {

// The stop signals' handling while a client waits; afterwards they end the
// process again as they do in plain CGI.
struct TStopSignalsWhileWaiting {
  TStopSignalsWhileWaiting() { InstallStopSignals(); }
  ~TStopSignalsWhileWaiting() {
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
  }
};

}  // namespace

bool StopSignalled() { return g_stop != 0; }

bool HandOverToResidentServer(TCgiIO& io, const std::vector<std::string>& environment, const TExchangePaths& paths,
                              const TExchangeClock& clock) {
  if (!HandOverAllowed(io) || !ExchangeUsable(paths)) return false;
  TCgiServerClient client(paths, clock);
  client.CleanStaleFiles();
  // A server that holds its lock but has stopped beating (stopped, hung)
  // gets no new requests.
  if (!ServerRunning(paths) || ::access(paths.Queue().c_str(), F_OK) != 0) return false;
  if (!ServerAlive(paths, clock)) {
    WriteRequestLog("The CGI server has not beaten for 30 seconds; served by the CGI process itself");
    return false;
  }
  auto body = ReadBody(io);
  if (!body) return false;
  const TStopSignalsWhileWaiting signals;
  client.ServerSeen = true;
  client.StopRequested = StopSignalled;
  bool queued = false;
  if (QueueAndWait(client, io, environment, *body, 11, queued)) return true;
  if (!queued) WriteRequestLog("The CGI server queue could not be used; the request is served by the CGI process itself");
  ServeBodyFromMemory(io, std::move(*body));
  return false;
}

bool IsWinCgiRequestName(const std::string& name, const TExchangePaths& paths) {
  return !name.empty() && name.front() == '/' && UpperCase(name).rfind(UpperCase(paths.ClientPrefix()), 0) != 0;
}

bool HandOverWinCgiRequest(const std::string& iniPath) {
  const TExchangePaths paths = ProgramExchangePaths();
  if (!ServerRunning(paths)) return false;
  // The server runs elsewhere: it gets the request file's full path, with
  // its real case (the name is opened again, never upper-cased).
  char real[PATH_MAX];
  if (!::realpath(iniPath.c_str(), real) || std::strlen(real) > 255) return false;
  const TExchangeClock clock = WakingClock(paths);
  TQueueRecord record;
  record.RequestName = real;
  record.QueuedAt = LocalDateTime(clock.Now());
  if (AppendQueueRecord(paths, record, clock, 11, 50) != TQueueAccess::Done) return false;
  // The server writes the answer into the output file itself; wait until
  // the record is answered (it then leaves the queue).
  const double started = clock.Now();
  while (clock.Now() - started < 180) {
    std::vector<TQueueRecord> records;
    const TQueueAccess access = ReadQueue(paths, records, clock, 11, 50);
    if (access == TQueueAccess::NoQueue) return false;
    if (access == TQueueAccess::Done) {
      const auto it = std::find_if(records.begin(), records.end(),
                                   [&](const TQueueRecord& r) { return r.RequestName == record.RequestName; });
      if (it == records.end() || it->Status == kRecordAnswered) return true;
    }
    // A server that went away leaves the request to this process.
    if (!ServerRunning(paths)) return false;
    clock.Wait(60);
  }
  WriteRequestLog("No answer from the CGI server within 180 seconds");
  return true;
}

bool StartServerAndHandOver(TCgiIO& io, const std::vector<std::string>& environment, const TExchangePaths& paths,
                            const TExchangeClock& clock, const std::string& programPath) {
  if (!HandOverAllowed(io) || !ExchangeUsable(paths)) return false;
  auto body = ReadBody(io);
  if (!body) return false;
  if (!ServerRunning(paths)) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string argument0 = programPath, argument1 = "START_SERVER";
    char* argv[] = {argument0.data(), argument1.data(), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, programPath.c_str(), &actions, &attributes, argv, environ) != 0) {
      WriteRequestLog("The CGI server could not be started");
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  const TStopSignalsWhileWaiting signals;
  TCgiServerClient client(paths, clock);
  client.StopRequested = StopSignalled;
  for (int attempt = 0; attempt < 6; ++attempt) {
    clock.Wait(500);
    if (!ServerAlive(paths, clock)) continue;
    client.ServerSeen = true;
    bool queued = false;
    if (QueueAndWait(client, io, environment, *body, 1, queued)) return true;
    if (queued) break;  // queued but the server went away: serve here
  }
  if (!client.ServerSeen) {
    WriteRequestLog("The CGI server did not take the request within six attempts; served by the CGI process itself");
  }
  ServeBodyFromMemory(io, std::move(*body));
  return false;
}

// ---------------------------------------------------------------- engine

TCgiServerEngine::TCgiServerEngine(const THttpEngineSettings& settings, TExchangePaths paths, TExchangeClock clock)
    : TCGIStdEngine(settings, true, false, TCgiIO{}), queue_(std::move(paths), clock), clock_(std::move(clock)) {
  if (settings.CGIMode == TCGIMode::ServerThreadMode) CGIMode = TCGIMode::ServerThreadMode;
}

void TCgiServerEngine::ProcessRequest() {
  if (RequestState().MalformedRequestFile) throw Exception("Malformed CGI server request file");
  TCGIStdEngine::ProcessRequest();
}

void TCgiServerEngine::Serve(const TQueueRecord& record) {
  const auto requestPath = queue_.RealFile(record.RequestName);
  if (!requestPath && serveOther_ && queue_.IsOtherRequest && queue_.IsOtherRequest(record.RequestName)) {
    serveOther_(record.RequestName);
    queue_.Finish(record.RequestName);
    return;
  }
  std::string why;
  platform::UniqueFd request;
  if (requestPath) request = platform::OpenWorkFile(*requestPath, O_RDONLY, 0, why);
  const std::string name = requestPath ? requestPath->substr(queue_.Paths().Folder.size()) : record.RequestName;
  if (requestPath && !request) WriteRequestLog("The CGI server request file " + name + " " + why + "; it is not served");
  // Nobody waits for a request whose client has gone (it served the request
  // itself, or was killed): it is only finished.
  if (!request || TCgiServerQueue::ClientGone(request.get())) {
    queue_.Finish(record.RequestName, !request);
    if (request) queue_.Release(*requestPath, std::move(request), {});
    return;
  }
  const int requestFd = request.get();
  const TRequestFileHead head = ReadRequestFileHead([requestFd](char* buffer, std::size_t count) -> std::size_t {
    const ssize_t n = ::read(requestFd, buffer, count);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  });
  auto pending = std::make_shared<std::string>(head.BodyStart);
  std::string answer;
  TCgiIO io;
  io.GetEnv = [&head](const std::string& variable) { return RequestVariable(head.Lines, variable); };
  io.Read = [pending, requestFd](void* buffer, std::size_t count) -> std::size_t {
    if (!pending->empty()) {
      const std::size_t n = std::min(count, pending->size());
      std::memcpy(buffer, pending->data(), n);
      pending->erase(0, n);
      return n;
    }
    const ssize_t n = ::read(requestFd, buffer, count);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  };
  io.Write = [&answer](const void* buffer, std::size_t count) {
    answer.append(static_cast<const char*>(buffer), count);
  };
  RequestState().MalformedRequestFile = !head.Complete;
  RequestState().ServerVariables = head.Lines;
  ExecuteRequestWith(io);
  RequestState().ServerVariables.reset();
  RequestState().MalformedRequestFile = false;

  std::string answerPath = *requestPath;
  answerPath.replace(answerPath.size() - 3, 3, "OUT");
  bool written = false;
  if (!TCgiServerQueue::ClientGone(requestFd)) {
    // A write that fails or comes up short leaves no answer file: the
    // client finds its request finished without one and serves it itself.
    written = TCgiServerQueue::WriteAnswer(answerPath, answer, why);
    if (!written) {
      WriteRequestLog("The CGI server could not write the answer file " +
                      answerPath.substr(queue_.Paths().Folder.size()) + ": " + why);
    }
  }
  queue_.Finish(record.RequestName, false);
  queue_.Release(*requestPath, std::move(request), written ? answerPath : std::string());
}

void TCgiServerEngine::ServeOtherRequests(std::function<bool(const std::string& name)> isOther,
                                          std::function<void(const std::string& name)> serve) {
  queue_.IsOtherRequest = std::move(isOther);
  serveOther_ = std::move(serve);
}

void TCgiServerEngine::Start() {
  InstallStopSignals();
  // A file-size limit makes a write fail (and be handled as a full disk)
  // instead of ending the process.
  ::signal(SIGXFSZ, SIG_IGN);
  opened_ = queue_.Open();
  if (!opened_) {
    WriteRequestLog("The CGI server did not start: " + queue_.OpenError());
    return;
  }
  SetCurrentHttpEngine(this);
  struct TWorker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<TWorker> workers;
  auto reap = [&workers](bool all) {
    for (auto it = workers.begin(); it != workers.end();) {
      if (all || it->done->load()) {
        it->thread.join();
        it = workers.erase(it);
      } else {
        ++it;
      }
    }
  };
  while (!StopSignalled()) {
    reap(false);
    queue_.Heartbeat();
    queue_.SweepAnswers();
    bool queueGone = false;
    const auto record = queue_.TakeNext(queueGone);
    if (queueGone) break;
    if (!record) {
      clock_.Wait(50);
      continue;
    }
    if (record->Status != kRecordTaken) break;  // a record that names no request ends the server
    if (CGIMode == TCGIMode::ServerThreadMode) {
      auto done = std::make_shared<std::atomic<bool>>(false);
      workers.push_back({std::thread([this, record = *record, done] {
                           Serve(record);
                           done->store(true);
                         }),
                         done});
    } else {
      Serve(*record);
    }
  }
  reap(true);
  queue_.Close();
}
