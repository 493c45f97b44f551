// Every workbook of the shared corpus, read by our reader and compared with
// what xlrd reads from it (F.oracle.tsv). Masked: the #biff line (xlrd's
// numbering), the row and column counts of #sheet lines, and date cells
// (we do not interpret number formats, so they are numbers for us). Files
// xlrd cannot read must give a clean error or a result: never a crash, hang
// or sanitizer report. Prints a table per BIFF version.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "platform/sysutils.h"
#include "tests/support/test_support.h"
#include "xls/xls_dump.h"

namespace {

// Files that differ from the oracle for a known reason. A new difference
// fails the test.
const std::map<std::string, std::string> kKnownDifferences = {};

std::vector<std::string> Split(const std::string& field, char sep) {
  std::vector<std::string> out;
  std::stringstream in(field);
  std::string part;
  while (std::getline(in, part, sep)) out.push_back(part);
  return out;
}

std::vector<std::string> Mask(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) {
    if (line.rfind("#biff", 0) == 0) continue;
    auto f = Split(line, '\t');
    if (line.rfind("#sheet", 0) == 0 && f.size() >= 3) {
      out.push_back(f[0] + "\t" + f[1] + "\t" + f[2]);
      continue;
    }
    if (f.size() == 5 && f[3] == "date") f[3] = "number";
    std::string joined;
    for (std::size_t i = 0; i < f.size(); ++i) joined += (i ? "\t" : "") + f[i];
    out.push_back(joined);
  }
  return out;
}

std::string Group(const std::string& firstLine) {
  if (firstLine.rfind("#biff\t", 0) != 0) return "xlrd failed";
  const std::string v = firstLine.substr(6);
  if (v == "20" || v == "21") return "BIFF2";
  if (v == "30") return "BIFF3";
  if (v == "40" || v == "45") return "BIFF4";
  if (v == "50" || v == "70") return "BIFF5/7";
  if (v == "80") return "BIFF8";
  return "biff " + v;
}

struct Tally {
  int matched = 0, differing = 0, failed = 0;
};

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

  std::map<std::string, Tally> table;
  int oracleFailedRead = 0, oracleFailedError = 0;
  std::vector<std::string> knownSeen;
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    const auto oracle = Split(testing_support::ReadText(file.string() + ".oracle.tsv"), '\n');
    ASSERT_FALSE(oracle.empty()) << name;
    const std::string group = Group(oracle[0]);

    xls::DumpResult ours;
    std::string openError;
    try {
      ours = xls::DumpWorkbookFile(file.string());
    } catch (const Exception& e) {
      openError = e.what();
    }
    if (group == "xlrd failed") {
      (openError.empty() ? oracleFailedRead : oracleFailedError)++;
      continue;
    }
    Tally& t = table[group];
    if (!openError.empty()) {
      ++t.failed;
      if (!kKnownDifferences.count(name)) ADD_FAILURE() << name << ": " << openError;
      continue;
    }
    const auto want = Mask(oracle);
    const auto got = Mask(ours.lines);
    if (want == got) {
      ++t.matched;
      if (kKnownDifferences.count(name)) std::cout << "note: " << name << " matches now; drop it from the list\n";
      continue;
    }
    ++t.differing;
    if (kKnownDifferences.count(name)) {
      knownSeen.push_back(name);
      continue;
    }
    std::size_t i = 0;
    while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
    ADD_FAILURE() << name << " differs at masked line " << i + 1 << "\n  oracle: "
                  << (i < want.size() ? want[i].substr(0, 200) : "<end>")
                  << "\n  ours:   " << (i < got.size() ? got[i].substr(0, 200) : "<end>");
  }

  std::cout << "\ncorpus: " << files.size() << " workbooks\n";
  std::cout << "version     matched  differing  failed\n";
  Tally total;
  for (const auto& [group, t] : table) {
    std::printf("%-10s %8d %10d %7d\n", group.c_str(), t.matched, t.differing, t.failed);
    total.matched += t.matched;
    total.differing += t.differing;
    total.failed += t.failed;
  }
  std::printf("%-10s %8d %10d %7d\n", "total", total.matched, total.differing, total.failed);
  std::printf("xlrd failed on %d: we read %d, we raise a clean error on %d\n", oracleFailedRead + oracleFailedError,
              oracleFailedRead, oracleFailedError);
  for (const auto& name : knownSeen) std::cout << "known difference: " << name << ": " << kKnownDifferences.at(name) << "\n";
}
