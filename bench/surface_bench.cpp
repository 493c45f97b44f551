// Cost of the drawing surface for a chart-sized picture: a background fill,
// 1000 lines and 100 texts on 400 × 250 pixels, and the pieces on their own.
#include <benchmark/benchmark.h>

#include <string>

#include "chart/canvas3d.h"
#include "platform/surface.h"

namespace {

using platform::Bitmap;
using platform::Surface;

void DrawScene(Surface& s) {
  s.Brush.Color = clBtnFace;
  s.FillRect(Rect(0, 0, 400, 250));
  s.Pen.Color = clBlack;
  for (int i = 0; i < 1000; ++i) {
    s.MoveTo((i * 37) % 400, (i * 11) % 250);
    s.LineTo((i * 53 + 100) % 400, (i * 29 + 40) % 250);
  }
  s.BackMode = platform::bmTransparent;
  for (int i = 0; i < 100; ++i) s.TextOut((i * 41) % 360, (i * 17) % 230, "Wert " + std::to_string(i));
}

void BM_ChartSizedScene(benchmark::State& state) {
  Bitmap bmp(400, 250);
  Surface s(bmp);
  for (auto _ : state) {
    DrawScene(s);
    benchmark::DoNotOptimize(bmp.Row(0));
  }
}
BENCHMARK(BM_ChartSizedScene)->Unit(benchmark::kMicrosecond);

void BM_Fill(benchmark::State& state) {
  Bitmap bmp(400, 250);
  Surface s(bmp);
  for (auto _ : state) {
    s.FillRect(Rect(0, 0, 400, 250));
    benchmark::DoNotOptimize(bmp.Row(0));
  }
}
BENCHMARK(BM_Fill)->Unit(benchmark::kMicrosecond);

void BM_1000Lines(benchmark::State& state) {
  Bitmap bmp(400, 250);
  Surface s(bmp);
  s.Pen.Style = static_cast<platform::TPenStyle>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      s.MoveTo((i * 37) % 400, (i * 11) % 250);
      s.LineTo((i * 53 + 100) % 400, (i * 29 + 40) % 250);
    }
    benchmark::DoNotOptimize(bmp.Row(0));
  }
}
BENCHMARK(BM_1000Lines)->Arg(platform::psSolid)->Arg(platform::psDot)->Unit(benchmark::kMicrosecond);

void BM_100Texts(benchmark::State& state) {
  Bitmap bmp(400, 250);
  Surface s(bmp);
  s.BackMode = platform::bmTransparent;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) s.TextOut((i * 41) % 360, (i * 17) % 230, "Wert " + std::to_string(i));
    benchmark::DoNotOptimize(bmp.Row(0));
  }
}
BENCHMARK(BM_100Texts)->Unit(benchmark::kMicrosecond);

void BM_PieChart3D(benchmark::State& state) {
  Bitmap bmp(400, 250);
  Surface s(bmp);
  TView3DOptions options;
  options.SetOrthogonal(false);
  options.SetRotation(360);
  options.SetElevation(315);
  TChartCanvas3D canvas;
  for (auto _ : state) {
    canvas.BeginDrawing(s, &options, true, Rect(0, 0, 400, 250));
    canvas.Projection(30, Rect(20, 20, 380, 230));
    canvas.ResetState();
    canvas.GradientFill(Rect(0, 0, 400, 250), clWhite, clYellow, gdTopBottom);
    double a = 0;
    for (int i = 0; i < 8; ++i) {
      canvas.Brush().Color = PaletteColor(i);
      canvas.Pie3D(200, 125, 150, 100, 0, 30, a, a + 0.785, true, false);
      a += 0.785;
    }
    canvas.ShowImage(s, nullptr, Rect(0, 0, 400, 250));
    benchmark::DoNotOptimize(bmp.Row(0));
  }
}
BENCHMARK(BM_PieChart3D)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
