#include "app/hauptseite.h"

#include <cstdint>
#include <optional>

#include "app/chart_validators.h"
#include "app/workbook_path.h"
#include "chart/bar_series.h"
#include "chart/canvas3d.h"
#include "chart/fast_line_series.h"
#include "chart/line_series.h"
#include "chart/pie_series.h"
#include "gateways/cgi_win_engine.h"
#include "http/http_engine.h"
#include "platform/program.h"
#include "platform/sysutils.h"

namespace {

// Converts a chart size parameter; a size outside 1..kMaxChartSide would ask
// for a bitmap that cannot be made or exhausts memory, so it ends the request.
int ChartSide(const char* what, const std::string& text) {
  const int value = StrToInt(text);
  if (value < 1 || value > kMaxChartSide) {
    throw Exception(std::string("Invalid chart ") + what + " " + std::to_string(value) + " (allowed 1 to " +
                    std::to_string(kMaxChartSide) + ")");
  }
  return value;
}

}  // namespace

TColor DarkenColor(TColor colour, int amount) {
  const TColor rgb = ColorToRGB(colour);
  auto darken = [amount](int component) { return static_cast<std::uint8_t>(component > amount ? component - amount : 0); };
  return RGB(darken(GetRValue(rgb)), darken(GetGValue(rgb)), darken(GetBValue(rgb)));
}

std::unique_ptr<TChart> CreateMainChart() {
  auto chart = std::make_unique<TChart>();
  chart->SetWidth(400);
  chart->SetHeight(250);
  chart->BackWall().SetColor(clSilver);
  chart->SetMarginTop(10);
  chart->SetMarginBottom(10);
  chart->Title().Text() = {""};
  chart->Title().SetVisible(false);
  chart->SetBackColor(clSilver);
  chart->SetChart3DPercent(50);
  chart->Legend().SetColorWidth(25);
  chart->Legend().SetLegendStyle(lsValues);
  chart->Legend().SetShadowSize(2);
  chart->View3DOptions().SetElevation(315);
  chart->View3DOptions().SetHorizOffset(1);
  chart->View3DOptions().SetOrthogonal(false);
  chart->View3DOptions().SetRotation(360);
  chart->SetBevelInner(bvLowered);
  chart->SetBorderStyle(bsSingle);
  chart->SetColor(clWhite);

  auto common = [](TChartSeries& s, TColor colour, bool marksVisible, int arrowLength) {
    if (colour != clAutomatic) s.SetSeriesColor(colour);
    s.Marks().SetVisible(marksVisible);
    s.Marks().SetArrowLength(arrowLength);
  };

  auto bar = std::make_unique<TBarSeries>();
  common(*bar, clRed, true, 20);
  bar->SetColorEachPoint(true);
  bar->Marks().SetBackColor(clWhite);
  bar->Marks().SetStyle(smsPercent);
  bar->XValues().SetName("X");
  bar->XValues().SetOrder(loAscending);
  bar->YValues().SetName("Balken");
  bar->YValues().SetOrder(loNone);

  auto horizBar = std::make_unique<THorizBarSeries>();
  common(*horizBar, clGreen, true, 8);
  horizBar->SetColorEachPoint(true);
  horizBar->XValues().SetName("Balken");
  horizBar->XValues().SetOrder(loNone);
  horizBar->YValues().SetName("Y");
  horizBar->YValues().SetOrder(loAscending);

  auto area = std::make_unique<TAreaSeries>();
  common(*area, clYellow, false, 8);
  area->SetColorEachPoint(true);
  area->SetDrawArea(true);

  auto pie = std::make_unique<TPieSeries>();
  common(*pie, clAutomatic, true, 8);
  pie->OtherSlice().SetText("Weitere");
  pie->PieValues().SetName("Torte");
  pie->PieValues().SetOrder(loNone);

  auto line = std::make_unique<TLineSeries>();
  common(*line, clBlue, true, 8);
  line->SetColorEachPoint(true);
  line->Pointer().SetStyle(psRectangle);
  line->Pointer().SetVisible(false);

  auto fastLine = std::make_unique<TFastLineSeries>();
  common(*fastLine, clBlue, true, 8);
  fastLine->SetColorEachPoint(true);
  fastLine->LinePen().SetColor(clBlue);

  auto point = std::make_unique<TPointSeries>();
  common(*point, clBlue, true, 8);
  point->SetColorEachPoint(true);
  point->Pointer().SetStyle(psRectangle);
  point->Pointer().SetVisible(true);

  std::unique_ptr<TChartSeries> all[] = {std::move(bar),  std::move(horizBar), std::move(area), std::move(pie),
                                         std::move(line), std::move(fastLine), std::move(point)};
  for (auto& series : all) {
    TChartSeries& added = chart->AddSeries(std::move(series));
    added.SetActive(false);
  }
  return chart;
}

THauptseite::THauptseite(std::unique_ptr<TExcel>& excel) : Chart1(CreateMainChart()), excel_(excel) {
  HTTP.Settings.AutoContentType = "text/html";
  HTTP.Settings.AutoReadLimit = 10000;
  HTTP.Settings.BufferedOutput = false;
  HTTP.Settings.CGIMode = TCGIMode::NormalMode;
  HTTP.CgiAutoTerminate = true;
  HTTP.Settings.SessionName = "DefaultSession";
  HTTP.Settings.NoCache = false;
  HTTP.Settings.OnExecRequest = [this](THttpEngine& sender) { HTTPExecRequest(sender); };
  HTTP.Settings.OnFirstExecRequest = [this](THttpEngine& sender) { HTTPFirstExecRequest(sender); };
  HTTP.Settings.OnLastExecRequest = [this](THttpEngine& sender) { HTTPLastExecRequest(sender); };
  HTTP.SetEngineFactory(TEngineKind::WinCgi, [](TEngineStart& start) -> std::unique_ptr<THttpEngine> {
    // A WinCGI request names its request file as the first parameter.
    if (start.Arguments.empty()) return nullptr;
    auto engine = std::make_unique<TCGIWinEngine>(start.Settings, false, start.CgiAutoTerminate, start.IO,
                                                  start.Arguments.front());
    engine->SetHandOver(start.HandOver.WinCgi);
    return engine;
  });

  Ausgabegrafik.ChartFormat = GifFormat;
  Ausgabegrafik.Chart = Chart1.get();
  httpMessage.SetText(MessagePageTemplate());
  httpMessage.OnHttpEntry = [this](const std::string& name, bool& handled) { httpMessageHttpEntry(name, handled); };
}

TEngineKind THauptseite::Loaded(TCgiIO io, const std::vector<std::string>& arguments) {
  return HTTP.Loaded(std::move(io), arguments);
}

void THauptseite::HTTPFirstExecRequest(THttpEngine&) {
  // The program's folder with its trailing separator, and one more.
  ProgramDir = platform::ProgramDir() + "/";
}

void THauptseite::HTTPExecRequest(THttpEngine& Sender) {
  // One driver serves every request of a resident process, one at a time.
  std::lock_guard lock(requestMutex_);
  // Every request starts from the stored settings: a request before this
  // one has left its points, view, title, colours and size in the chart and
  // its cells in the grids.
  if (requestServed_) {
    Chart1 = CreateMainChart();
    Ausgabegrafik.Chart = Chart1.get();
    Daten = TStringGrid{1, 2};
    excel_ = std::make_unique<TExcel>();
  }
  requestServed_ = true;
  // A format the program cannot write is answered with the message page,
  // before any work, rather than with another format than asked for.
  const std::string formatName = HttpFieldValue("format", "gif");
  const std::optional<TChartFormat> format = ChartFormatNamed(formatName);
  if (!format) {
    const std::string text = "Unknown chart format \"" + formatName + "\" (gif, png or svg) !";
    WriteMessagePage(text);
    throw Exception(text);
  }
  Ausgabegrafik.ChartFormat = *format;
  // A client whose copy of this chart is current gets 304 Not Modified.
  if (AnswerFromClientCache(ProgramDir)) return;
  datenzuordnen(&Sender);
  if (grafikerstellen()) Ausgabegrafik.SendChartImage();
}

void THauptseite::HTTPLastExecRequest(THttpEngine&) {
  // The chart and the loader stay: a resident process serves more requests
  // with them, and a CGI process ends right after this event anyway.
}

void THauptseite::httpMessageHttpEntry(const std::string& EntryName, bool&) {
  // The message may hold the requested file name: escape it so that no
  // request can put markup or script into the page.
  if (EntryName == "message") HttpWriteText(HtmlEscape(Message));
}

void THauptseite::httphilfeHttpEntry(const std::string& EntryName, bool&) {
  if (EntryName == "version") HttpWriteText("Version 1.00 - 05/31/1999");
}

void THauptseite::WriteMessagePage(const std::string& text) {
  Message = text;
  httpMessage.SendText();
}

void THauptseite::ReadWorkbook(const std::string& path, const std::string& clientName) {
  const std::string sheet = HttpFieldValue("sheet", "1");
  TExcel& excel = *excel_;
  // The reader's questions cannot be answered inside a request: its
  // messages go to the request log and the read ends.
  excel.OnLogMessage = [](const std::string& message) { WriteRequestLog(message); };
  // The sheet number's spin edit holds 1..999.
  excel.seSheet = std::clamp(StrToInt(sheet), 1, 999);
  excel.edRead = path;
  excel.edReadName = clientName;
  excel.Button2Click();
  Daten.SetColCount(1);
  // A formula cell shows its formula text in the grid; the chart takes
  // its cached result instead.
  auto shown = [&excel](int c, int r) -> const std::string& {
    const std::string* cached = excel.FormulaValue(c, r);
    return cached ? *cached : excel.Grid.Cell(c, r);
  };
  for (int c = 1; c < excel.Grid.ColCount(); ++c) {
    const std::string& label = shown(c, 1);
    if (label.empty()) break;
    if (c > 1) Daten.SetColCount(c);
    Daten.SetCell(c - 1, 0, label);
    const std::string& value = shown(c, 2);
    int ignored = 0;
    Daten.SetCell(c - 1, 1, TryStrToInt(value, ignored) ? value : "0");
  }
  if (Daten.Cell(0, 0).empty()) {
    WriteMessagePage("You selected an emtpy EXCEL file (" + FileName + ") or an empty sheet (" + sheet + ") !");
  }
}

void THauptseite::datenzuordnen(THttpEngine*) {
  // The chart and the loader live until the last request of the process.
  if (!Chart1 || !excel_) throw Exception("The chart or the loader form is no longer available");
  FileName = HttpFieldValue("filename", "testdeutsch");
  // A workbook uploaded in the field "filename" is charted from its
  // temporary file; only a file this request wrote itself is taken.
  const std::string upload = HttpFieldValue("filename_FILENAME", "");
  const bool uploaded = !upload.empty() && IsRequestTempFile(upload);
  if (uploaded) {
    ReadWorkbook(upload, FileName);
  } else if (FileName == "testdeutsch") {
    const char* labels[] = {"sehr gut", "gut", "befriedigend", "ausreichend", "mangelhaft"};
    const char* values[] = {"67", "58", "32", "18", "6"};
    Daten.SetColCount(5);
    for (int i = 0; i < 5; ++i) {
      Daten.SetCell(i, 0, labels[i]);
      Daten.SetCell(i, 1, values[i]);
    }
  } else if (FileName == "testenglish") {
    const char* labels[] = {"very good", "good", "okay", "poor"};
    const char* values[] = {"67", "58", "32", "18"};
    Daten.SetColCount(4);
    for (int i = 0; i < 4; ++i) {
      Daten.SetCell(i, 0, labels[i]);
      Daten.SetCell(i, 1, values[i]);
    }
  } else {
    const auto path = ResolveWorkbookPath(ProgramDir, FileName);
    if (!path) {
      WriteMessagePage("EXCEL file \"" + FileName + "\" not found !");
    } else {
      ReadWorkbook(*path);
    }
  }

  Style = StrToInt(HttpFieldValue("style", "0"));
  if (Style < 0 || Style > 6) Style = 0;
  Color = StrToInt(HttpFieldValue("color", "10"));
  if (Color < 0 || Color > 15) Color = 10;
  const int height = ChartSide("height", HttpFieldValue("height", "250"));
  const int width = ChartSide("width", HttpFieldValue("width", "400"));
  Chart1->SetHeight(height);
  Chart1->SetWidth(width);

  Chart1->Legend().SetVisible(HttpFieldValue("legend", "yes") == "yes");
  Chart1->Legend().SetTextStyle(HttpFieldValue("legendstyle", "value") == "value" ? ltsLeftValue : ltsLeftPercent);
  if (HttpFieldValue("border", "no") == "no") {
    Chart1->SetBorderStyle(bsNone);
    Chart1->SetBevelOuter(bvNone);
    Chart1->SetBevelInner(bvNone);
  }
  if (const auto v = HttpFieldValue("backcolor", ""); !v.empty()) Chart1->SetColor(PaletteColor(StrToInt(v)));
  if (const auto v = HttpFieldValue("chartbacktopcolor", ""); !v.empty()) {
    Chart1->BackWall().SetColor(PaletteColor(StrToInt(v)));
  }
  if (const auto v = HttpFieldValue("chartbackbottomcolor", ""); !v.empty()) {
    Chart1->BottomWall().SetColor(PaletteColor(StrToInt(v)));
  }

  if (HttpFieldValue("number", "") != "yes") return;
  if (const auto v = HttpFieldValue("numbercolor", ""); !v.empty()) {
    Chart1->Title().Font().SetColor(PaletteColor(StrToInt(v)));
  }
  Chart1->Title().Text().clear();
  std::int64_t total = 0;
  for (int i = 0; i < Daten.ColCount(); ++i) total += StrToInt(Daten.Cell(i, 1));
  Chart1->Title().Text().push_back(std::to_string(total) + " " + HttpFieldValue("number", "no"));
  Chart1->Title().SetVisible(true);
}

bool THauptseite::grafikerstellen() {
  TChartSeries& series = *Chart1->Series(Style);
  series.SetActive(true);
  // A request answered with a message page has no values (the first one is
  // empty): it ends as its failed conversion always has, with StrToInt's
  // error logged as the engine logs an unhandled one, but without raising
  // and unwinding it, which costs a message page a good share of its run.
  if (int first = 0; Daten.ColCount() > 0 && !TryStrToInt(Daten.Cell(0, 1), first)) {
    WriteRequestLog("Unhandled exception : '" + Daten.Cell(0, 1) + "' ist kein gültiger Integerwert");
    return false;
  }
  TColor colour = PaletteColor(Color);
  int step = 0;
  for (int i = 0; i < Daten.ColCount(); ++i) {
    const double value = StrToInt(Daten.Cell(i, 1));
    const std::string& label = Daten.Cell(i, 0);
    if (HttpFieldValue("color", "0") != "99") {
      series.Add(value, label, colour);
    } else {
      series.Add(value, label, clAutomatic);
    }
    step += 15;
    colour = DarkenColor(PaletteColor(Color), step % 256);
  }
  series.SetColorEachPoint(true);
  if (HttpFieldValue("marks", "yes") != "yes") series.Marks().SetVisible(false);
  series.Marks().SetStyle(HttpFieldValue("marksstyle", "percent") == "percent" ? smsPercent : smsValue);

  if (HttpFieldValue("3D", "no") == "yes") {
    Chart1->SetView3D(true);
    Chart1->View3DOptions().SetOrthogonal(HttpFieldValue("3Dorthogonal", "yes") == "yes");
    if (const auto v = HttpFieldValue("3DRotation", ""); !v.empty()) Chart1->View3DOptions().SetRotation(StrToInt(v));
    if (const auto v = HttpFieldValue("3DElevation", ""); !v.empty()) {
      Chart1->View3DOptions().SetElevation(StrToInt(v));
    }
    if (const auto v = HttpFieldValue("3DZoom", ""); !v.empty()) Chart1->View3DOptions().SetZoom(StrToInt(v));
    if (const auto v = HttpFieldValue("3DDepth", ""); !v.empty()) Chart1->SetChart3DPercent(StrToInt(v));
  } else {
    Chart1->SetView3D(false);
  }
  return true;
}
