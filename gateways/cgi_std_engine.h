// The standard CGI engine: the server starts the program once per request,
// hands the request over in environment variables and, for a body, on
// standard input, and takes the response from standard output.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_engine.h"

// Where a CGI process gets its request from and puts its answer. The
// standard one reads the environment, file descriptor 0 and 1; tests use
// in-memory ones.
struct TCgiIO {
  // An unset variable reads as empty.
  std::function<std::string(const std::string& name)> GetEnv;
  // Reads up to count bytes of the request body; 0 at its end. Unset: there
  // is no input stream and the content stays empty.
  std::function<std::size_t(void* buffer, std::size_t count)> Read;
  // Writes response bytes. Unset: the response is dropped.
  std::function<void(const void* buffer, std::size_t count)> Write;
  // Ends the process after a request (flushing the output first).
  std::function<void()> Terminate;
  // Standard input is a listening socket: a FastCGI server started the
  // program and hands it connections there.
  bool InputListening = false;
};

// The process's real environment and standard streams; output is buffered
// and flushed before the process ends.
TCgiIO StandardCgiIO();

// The process's environment strings (NAME=value).
std::vector<std::string> ProcessEnvironment();

// Reads an environment variable as the CGI engines do: an unset variable is
// empty, and a SERVER_SOFTWARE that contains "ZB" counts as unset.
std::string ReadCgiEnvironment(const TCgiIO& io, const std::string& name);

// Hands a CGI request to a resident server of this program, starting one
// when none runs. True: the request was answered there. The program's
// start-up supplies it (the resident server lives above the gateways).
using TCgiHandOver = std::function<bool(TCgiIO& io)>;

class TCGIStdEngine : public THttpEngine {
 public:
  TCGIStdEngine(const THttpEngineSettings& settings, bool serverStart, bool cgiAutoTerminate, TCgiIO io);

  // Starts serving: in a CGI process (SERVER_SOFTWARE set, no WinCGI) the
  // engine becomes current and runs the request at once; with
  // CgiAutoTerminate the process ends afterwards.
  void Start() override;

  bool IsActive() override;
  void ProcessRequest() override;
  void EndRequest() override;
  std::string GetServerVariable(std::string_view name) override;
  std::string GetFieldValue(std::string_view name, std::string_view defaultValue) override;
  std::vector<std::string> GetFieldNames() override;
  int ReadBinary(void* buffer, int count) override;

  bool CgiAutoTerminate() const { return cgiAutoTerminate_; }

  // The hand-over used in the resident modes (CGIMode other than
  // NormalMode); without one every request is served in this process.
  void SetHandOver(TCgiHandOver handOver) { handOver_ = std::move(handOver); }

  // Runs one request whose environment, body and answer are `io` instead of
  // the process's own (the resident modes; one request per thread at a time).
  void ExecuteRequestWith(const TCgiIO& io);

 protected:
  void SendToServer(const void* buffer, std::size_t count) override;
  // The running request's way in and out: the one given to
  // ExecuteRequestWith, else the process's.
  const TCgiIO& IO() const;
  // The process's own way in and out.
  TCgiIO& ProcessIO() { return io_; }

 private:
  std::string ReadContent();

  bool serverStart_;
  bool firstRequestPending_ = true;
  bool cgiAutoTerminate_;
  TCgiIO io_;
  TCgiHandOver handOver_;
};
