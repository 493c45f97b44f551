// Writing speed of the workbook writer: 100,000 number cells (10,000 rows of
// 10 columns) and 10,000 formulas (one per row) as a BIFF5 workbook file,
// compound document included. Run side by side with Python's xlwt writing
// the same cells as BIFF8 by bench/xls_write_vs_xlwt.sh.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <string>

#include "xlswrite/xls_write.h"

namespace {

constexpr int kRows = 10000;
constexpr int kCols = 10;

void BM_WriteBiff5(benchmark::State& state) {
  const std::string file = "/tmp/grafolio-bench-write-" + std::to_string(::getpid()) + ".xls";
  std::vector<std::string> formulas;
  for (int r = 1; r <= kRows; ++r) {
    const std::string row = std::to_string(r);
    formulas.push_back("SUM(A" + row + ":J" + row + ")*2+ROUND(A" + row + "/3,2)");
  }
  for (auto _ : state) {
    TXLSWrite w;
    w.FileName = file;
    w.OpenFile();
    for (int r = 0; r < kRows; ++r) {
      for (int c = 0; c < kCols; ++c) w.WriteNumber(c, r, r * 0.5 + c);
      w.WriteFormula(kCols, r, formulas[static_cast<std::size_t>(r)]);
    }
    w.CloseFile();
  }
  ::unlink(file.c_str());
  state.SetItemsProcessed(state.iterations() * kRows * (kCols + 1));
  state.counters["cells"] = kRows * (kCols + 1);
}
BENCHMARK(BM_WriteBiff5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
