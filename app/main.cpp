// Program start-up: the loader form first, then the main page, whose engine
// component serves the request while the page is being created.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "http/cgi_std_engine.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto Excel = std::make_unique<TExcel>();
  auto Hauptseite = std::make_unique<THauptseite>(Excel);
  const TEngineKind kind = Hauptseite->Loaded(StandardCgiIO(), arguments);
  // A plain CGI request has ended the process by now; a resident engine
  // returns here when it stops serving. Kinds without an engine are not
  // served by this build.
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
