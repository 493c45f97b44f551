// The resident CGI server: a copy of the program that stays running and
// serves the requests that CGI processes of the same program hand over
// through the exchange files, and the hand-over on the CGI process's side.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gateways/cgi_std_engine.h"
#include "resident/cgi_exchange.h"

// The exchange paths of the running program (creates Temp beside it).
TExchangePaths ProgramExchangePaths();

// A clock whose waits end early when the queue file in the work folder is
// written or deleted (inotify), so neither side waits for a tick; falls back
// to plain sleeps when the folder cannot be watched. A stop signal also
// ends a wait.
TExchangeClock WakingClock(const TExchangePaths& paths);

// SIGTERM and SIGINT set a flag instead of ending the process: the server
// finishes the request in hand and ends; a waiting client stops waiting.
void InstallStopSignals();
bool StopSignalled();

// Unit start-up of a CGI process: cleans stale exchange files and, when a
// server of this program is running, hands the request over and copies the
// answer to io.Write. True: the request is done (the process ends). False:
// serve it here; a body already read is then served from memory through
// io.Read.
bool HandOverToResidentServer(TCgiIO& io, const std::vector<std::string>& environment, const TExchangePaths& paths,
                              const TExchangeClock& clock);

// When a resident server of this program runs, queues a WinCGI request
// file's path with it and waits until it is answered (the server writes the
// output file). False: no server took it, serve it here.
bool HandOverWinCgiRequest(const std::string& iniPath);

// Whether a queue record's name is a WinCGI client's request file: a full
// path that is no request file of the CGI exchange.
bool IsWinCgiRequestName(const std::string& name, const TExchangePaths& paths);

// Starts a server (the program with "START_SERVER", in a new session, its
// standard streams on /dev/null) and hands the request to it: up to six
// times wait 500 ms and try to queue. When all six fail the request is left
// to this process (false, the reason logged), as it is when the server
// goes away while the client waits.
bool StartServerAndHandOver(TCgiIO& io, const std::vector<std::string>& environment, const TExchangePaths& paths,
                            const TExchangeClock& clock, const std::string& programPath);

// The engine of the resident server: polls the queue every 50 ms (woken at
// once by new requests) and runs each request file through the standard CGI
// engine, in ServerMode on this thread, in ServerThreadMode one thread each.
class TCgiServerEngine : public TCGIStdEngine {
 public:
  TCgiServerEngine(const THttpEngineSettings& settings, TExchangePaths paths, TExchangeClock clock);

  // Opens the queue and serves until the queue file is gone, a stop signal
  // arrives or a record that names no request is taken.
  void Start() override;

  // Serves one taken record: the request file in, the answer file out, then
  // the record finished. Public for tests.
  void Serve(const TQueueRecord& record);

  // Deletes the files of served requests whose clients were killed before
  // they took their answer (done on every round of the poll loop). Public
  // for tests.
  void SweepAnswers() { queue_.SweepAnswers(); }

  // Whether Open succeeded (another server may hold the lock).
  bool Opened() const { return opened_; }

  // Also takes records whose name `isOther` accepts (the request files of
  // WinCGI clients) and serves them with `serve`.
  void ServeOtherRequests(std::function<bool(const std::string& name)> isOther,
                          std::function<void(const std::string& name)> serve);

  void ProcessRequest() override;

 private:
  TCgiServerQueue queue_;
  TExchangeClock clock_;
  std::function<void(const std::string& name)> serveOther_;
  bool opened_ = false;
};
