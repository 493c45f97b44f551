// Runs one request through the main page over in-memory streams, keeping the
// chart for inspection (the last-request handler that destroys it is left out).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "platform/program.h"
#include "support/test_support.h"

struct DriverRun {
  explicit DriverRun(std::string query, std::string programDir = {}) : query(std::move(query)) {
    if (!programDir.empty()) platform::SetProgramPathForTesting(programDir + "/grafolio");
    excel = std::make_unique<TExcel>();
    page = std::make_unique<THauptseite>(excel);
    page->HTTP.CgiAutoTerminate = false;
    page->HTTP.Settings.OnLastExecRequest = nullptr;
  }
  ~DriverRun() { platform::SetProgramPathForTesting({}); }
  void Run() {
    setenv("CGI_LOG_DIR", logDir.str().c_str(), 1);
    TCgiIO io;
    io.GetEnv = [this](const std::string& name) -> std::string {
      if (name == "SERVER_SOFTWARE") return software;
      if (name == "QUERY_STRING") return query;
      const auto it = env.find(name);
      return it == env.end() ? std::string() : it->second;
    };
    io.Read = [](void*, std::size_t) -> std::size_t { return 0; };
    io.Write = [this](const void* b, std::size_t n) { output.append(static_cast<const char*>(b), n); };
    page->Loaded(io, {});
    SetCurrentHttpEngine(nullptr);
    unsetenv("CGI_LOG_DIR");
    for (const auto& entry : std::filesystem::directory_iterator(logDir.path())) {
      log += testing_support::ReadText(entry.path());
    }
  }
  std::string query;
  std::string software = "lighttpd/1.4.69";
  std::map<std::string, std::string> env;  // further variables (REQUEST_METHOD, HTTP_IF_NONE_MATCH, ...)
  testing_support::TempDir logDir;
  std::unique_ptr<TExcel> excel;
  std::unique_ptr<THauptseite> page;
  std::string output;
  std::string log;
};
