// The resident server's exchange under faults: a stopped or restarted
// server, a full disk, files planted in the work folder, racing starts and
// clients killed while they wait. Time is a fake clock that moves only when
// the code under test waits; hooks on that wait play the other party.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "resident/cgi_exchange.h"
#include "resident/cgi_server.h"
#include "resident/exchange_clock.h"
#include "support/cgi_harness.h"

namespace {
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

// Names of the request and answer files left in the work folder.
std::vector<std::string> ClientFiles(const TExchangePaths& paths) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(paths.Folder)) {
    const std::string name = entry.path().filename();
    if (name.find("_C_") != std::string::npos) names.push_back(name);
  }
  return names;
}

// A CGI process's request, handed over with HandOverToResidentServer.
struct HandOver {
  std::map<std::string, std::string> env{{"SERVER_SOFTWARE", "lighttpd"}, {"QUERY_STRING", "style=3"}};
  std::string output;
  bool done = false;
  std::vector<std::string> logLines;

  void Run(const TExchangePaths& paths, const TExchangeClock& clock) {
    TempDir logDir;
    const char* previous = std::getenv("CGI_LOG_DIR");
    const std::string saved = previous ? previous : "";
    setenv("CGI_LOG_DIR", logDir.str().c_str(), 1);
    TCgiIO io;
    io.GetEnv = [this](const std::string& name) { return env.count(name) ? env[name] : std::string(); };
    io.Write = [this](const void* data, std::size_t n) { output.append(static_cast<const char*>(data), n); };
    std::vector<std::string> environment;
    for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
    done = HandOverToResidentServer(io, environment, paths, clock);
    if (previous) {
      setenv("CGI_LOG_DIR", saved.c_str(), 1);
    } else {
      unsetenv("CGI_LOG_DIR");
    }
    logLines = ReadLogLines(logDir.path());
  }
  bool Logged(const std::string& text) const {
    for (const auto& line : logLines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

// Runs BODY in a child process and returns its exit status (BODY's result),
// so that process-wide settings (file-size limit, signals) stay there.
int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

THttpEngineSettings AnswerSettings(std::size_t bytes) {
  RegisterHttpProcTable();
  THttpEngineSettings settings;
  settings.OnExecRequest = [bytes](THttpEngine&) { HttpWriteText("<" + std::string(bytes - 1, 'a')); };
  return settings;
}

}  // namespace

// A server that holds its lock but does not serve (stopped with SIGSTOP, or
// hung) while other clients keep appending to its queue: the client gives up
// once the server has not beaten for 30 s, and after 180 s at the latest,
// and serves the request itself (HandOver returns false) instead of
// answering nothing.
TEST(ResidentFaults, HungServerIsGivenUpAndTheRequestServedHere) {
  // beating: the server's lock is touched on every wait (alive but slow)
  struct Case { bool beating; double seconds; std::string logged; } cases[] = {
      {false, 30, "stopped beating; served by the CGI process itself"},
      {true, 180, "No answer from the CGI server within 180 seconds; served by the CGI process itself"},
  };
  for (const auto& c : cases) {
    Exchange x;
    TCgiServerQueue stopped(x.paths, x.clock.Clock());
    ASSERT_TRUE(stopped.Open());
    x.clock.onWait = [&] {
      // Steady traffic: other clients' appends refresh the queue's stamp.
      SetFileTime(x.paths.Queue(), x.clock.now);
      if (c.beating) SetFileTime(x.paths.Lock(), x.clock.now);
    };
    const double start = x.clock.now;
    HandOver client;
    client.Run(x.paths, x.clock.Clock());
    EXPECT_FALSE(client.done) << c.seconds;
    EXPECT_EQ(client.output, "");
    EXPECT_NEAR(x.clock.now - start, c.seconds, 1.0);
    EXPECT_TRUE(client.Logged(c.logged)) << c.seconds;
    EXPECT_EQ(ClientFiles(x.paths), std::vector<std::string>{});
  }
  // A server already stopped for 30 s gets no new request at all.
  Exchange x;
  TCgiServerQueue stopped(x.paths, x.clock.Clock());
  ASSERT_TRUE(stopped.Open());
  x.clock.now += 31;
  HandOver client;
  client.Run(x.paths, x.clock.Clock());
  EXPECT_FALSE(client.done);
  EXPECT_EQ(x.clock.waits, 0);
  EXPECT_TRUE(client.Logged("The CGI server has not beaten for 30 seconds; served by the CGI process itself"));
}

// The record is gone from the queue and there is no answer file: the server
// that had it is gone (replaced queue, restarted server). The client serves
// the request itself instead of answering 0 bytes.
TEST(ResidentFaults, RecordGoneWithoutAnswerIsServedHere) {
  for (const bool restart : {false, true}) {
    Exchange x;
    auto server = std::make_unique<TCgiServerQueue>(x.paths, x.clock.Clock());
    ASSERT_TRUE(server->Open());
    x.clock.onWait = [&] {
      if (x.clock.waits != 1) return;
      if (restart) {  // killed and started again: a new lock, a new queue
        server.reset();
        server = std::make_unique<TCgiServerQueue>(x.paths, x.clock.Clock());
        ASSERT_TRUE(server->Open());
      } else {  // the queue file replaced under the waiting client
        ::unlink(x.paths.Queue().c_str());
        WriteText(x.paths.Queue(), "");
      }
    };
    HandOver client;
    client.Run(x.paths, x.clock.Clock());
    EXPECT_FALSE(client.done) << restart;
    EXPECT_EQ(client.output, "");
    EXPECT_TRUE(client.Logged("served by the CGI process itself")) << restart;
    EXPECT_EQ(ClientFiles(x.paths), std::vector<std::string>{});
  }
}

// A full disk (a file-size limit in the serving process): an answer that
// cannot be written whole is never handed over; a queue that cannot be
// rewritten still tells the client that its answer is ready.
TEST(ResidentFaults, FullDiskNeverHandsOverACutAnswer) {
  // answer: bytes the request answers; others: records queued behind ours
  struct Case { std::size_t answer; int others; TCgiServerClient::TResult result; } cases[] = {
      {10000, 0, TCgiServerClient::TResult::NoAnswer},  // the answer is cut at 4 KiB
      {100, 20, TCgiServerClient::TResult::Answered},   // the queue rewrite (5.4 KB) fails
  };
  for (const auto& c : cases) {
    Exchange x;
    TCgiServerQueue server(x.paths, x.clock.Clock());
    ASSERT_TRUE(server.Open());
    TCgiServerClient client(x.paths, x.clock.Clock());
    ASSERT_TRUE(client.Queue({"SERVER_SOFTWARE=Apache"}, ""));
    for (int i = 0; i < c.others; ++i) {
      AppendQueueRecord(x.paths, {kRecordWaiting, 0, "OTHER" + std::to_string(i) + "_REQ"}, x.clock.Clock(), 1, 0);
    }
    TCgiServerEngine engine(AnswerSettings(c.answer), x.paths, x.clock.Clock());
    bool gone = false;
    const auto record = server.TakeNext(gone);
    ASSERT_TRUE(record);
    EXPECT_EQ(InChild([&] {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{4096, 4096};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                engine.Serve(*record);
                return 0;
              }),
              0);
    std::string out;
    EXPECT_EQ(client.WaitForAnswer([&](const char* d, std::size_t n) { out.append(d, n); }), c.result) << c.answer;
    if (c.result == TCgiServerClient::TResult::Answered) {
      EXPECT_EQ(out, "content-type:text/html\r\nContent-Length: 100\r\n\r\n<" + std::string(99, 'a'));
    } else {
      EXPECT_EQ(out, "");
      const auto lines = ReadLogLines(x.dir.path() / "Log");
      const std::string expected = "The CGI server could not write the answer file grafolio_C_" + client.Id() +
                                   "_OUT: File too large";
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return LogMessage(line) == expected;
      })) << expected;
    }
    EXPECT_EQ(ClientFiles(x.paths), std::vector<std::string>{});
    SetCurrentHttpEngine(nullptr);
  }
}

// Links, FIFOs and foreign folders planted in the work folder are refused,
// never followed or blocked on.
TEST(ResidentFaults, PlantedFilesAreRefused) {
  // A link at the answer file: another file's bytes are not sent.
  {
    Exchange x;
    TCgiServerQueue server(x.paths, x.clock.Clock());
    ASSERT_TRUE(server.Open());
    WriteText(x.dir.str() + "/secret", "HTTP/1.0 200 OK\r\n\r\nsecret");
    x.clock.onWait = [&] {
      bool gone = false;
      if (const auto record = server.TakeNext(gone)) {
        std::string answer = record->RequestName;
        answer.replace(answer.size() - 3, 3, "OUT");
        ::symlink((x.dir.str() + "/secret").c_str(), (x.paths.Folder + answer.substr(x.paths.Folder.size())).c_str());
        server.Finish(record->RequestName);
      }
    };
    HandOver client;
    client.Run(x.paths, x.clock.Clock());
    EXPECT_FALSE(client.done);
    EXPECT_EQ(client.output, "");
    EXPECT_TRUE(client.Logged("is a symbolic link"));
  }
  // A link at the lock file: its target is neither emptied nor written.
  // A link at the queue file: the client does not write into its target.
  for (const bool atLock : {true, false}) {
    Exchange x;
    const std::string victim = x.dir.str() + "/victim";
    WriteText(victim, "precious");
    TCgiServerQueue server(x.paths, x.clock.Clock());
    if (atLock) {
      ASSERT_EQ(::symlink(victim.c_str(), x.paths.Lock().c_str()), 0);
      EXPECT_FALSE(server.Open());
      EXPECT_EQ(server.OpenError(), "The CGI server lock file " + x.paths.Lock() + " is a symbolic link");
    } else {
      ASSERT_TRUE(server.Open());
      ::unlink(x.paths.Queue().c_str());
      ASSERT_EQ(::symlink(victim.c_str(), x.paths.Queue().c_str()), 0);
      HandOver client;
      client.Run(x.paths, x.clock.Clock());
      EXPECT_FALSE(client.done);
      EXPECT_TRUE(client.Logged("The CGI server queue " + x.paths.Queue() + " is a symbolic link; it is not used"));
    }
    EXPECT_EQ(ReadText(victim), "precious") << atLock;
  }
  // A FIFO named as a request file: the server refuses it and goes on.
  {
    Exchange x;
    TCgiServerQueue server(x.paths, x.clock.Clock());
    ASSERT_TRUE(server.Open());
    ASSERT_EQ(::mkfifo(x.paths.Request("F1F0").c_str(), 0600), 0);
    ASSERT_EQ(AppendQueueRecord(x.paths, {kRecordWaiting, 0, UpperCaseName(x.paths.Request("F1F0"))}, x.clock.Clock(),
                                1, 0),
              TQueueAccess::Done);
    TCgiServerEngine engine(AnswerSettings(10), x.paths, x.clock.Clock());
    bool gone = false;
    const auto record = server.TakeNext(gone);
    ASSERT_TRUE(record);
    std::atomic<bool> served = false;
    std::thread serving([&] {
      engine.Serve(*record);
      served = true;
    });
    for (int i = 0; i < 200 && !served; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(served);
    if (!served) ::close(::open(x.paths.Request("F1F0").c_str(), O_WRONLY | O_NONBLOCK));  // unblock it
    serving.join();
    SetCurrentHttpEngine(nullptr);
  }
  // A Temp that is a link, writable by others or another user's: no
  // exchange (the server does not start; clients serve their requests
  // themselves and say why).
  struct Case { std::string name; std::function<void(const std::string& temp)> plant; std::string why; } cases[] = {
      {"link", [](const std::string& temp) { ::symlink("/tmp", temp.c_str()); }, "is a symbolic link"},
      {"open", [](const std::string& temp) { ::mkdir(temp.c_str(), 0777), ::chmod(temp.c_str(), 0777); },
       "is writable by others"},
      {"file", [](const std::string& temp) { WriteText(temp, ""); }, "is not a directory"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    c.plant(dir.str() + "/Temp");
    const auto paths = ExchangePaths(dir.str() + "/", "grafolio");
    FakeClock clock;
    TCgiServerQueue server(paths, clock.Clock());
    EXPECT_FALSE(server.Open()) << c.name;
    HandOver client;
    client.Run(paths, clock.Clock());
    EXPECT_FALSE(client.done);
    EXPECT_TRUE(client.Logged("The CGI server work folder " + dir.str() + "/Temp " + c.why +
                              "; the request is served by the CGI process itself"))
        << c.name;
  }
}

// Processes that look for the work folder at the same moment all take the
// one Temp folder, whichever of them makes it.
TEST(ResidentFaults, RacingStartsShareOneWorkFolder) {
  for (int round = 0; round < 50; ++round) {
    TempDir dir;
    std::atomic<int> ready = 0;
    std::vector<std::string> folders(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&, i] {
        ++ready;
        while (ready < 4) std::this_thread::yield();
        folders[i] = ExchangePaths(dir.str() + "/", "grafolio").Folder;
      });
    }
    for (auto& t : threads) t.join();
    for (const auto& folder : folders) ASSERT_EQ(folder, dir.str() + "/Temp/") << round;
  }
}

// A client killed while it waits leaves no file behind: on SIGTERM it
// deletes its own; one killed outright is found gone by the server, which
// then writes no answer (or deletes the one it wrote).
TEST(ResidentFaults, KilledClientsLeaveNoFiles) {
  {
    Exchange x;
    TCgiServerQueue server(x.paths, x.clock.Clock());
    ASSERT_TRUE(server.Open());
    // In a child: the signal handling it installs stays there.
    EXPECT_EQ(InChild([&] {
                x.clock.onWait = [] { ::raise(SIGTERM); };
                HandOver client;
                client.Run(x.paths, x.clock.Clock());
                return client.done && client.output.empty() && client.Logged("Told to stop while waiting") ? 0 : 1;
              }),
              0);
    EXPECT_EQ(ClientFiles(x.paths), std::vector<std::string>{});
  }
  // killedWhen: 0 before the server takes the request, 1 after its answer
  for (const int killedWhen : {0, 1}) {
    Exchange x;
    TCgiServerQueue server(x.paths, x.clock.Clock());
    ASSERT_TRUE(server.Open());
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      TCgiServerClient client(x.paths, x.clock.Clock());
      const char ok = client.Queue({"SERVER_SOFTWARE=x"}, "") ? 'q' : 'f';
      (void)!::write(fromChild[1], &ok, 1);
      char go;
      (void)!::read(toChild[0], &go, 1);  // waits here until killed
      ::_exit(0);
    }
    char queued = 0;
    ASSERT_EQ(::read(fromChild[0], &queued, 1), 1);
    ASSERT_EQ(queued, 'q');
    const auto kill = [&] {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    };
    if (killedWhen == 0) kill();
    TCgiServerEngine engine(AnswerSettings(10), x.paths, x.clock.Clock());
    bool gone = false;
    const auto record = server.TakeNext(gone);
    ASSERT_TRUE(record);
    engine.Serve(*record);
    if (killedWhen == 1) {
      EXPECT_EQ(ClientFiles(x.paths).size(), 2u);  // the waiting client's request and answer
      kill();
      engine.SweepAnswers();
    }
    EXPECT_EQ(ClientFiles(x.paths), std::vector<std::string>{}) << killedWhen;
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
    SetCurrentHttpEngine(nullptr);
  }
}
