#include "workbook/workbook_format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/sysutils.h"
#include "support/test_support.h"

using workbook::Format;

namespace {
using testing_support::AsBytes;

TEST(WorkbookFormat, FromTheFirstBytesAndTheName) {
  const std::string ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1\0\0", 10);
  const std::string biff2("\x09\x00\x04\x00\x02\x00\x10\x00", 8);
  const std::string office = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
  // head, file name, format
  const std::tuple<std::string, const char*, Format> rows[] = {
      {ole, "a.xls", Format::kBiff},
      {ole, "a.csv", Format::kBiff},
      {biff2, "a.csv", Format::kBiff},
      {"<?xml version='1.0'?>\n<office:document xmlns:office='" + office + "'>", "a.fods", Format::kFods},
      {"\xEF\xBB\xBF<!-- c --><d:document xmlns:t='x' xmlns:d=\"" + office + "\" d:version='1.2'>", "x", Format::kFods},
      {"<office:document xmlns:office='urn:other'>", "a.fods", Format::kBiff},
      {"<office:document-content xmlns:office='" + office + "'>", "a.fods", Format::kBiff},
      {"<?xml version='1.0'?><!DOCTYPE d [<!ENTITY e 'x'>]><office:document xmlns:office='" + office + "'>", "f",
       Format::kFods},
      {"Monat;Umsatz\r\nJan;1,5\r\n", "umsatz.csv", Format::kCsv},
      {"a,b\n1,2\n", "DATA.TXT", Format::kCsv},
      {"", "empty.csv", Format::kCsv},
      {"a,b\n1,2\n", "data.dat", Format::kBiff},
      {std::string("a,b\0\n", 5), "binary.csv", Format::kBiff},
      {"<office:document xmlns:office='" + office + "'>", "looks.csv", Format::kFods},
  };
  for (const auto& [head, name, format] : rows) {
    EXPECT_EQ(workbook::HeadFormat(AsBytes(head), name), format) << name << ": " << head;
  }
}

TEST(WorkbookFormat, ZipPackagesByTheirContent) {
  const char* ods = "application/vnd.oasis.opendocument.spreadsheet";
  // facts, format or refusal
  const std::pair<workbook::ZipFacts, std::string> rows[] = {
      {{"mimetype", ods, false}, "ods"},
      {{"mimetype", std::string(ods) + "\n", false}, "ods"},
      {{"META-INF/manifest.xml", ods, false}, "ods"},
      {{"[Content_Types].xml", "", true}, "xlsx"},
      {{"mimetype", "application/vnd.oasis.opendocument.text", false}, "File is not a Excel file"},
      {{"[Content_Types].xml", "", false}, "File is not a Excel file"},
      {{"", "", false}, "File is not a Excel file"},
  };
  for (const auto& [facts, expected] : rows) {
    std::string got;
    try {
      got = workbook::FormatName(workbook::ZipFormat(facts));
    } catch (const Exception& e) {
      got = e.what();
    }
    EXPECT_EQ(got, expected) << facts.firstEntryName << " " << facts.mimetype;
  }
  EXPECT_TRUE(workbook::LooksLikeZip(AsBytes("PK\x03\x04")));
  EXPECT_TRUE(workbook::LooksLikeZip(AsBytes("PK\x05\x06")));
  EXPECT_FALSE(workbook::LooksLikeZip(AsBytes("PK\x07\x08")));
}

}  // namespace
