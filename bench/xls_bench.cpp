// Reading speed of the workbook reader over the shared corpus: every
// workbook that xlrd reads (the same set bench/xlrd_bench.py times), all
// worksheets, every cell event assigned. Run side by side with xlrd by
// bench/xls_vs_xlrd.sh.
//
// The same reads with OnFormulaCell assigned decode every formula to text
// (BM_ReadCorpusFormulas), next to the plain read; and the same pair over
// only the workbooks that have a formula oracle (BM_FormulaWorkbooks/0 plain,
// /1 with formulas), where formulas make up most of the work.
//
// GRAFOLIO_CORPUS_DIR overrides the corpus folder (default: ../shared/corpus/xls
// beside the source tree).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sysutils.h"
#include "xls/xls_read.h"

namespace {

std::filesystem::path CorpusDir() {
  if (const char* env = std::getenv("GRAFOLIO_CORPUS_DIR")) return env;
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "shared" / "corpus" / "xls";
}

// Workbooks whose oracle dump is not an #error line.
const std::vector<std::string>& Files() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(CorpusDir())) {
      if (e.path().extension() != ".xls") continue;
      std::ifstream oracle(e.path().string() + ".oracle.tsv");
      std::string first;
      std::getline(oracle, first);
      if (first.rfind("#biff", 0) == 0) out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }();
  return files;
}

// Workbooks that have a formula oracle (F.formulas.tsv).
const std::vector<std::string>& FormulaFiles() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(CorpusDir())) {
      const std::string name = e.path().string();
      if (name.ends_with(".formulas.tsv")) out.push_back(name.substr(0, name.size() - 13));
    }
    std::sort(out.begin(), out.end());
    return out;
  }();
  return files;
}

struct Counts {
  long cells = 0;
  long sheets = 0;
  long formulas = 0;
};

void Attach(TXLSRead& r, Counts& n, bool formulas = false) {
  r.ErrorLevel = xelIgnore;
  r.OnSheet = [&n](TXLSRead&, const std::string&, int, bool& readIt) {
    readIt = true;
    ++n.sheets;
  };
  r.OnNumberCell = [&n](TXLSRead&, int, int, int, double, bool) { ++n.cells; };
  r.OnStringCell = [&n](TXLSRead&, int, int, int, const std::string&, bool) { ++n.cells; };
  r.OnBoolCell = [&n](TXLSRead&, int, int, int, bool, bool) { ++n.cells; };
  r.OnBlankCell = [&n](TXLSRead&, int, int, int) { ++n.cells; };
  r.OnRichCell = [&n](TXLSRead&, int, int, int, const std::string&, std::span<const std::uint32_t>) { ++n.cells; };
  if (formulas) r.OnFormulaCell = [&n](TXLSRead&, int, int, const std::string&) { ++n.formulas; };
  r.OnRow = [](TXLSRead&, int, int, int, int, int) {};
  r.OnCol = [](TXLSRead&, int, int, int, int) {};
}

void ReadAll(benchmark::State& state, const std::vector<std::string>& files, bool formulas) {
  Counts n;
  for (auto _ : state) {
    for (const auto& f : files) {
      TXLSRead reader;
      Attach(reader, n, formulas);
      reader.FileName = f;
      try {
        reader.Read();
      } catch (const Exception&) {
      }
    }
  }
  state.counters["files"] = static_cast<double>(files.size());
  state.counters["formulas"] = static_cast<double>(n.formulas) / static_cast<double>(state.iterations());
  benchmark::DoNotOptimize(n.cells);
}

void BM_ReadCorpus(benchmark::State& state) { ReadAll(state, Files(), false); }
BENCHMARK(BM_ReadCorpus)->Unit(benchmark::kMillisecond);

void BM_ReadCorpusFormulas(benchmark::State& state) { ReadAll(state, Files(), true); }
BENCHMARK(BM_ReadCorpusFormulas)->Unit(benchmark::kMillisecond);

void BM_FormulaWorkbooks(benchmark::State& state) { ReadAll(state, FormulaFiles(), state.range(0) != 0); }
BENCHMARK(BM_FormulaWorkbooks)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The biggest single workbook of the set: the loop's cost per record.
void BM_ReadLargest(benchmark::State& state) {
  const auto& files = Files();
  const auto largest = *std::max_element(files.begin(), files.end(), [](const auto& a, const auto& b) {
    return std::filesystem::file_size(a) < std::filesystem::file_size(b);
  });
  Counts n;
  for (auto _ : state) {
    TXLSRead reader;
    Attach(reader, n);
    reader.FileName = largest;
    reader.Read();
  }
  state.SetLabel(std::filesystem::path(largest).filename().string());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(largest)));
}
BENCHMARK(BM_ReadLargest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
