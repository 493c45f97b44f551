// Cost of drawing the main form's chart without data: panel, bevels, walls
// and axes, at the default size and at four times its width and height.
#include <benchmark/benchmark.h>

#include "app/hauptseite.h"
#include "chart/chart.h"
#include "platform/bitmap.h"
#include "platform/surface.h"

namespace {

void BM_EmptyChart(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const bool view3D = state.range(2) != 0;
  // The main form's chart, series inactive, at the wanted size.
  const auto formChart = CreateMainChart();
  TChart& chart = *formChart;
  chart.SetWidth(width);
  chart.SetHeight(height);
  chart.SetView3D(view3D);
  platform::Bitmap bitmap(width, height);
  platform::Surface surface(bitmap);
  for (auto _ : state) {
    chart.Draw(surface, TRect{0, 0, width, height});
    benchmark::ClobberMemory();
  }
  state.counters["pixels/s"] =
      benchmark::Counter(static_cast<double>(width) * height, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_EmptyChart)
    ->ArgNames({"w", "h", "3d"})
    ->Args({400, 250, 0})
    ->Args({400, 250, 1})
    ->Args({1600, 1000, 0})
    ->Args({1600, 1000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
