// The ISAPI adaptor: requests arrive through the extension control block of a
// server that loaded the program as a library; response bytes go back through
// WriteClient, a "Location" header through ServerSupportFunction. The
// raw-data filter picks up the request line, cookie and url-encoded body.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "gateways/isapi.h"
#include "http/http_engine.h"

using THttpExtensionVersionEvent = std::function<void(HSE_VERSION_INFO& Version, bool& Result)>;
using THttpFilterVersionEvent = std::function<void(HTTP_FILTER_VERSION& Version, std::string& Description)>;
using THttpFilterProcEvent =
    std::function<void(HTTP_FILTER_CONTEXT& Context, DWORD NotificationType, void* Notification, DWORD& Result)>;

class TISAPIEngine : public THttpEngine {
 public:
  explicit TISAPIEngine(const THttpEngineSettings& settings);

  THttpExtensionVersionEvent OnIsapiExtensionVersion;
  THttpFilterVersionEvent OnIsapiFilterVersion;
  THttpFilterProcEvent OnIsapiFilterProc;

  // The entry points' work.
  BOOL ExtensionVersion(HSE_VERSION_INFO* version);
  DWORD ExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
  BOOL FilterVersion(HTTP_FILTER_VERSION* version);
  DWORD FilterProc(HTTP_FILTER_CONTEXT* context, DWORD notificationType, void* notification);
  BOOL Terminate(DWORD flags);

  bool IsActive() override;
  void ProcessRequest() override;
  std::string GetServerVariable(std::string_view name) override;
  std::string GetExecutablePath() override;
  std::string GetFieldValue(std::string_view name, std::string_view defaultValue) override;
  std::vector<std::string> GetFieldNames() override;
  void WriteHeader(std::string_view name, std::string_view value) override;
  int ReadBinary(void* buffer, int count) override;
  void* GetServerContext() override;

  // Largest piece asked of ReadClient at once.
  inline static constexpr int kReadPiece = 32386;

 protected:
  void SendToServer(const void* buffer, std::size_t count) override;

 private:
  std::string ReadContent();
  bool loaded_ = false;
  bool firstRequestPending_ = true;
};

// Splits raw request bytes as the filter sees them: whether the request is a
// POST, its query string, the cookie line's text and, for an url-encoded POST,
// the content (body in front of the query string, joined by "&").
struct TRawRequest {
  bool Post = false;
  std::string QueryString;
  std::string Cookie;
  std::string Content;
};
TRawRequest ParseRawRequest(std::string_view raw);
