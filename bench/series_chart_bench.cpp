// Cost of each chart style's default request (the German test table, 400 ×
// 250, legend with values, percent marks), drawn and encoded as the GIF the
// gateway sends, flat and in 3D. Style 0 (bars) is the yardstick: no style
// should cost more than twice as much.
#include <benchmark/benchmark.h>

#include <memory>

#include "app/excel_loader.h"
#include "app/hauptseite.h"
#include "image/gif_writer.h"
#include "platform/bitmap.h"

namespace {

const char* const kStyleNames[] = {"bar", "horizontal bar", "area", "pie", "line", "fast line", "point"};

// The main page after the driver filled the chart for `style` (no engine
// runs, so every other parameter takes its default).
struct StyleRequest {
  std::unique_ptr<TExcel> excel = std::make_unique<TExcel>();
  THauptseite page{excel};
  StyleRequest(int style, bool view3D) {
    page.datenzuordnen(nullptr);
    page.Style = style;
    page.grafikerstellen();
    page.Chart1->SetView3D(view3D);
  }
};

void BM_StyleChartAsGif(benchmark::State& state) {
  const int style = static_cast<int>(state.range(0));
  const bool view3D = state.range(1) != 0;
  StyleRequest request(style, view3D);
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
  state.SetLabel(std::string(kStyleNames[style]) + (view3D ? " 3D" : " 2D"));
  state.counters["gif_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_StyleChartAsGif)->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {0, 1}})->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
