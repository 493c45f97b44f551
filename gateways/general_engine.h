// The engine component the main page holds: it looks at how the process was
// started, creates the matching concrete engine, and forwards every request
// operation to the engine of the running request.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gateways/cgi_std_engine.h"
#include "gateways/cgi_win_engine.h"
#include "http/http_engine.h"

// How the process was started, as far as engine selection cares.
enum class TEngineKind {
  None,            // a library build: the server-hosted adaptors serve
  StandardCgi,     // SERVER_SOFTWARE set and CGI_VERSION without "WIN"
  WinCgi,          // a command-line parameter without SERVER_SOFTWARE, or CGI_VERSION with "WIN"
  ResidentServer,  // started bare (no SERVER_SOFTWARE, no parameter) or with START_SERVER
  FastCgi,         // standard input is a listening socket, or started with "--fastcgi ADDRESS"
};

// The hand-over of a request to a resident server of this program, for each
// gateway that can hand over. The program's start-up sets it; unset parts
// leave every request to the process that received it.
struct TResidentHandOver {
  TCgiHandOver Cgi;
  TWinCgiHandOver WinCgi;
};

// What an engine is created from: the component's settings, the process's
// way in and out, and its command-line parameters.
struct TEngineStart {
  THttpEngineSettings Settings;
  bool CgiAutoTerminate = true;
  TCgiIO IO;
  std::vector<std::string> Arguments;
  TResidentHandOver HandOver;
};

// Creates the concrete engine of one kind; a null result means the kind is
// not served after all.
using TEngineFactory = std::function<std::unique_ptr<THttpEngine>(TEngineStart& start)>;

// The decision rule, apart from any engine, so that it can be tested.
TEngineKind SelectEngineKind(const TCgiIO& io, const std::vector<std::string>& arguments);

class TGeneralHttpEngine {
 public:
  TGeneralHttpEngine();

  // Settings handed to the concrete engine (defaults as the component's
  // constructor gives them: AutoReadLimit 10000, SessionName
  // "DefaultSession", CgiAutoTerminate on).
  THttpEngineSettings Settings;
  bool CgiAutoTerminate = true;
  // Handed to the engines that can pass a request on.
  TResidentHandOver HandOver;

  // Setters that also reach the engine of a running request.
  void SetAutoHttpHeader(bool value);
  void SetAutoContentType(const std::string& value);
  void SetAutoReadInput(bool value);
  void SetAutoReadLimit(int value);
  void SetBufferedOutput(bool value);
  void SetTempDir(const std::string& value);
  void SetSessionName(const std::string& value);
  void SetNoCache(bool value);

  // Sets the factory for an engine kind (replacing the one there). Standard
  // CGI has its factory from the start; other kinds are registered by the
  // modules that serve them.
  void SetEngineFactory(TEngineKind kind, TEngineFactory factory);

  // Chooses the kind, creates its engine through the kind's factory and
  // starts it (called when the owner form has its settings). Start serves:
  // in plain CGI the request runs here, and with CgiAutoTerminate the
  // process ends here; resident engines return when they stop serving.
  // Returns the kind chosen; without a factory for it nothing is created.
  TEngineKind Loaded(TCgiIO io, const std::vector<std::string>& arguments);

  // The engine created by Loaded, if any.
  THttpEngine* Engine() const { return engine_.get(); }

  // Forwarding operations (to the current engine; empty answers without one).
  std::string GetServerName();
  std::string GetServerSoftware();
  std::string GetQueryString();
  std::string GetRemoteAddr();
  std::string GetRemoteUser();
  std::string GetScriptName();
  std::string GetExecutablePath();
  std::string GetServerVariable(std::string_view name);
  std::string GetFieldValue(std::string_view name, std::string_view defaultValue);
  std::vector<std::string> GetFieldNames();
  void WriteText(std::string_view text);
  void WriteBinary(const void* buffer, std::size_t count);
  void WriteHeader(std::string_view name, std::string_view value);
  void EndHeader();
  int ReadBinary(void* buffer, int count);

 private:
  // Sets a setting here and in the engine of a running request.
  template <typename T>
  void SetEverywhere(T THttpEngineSettings::*setting, const T& value);
  std::map<TEngineKind, TEngineFactory> factories_;
  std::unique_ptr<THttpEngine> engine_;
};
