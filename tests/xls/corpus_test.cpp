// Every workbook of the shared corpus, read by our reader and compared with
// what xlrd reads from it (F.oracle.tsv). Masked: the #biff line (xlrd's
// numbering), the row and column counts of #sheet lines, and date cells
// (we do not interpret number formats, so they are numbers for us). Files
// xlrd cannot read must give a clean error or a result: never a crash, hang
// or sanitizer report. Prints a table per BIFF version.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/sysutils.h"
#include "tests/support/test_support.h"
#include "xls/xls_dump.h"

namespace {
using testing_support::Split;

std::string Group(const std::string& firstLine) {
  if (!firstLine.starts_with("#biff\t")) return "xlrd failed";
  const std::map<std::string, std::string> groups = {{"20", "BIFF2"},   {"21", "BIFF2"},   {"30", "BIFF3"},
                                                     {"40", "BIFF4"},   {"45", "BIFF4"},   {"50", "BIFF5/7"},
                                                     {"70", "BIFF5/7"}, {"80", "BIFF8"}};
  const auto it = groups.find(firstLine.substr(6));
  return it == groups.end() ? "biff " + firstLine.substr(6) : it->second;
}
}  // namespace

TEST(XlsCorpus, MatchesOracle) {
  const auto dir = testing_support::CorpusDir();
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() == ".xls") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  std::map<std::string, std::array<int, 3>> table;  // matched, differing, failed per version
  int oracleFailedRead = 0, oracleFailedError = 0;
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    const auto oracle = Split(testing_support::ReadText(file.string() + ".oracle.tsv"), '\n');
    ASSERT_FALSE(oracle.empty()) << name;
    xls::DumpResult ours;
    std::string openError;
    try {
      ours = xls::DumpWorkbookFile(file.string());
    } catch (const Exception& e) {
      openError = e.what();
    }
    const std::string group = Group(oracle[0]);
    if (group == "xlrd failed") {
      (openError.empty() ? oracleFailedRead : oracleFailedError)++;
      continue;
    }
    if (!openError.empty()) {
      ++table[group][2];
      ADD_FAILURE() << name << ": " << openError;
      continue;
    }
    const auto want = testing_support::OracleFields(oracle), got = testing_support::OracleFields(ours.Lines());
    if (want == got) {
      ++table[group][0];
      continue;
    }
    ++table[group][1];
    std::size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
    ADD_FAILURE() << name << " differs at masked line " << i + 1 << "\n  oracle: "
                  << (i < want.size() ? testing::PrintToString(want[i]).substr(0, 200) : "<end>")
                  << "\n  ours:   " << (i < got.size() ? testing::PrintToString(got[i]).substr(0, 200) : "<end>");
  }
  std::printf("\ncorpus: %zu workbooks\nversion     matched  differing  failed\n", files.size());
  std::array<int, 3> total{};
  for (const auto& [group, t] : table) {
    std::printf("%-10s %8d %10d %7d\n", group.c_str(), t[0], t[1], t[2]);
    for (int i = 0; i < 3; ++i) total[i] += t[i];
  }
  std::printf("%-10s %8d %10d %7d\n", "total", total[0], total[1], total[2]);
  std::printf("xlrd failed on %d: we read %d, we raise a clean error on %d\n", oracleFailedRead + oracleFailedError,
              oracleFailedRead, oracleFailedError);
}

// Formula texts of every workbook that has a formula oracle (F.formulas.tsv,
// what two independent spreadsheet programs show), compared by the corpus's
// own tool with its normalisation. Prints the matched cells per version.
TEST(XlsCorpus, FormulasMatchOracle) {
  const auto dir = testing_support::CorpusDir();
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no corpus at " << dir;
  const auto compare = dir.parent_path().parent_path() / "tools" / "formula-compare";
  ASSERT_TRUE(std::filesystem::is_regular_file(compare)) << compare;
  testing_support::TempDir tmp;
  std::string command = "python3 " + compare.string();
  std::map<std::string, int> versionOf;  // oracle file name -> our version code
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (!name.ends_with(".formulas.tsv")) continue;
    const std::string workbook = e.path().string().substr(0, e.path().string().size() - 13);
    const std::string text = xls::FormulaDump(xls::DumpWorkbookFile(workbook));
    const auto dump = tmp.path() / (name + ".dump");
    testing_support::WriteText(dump, text);
    versionOf[name] = std::stoi(text.substr(6));
    command += " '" + dump.string() + "' '" + e.path().string() + "'";
  }
  ASSERT_FALSE(versionOf.empty());
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, pipe)) output += buf;
  ASSERT_NE(pclose(pipe), -1);
  static const char* const kVersions[] = {"unknown", "BIFF2", "BIFF3", "BIFF4", "BIFF5", "BIFF5/7", "BIFF8"};
  std::map<std::string, std::array<int, 2>> table;  // matched, cells per version
  const auto lines = Split(output, '\n');
  int seen = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int matched = 0, total = 0;
    const auto colon = lines[i].find(": matched ");
    if (lines[i].starts_with(" ") || colon == std::string::npos ||
        std::sscanf(lines[i].c_str() + colon, ": matched %d of %d", &matched, &total) != 2) {
      continue;
    }
    ++seen;
    const std::string name = lines[i].substr(0, colon);
    const int code = versionOf.count(name) ? versionOf[name] : 0;
    auto& row = table[kVersions[code >= 0 && code <= 6 ? code : 0]];
    row[0] += matched;
    row[1] += total;
    if (matched == total) continue;
    std::string details;
    for (std::size_t j = i + 1; j < lines.size() && lines[j].starts_with("  "); ++j) details += "\n" + lines[j];
    ADD_FAILURE() << lines[i] << details;
  }
  EXPECT_EQ(seen, static_cast<int>(versionOf.size())) << output.substr(0, 2000);
  std::printf("\nformula oracle: %zu workbooks\nversion     matched    cells\n", versionOf.size());
  for (const auto& [version, t] : table) std::printf("%-10s %8d %8d\n", version.c_str(), t[0], t[1]);
}
