// Every workbook of the shared modern corpus (.xlsx, .xlsm, .ods, .fods),
// dumped by our readers and compared with what openpyxl or odfpy read from
// it (F.oracle.tsv), after the corpus README's normalisation: the first line
// and the #sheet lines' row and column counts ignored, date cells counted as
// numbers (equal within 1e-9 day). Prints a table per format; a format whose
// reader is not in this build is skipped with its reason, not passed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/sysutils.h"
#include "support/test_support.h"
#include "workbook/workbook_dump.h"

namespace {
using testing_support::Split;

bool SameLine(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() == 5 && b.size() == 5 && a[3] == "number" && b[3] == "number" &&
      std::equal(a.begin(), a.begin() + 3, b.begin())) {
    return std::fabs(std::stod(a[4]) - std::stod(b[4])) <= 1e-9 || a[4] == b[4];
  }
  return a == b;
}

// "" when equal, else the first difference.
std::string Compare(const std::vector<std::string>& ours, const std::vector<std::string>& oracle) {
  const auto a = testing_support::OracleFields(ours), b = testing_support::OracleFields(oracle);
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const auto join = [](const std::vector<std::vector<std::string>>& v, std::size_t i) {
      if (i >= v.size()) return std::string("(end)");
      std::string s;
      for (const auto& f : v[i]) s += (s.empty() ? "" : " ") + f;
      return s;
    };
    if (i >= a.size() || i >= b.size() || !SameLine(a[i], b[i])) return "ours: " + join(a, i) + " | oracle: " + join(b, i);
  }
  return "";
}

TEST(ModernCorpus, MatchesOracle) {
  const std::filesystem::path dir = std::filesystem::path(GRAFOLIO_SOURCE_DIR) / ".." / "shared" / "corpus" / "modern";
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string ext = e.path().extension().string();
    if (ext == ".xlsx" || ext == ".xlsm" || ext == ".ods" || ext == ".fods") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  struct Count { int equal = 0, differing = 0, skipped = 0; std::string reason; };
  std::map<std::string, Count> counts;
  for (const auto& file : files) {
    const std::string ext = file.extension().string().substr(1);
    Count& count = counts[ext];
    std::vector<std::string> lines;
    try {
      lines = workbook::DumpWorkbookFile(file.string()).Lines();
    } catch (const Exception& e) {
      const std::string message = e.what();
      if (message.ends_with("are not read yet")) {
        ++count.skipped;
        count.reason = message;
        continue;
      }
      lines = {"#error\t" + message};
    }
    const auto oracle = Split(testing_support::ReadText(file.string() + ".oracle.tsv"), '\n');
    const std::string difference = Compare(lines, oracle);
    EXPECT_EQ(difference, "") << file.filename();
    ++(difference.empty() ? count.equal : count.differing);
  }
  std::printf("%-6s %6s %9s %7s\n", "format", "equal", "differing", "skipped");
  for (const auto& [ext, c] : counts) {
    std::printf("%-6s %6d %9d %7d%s\n", ext.c_str(), c.equal, c.differing, c.skipped,
                c.skipped ? (" (skipped: " + c.reason + ")").c_str() : "");
  }
}

}  // namespace
