#include "gateways/cgi_std_engine.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/sysutils.h"

namespace {

// Standard output through one buffer: a GIF arrives in many small pieces.
class StdoutBuffer {
 public:
  void Write(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const char*>(data);
    if (buffer_.size() + count > kLimit) Flush();
    if (count >= kLimit) {
      WriteAll(bytes, count);
      return;
    }
    buffer_.append(bytes, count);
  }
  void Flush() {
    WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr std::size_t kLimit = 1 << 16;
  static void WriteAll(const char* data, std::size_t count) {
    while (count > 0) {
      const ssize_t n = ::write(1, data, count);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the server went away; nothing more can be sent
      data += n;
      count -= static_cast<std::size_t>(n);
    }
  }
  std::string buffer_;
};

// The standard CGI part of the request state: the way in and out of a
// request run through ExecuteRequestWith.
struct CgiRequest {
  const TCgiIO* IO = nullptr;
};

StdoutBuffer& Stdout() {
  static StdoutBuffer buffer;
  return buffer;
}

}  // namespace

TCgiIO StandardCgiIO() {
  TCgiIO io;
  io.GetEnv = [](const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::string(value) : std::string();
  };
  io.Read = [](void* buffer, std::size_t count) -> std::size_t {
    while (true) {
      const ssize_t n = ::read(0, buffer, count);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
  };
  io.Write = [](const void* buffer, std::size_t count) { Stdout().Write(buffer, count); };
  io.Terminate = [] {
    Stdout().Flush();
    std::exit(0);
  };
  int listening = 0;
  socklen_t size = sizeof listening;
  io.InputListening = ::getsockopt(0, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
  return io;
}

std::vector<std::string> ProcessEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; entry && *entry; ++entry) entries.emplace_back(*entry);
  return entries;
}

std::string ReadCgiEnvironment(const TCgiIO& io, const std::string& name) {
  if (!io.GetEnv) return {};
  std::string value = io.GetEnv(name);
  if (name == "SERVER_SOFTWARE" && value.find("ZB") != std::string::npos) value.clear();
  return value;
}

TCGIStdEngine::TCGIStdEngine(const THttpEngineSettings& settings, bool serverStart, bool cgiAutoTerminate, TCgiIO io)
    : THttpEngine(settings), serverStart_(serverStart), cgiAutoTerminate_(cgiAutoTerminate), io_(std::move(io)) {
  if (serverStart_) CGIMode = TCGIMode::ServerMode;
}

const TCgiIO& TCGIStdEngine::IO() const {
  const TCgiIO* io = GatewayState<CgiRequest>().IO;
  return io ? *io : io_;
}

void TCGIStdEngine::ExecuteRequestWith(const TCgiIO& io) {
  struct Restore {
    const TCgiIO* previous;
    THttpEngine* engine;
    ~Restore() {
      GatewayState<CgiRequest>().IO = previous;
      SetCurrentHttpEngine(engine);
    }
  } restore{GatewayState<CgiRequest>().IO, CurrentHttpEngine()};
  GatewayState<CgiRequest>().IO = &io;
  SetCurrentHttpEngine(this);
  ExecuteRequest();
}

bool TCGIStdEngine::IsActive() {
  if (HostedLibrary) return false;
  const bool cgiRequest = !ReadCgiEnvironment(io_, "SERVER_SOFTWARE").empty() || serverStart_;
  return cgiRequest && UpperCase(ReadCgiEnvironment(io_, "CGI_VERSION")).find("WIN") == std::string::npos;
}

void TCGIStdEngine::Start() {
  if (HostedLibrary || serverStart_) return;  // the resident server is started elsewhere
  if (UpperCase(ReadCgiEnvironment(io_, "CGI_VERSION")).find("WIN") != std::string::npos) return;
  if (ReadCgiEnvironment(io_, "SERVER_SOFTWARE").empty()) return;
  SetCurrentHttpEngine(this);
  // In the resident modes the request goes to a server of this program,
  // started for it when none runs; when that fails it is served here.
  if (CGIMode != TCGIMode::NormalMode && handOver_ && handOver_(io_)) {
    if (io_.Terminate) io_.Terminate();
    return;
  }
  ExecuteRequest();
  if (cgiAutoTerminate_ && io_.Terminate) io_.Terminate();
}

std::string TCGIStdEngine::ReadContent() {
  if (!IO().Read) return {};
  const std::string lengthText = ReadCgiEnvironment(IO(), "CONTENT_LENGTH");
  const int length = lengthText.empty() ? 0 : StrToInt(lengthText);
  if (length < 1) return GetQueryString();
  return ReadRequestBody(length, ReadCgiEnvironment(IO(), "CONTENT_TYPE"));
}

void TCGIStdEngine::ProcessRequest() {
  RequestState().Content = ReadContent();
  if (firstRequestPending_ && OnFirstExecRequest) {
    firstRequestPending_ = false;
    OnFirstExecRequest(*this);
  }
  if (OnExecRequest) OnExecRequest(*this);
  if (OnLastExecRequest && CGIMode == TCGIMode::NormalMode) OnLastExecRequest(*this);
}

void TCGIStdEngine::EndRequest() {
  THttpEngine::EndRequest();
  if (cgiAutoTerminate_ && !serverStart_ && !HostedLibrary && io_.Terminate) io_.Terminate();
}

std::string TCGIStdEngine::GetServerVariable(std::string_view name) {
  std::string key = UpperCase(name);
  for (auto& ch : key) {
    if (ch == ' ') ch = '_';
  }
  if (key == "EXECUTABLE_PATH") key = "SCRIPT_NAME";
  const auto& state = RequestState();
  if (state.ServerVariables) {
    const std::string prefix = key + "=";
    for (const auto& line : *state.ServerVariables) {
      if (UpperCase(line).rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    return {};
  }
  return ReadCgiEnvironment(IO(), key);
}

std::string TCGIStdEngine::GetFieldValue(std::string_view name, std::string_view defaultValue) {
  return LookupField(RequestState().Content, name, defaultValue);
}

std::vector<std::string> TCGIStdEngine::GetFieldNames() { return FieldNames(RequestState().Content); }

int TCGIStdEngine::ReadBinary(void* buffer, int count) {
  if (count < 1 || !IO().Read) return 0;
  auto* bytes = static_cast<char*>(buffer);
  int got = 0;
  while (got < count) {
    const std::size_t n = IO().Read(bytes + got, static_cast<std::size_t>(count - got));
    if (n == 0) break;
    got += static_cast<int>(n);
  }
  return got;
}

void TCGIStdEngine::SendToServer(const void* buffer, std::size_t count) {
  if (IO().Write) IO().Write(buffer, count);
}
