// The WinCGI engine: the web server writes the request into an ini-style
// file, starts the program with that file's path as its first parameter and
// reads the answer from the output file the request file names. Server
// variables come from the sections CGI, System, Extra Headers and Accept;
// POST fields from the Form sections (numbered repeats name_1, name_2, ...)
// or, for a multipart body, from the body file.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gateways/cgi_ini_file.h"
#include "gateways/cgi_std_engine.h"
#include "http/http_engine.h"

// Whether the process was started as WinCGI: not ruled out by a standard CGI
// environment (SERVER_SOFTWARE set and CGI_VERSION without "WIN").
bool IsWinCgiStart(const TCgiIO& io);

// Hands a WinCGI request file to a resident server of this program. True:
// the server answered it (it writes the output file itself). The program's
// start-up supplies it (the resident server lives above the gateways).
using TWinCgiHandOver = std::function<bool(const std::string& iniPath)>;

class TCGIWinEngine : public THttpEngine {
 public:
  // `iniPath` is the first command-line parameter (empty when there is none:
  // the WinCGI server).
  TCGIWinEngine(const THttpEngineSettings& settings, bool serverStart, bool cgiAutoTerminate, TCgiIO io,
                std::string iniPath);
  ~TCGIWinEngine() override;

  // Runs the request of the ini file (and with CgiAutoTerminate ends the
  // process afterwards, unless the request failed: see Failed).
  void Start() override;

  // Whether the last request failed: its request file could not be read,
  // its output file not be made, or a write to it failed or came up short
  // (the output file is then emptied). The process should end with a
  // failure status, so that the web server sends no answer of it.
  bool Failed() const { return failed_; }

  bool IsActive() override;
  void ProcessRequest() override;
  void EndRequest() override;
  std::string GetServerVariable(std::string_view name) override;
  std::string GetHttpCookie() override;
  std::int32_t GetContentLength() override;
  std::string GetFieldValue(std::string_view name, std::string_view defaultValue) override;
  std::vector<std::string> GetFieldNames() override;
  void WriteHeader(std::string_view name, std::string_view value) override;
  int ReadBinary(void* buffer, int count) override;

  // Runs one request from an ini file (the server mode's step).
  void RunRequestFile(const std::string& iniPath);

  // The hand-over tried before a request is served here; without one every
  // request is served in this process.
  void SetHandOver(TWinCgiHandOver handOver) { handOver_ = std::move(handOver); }

 protected:
  void SendToServer(const void* buffer, std::size_t count) override;

 private:
  // A form field of a POST: the value and whether it exists.
  bool FormValue(const std::string& name, std::string& value);
  bool ReadExternal(const std::string& spec, std::string& value);
  // Reads the ini file and opens the output file and (for a multipart body)
  // the content file; raises Exception when one fails.
  void ReadRequestFiles();
  void CloseFiles();

  bool serverStart_;
  bool firstRequestPending_ = true;
  bool cgiAutoTerminate_;
  TCgiIO io_;
  std::string iniPath_;
  std::unique_ptr<TCGIIniFile> ini_;
  int output_ = -1;
  std::string outputPath_;
  int input_ = -1;
  bool failed_ = false;
  std::string multipartContent_;
  bool multipart_ = false;
  TWinCgiHandOver handOver_;
};
