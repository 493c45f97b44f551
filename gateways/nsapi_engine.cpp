#include "gateways/nsapi_engine.h"

#include <dlfcn.h>

#include <algorithm>

#include "http/http_fields.h"
#include "platform/sysutils.h"

namespace {

struct NsapiRequest {
  Session* Sn = nullptr;
  Request* Rq = nullptr;
  std::string Content;
};

NsapiRequest& Nsapi() { return GatewayState<NsapiRequest>(); }

template <typename F>
void Resolve(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(::dlsym(library, name));
}

}  // namespace

const TNsapiFunctions& NsapiFunctions() {
  static const TNsapiFunctions functions = [] {
    TNsapiFunctions f;
    for (const char* name : {"libns-httpd50.so", "libns-httpd40.so", "libns-httpd35.so", "libns-httpd30.so",
                             "libns-httpd20.so"}) {
      void* library = ::dlopen(name, RTLD_NOW | RTLD_GLOBAL);
      if (!library) continue;
      Resolve(library, "system_version", f.system_version);
      Resolve(library, "pblock_findval", f.pblock_findval);
      Resolve(library, "net_write", f.net_write);
      Resolve(library, "net_read", f.net_read);
      Resolve(library, "ereport", f.ereport);
      if (f.pblock_findval && f.net_write) {
        f.Library = name;
        break;
      }
      f = TNsapiFunctions();
    }
    return f;
  }();
  return functions;
}

TNSAPIEngine::TNSAPIEngine(const THttpEngineSettings& settings) : THttpEngine(settings) {}

bool TNSAPIEngine::IsActive() { return HostedLibrary; }

int TNSAPIEngine::Service(pblock*, Session* sn, Request* rq) {
  if (NsapiFunctions().Library.empty() || !sn || !rq) return REQ_ABORTED;
  auto& nsapi = Nsapi();
  nsapi.Sn = sn;
  nsapi.Rq = rq;
  ExecuteRequest();
  nsapi = NsapiRequest();
  return REQ_PROCEED;
}

std::string TNSAPIEngine::GetServerVariable(std::string_view name) {
  std::string key = UpperCase(name);
  std::replace(key.begin(), key.end(), ' ', '_');
  const auto& f = NsapiFunctions();
  const auto& nsapi = Nsapi();
  if (key == "SERVER_SOFTWARE" && f.system_version) return f.system_version();
  if (!nsapi.Rq || !nsapi.Sn) return std::string(kNotAvailable);
  struct Map {
    const char* variable;
    const char* parameter;
    int block;  // 0 request line, 1 headers, 2 client
  } static const kMap[] = {
      {"REQUEST_METHOD", "method", 0},      {"QUERY_STRING", "query", 0},       {"HTTP_USER_AGENT", "user-agent", 1},
      {"URL", "uri", 0},                    {"SCRIPT_NAME", "uri", 0},          {"EXECUTABLE_PATH", "uri", 0},
      {"HTTP_COOKIE", "cookie", 1},         {"SERVER_PROTOCOL", "protocol", 0}, {"CONTENT_TYPE", "content-type", 1},
      {"REMOTE_HOST", "dns", 2},            {"CONTENT_LENGTH", "content-length", 1},
  };
  for (const auto& m : kMap) {
    if (key != m.variable) continue;
    const pblock* block = m.block == 0 ? nsapi.Rq->reqpb : m.block == 1 ? nsapi.Rq->headers : nsapi.Sn->client;
    const char* value = block ? f.pblock_findval(m.parameter, block) : nullptr;
    return value ? std::string(value) : std::string(kNotAvailable);
  }
  return std::string(kNotAvailable);
}

std::string TNSAPIEngine::ReadContent() {
  int length = 0;
  if (!TryStrToInt(GetServerVariable("CONTENT_LENGTH"), length) || length < 1) return GetQueryString();
  return ReadRequestBody(length, GetServerVariable("CONTENT_TYPE"));
}

void TNSAPIEngine::ProcessRequest() {
  Nsapi().Content = ReadContent();
  if (firstRequestPending_ && OnFirstExecRequest) {
    firstRequestPending_ = false;
    OnFirstExecRequest(*this);
  }
  if (OnExecRequest) OnExecRequest(*this);
}

std::string TNSAPIEngine::GetFieldValue(std::string_view name, std::string_view defaultValue) {
  return LookupField(Nsapi().Content, name, defaultValue);
}

std::vector<std::string> TNSAPIEngine::GetFieldNames() { return FieldNames(Nsapi().Content); }

int TNSAPIEngine::ReadBinary(void* buffer, int count) {
  const auto& f = NsapiFunctions();
  const auto& nsapi = Nsapi();
  if (count < 1 || !nsapi.Sn || !f.net_read) return 0;
  return f.net_read(nsapi.Sn->csd, static_cast<char*>(buffer), count, NET_INFINITE_TIMEOUT);
}

void* TNSAPIEngine::GetServerContext() { return Nsapi().Rq; }

void TNSAPIEngine::SendToServer(const void* buffer, std::size_t count) {
  const auto& f = NsapiFunctions();
  const auto& nsapi = Nsapi();
  if (!nsapi.Sn || !f.net_write) return;
  const auto* bytes = static_cast<const char*>(buffer);
  while (count > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(count, 1u << 30));
    const int n = f.net_write(nsapi.Sn->csd, bytes, piece);
    if (n <= 0) throw Exception("net_write failed");
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}
