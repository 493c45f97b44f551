// A clock for the resident server's exchange that tests move by hand, and
// file times set to such a clock's moments.
#pragma once

#include <sys/time.h>

#include <functional>
#include <string>

#include "resident/cgi_exchange.h"

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
