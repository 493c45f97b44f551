// The main page: the request driver. For each request it reads the
// parameters, fills the DataTable from a built-in test table or the first two
// rows of a worksheet, configures one of the seven chart series and the
// chart's look, and hands the chart to the image output. A missing workbook
// or an empty sheet is answered with the message page.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/excel_loader.h"
#include "app/http_chart.h"
#include "app/string_grid.h"
#include "chart/chart.h"
#include "gateways/general_engine.h"
#include "http/memo_filter.h"
#include "platform/color.h"

// Largest chart width and height a request may ask for, in pixels.
inline constexpr int kMaxChartSide = 4096;

class THauptseite {
 public:
  // Creates the components with their stored settings. `excel` is the
  // loader form, created before this page; a request after the first one
  // replaces it (and the chart) with a fresh one.
  explicit THauptseite(std::unique_ptr<TExcel>& excel);

  // Loads the engine component: in plain CGI the whole request runs here
  // (and with CgiAutoTerminate the process ends here).
  TEngineKind Loaded(TCgiIO io, const std::vector<std::string>& arguments);

  // Event handlers.
  void HTTPFirstExecRequest(THttpEngine& Sender);
  void HTTPExecRequest(THttpEngine& Sender);
  void HTTPLastExecRequest(THttpEngine& Sender);
  void httpMessageHttpEntry(const std::string& EntryName, bool& Handled);
  void httphilfeHttpEntry(const std::string& EntryName, bool& Handled);

  // Fills the DataTable and sets the chart's frame, legend, colours, size and title.
  void datenzuordnen(THttpEngine* Sender);
  // Fills the chosen series and sets marks and the 3D view; false, with the
  // request's error logged, when there are no values to chart.
  bool grafikerstellen();

  // Components.
  std::unique_ptr<TChart> Chart1;
  TStringGrid Daten{1, 2};  // the DataTable: row 0 labels, row 1 values
  TGeneralHttpEngine HTTP;
  THttpChartImage Ausgabegrafik{"Ausgabegrafik"};  // sends Chart1 as GIF, PNG or SVG
  THttpMemoFilter httpMessage;

  // Module-level state of the driver.
  std::string FileName;
  std::string ProgramDir;
  std::string Message;
  int Style = 0;
  int Color = 10;

 private:
  void WriteMessagePage(const std::string& text);
  // Reads the first two rows of the requested sheet of a workbook file into
  // the DataTable (the message page when they are empty). An upload's own
  // file name (`clientName`) tells its format where the content leaves it
  // open (a .csv file); the temporary file's name does not.
  void ReadWorkbook(const std::string& path, const std::string& clientName = {});
  std::unique_ptr<TExcel>& excel_;
  std::mutex requestMutex_;
  bool requestServed_ = false;
};

// The chart as the main page stores it: 400 × 250, the seven series in style
// order (bar, horizontal bar, area, pie, line, fast line, point), all inactive.
std::unique_ptr<TChart> CreateMainChart();

// Darkens a colour: each of red, green and blue less `amount` (0..255), with
// 0 as the floor; system colours are resolved first.
TColor DarkenColor(TColor colour, int amount);
