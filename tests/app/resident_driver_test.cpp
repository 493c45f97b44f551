#include <gtest/gtest.h>

#include "driver_harness.h"

// One driver serving request after request, as a resident server does: each
// answer equals the answer of a fresh process for the same query.
TEST(ResidentDriver, EveryRequestStartsFromTheStoredSettings) {
  const auto fixtures = (testing_support::SourceDir() / "tests/fixtures/workbooks").string();
  const char* queries[] = {
      "style=3&3D=yes&number=Stimmen&border=yes&width=300&height=200&backcolor=4&marks=no",
      "",
      "filename=obst.xls&style=1",
      "filename=none.xls",
      "filename=testenglish&chartbackbottomcolor=2&legend=no",
      "style=1",
  };
  // Log lines without their time and request id.
  auto Messages = [](const std::string& log) {
    std::string out;
    for (std::size_t at = 0; at < log.size();) {
      const auto end = std::min(log.find("\r\n", at), log.size());
      const auto line = log.substr(at, end - at);
      out += line.substr(std::min(line.find(" : "), line.size())) + "\n";
      at = end + 2;
    }
    return out;
  };
  std::string freshLog;
  DriverRun resident("", fixtures);
  RegisterHttpProcTable();
  THttpEngineSettings settings = resident.page->HTTP.Settings;
  settings.CGIMode = TCGIMode::ServerMode;
  TCGIStdEngine engine(settings, true, false, TCgiIO{});
  for (const char* query : queries) {
    std::string output;
    TCgiIO io;
    io.GetEnv = [&](const std::string& name) -> std::string {
      if (name == "SERVER_SOFTWARE") return "lighttpd/1.4.69";
      if (name == "QUERY_STRING") return query;
      return {};
    };
    io.Read = [](void*, std::size_t) -> std::size_t { return 0; };
    io.Write = [&](const void* b, std::size_t n) { output.append(static_cast<const char*>(b), n); };
    setenv("CGI_LOG_DIR", resident.logDir.str().c_str(), 1);
    engine.ExecuteRequestWith(io);
    unsetenv("CGI_LOG_DIR");
    ASSERT_TRUE(resident.page->Chart1);  // the chart and the loader survive a request
    ASSERT_TRUE(resident.excel);

    DriverRun fresh(query, fixtures);
    fresh.Run();
    EXPECT_EQ(output, fresh.output) << query;
    freshLog += Messages(fresh.log);
  }
  std::string residentLog;
  for (const auto& entry : std::filesystem::directory_iterator(resident.logDir.path())) {
    residentLog += testing_support::ReadText(entry.path());
  }
  EXPECT_EQ(Messages(residentLog), freshLog);
}
