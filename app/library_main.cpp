// The program as a library that a web server loads: the ISAPI entry points
// and the NSAPI service function. On loading, the library takes its own file
// for the program file (its folder holds the workbooks and the Log folder),
// creates the loader form and the main page, and its engine component
// creates the ISAPI and the NSAPI engine.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "gateways/isapi.h"
#include "gateways/isapi_engine.h"
#include "gateways/nsapi_engine.h"
#include "platform/program.h"

namespace {

struct Program {
  std::unique_ptr<TExcel> Excel;
  std::unique_ptr<THauptseite> Page;
  TISAPIEngine* Isapi = nullptr;
  std::unique_ptr<TNSAPIEngine> Nsapi;
};

Program& TheProgram() {
  static Program program = [] {
    Dl_info info{};
    char real[PATH_MAX];
    if (::dladdr(reinterpret_cast<void*>(&TheProgram), &info) && info.dli_fname &&
        ::realpath(info.dli_fname, real)) {
      platform::SetProgramPathForTesting(real);
    }
    Program p;
    p.Excel = std::make_unique<TExcel>();
    p.Page = std::make_unique<THauptseite>(p.Excel);
    p.Page->HTTP.Settings.HostedLibrary = true;
    p.Page->HTTP.SetEngineFactory(TEngineKind::None, [](TEngineStart& start) -> std::unique_ptr<THttpEngine> {
      return std::make_unique<TISAPIEngine>(start.Settings);
    });
    p.Page->Loaded(TCgiIO(), {});
    p.Isapi = dynamic_cast<TISAPIEngine*>(p.Page->HTTP.Engine());
    p.Nsapi = std::make_unique<TNSAPIEngine>(p.Page->HTTP.Settings);
    return p;
  }();
  return program;
}

}  // namespace

extern "C" {

BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  auto& program = TheProgram();
  return pVer && program.Isapi ? program.Isapi->ExtensionVersion(pVer) : 0;
}

DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  auto& program = TheProgram();
  return pECB && program.Isapi ? program.Isapi->ExtensionProc(pECB) : HSE_STATUS_ERROR;
}

BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  auto& program = TheProgram();
  return pVer && program.Isapi ? program.Isapi->FilterVersion(pVer) : 0;
}

DWORD HttpFilterProc(HTTP_FILTER_CONTEXT* pfc, DWORD notificationType, void* pvNotification) {
  auto& program = TheProgram();
  return pfc && program.Isapi ? program.Isapi->FilterProc(pfc, notificationType, pvNotification)
                              : SF_STATUS_REQ_NEXT_NOTIFICATION;
}

BOOL TerminateExtension(DWORD dwFlags) {
  auto& program = TheProgram();
  return program.Isapi ? program.Isapi->Terminate(dwFlags) : 1;
}

// The NSAPI service function (configured in the server's obj.conf as
// "Service fn=grafolio_service").
int grafolio_service(pblock* pb, Session* sn, Request* rq) { return TheProgram().Nsapi->Service(pb, sn, rq); }
}
