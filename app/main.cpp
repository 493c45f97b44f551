// Program start-up: the loader form first, then the main page, whose engine
// component serves the request while the page is being created.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "gateways/cgi_std_engine.h"
#include "gateways/cgi_win_engine.h"
#include "gateways/fastcgi_engine.h"
#include "platform/program.h"
#include "resident/cgi_server.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  TCgiIO io = StandardCgiIO();
  // A CGI request goes to a resident server of this program when one runs,
  // before the costly forms are made.
  if (SelectEngineKind(io, arguments) == TEngineKind::StandardCgi) {
    const auto paths = ProgramExchangePaths();
    if (HandOverToResidentServer(io, ProcessEnvironment(), paths, WakingClock(paths))) io.Terminate();
  }
  auto Excel = std::make_unique<TExcel>();
  auto Hauptseite = std::make_unique<THauptseite>(Excel);
  // The gateways pass a request to a resident server through these.
  Hauptseite->HTTP.HandOver.Cgi = [](TCgiIO& cgi) {
    const auto paths = ProgramExchangePaths();
    return StartServerAndHandOver(cgi, ProcessEnvironment(), paths, WakingClock(paths), platform::ProgramPath());
  };
  Hauptseite->HTTP.HandOver.WinCgi = HandOverWinCgiRequest;
  Hauptseite->HTTP.SetEngineFactory(TEngineKind::ResidentServer, [](TEngineStart& start) -> std::unique_ptr<THttpEngine> {
    const auto paths = ProgramExchangePaths();
    auto server = std::make_unique<TCgiServerEngine>(start.Settings, paths, WakingClock(paths));
    // The same server answers WinCGI clients: their records name their request files.
    auto winCgi = std::make_shared<TCGIWinEngine>(start.Settings, true, false, start.IO, std::string());
    server->ServeOtherRequests([paths](const std::string& name) { return IsWinCgiRequestName(name, paths); },
                               [winCgi](const std::string& iniPath) { winCgi->RunRequestFile(iniPath); });
    return server;
  });
  Hauptseite->HTTP.SetEngineFactory(TEngineKind::FastCgi, [](TEngineStart& start) -> std::unique_ptr<THttpEngine> {
    const bool given = start.Arguments.size() >= 2 && start.Arguments[0] == "--fastcgi";
    return std::make_unique<TFastCgiEngine>(start.Settings, given ? start.Arguments[1] : std::string());
  });
  const TEngineKind kind = Hauptseite->Loaded(std::move(io), arguments);
  // A plain CGI request has ended the process by now; a resident engine
  // returns here when it stops serving. Kinds without an engine are not
  // served by this build.
  if (auto* server = dynamic_cast<TCgiServerEngine*>(Hauptseite->HTTP.Engine()); server && !server->Opened()) {
    std::fprintf(stderr, "grafolio: a CGI server of this program is already running, or its work folder is not writable\n");
    return 1;
  }
  // A WinCGI request that failed has left no answer; the web server learns it
  // from the exit status.
  if (auto* winCgi = dynamic_cast<TCGIWinEngine*>(Hauptseite->HTTP.Engine()); winCgi && winCgi->Failed()) return 1;
  if (Hauptseite->HTTP.Engine()) return 0;
  switch (kind) {
    case TEngineKind::ResidentServer:
      std::fprintf(stderr,
                   "grafolio: started without a CGI request (SERVER_SOFTWARE is not set); "
                   "the resident CGI server mode is not available in this build\n");
      return 1;
    case TEngineKind::WinCgi:
      std::fprintf(stderr, "grafolio: WinCGI requests are not served by this build\n");
      return 1;
    case TEngineKind::FastCgi:
      std::fprintf(stderr, "grafolio: FastCGI is not served by this build\n");
      return 1;
    default:
      return 0;
  }
}
