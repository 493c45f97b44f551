#include "http/http_engine.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>

#include "http/cache_validators.h"
#include "http/form_data.h"
#include "http/http_proc_table.h"
#include "http/request_log.h"
#include "platform/sysutils.h"

THttpRequestState& RequestState() {
  thread_local THttpRequestState state;
  return state;
}

namespace {

int DrawRequestId() {
  thread_local std::mt19937 generator(static_cast<unsigned>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count() ^
      static_cast<long long>(std::hash<std::thread::id>{}(std::this_thread::get_id()))));
  return std::uniform_int_distribution<int>(0, 999)(generator);
}

constexpr std::int32_t kSessionCodeKey = 417;

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool THttpEngine::WritesBuffered(const THttpEngine& engine) {
  return engine.BufferedOutput && !RequestState().DirectOutput;
}

void THttpEngine::ExecuteRequest() {
  auto& state = RequestState();
  state.TempFiles.reset();
  if (BufferedOutput) {
    state.OutputBuffer.emplace();
    state.DirectOutput = false;
  } else {
    state.OutputBuffer.reset();
    state.DirectOutput = true;
  }
  state.BinaryKind = 0;
  state.Status.clear();
  state.AnswerHeaders.clear();
  if (state.RequestId == 0) state.RequestId = DrawRequestId();
  // The process-wide request lock serialises requests only when the program
  // runs as a library inside a server; a CGI process never takes it.

  try {
    state.CurrentEngine = this;
    state.HeaderSent = false;
    state.FirstHeaderLineWritten = false;
    if (IsActive()) {
      state.SessionCookie = std::make_unique<THttpCookie>();
      state.SessionCookie->CookieName = SessionName;
      state.SessionCookie->Coded = true;
      state.SessionCookie->CodeKey = kSessionCodeKey;
      state.SessionValues.clear();
    }
    ProcessRequest();
    if (AutoHttpHeader && !state.HeaderSent) {
      WriteHeader("content-type", AutoContentType);
      state.HeaderSent = true;
      EndHeader();
    }
  } catch (const std::exception& error) {
    if (OnRequestError) {
      OnRequestError(*this, error);
    } else {
      WriteRequestLog(std::string("Unhandled exception : ") + error.what());
    }
  } catch (...) {
    WriteRequestLog("Unhandled exception : unknown error");
  }

  if (BufferedOutput) {
    try {
      SendOutputBuffer();
    } catch (const std::exception& error) {
      WriteRequestLog(std::string("Unhandled exception : ") + error.what());
    }
    state.OutputBuffer.reset();
  }

  EndRequest();
  state.RequestId = 0;
}

void THttpEngine::EndRequest() {
  auto& state = RequestState();
  // Upload files have no name left: closing them frees them.
  state.TempFiles.reset();
  // Sessions: nothing in this program opens one, so there is nothing to store.
  state.SessionCookie.reset();
  state.SessionValues.clear();
}

std::string THttpEngine::ReadMultipartInput() {
  auto& state = RequestState();
  if (!state.TempFiles) state.TempFiles.emplace();
  TMultipartInput input;
  input.ContentLength = GetContentLength();
  input.Read = [this](void* buffer, int count) { return ReadBinary(buffer, count); };
  input.Folder = UploadFolder(TempDir);
  input.FieldLimit = static_cast<std::size_t>(std::max(AutoReadLimit, 0));
  return ReadMultipartBody(input, *state.TempFiles);
}

std::string THttpEngine::VariableWithFallback(std::string_view first, std::string_view second) {
  std::string value = GetServerVariable(first);
  if (value == kNotAvailable) value.clear();
  if (value.empty()) {
    value = GetServerVariable(second);
    if (value == kNotAvailable) value.clear();
  }
  return value;
}

namespace {
std::string Available(std::string value) { return value == kNotAvailable ? std::string() : value; }
}  // namespace

std::string THttpEngine::GetServerName() { return Available(GetServerVariable("SERVER NAME")); }
std::string THttpEngine::GetServerSoftware() { return Available(GetServerVariable("SERVER SOFTWARE")); }
std::string THttpEngine::GetGatewayInterface() { return Available(GetServerVariable("GATEWAY INTERFACE")); }
std::string THttpEngine::GetServerProtocol() { return VariableWithFallback("SERVER PROTOCOL", "REQUEST PROTOCOL"); }
std::string THttpEngine::GetServerPort() { return Available(GetServerVariable("SERVER PORT")); }
bool THttpEngine::GetPortSecure() { return GetServerVariable("SERVER PORT SECURE") == "1"; }
std::string THttpEngine::GetRequestMethod() { return Available(GetServerVariable("REQUEST METHOD")); }
std::string THttpEngine::GetPathInfo() { return Available(GetServerVariable("PATH INFO")); }
std::string THttpEngine::GetPathTranslated() { return VariableWithFallback("PATH TRANSLATED", "DOCUMENT ROOT"); }
std::string THttpEngine::GetScriptName() { return VariableWithFallback("SCRIPT NAME", "EXECUTABLE PATH"); }
std::string THttpEngine::GetQueryString() { return Available(GetServerVariable("QUERY STRING")); }
std::string THttpEngine::GetRemoteHost() { return Available(GetServerVariable("REMOTE HOST")); }
std::string THttpEngine::GetRemoteAddr() { return VariableWithFallback("REMOTE ADDR", "REMOTE ADDRESS"); }
std::string THttpEngine::GetAuthType() { return VariableWithFallback("AUTH TYPE", "AUTHETICATION METHOD"); }
std::string THttpEngine::GetRemoteUser() { return Available(GetServerVariable("REMOTE USER")); }
std::string THttpEngine::GetRemoteIdent() { return Available(GetServerVariable("REMOTE IDENT")); }
std::string THttpEngine::GetContentType() { return Available(GetServerVariable("CONTENT TYPE")); }
std::int32_t THttpEngine::GetContentLength() {
  int value = 0;
  return TryStrToInt(GetServerVariable("CONTENT LENGTH"), value) ? value : 0;
}
std::string THttpEngine::GetUrl() {
  std::string url = VariableWithFallback("URL", "HTTP_URL");
  return url.empty() ? GetExecutablePath() : url;
}
std::string THttpEngine::GetUserAgent() { return VariableWithFallback("HTTP USER AGENT", "USER AGENT"); }
std::string THttpEngine::GetHttpCookie() { return Available(GetServerVariable("HTTP COOKIE")); }
std::string THttpEngine::GetReferer() { return VariableWithFallback("HTTP REFERER", "REFERER"); }
std::string THttpEngine::GetExecutablePath() { return VariableWithFallback("EXECUTABLE PATH", "SCRIPT NAME"); }

void THttpEngine::WriteStatusLine() {
  const std::string software = UpperCase(GetServerSoftware());
  if (software.find("NETSCAPE") == std::string::npos && software.find("APACHE") == std::string::npos) {
    const std::string& status = RequestState().Status;
    WriteText("HTTP/1.1 " + (status.empty() ? std::string("200 OK") : status) + "\r\n");
  } else {
    WriteStatusField();
  }
}

void THttpEngine::WriteStatusField() {
  const std::string& status = RequestState().Status;
  if (!status.empty()) WriteText("Status:" + status + "\r\n");
}

void THttpEngine::WriteText(std::string_view text) {
  auto& state = RequestState();
  if (AutoHttpHeader && !state.HeaderSent && (StartsWith(text, "\r\n") || StartsWith(Trim(text), "<"))) {
    state.HeaderSent = true;
    WriteHeader("content-type", AutoContentType);
    if (NoCache) {
      WriteHeader("Pragma", "no-cache");
      WriteHeader("Cache-Control", "no-cache");
      WriteHeader("Expires", HttpDate(std::time(nullptr) - 1000LL * 86400));
      WriteHeader("Document Expires", HttpDate(std::time(nullptr) - 1000LL * 86400));
    }
    EndHeader();
  }
  if (WritesBuffered(*this)) {
    if (!text.empty()) state.OutputBuffer->append(text);
    return;
  }
  if (!text.empty()) SendToServer(text.data(), text.size());
}

void THttpEngine::WriteBinary(const void* buffer, std::size_t count) {
  auto& state = RequestState();
  if (AutoHttpHeader && !state.HeaderSent) {
    std::string type = AutoContentType;
    if (state.BinaryKind == 2) type = "image/gif";
    if (state.BinaryKind == 1) type = "image/jpeg";
    if (state.BinaryKind == 3) type = "image/png";
    if (state.BinaryKind == 4) type = "image/svg+xml";
    WriteHeader("content-type", type);
    for (const auto& [name, value] : state.AnswerHeaders) WriteHeader(name, value);
    state.HeaderSent = true;
    EndHeader();
  }
  if (WritesBuffered(*this)) {
    if (count >= 1) state.OutputBuffer->append(static_cast<const char*>(buffer), count);
    return;
  }
  if (count > 0) SendToServer(buffer, count);
}

int THttpEngine::ReadBinary(void*, int) { return 0; }

void THttpEngine::WriteImage(const void* buffer, std::size_t count) {
  if (UpperCase(GetRequestMethod()) != "HEAD") {
    WriteBinary(buffer, count);
    return;
  }
  RequestState().AnswerHeaders.emplace_back("content-length", std::to_string(count));
  WriteBinary(buffer, 0);
}

void THttpEngine::WriteHeaderOnlyAnswer(std::string_view status) {
  auto& state = RequestState();
  state.Status = status;
  state.HeaderSent = true;
  for (const auto& [name, value] : state.AnswerHeaders) WriteHeader(name, value);
  EndHeader();
}

std::string THttpEngine::ReadRequestBody(std::int64_t length, std::string_view contentType) {
  const bool multipart = UpperCase(contentType).find("MULTIPART/FORM-DATA;") != std::string::npos;
  if (length > AutoReadLimit && !multipart) {
    WriteRequestLog("Content length exceeds AutoReadLimit");
    return {};
  }
  if (!AutoReadInput) return {};
  if (multipart) return ReadMultipartInput();
  std::string body(static_cast<std::size_t>(length), '\0');
  int got = 0;
  while (got < length) {
    const int n = ReadBinary(body.data() + got, static_cast<int>(length) - got);
    if (n <= 0) {
      throw TRequestBodyError("Request body incomplete: " + std::to_string(got) + " of " + std::to_string(length) +
                              " bytes arrived");
    }
    got += n;
  }
  return body.substr(0, body.find('\0'));
}

void THttpEngine::WriteHeader(std::string_view name, std::string_view value) {
  auto& state = RequestState();
  if (AutoHttpHeader && !state.FirstHeaderLineWritten) {
    state.FirstHeaderLineWritten = true;
    // A redirect that starts with its "Location" line gets no status line.
    if (std::string_view("LOCATION").find(UpperCase(name)) == std::string_view::npos) WriteStatusLine();
  }
  std::string line;
  line.reserve(name.size() + value.size() + 3);
  line.append(name).append(":").append(value).append("\r\n");
  WriteText(line);
}

void THttpEngine::EndHeader() { WriteText("\r\n"); }

void THttpEngine::SendOutputBuffer() {
  auto& state = RequestState();
  state.DirectOutput = true;
  if (!state.OutputBuffer) return;
  const std::string& buffer = *state.OutputBuffer;
  if (!AutoHttpHeader) {
    if (!buffer.empty()) SendToServer(buffer.data(), buffer.size());
    return;
  }
  // A Netscape server hosting the library gets the whole buffer as the body.
  if (HostedLibrary && UpperCase(GetServerSoftware()).find("NETSCAPE") != std::string::npos) {
    WriteHeader("content-length", std::to_string(buffer.size()));
    state.HeaderSent = true;
    EndHeader();
    if (!buffer.empty()) SendToServer(buffer.data(), buffer.size());
    return;
  }
  // The header block ends at the first CR LF CR LF; the search stops at the
  // first zero byte, as for a zero-terminated text.
  const std::string_view text(buffer.data(), strnlen(buffer.data(), buffer.size()));
  const auto end = text.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    if (!buffer.empty()) SendToServer(buffer.data(), buffer.size());
    return;
  }
  // A header that gives its own length (HEAD) or has no body (304) goes as it is.
  const std::string head = "\r\n" + UpperCase(text.substr(0, end + 2));
  if (head.find("\r\nCONTENT-LENGTH:") != std::string::npos || state.Status.rfind("304", 0) == 0) {
    SendToServer(buffer.data(), buffer.size());
    return;
  }
  SendToServer(buffer.data(), end + 2);
  const std::size_t bodyStart = end + 4;
  const std::size_t bodySize = buffer.size() - bodyStart;
  WriteHeader("content-length", std::to_string(bodySize));
  state.HeaderSent = true;
  EndHeader();
  if (bodySize > 0) SendToServer(buffer.data() + bodyStart, bodySize);
}

std::string HttpDate(std::int64_t unixSeconds) { return FormatHttpDate(unixSeconds); }

bool IsRequestTempFile(const std::string& path) {
  const auto& files = RequestState().TempFiles;
  return files && std::any_of(files->begin(), files->end(), [&](const TUploadFile& f) { return f.Path == path; });
}

void WriteRequestLog(std::string_view message) { WriteRequestLogLine(message, RequestState().RequestId); }

THttpEngine* CurrentHttpEngine() { return RequestState().CurrentEngine; }
void SetCurrentHttpEngine(THttpEngine* engine) { RequestState().CurrentEngine = engine; }

void HttpWriteText(std::string_view text) {
  WithCurrentEngine([&](THttpEngine& e) { e.WriteText(text); });
}
void HttpWriteLine(std::string_view text) {
  WithCurrentEngine([&](THttpEngine& e) { e.WriteText(std::string(text) + "\r\n"); });
}
void HttpWriteBinary(const void* buffer, std::size_t count) {
  WithCurrentEngine([&](THttpEngine& e) { e.WriteBinary(buffer, count); });
}
int HttpReadBinary(void* buffer, int count) {
  return WithCurrentEngine([&](THttpEngine& e) { return e.ReadBinary(buffer, count); });
}
void HttpWriteHeader(std::string_view name, std::string_view value) {
  WithCurrentEngine([&](THttpEngine& e) { e.WriteHeader(name, value); });
}
std::string HttpServerVariable(std::string_view name) {
  return WithCurrentEngine([&](THttpEngine& e) { return e.GetServerVariable(name); });
}
std::string HttpFieldValue(std::string_view name, std::string_view defaultValue) {
  auto* e = CurrentHttpEngine();
  return e ? e->GetFieldValue(name, defaultValue) : std::string(defaultValue);
}
std::string HttpQueryString() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetQueryString(); });
}
std::string HttpCookieString() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetHttpCookie(); });
}
std::string HttpExecutablePath() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetExecutablePath(); });
}
std::string HttpUserAgent() {
  return WithCurrentEngine([](THttpEngine& e) { return e.GetUserAgent(); });
}
void SetBinaryKind(int kind) { RequestState().BinaryKind = static_cast<std::uint8_t>(kind); }
void HttpWriteImage(const void* buffer, std::size_t count) {
  WithCurrentEngine([&](THttpEngine& e) { e.WriteImage(buffer, count); });
}
void HttpAddAnswerHeader(std::string_view name, std::string_view value) {
  RequestState().AnswerHeaders.emplace_back(name, value);
}

void RegisterHttpProcTable() {
  auto& table = HttpProcTable();
  table.HttpWriteText = HttpWriteText;
  table.HttpWriteLine = HttpWriteLine;
  table.HttpWriteBinary = HttpWriteBinary;
  table.HttpReadBinary = HttpReadBinary;
  table.HttpWriteHeader = HttpWriteHeader;
  table.HttpServerVariable = HttpServerVariable;
  table.HttpFieldValue = HttpFieldValue;
  table.HttpQueryString = HttpQueryString;
  table.HttpCookieString = HttpCookieString;
  table.HttpExecutablePath = HttpExecutablePath;
  table.HttpUserAgent = HttpUserAgent;
  table.SetBinaryKind = SetBinaryKind;
  table.HttpWriteImage = HttpWriteImage;
}
