// The NSAPI adaptor: a server library loaded the program and calls its
// service function with the request's session and request records. Request
// variables come from the parameter blocks through pblock_findval, response
// bytes go out through net_write, body bytes come in through net_read; all
// three are resolved by name from the server library.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gateways/nsapi.h"
#include "http/http_engine.h"

// The server functions, resolved from the first server library found
// ("libns-httpd50.so", "libns-httpd40.so", ... "libns-httpd20.so").
struct TNsapiFunctions {
  NsSystemVersion system_version = nullptr;
  NsPblockFindval pblock_findval = nullptr;
  NsNetWrite net_write = nullptr;
  NsNetRead net_read = nullptr;
  NsEreport ereport = nullptr;
  std::string Library;  // the library's name; empty when none was found
};
// Looks the server library up once per process.
const TNsapiFunctions& NsapiFunctions();

class TNSAPIEngine : public THttpEngine {
 public:
  explicit TNSAPIEngine(const THttpEngineSettings& settings);

  // Serves one request; the result is REQ_PROCEED, or REQ_ABORTED when no
  // server library was found.
  int Service(pblock* pb, Session* sn, Request* rq);

  bool IsActive() override;
  void ProcessRequest() override;
  std::string GetServerVariable(std::string_view name) override;
  std::string GetFieldValue(std::string_view name, std::string_view defaultValue) override;
  std::vector<std::string> GetFieldNames() override;
  int ReadBinary(void* buffer, int count) override;
  void* GetServerContext() override;

 protected:
  void SendToServer(const void* buffer, std::size_t count) override;

 private:
  std::string ReadContent();
  bool firstRequestPending_ = true;
};
