#include "gateways/isapi_engine.h"

#include <algorithm>
#include <cstring>

#include "http/http_fields.h"
#include "platform/sysutils.h"

namespace {

// The ISAPI part of the per-request state.
struct IsapiRequest {
  EXTENSION_CONTROL_BLOCK* Ecb = nullptr;
  DWORD PreloadTaken = 0;
  std::string Content;
  // Set by the raw-data filter for the request on this thread.
  HTTP_FILTER_CONTEXT* FilterContext = nullptr;
  DWORD NotificationType = 0;
  std::string FilterCookie;
  std::string FilterContent;
};

IsapiRequest& Isapi() { return GatewayState<IsapiRequest>(); }

// Upper-case, blanks to underscores, "EXECUTABLE_PATH" asked as "SCRIPT_NAME".
std::string IsapiName(std::string_view name) {
  std::string key = UpperCase(name);
  std::replace(key.begin(), key.end(), ' ', '_');
  if (key == "EXECUTABLE_PATH") key = "SCRIPT_NAME";
  return key;
}

}  // namespace

TISAPIEngine::TISAPIEngine(const THttpEngineSettings& settings) : THttpEngine(settings) {}

bool TISAPIEngine::IsActive() { return HostedLibrary; }

BOOL TISAPIEngine::ExtensionVersion(HSE_VERSION_INFO* version) {
  version->dwExtensionVersion = 0x00020000;  // 2.0
  std::snprintf(version->lpszExtensionDesc, sizeof version->lpszExtensionDesc, "%s", "GATEKIT 4.0.1");
  bool result = true;
  if (OnIsapiExtensionVersion) OnIsapiExtensionVersion(*version, result);
  return result ? 1 : 0;
}

DWORD TISAPIEngine::ExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  auto& isapi = Isapi();
  isapi.Ecb = ecb;
  isapi.PreloadTaken = 0;
  if (OnExecRequest) ExecuteRequest();
  isapi.Ecb = nullptr;
  isapi.Content.clear();
  return HSE_STATUS_SUCCESS;
}

BOOL TISAPIEngine::FilterVersion(HTTP_FILTER_VERSION* version) {
  SetCurrentHttpEngine(this);
  version->dwFilterVersion = 0x20000;
  version->dwFlags = 0;
  if (OnIsapiFilterVersion) {
    std::string description;
    OnIsapiFilterVersion(*version, description);
    std::snprintf(version->lpszFilterDesc, sizeof version->lpszFilterDesc, "%s", description.c_str());
  }
  return 1;
}

TRawRequest ParseRawRequest(std::string_view raw) {
  TRawRequest request;
  bool urlEncoded = false;
  std::size_t pos = 0;
  bool first = true;
  std::size_t bodyStart = std::string_view::npos;
  while (pos < raw.size()) {
    auto end = raw.find('\n', pos);
    if (end == std::string_view::npos) end = raw.size();
    std::string_view line = raw.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    if (first) {
      first = false;
      request.Post = UpperCase(line.substr(0, 5)) == "POST ";
      if (const auto q = line.find('?'); q != std::string_view::npos) {
        const auto blank = line.find(' ', q);
        request.QueryString = std::string(line.substr(q + 1, blank == std::string_view::npos ? blank : blank - q - 1));
      }
      continue;
    }
    if (line.empty()) {
      bodyStart = pos;
      break;
    }
    const std::string upper = UpperCase(line);
    if (upper.rfind("CONTENT-TYPE:", 0) == 0 && upper.find("URLENCODED") != std::string::npos) urlEncoded = true;
    if (upper.rfind("COOKIE:", 0) == 0) request.Cookie = std::string(line.substr(7, 4096));
  }
  request.Cookie = std::string(Trim(request.Cookie));
  if (request.Post && urlEncoded && bodyStart != std::string_view::npos && bodyStart <= raw.size()) {
    const std::string body(Trim(raw.substr(bodyStart)));
    request.Content = request.QueryString.empty() ? body : body + "&" + request.QueryString;
  }
  return request;
}

DWORD TISAPIEngine::FilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType, void* notification) {
  SetCurrentHttpEngine(this);
  auto& isapi = Isapi();
  isapi.FilterContext = context;
  isapi.NotificationType = notificationType;
  if (notificationType == SF_NOTIFY_READ_RAW_DATA && notification) {
    const auto* raw = static_cast<const HTTP_FILTER_RAW_DATA*>(notification);
    if (raw->pvInData && raw->cbInData > 0) {
      const TRawRequest request =
          ParseRawRequest(std::string_view(static_cast<const char*>(raw->pvInData), raw->cbInData));
      isapi.FilterCookie = request.Cookie;
      isapi.FilterContent = request.Content;
    }
  }
  DWORD result = SF_STATUS_REQ_NEXT_NOTIFICATION;
  if (OnIsapiFilterProc) OnIsapiFilterProc(*context, notificationType, notification, result);
  return result;
}

BOOL TISAPIEngine::Terminate(DWORD) {
  if (OnLastExecRequest) OnLastExecRequest(*this);
  return 1;
}

std::string TISAPIEngine::ReadContent() {
  const auto* ecb = Isapi().Ecb;
  if (!ecb) return {};
  const std::int64_t length = ecb->cbTotalBytes;
  if (length < 1) return GetQueryString();
  return ReadRequestBody(length, ecb->lpszContentType ? ecb->lpszContentType : "");
}

void TISAPIEngine::ProcessRequest() {
  if (!loaded_ && IsActive()) {
    loaded_ = true;
    SetCurrentHttpEngine(this);
  }
  Isapi().Content = ReadContent();
  if (firstRequestPending_ && OnFirstExecRequest) {
    firstRequestPending_ = false;
    OnFirstExecRequest(*this);
  }
  if (OnExecRequest) OnExecRequest(*this);
}

int TISAPIEngine::ReadBinary(void* buffer, int count) {
  auto& isapi = Isapi();
  auto* ecb = isapi.Ecb;
  if (!ecb || count < 1) return 0;
  auto* out = static_cast<char*>(buffer);
  int got = 0;
  // First what the server preloaded, then further bytes from the client.
  if (isapi.PreloadTaken < ecb->cbAvailable && ecb->lpbData) {
    const DWORD n = std::min<DWORD>(static_cast<DWORD>(count), ecb->cbAvailable - isapi.PreloadTaken);
    std::memcpy(out, ecb->lpbData + isapi.PreloadTaken, n);
    isapi.PreloadTaken += n;
    got += static_cast<int>(n);
  }
  while (got < count && ecb->ReadClient) {
    DWORD size = static_cast<DWORD>(std::min(count - got, kReadPiece));
    if (!ecb->ReadClient(ecb->ConnID, out + got, &size)) return got > 0 ? got : -1;
    if (size == 0) break;
    got += static_cast<int>(std::min<DWORD>(size, static_cast<DWORD>(count - got)));
  }
  return got;
}

std::string TISAPIEngine::GetServerVariable(std::string_view name) {
  const std::string key = IsapiName(name);
  auto& isapi = Isapi();
  auto* ecb = isapi.Ecb;
  std::string value = std::string(kNotAvailable);
  if (ecb) {
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    if (key == "QUERY_STRING") return text(ecb->lpszQueryString);
    if (key == "PATH_INFO") return text(ecb->lpszPathInfo);
    if (key == "PATH_TRANSLATED") return text(ecb->lpszPathTranslated);
    if (ecb->GetServerVariable) {
      std::string buffer(4096, '\0');
      for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(key.c_str()), buffer.data(), &size)) {
          buffer.resize(std::min<std::size_t>(size, buffer.size()));
          value = buffer.substr(0, buffer.find('\0'));
          break;
        }
        // Too small: one more try with the size the server asked for (bounded).
        if (size <= buffer.size() || size > (1u << 20)) break;
        buffer.assign(size, '\0');
      }
    }
  }
  if (key == "HTTP_COOKIE" && (value.empty() || value == kNotAvailable) && !isapi.FilterCookie.empty()) {
    value = isapi.FilterCookie;
  }
  return value;
}

std::string TISAPIEngine::GetExecutablePath() {
  std::string path = GetServerVariable("SCRIPT NAME");
  if (path == kNotAvailable) return {};
  if (path.size() > 2 && path.compare(1, 2, ":\\") == 0) {
    // A drive path: from the second-to-last backslash on, with slashes.
    auto last = path.rfind('\\');
    auto before = last == 0 ? std::string::npos : path.rfind('\\', last - 1);
    path = path.substr(before == std::string::npos ? 0 : before);
    std::replace(path.begin(), path.end(), '\\', '/');
  }
  return path;
}

std::string TISAPIEngine::GetFieldValue(std::string_view name, std::string_view defaultValue) {
  return LookupField(Isapi().Content, name, defaultValue);
}

std::vector<std::string> TISAPIEngine::GetFieldNames() { return FieldNames(Isapi().Content); }

void TISAPIEngine::WriteHeader(std::string_view name, std::string_view value) {
  if (UpperCase(name) == "LOCATION") {
    auto* ecb = Isapi().Ecb;
    if (ecb && ecb->ServerSupportFunction) {
      std::string url(value);
      DWORD size = static_cast<DWORD>(url.size());
      ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, url.data(), &size, nullptr);
    }
    RequestState().FirstHeaderLineWritten = true;
    return;
  }
  THttpEngine::WriteHeader(name, value);
}

void* TISAPIEngine::GetServerContext() { return Isapi().Ecb; }

void TISAPIEngine::SendToServer(const void* buffer, std::size_t count) {
  auto* ecb = Isapi().Ecb;
  if (!ecb || !ecb->WriteClient) return;
  const auto* bytes = static_cast<const char*>(buffer);
  while (count > 0) {
    DWORD size = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    if (!ecb->WriteClient(ecb->ConnID, const_cast<char*>(bytes), &size, HSE_IO_SYNC) || size == 0) {
      throw Exception("WriteClient failed");
    }
    bytes += size;
    count -= std::min<std::size_t>(size, count);
  }
}
