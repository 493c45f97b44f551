// Runs one request through a standard CGI engine over in-memory streams.
#pragma once

#include <sys/time.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "http/cgi_exchange.h"
#include "http/cgi_std_engine.h"
#include "http/general_engine.h"
#include "support/test_support.h"

// The lines of every log file in dir.
inline std::vector<std::string> ReadLogLines(const std::filesystem::path& dir) {
  std::vector<std::string> lines;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".Log") continue;
    const std::string text = testing_support::ReadText(entry.path());
    for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
      end = text.find("\r\n", start);
      lines.push_back(text.substr(start, end - start));
      if (end == std::string::npos) break;
    }
  }
  return lines;
}

struct CgiRun {
  std::map<std::string, std::string> env;
  std::string body;
  THttpEngineSettings settings;
  std::function<void(THttpEngine&)> handler;
  std::string output;
  std::vector<std::string> logLines;

  // Runs the request; the log is written into a temporary folder and read back.
  void Run() {
    testing_support::TempDir logDir;
    setenv("CGI_LOG_DIR", logDir.str().c_str(), 1);
    if (handler) settings.OnExecRequest = handler;
    TCgiIO io;
    io.GetEnv = [this](const std::string& name) {
      auto it = env.find(name);
      return it == env.end() ? std::string() : it->second;
    };
    std::size_t pos = 0;
    io.Read = [this, &pos](void* buffer, std::size_t count) {
      const std::size_t n = std::min(count, body.size() - pos);
      std::copy_n(body.data() + pos, n, static_cast<char*>(buffer));
      pos += n;
      return n;
    };
    io.Write = [this](const void* buffer, std::size_t count) {
      output.append(static_cast<const char*>(buffer), count);
    };
    RegisterHttpProcTable();
    {
      TCGIStdEngine engine(settings, false, false, io);
      engine.Start();
      SetCurrentHttpEngine(nullptr);
    }
    unsetenv("CGI_LOG_DIR");
    logLines = ReadLogLines(logDir.path());
  }
};

// The message part of a log line ("YYYY-MM-DD hh:mm:ss,  ID : message").
inline std::string LogMessage(const std::string& line) {
  const auto sep = line.find(" : ");
  return sep == std::string::npos ? line : line.substr(sep + 3);
}

// A clock for the resident server's exchange that moves only when the code
// under test waits; onWait then plays the other party.
struct FakeClock {
  double now = 1.8e9;
  int waits = 0;
  std::function<void()> onWait;
  TExchangeClock Clock() {
    return {[this] { return now; },
            [this](int ms) {
              now += ms / 1000.0;
              ++waits;
              if (onWait) onWait();
            }};
  }
};

inline void SetFileTime(const std::string& path, double when) {
  timeval times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
  ::utimes(path.c_str(), times);
}
