// Cost of the default request's chart: the German test table as bars in
// colour 10, 400 × 250, legend with values, percent marks; drawn flat and in
// 3D, and drawn plus encoded as the GIF the gateway sends.
#include <benchmark/benchmark.h>

#include <memory>

#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "image/gif_writer.h"
#include "platform/bitmap.h"
#include "platform/surface.h"

namespace {

// The main page after the driver filled the chart for a request without
// parameters (no engine runs, so every parameter takes its default).
struct DefaultRequest {
  std::unique_ptr<TExcel> excel = std::make_unique<TExcel>();
  THauptseite page{excel};
  explicit DefaultRequest(bool view3D) {
    page.datenzuordnen(nullptr);
    page.grafikerstellen();
    page.Chart1->SetView3D(view3D);
  }
};

void BM_DefaultBarChart(benchmark::State& state) {
  DefaultRequest request(state.range(0) != 0);
  TChart& chart = *request.page.Chart1;
  platform::Bitmap bitmap(chart.Width(), chart.Height());
  platform::Surface surface(bitmap);
  for (auto _ : state) {
    chart.Draw(surface, TRect{0, 0, chart.Width(), chart.Height()});
    benchmark::ClobberMemory();
  }
  state.SetLabel(state.range(0) ? "3D" : "2D");
}
BENCHMARK(BM_DefaultBarChart)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_DefaultBarChartAsGif(benchmark::State& state) {
  DefaultRequest request(state.range(0) != 0);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto bitmap = request.page.Ausgabegrafik.CreateChartBitmap();
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
  state.SetLabel(state.range(0) ? "3D" : "2D");
  state.counters["gif_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_DefaultBarChartAsGif)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
