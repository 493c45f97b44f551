// A clock for the resident server's exchange that tests move by hand, file
// times set to such a clock's moments, and a scratch program folder.
#pragma once

#include <sys/time.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "resident/cgi_exchange.h"
#include "support/test_support.h"

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

// A scratch program folder with its exchange paths and a fake clock; the log
// goes to its Log folder.
struct Exchange {
  testing_support::TempDir dir;
  TExchangePaths paths = ExchangePaths(dir.str() + "/", "grafolio");
  FakeClock clock;
  Exchange() { setenv("CGI_LOG_DIR", (dir.str() + "/Log").c_str(), 1); }
  ~Exchange() { unsetenv("CGI_LOG_DIR"); }
  void CreateQueue() const { testing_support::WriteText(paths.Queue(), ""); }
};
