#include "gateways/fastcgi_engine.h"

#include <fcgiapp.h>

#include <cstdio>

TFastCgiEngine::TFastCgiEngine(const THttpEngineSettings& settings, std::string address)
    : TCGIStdEngine(settings, true, false, TCgiIO{}), address_(std::move(address)) {}

void TFastCgiEngine::Start() {
  if (FCGX_Init() != 0) {
    std::fprintf(stderr, "grafolio: the FastCGI library could not be initialised\n");
    return;
  }
  int socket = 0;
  if (!address_.empty()) {
    socket = FCGX_OpenSocket(address_.c_str(), 128);
    if (socket < 0) {
      std::fprintf(stderr, "grafolio: cannot listen for FastCGI on %s\n", address_.c_str());
      return;
    }
  }
  FCGX_Request request;
  if (FCGX_InitRequest(&request, socket, 0) != 0) return;
  SetCurrentHttpEngine(this);
  while (FCGX_Accept_r(&request) == 0) {
    TCgiIO io;
    io.GetEnv = [&request](const std::string& name) {
      const char* value = FCGX_GetParam(name.c_str(), request.envp);
      return value ? std::string(value) : std::string();
    };
    io.Read = [&request](void* buffer, std::size_t count) -> std::size_t {
      const int n = FCGX_GetStr(static_cast<char*>(buffer), static_cast<int>(std::min<std::size_t>(count, 1 << 30)),
                                request.in);
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    };
    io.Write = [&request](const void* buffer, std::size_t count) {
      FCGX_PutStr(static_cast<const char*>(buffer), static_cast<int>(count), request.out);
    };
    ExecuteRequestWith(io);
    FCGX_Finish_r(&request);
  }
}
