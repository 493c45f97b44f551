// The engine core: what every gateway kind shares. A concrete engine (plain
// CGI, later others) supplies the request content, the server variables and
// the last step of moving response bytes to the server; this class owns the
// request cycle, the per-request state, the response header rules and the
// global functions through which the rest of the program reaches the engine
// of the running request.
#pragma once

#include <any>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "http/form_data.h"
#include "http/http_cookie.h"
#include "http/http_fields.h"

enum class TCGIMode { NormalMode, ServerMode, ServerThreadMode };

class THttpEngine;

using TExecRequestEvent = std::function<void(THttpEngine& Sender)>;
using TFirstExecRequestEvent = std::function<void(THttpEngine& Sender)>;
using TLastExecRequestEvent = std::function<void(THttpEngine& Sender)>;
using TRequestErrorEvent = std::function<void(THttpEngine& Sender, const std::exception& ErrorReason)>;

// The settings every engine carries; the engine component hands all of them
// to the concrete engine it creates.
struct THttpEngineSettings {
  std::string AutoContentType = "text/html";
  bool AutoReadInput = true;
  std::int32_t AutoReadLimit = 0;
  bool AutoHttpHeader = true;
  bool BufferedOutput = false;
  TCGIMode CGIMode = TCGIMode::NormalMode;
  std::string SessionName;
  std::string TempDir;
  bool NoCache = false;
  // The program runs as a library inside a web server (ISAPI, NSAPI): the
  // server-hosted engines serve, no CGI engine is chosen, and the process
  // is never ended after a request.
  bool HostedLibrary = false;
  TExecRequestEvent OnExecRequest;
  TFirstExecRequestEvent OnFirstExecRequest;
  TRequestErrorEvent OnRequestError;
  TLastExecRequestEvent OnLastExecRequest;
};

// Per-request state, one record per serving thread; reset at the start of
// every request.
struct THttpRequestState {
  // Engine core.
  THttpEngine* CurrentEngine = nullptr;
  std::optional<std::vector<TUploadFile>> TempFiles;  // upload files, closed (and so gone) at EndRequest
  bool HeaderSent = false;
  bool FirstHeaderLineWritten = false;
  int RequestId = 0;           // 0..999 while a request runs, 0 between requests
  std::uint8_t BinaryKind = 0;  // 0 none, 1 JPEG, 2 GIF, 3 PNG, 4 SVG
  std::unique_ptr<THttpCookie> SessionCookie;  // named after SessionName
  std::vector<std::string> SessionValues;      // nothing in this program opens a session
  std::optional<std::string> OutputBuffer;  // collected response (BufferedOutput)
  bool DirectOutput = true;
  std::string Status;  // status of the answer when it is not "200 OK", e.g. "304 Not Modified"
  // Header lines that a binary answer carries behind its content type (cache
  // validators); a text answer (a message page) leaves them out.
  std::vector<std::pair<std::string, std::string>> AnswerHeaders;
  // Standard CGI engine.
  std::optional<std::vector<std::string>> ServerVariables;  // NAME=value lines of a handed-over request
  bool MalformedRequestFile = false;                        // that request's file lacks its end
  std::string Content;                                      // url-encoded request content
  // The gateway's own part (the streams of a handed-over CGI request, the
  // ISAPI control block, the NSAPI session): each gateway keeps its own
  // record type here, through GatewayState.
  std::any Gateway;
};

THttpRequestState& RequestState();

// The running request's gateway record of type T, made on first use.
template <typename T>
T& GatewayState() {
  std::any& slot = RequestState().Gateway;
  if (T* state = std::any_cast<T>(&slot)) return *state;
  return slot.emplace<T>();
}

class THttpEngine : public THttpEngineSettings {
 public:
  explicit THttpEngine(const THttpEngineSettings& settings) : THttpEngineSettings(settings) {}
  virtual ~THttpEngine() = default;
  THttpEngine(const THttpEngine&) = delete;
  THttpEngine& operator=(const THttpEngine&) = delete;

  // Begins serving once the engine is created: a one-request engine runs its
  // request, a resident one serves until it is told to stop.
  virtual void Start() {}

  // Runs one request: resets the request state, fires the events through
  // ProcessRequest, writes the automatic header, logs escaping exceptions,
  // sends the buffered output and cleans up.
  void ExecuteRequest();

  virtual void ProcessRequest() = 0;
  virtual void EndRequest();

  // Named request variables (names with blanks; engines map them).
  virtual std::string GetServerName();
  virtual std::string GetServerSoftware();
  virtual std::string GetGatewayInterface();
  virtual std::string GetServerProtocol();
  virtual std::string GetServerPort();
  virtual bool GetPortSecure();
  virtual std::string GetRequestMethod();
  virtual std::string GetPathInfo();
  virtual std::string GetPathTranslated();
  virtual std::string GetScriptName();
  virtual std::string GetQueryString();
  virtual std::string GetRemoteHost();
  virtual std::string GetRemoteAddr();
  virtual std::string GetAuthType();
  virtual std::string GetRemoteUser();
  virtual std::string GetRemoteIdent();
  virtual std::string GetContentType();
  virtual std::int32_t GetContentLength();
  virtual std::string GetUrl();
  virtual std::string GetUserAgent();
  virtual std::string GetHttpCookie();
  virtual std::string GetReferer();
  virtual std::string GetExecutablePath();
  virtual void* GetServerContext() { return nullptr; }

  // Response output with the header rules.
  virtual void WriteStatusLine();
  virtual void WriteText(std::string_view text);
  virtual void WriteBinary(const void* buffer, std::size_t count);
  virtual int ReadBinary(void* buffer, int count);
  virtual void WriteHeader(std::string_view name, std::string_view value);
  virtual void EndHeader();
  // Writes a whole image as the answer's body. A HEAD request gets the header
  // a GET would get, with a content-length of `count`, and no body.
  void WriteImage(const void* buffer, std::size_t count);
  // Answers with `status` (e.g. "304 Not Modified") and the answer headers
  // (AnswerHeaders), without content type and without body.
  void WriteHeaderOnlyAnswer(std::string_view status);

  virtual std::string GetServerVariable(std::string_view name) = 0;
  virtual std::string GetFieldValue(std::string_view name, std::string_view defaultValue) = 0;
  virtual std::vector<std::string> GetFieldNames() = 0;

  // Whether this engine kind serves the current process.
  virtual bool IsActive() = 0;

 protected:
  // Moves response bytes to the server; called only for unbuffered writes.
  virtual void SendToServer(const void* buffer, std::size_t count) = 0;
  // Reads the multipart body of a request into url-encoded content; the
  // files it writes join the request's temporary-file list. Its fields
  // (all but file data) may take AutoReadLimit bytes. Raises
  // TRequestBodyError for a body that is incomplete or refused.
  virtual std::string ReadMultipartInput();
  // The content of a request whose body has `length` bytes (at least 1): a
  // multipart body through the form-data reader (its fixed window and files
  // on disk make the limit for bodies held in memory moot), any other body
  // of at most AutoReadLimit bytes read whole through ReadBinary and cut at
  // its first zero byte. A longer body is logged and gives no content. A
  // body that ends before `length` bytes raises TRequestBodyError.
  std::string ReadRequestBody(std::int64_t length, std::string_view contentType);

  // Whether writes go to the output buffer instead of the server.
  static bool WritesBuffered(const THttpEngine& engine);
  // For engines that write no status line: a "Status" line when the answer's
  // status is not "200 OK", the way a CGI program tells the server.
  void WriteStatusField();

 private:
  std::string VariableWithFallback(std::string_view first, std::string_view second);
  void SendOutputBuffer();
};

// The HTTP date of a moment given as seconds since the epoch:
// "Sat, 05 Dec 2026 11:53:15 GMT" (FormatHttpDate).
std::string HttpDate(std::int64_t unixSeconds);

// Whether `path` is one of the temporary files the running request wrote
// (an uploaded file).
bool IsRequestTempFile(const std::string& path);

// Appends a line to the request log with the running request's id.
void WriteRequestLog(std::string_view message);

// Global functions acting on the current engine of the calling thread. With
// no current engine, writes do nothing and lookups return the default.
THttpEngine* CurrentHttpEngine();
void SetCurrentHttpEngine(THttpEngine* engine);

// Applies `apply` to the current engine. Without one nothing is done, and a
// value-returning `apply` gives its type's empty value.
template <typename F>
auto WithCurrentEngine(F&& apply) {
  using Result = std::invoke_result_t<F, THttpEngine&>;
  THttpEngine* engine = CurrentHttpEngine();
  if constexpr (std::is_void_v<Result>) {
    if (engine) apply(*engine);
  } else {
    return engine ? apply(*engine) : Result();
  }
}
void HttpWriteText(std::string_view text);
void HttpWriteLine(std::string_view text);
void HttpWriteBinary(const void* buffer, std::size_t count);
int HttpReadBinary(void* buffer, int count);
void HttpWriteHeader(std::string_view name, std::string_view value);
std::string HttpServerVariable(std::string_view name);
std::string HttpFieldValue(std::string_view name, std::string_view defaultValue);
std::string HttpQueryString();
std::string HttpCookieString();
std::string HttpExecutablePath();
std::string HttpUserAgent();
void SetBinaryKind(int kind);
void HttpWriteImage(const void* buffer, std::size_t count);
// Adds a header line to the binary answer of the running request (see
// THttpRequestState::AnswerHeaders).
void HttpAddAnswerHeader(std::string_view name, std::string_view value);

// Fills the output procedure table with the functions above (done once at
// start-up; idempotent).
void RegisterHttpProcTable();
