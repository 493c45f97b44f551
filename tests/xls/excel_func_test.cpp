#include "xls/excel_func.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {
// Argument counts as files store them (the fixed counts of the published BIFF
// function table), including entries that used to be listed wrongly.
TEST(ExcelFunc, CountsAndLookup) {
  const std::tuple<const char*, int, int, int> rows[] = {
      {"SUM", 4, 1, 30},   {"MID", 31, 3, 3},       {"NA", 10, 0, 0},          {"PI", 19, 0, 0},
      {"ROUNDUP", 212, 2, 2}, {"SYD", 143, 4, 4},   {"BINOMDIST", 273, 4, 4},  {"DATEDIF", 351, 3, 3},
      {"MMULT", 165, 2, 2}, {"LOOKUP", 28, 2, 3},   {"CELL", 125, 1, 2},       {"SAVE.DIALOG", 356, 0, 5},
  };
  for (const auto& [name, id, min, max] : rows) {
    const xls::ExcelFunction* byName = xls::ExcelFunctionByName(name);
    ASSERT_NE(byName, nullptr) << name;
    EXPECT_EQ(byName, xls::ExcelFunctionById(id)) << name;
    EXPECT_EQ(std::tie(byName->MinArgs, byName->MaxArgs), std::make_tuple(min, max)) << name;
  }
  EXPECT_EQ(xls::ExcelFunctionByName("vLookUp"), xls::ExcelFunctionById(102));
  for (const char* missing : {"", "255", "SUMX", "SU", "IFERROR"}) EXPECT_EQ(xls::ExcelFunctionByName(missing), nullptr);
  EXPECT_EQ(xls::ExcelFunctionById(-1), nullptr);
  EXPECT_EQ(xls::ExcelFunctionById(357), nullptr);
  ASSERT_EQ(xls::ExcelFunctions().size(), 357u);
  for (const xls::ExcelFunction& f : xls::ExcelFunctions()) {
    EXPECT_EQ(&f, xls::ExcelFunctionById(f.Id));
    EXPECT_LE(f.MinArgs, f.MaxArgs) << f.Name;
    EXPECT_LE(f.MaxArgs, 30) << f.Name;
  }
}
}  // namespace
