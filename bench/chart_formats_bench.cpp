// The work behind the three answer formats of one chart, side by side, in
// process (no start-up): drawing on the bitmap and encoding it as a GIF
// (the default answer), the same bitmap encoded as a palette PNG, and the
// same chart drawn on the SVG surface. out_bytes is the size of the answer
// body.
#include <benchmark/benchmark.h>

#include "app/hauptseite.h"
#include "app/http_chart.h"
#include "chart/chart.h"
#include "image/gif_writer.h"
#include "image/png_writer.h"

namespace {

enum TFormatCase { fcGif, fcPng, fcSvg };

// The default request's chart (testdeutsch): style 0 flat, or style 3 (pie) in 3D.
std::unique_ptr<TChart> MakeChart(bool pie3D) {
  auto chart = CreateMainChart();
  TChartSeries& series = *chart->Series(pie3D ? 3 : 0);
  series.SetActive(true);
  const char* labels[] = {"sehr gut", "gut", "befriedigend", "ausreichend", "mangelhaft"};
  const double values[] = {67, 58, 32, 18, 6};
  TColor colour = PaletteColor(10);
  for (int i = 0; i < 5; ++i) {
    series.Add(values[i], labels[i], colour);
    colour = DarkenColor(PaletteColor(10), 15 * (i + 1));
  }
  chart->SetView3D(pie3D);
  return chart;
}

void BM_ChartAnswer(benchmark::State& state) {
  const auto format = static_cast<TFormatCase>(state.range(0));
  const auto chart = MakeChart(state.range(1) != 0);
  THttpChartImage image("Ausgabegrafik");
  image.Chart = chart.get();
  std::size_t bytes = 0;
  for (auto _ : state) {
    if (format == fcSvg) {
      bytes = image.CreateChartSvg().size();
    } else {
      const auto bitmap = image.CreateChartBitmap();
      if (format == fcPng) {
        bytes = EncodePalettePNG(*bitmap).size();
      } else {
        TFrameInfo frame;
        frame.Bitmap = bitmap.get();
        TFrameList list;
        list.Count = 1;
        list.Frames[0] = &frame;
        list.GlobalColorMap = true;
        TMemoryGifOutput out;
        WriteGIF(out, list);
        bytes = out.Bytes.size();
      }
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["out_bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_ChartAnswer)
    ->ArgNames({"gif0png1svg2", "pie3d"})
    ->Args({fcGif, 0})
    ->Args({fcPng, 0})
    ->Args({fcSvg, 0})
    ->Args({fcGif, 1})
    ->Args({fcPng, 1})
    ->Args({fcSvg, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
