// chart-snapshot QUERY OUT.png [FOLDER]
//
// Draws the chart that a request with that query string would draw (same
// parameters, same driver code) into a PNG file, for tests and for looking at
// results. Workbook names are taken relative to FOLDER (default: the folder
// of this tool). Prints the drawn series' points, one "label<TAB>value" line
// each. Exits 1 with the request's error when the request fails.
#include <cstdio>
#include <memory>
#include <string>

#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "gateways/cgi_std_engine.h"
#include "platform/bitmap.h"
#include "platform/program.h"
#include "platform/sysutils.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: chart-snapshot QUERY OUT.png [FOLDER]\n");
    return 2;
  }
  const std::string query = argv[1];
  const std::string out = argv[2];
  if (argc == 4) platform::SetProgramPathForTesting(std::string(argv[3]) + "/chart-snapshot");

  auto excel = std::make_unique<TExcel>();
  THauptseite page(excel);
  std::string error;
  bool drawn = false;
  page.HTTP.CgiAutoTerminate = false;
  page.HTTP.Settings.OnLastExecRequest = nullptr;
  page.HTTP.Settings.OnRequestError = [&](THttpEngine&, const std::exception& e) { error = e.what(); };
  page.HTTP.Settings.OnExecRequest = [&](THttpEngine& sender) {
    page.datenzuordnen(&sender);
    page.grafikerstellen();
    page.Ausgabegrafik.CreateChartBitmap()->SavePng(out.c_str());
    drawn = true;
    TChartSeries& series = *page.Chart1->Series(page.Style);
    for (int i = 0; i < series.Count(); ++i) {
      std::printf("%s\t%s\n", series.Label(i).c_str(), FloatToStr(series.MainValueList().Value(i)).c_str());
    }
  };

  TCgiIO io;
  io.GetEnv = [&](const std::string& name) -> std::string {
    if (name == "SERVER_SOFTWARE") return "chart-snapshot";
    if (name == "QUERY_STRING") return query;
    return {};
  };
  io.Read = [](void*, std::size_t) -> std::size_t { return 0; };
  io.Write = [](const void*, std::size_t) {};
  page.Loaded(io, {});
  if (!drawn) {
    std::fprintf(stderr, "chart-snapshot: %s\n", error.empty() ? "no chart drawn" : error.c_str());
    return 1;
  }
  return 0;
}
