#include "http/cgi_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/program.h"
#include "platform/sysutils.h"

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

std::string Lookup(const std::vector<std::string>& lines, const std::string& name) {
  const std::string prefix = name + "=";
  for (const auto& line : lines) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return {};
}

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

// Queues (attempts as given), waits and copies. True when done.
bool QueueAndWait(TCgiServerClient& client, TCgiIO& io, const std::vector<std::string>& environment,
                  const std::string& body, int attempts, bool& queued) {
  queued = client.Queue(environment, body, attempts);
  if (!queued) return false;
  const auto result = client.WaitForAnswer([&](const char* data, std::size_t count) {
    if (io.Write) io.Write(data, count);
  });
  switch (result) {
    case TCgiServerClient::TResult::Answered:
    case TCgiServerClient::TResult::Stopped:
      return true;
    case TCgiServerClient::TResult::TimedOut:
      WriteRequestLog("No answer from the CGI server within 180 seconds");
      return true;
    case TCgiServerClient::TResult::ServerGone:
      WriteRequestLog("The CGI server went away; the request is served by the CGI process itself");
      return false;
    case TCgiServerClient::TResult::Aborted:
      WriteRequestLog("The request is served by the CGI process itself");
      return false;
  }
  return true;
}

bool HandOverAllowed(TCgiIO& io) {
  if (kIsLibrary) return false;
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

bool StopSignalled() { return g_stop != 0; }

bool HandOverToResidentServer(TCgiIO& io, const std::vector<std::string>& environment, const TExchangePaths& paths,
                              const TExchangeClock& clock) {
  if (!HandOverAllowed(io)) return false;
  TCgiServerClient client(paths, clock);
  client.CleanStaleFiles();
  if (!ServerRunning(paths) || ::access(paths.Queue().c_str(), F_OK) != 0) return false;
  auto body = ReadBody(io);
  if (!body) return false;
  client.ServerSeen = true;
  client.StopRequested = StopSignalled;
  bool queued = false;
  if (QueueAndWait(client, io, environment, *body, 11, queued)) return true;
  if (!queued) WriteRequestLog("The CGI server queue could not be used; the request is served by the CGI process itself");
  ServeBodyFromMemory(io, std::move(*body));
  return false;
}

bool StartServerAndHandOver(TCgiIO& io, const std::vector<std::string>& environment, const TExchangePaths& paths,
                            const TExchangeClock& clock, const std::string& programPath) {
  if (!HandOverAllowed(io)) return false;
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
  TCgiServerClient client(paths, clock);
  client.StopRequested = StopSignalled;
  for (int attempt = 0; attempt < 6; ++attempt) {
    clock.Wait(500);
    if (!ServerRunning(paths)) continue;
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

namespace {
thread_local bool tMalformedRequest = false;
}  // namespace

TCgiServerEngine::TCgiServerEngine(const THttpEngineSettings& settings, TExchangePaths paths, TExchangeClock clock)
    : TCGIStdEngine(settings, true, false, TCgiIO{}), queue_(std::move(paths), clock), clock_(std::move(clock)) {
  if (settings.CGIMode == TCGIMode::ServerThreadMode) CGIMode = TCGIMode::ServerThreadMode;
}

void TCgiServerEngine::ProcessRequest() {
  if (tMalformedRequest) throw Exception("Malformed CGI server request file");
  TCGIStdEngine::ProcessRequest();
}

void TCgiServerEngine::Serve(const TQueueRecord& record) {
  const auto requestPath = queue_.RealFile(record.RequestName);
  if (!requestPath && serveOther_ && queue_.IsOtherRequest && queue_.IsOtherRequest(record.RequestName)) {
    serveOther_(record.RequestName);
    queue_.Finish(record.RequestName);
    return;
  }
  const int requestFd = requestPath ? ::open(requestPath->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : -1;
  if (requestFd >= 0) {
    // The head (environment lines up to the empty line); what was read
    // beyond it is the start of the body.
    std::string bytes;
    std::vector<std::string> lines;
    std::optional<std::size_t> headLength;
    char block[8192];
    while (!(headLength = ParseRequestHead(bytes, lines)) && bytes.size() < kMaxRequestHead + 4) {
      const ssize_t n = ::read(requestFd, block, sizeof block);
      if (n <= 0) break;
      bytes.append(block, static_cast<std::size_t>(n));
    }
    auto pending = std::make_shared<std::string>(headLength ? bytes.substr(*headLength) : std::string());
    std::string answer;
    TCgiIO io;
    io.GetEnv = [&lines](const std::string& name) { return Lookup(lines, name); };
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
    tMalformedRequest = !headLength;
    RequestState().ServerVariables = lines;
    ExecuteRequestWith(io);
    RequestState().ServerVariables.reset();
    tMalformedRequest = false;
    ::close(requestFd);

    std::string answerPath = *requestPath;
    answerPath.replace(answerPath.size() - 3, 3, "OUT");
    const int answerFd = ::open(answerPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool written = answerFd >= 0;
    for (std::size_t at = 0; written && at < answer.size();) {
      const ssize_t n = ::write(answerFd, answer.data() + at, answer.size() - at);
      if (n <= 0) written = false;
      else at += static_cast<std::size_t>(n);
    }
    if (answerFd >= 0) ::close(answerFd);
    if (!written) WriteRequestLog("The CGI server could not write the answer file");
  }
  queue_.Finish(record.RequestName);
}

void TCgiServerEngine::ServeOtherRequests(std::function<bool(const std::string& name)> isOther,
                                          std::function<void(const std::string& name)> serve) {
  queue_.IsOtherRequest = std::move(isOther);
  serveOther_ = std::move(serve);
}

void TCgiServerEngine::Start() {
  InstallStopSignals();
  opened_ = queue_.Open();
  if (!opened_) {
    WriteRequestLog("The CGI server did not start: another one is running or the work folder is not writable");
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
