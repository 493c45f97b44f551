// Drawing the default bar chart (the German test table, 400 × 250) into a
// bitmap, flat and in 3D: the chart engine's share of a request.
#include <benchmark/benchmark.h>

#include <memory>

#include "chart/bar_series.h"
#include "chart/chart.h"
#include "platform/bitmap.h"
#include "platform/surface.h"

namespace {

void FillGermanBars(TChart& chart, bool view3D) {
  chart.SetWidth(400);
  chart.SetHeight(250);
  chart.SetView3D(view3D);
  chart.SetBackColor(clWhite);
  chart.Legend().SetTextStyle(ltsLeftPercent);
  auto& bars = chart.AddSeries(std::make_unique<TBarSeries>());
  bars.SetColorEachPoint(true);
  bars.Marks().SetStyle(smsPercent);
  bars.Marks().SetBackColor(clWhite);
  const struct {
    double value;
    const char* label;
  } rows[] = {{67, "sehr gut"}, {58, "gut"}, {32, "befriedigend"}, {18, "ausreichend"}, {6, "mangelhaft"}};
  int i = 0;
  for (const auto& r : rows) bars.Add(r.value, r.label, PaletteColor(i++));
}

void BM_DefaultBarChart(benchmark::State& state) {
  const bool view3D = state.range(0) != 0;
  TChart chart;
  FillGermanBars(chart, view3D);
  platform::Bitmap bitmap(400, 250);
  platform::Surface surface(bitmap);
  for (auto _ : state) {
    chart.Draw(surface, TRect{0, 0, 400, 250});
    benchmark::DoNotOptimize(bitmap.Row(0));
  }
  state.SetLabel(view3D ? "3D" : "2D");
}
BENCHMARK(BM_DefaultBarChart)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
