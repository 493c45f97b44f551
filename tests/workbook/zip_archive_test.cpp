#include "workbook/zip_archive.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "platform/sysutils.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

using workbook::InflateBudget;
using workbook::ZipArchive;
using ziptest::BuildZip;
using ziptest::ZipEntry;

namespace {
using testing_support::AsBytes;

// Reads every entry; returns "name=content;..." or the refusal's text.
std::string ReadAll(const std::string& zip, InflateBudget budget = InflateBudget::ChartRequest()) {
  try {
    ZipArchive archive(AsBytes(zip), budget);
    std::string out;
    for (const auto& e : archive.Entries()) {
      out += e.name + "=";
      archive.Read(e, [&](std::span<const std::uint8_t> chunk) {
        if (out.size() < 200000) out.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
        return true;
      });
      out += ";";
    }
    return out;
  } catch (const Exception& e) {
    return e.what();
  }
}

TEST(ZipArchive, ReadsEveryContainerForm) {
  const std::string text = "<x>" + std::string(100000, 'a') + "</x>";
  // name, entries, expected
  struct Case { const char* name; std::vector<ZipEntry> entries; std::string expected; };
  const Case cases[] = {
      {"deflated", {{.name = "a.xml", .data = "<a/>"}, {.name = "b", .data = ""}}, "a.xml=<a/>;b=;"},
      {"stored", {{.name = "mimetype", .data = "text", .deflate = false}}, "mimetype=text;"},
      {"descriptor", {{.name = "d", .data = "hello", .descriptor = true}}, "d=hello;"},
      {"stored descriptor", {{.name = "d", .data = "hi", .deflate = false, .descriptor = true}}, "d=hi;"},
      {"zip64 sizes in the directory", {{.name = "z", .data = "64", .zip64 = true}},
       "Damaged zip entry z: zip64 sizes (an entry above 4 GiB) are not supported"},
      {"zip64 descriptor", {{.name = "z", .data = "x", .descriptor = true, .zip64 = true}}, "z=x;"},
      {"many chunks", {{.name = "big", .data = text}}, "big=" + text + ";"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadAll(BuildZip(c.entries)), c.expected) << c.name;
    EXPECT_EQ(ReadAll(BuildZip(c.entries, true)), c.expected) << c.name << " with zip64 end records";
  }
}

TEST(ZipArchive, FindsPartNamesWithoutCaseAndWithEitherSlash) {
  const std::string zip = BuildZip({{.name = "[Content_Types].xml", .data = "t"},
                                    {.name = "xl\\Workbook.xml", .data = "w"},
                                    {.name = "xl/worksheets/sheet1.xml", .data = "s"}});
  InflateBudget budget = InflateBudget::ChartRequest();
  ZipArchive archive(AsBytes(zip), budget);
  ASSERT_EQ(archive.Entries().size(), 3u);
  EXPECT_EQ(archive.Entries()[0].name, "[Content_Types].xml");
  // lookup, entry index or -1
  const std::pair<const char*, int> rows[] = {{"/[content_types].xml", 0}, {"xl/workbook.xml", 1},
                                              {"XL/WORKSHEETS/SHEET1.XML", 2}, {"xl\\worksheets\\sheet1.xml", 2},
                                              {"xl/sheet1.xml", -1}, {"", -1}};
  for (const auto& [name, index] : rows) {
    const auto* e = archive.Find(name);
    EXPECT_EQ(e ? static_cast<int>(e - archive.Entries().data()) : -1, index) << name;
  }
}

TEST(ZipArchive, SinkStopsEarlyWithoutReadingTheRest) {
  const std::string zip = BuildZip({{.name = "big", .data = std::string(1 << 20, 'x')}});
  InflateBudget budget = InflateBudget::ChartRequest();
  ZipArchive archive(AsBytes(zip), budget);
  int chunks = 0;
  EXPECT_FALSE(archive.Read(archive.Entries()[0], [&](std::span<const std::uint8_t> c) {
    EXPECT_LE(c.size(), 65536u);
    return ++chunks < 2;
  }));
  EXPECT_EQ(chunks, 2);
  EXPECT_EQ(budget.Used(), 2u * 65536u);
}

TEST(ZipArchive, RefusesHostileAndDamagedArchivesQuickly) {
  std::uint32_t crc = 0;
  const std::string bomb = ziptest::DeflateZeros(1 << 20, 2048, crc);  // 2 GiB of zeros
  std::vector<ZipEntry> many(65535);
  for (std::size_t i = 0; i < many.size(); ++i) many[i] = {.name = std::to_string(i), .deflate = false};
  const std::string good = BuildZip({{.name = "a", .data = "abcdef"}});
  // what, archive, message
  struct Case { const char* what; std::string zip; std::string message; };
  const Case cases[] = {
      {"2 GiB part", BuildZip({{.name = "bomb", .raw = bomb, .rawSize = std::uint64_t{2} << 30, .rawCrc = crc}}),
       "Workbook part bomb inflates to more than 67108864 bytes"},
      {"2 GiB part declared small",
       BuildZip({{.name = "bomb", .raw = bomb, .rawSize = 100, .rawCrc = crc}}), "Damaged zip entry bomb: CRC mismatch"},
      {"size larger than held", BuildZip({{.name = "a", .data = "abc", .sizeDelta = 5}}),
       "Damaged zip entry a: declares 8 bytes but holds 3"},
      {"size smaller than held", BuildZip({{.name = "a", .data = "abcdef", .sizeDelta = -2}}),
       "Damaged zip entry a: CRC mismatch"},
      {"stored size smaller", BuildZip({{.name = "a", .data = "abcdef", .deflate = false, .sizeDelta = -2}}),
       "Damaged zip entry a: CRC mismatch"},
      {"wrong crc", BuildZip({{.name = "a", .data = "abc", .crcXor = 1}}), "Damaged zip entry a: CRC mismatch"},
      {"encrypted", BuildZip({{.name = "a", .data = "abc", .flags = 1}}), "Damaged zip entry a: encrypted"},
      {"65535 entries", BuildZip(many), "Workbook has more than 10000 zip entries"},
      {"long name", BuildZip({{.name = std::string(2000, 'n'), .data = ""}}),
       "Damaged zip archive: an entry name is longer than 1024 bytes"},
      {"no end record", good.substr(0, good.size() - 22), "Damaged zip archive: no central directory"},
      {"cut in central directory", good.substr(0, good.size() - 30), "Damaged zip archive: no central directory"},
      {"empty", "", "Damaged zip archive: no central directory"},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadAll(c.zip), c.message) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.what;
  }
}

TEST(ZipArchive, TruncationAtEveryBoundaryEndsInARefusal) {
  const std::string zip = BuildZip({{.name = "[Content_Types].xml", .data = std::string(3000, 't')},
                                    {.name = "xl/workbook.xml", .data = "<w/>", .descriptor = true},
                                    {.name = "z", .data = "zip64", .zip64 = true}});
  for (std::size_t cut = 0; cut < zip.size(); ++cut) {
    const std::string result = ReadAll(zip.substr(0, cut));
    EXPECT_THAT(result, testing::StartsWith("Damaged zip")) << cut;
  }
}

TEST(ZipArchive, BudgetCountsAcrossEntries) {
  const std::string zip = BuildZip({{.name = "a", .data = std::string(600, 'a')}, {.name = "b", .data = "bbbbb"}});
  EXPECT_EQ(ReadAll(zip, InflateBudget(1000, 602)), "Workbook inflates to more than 602 bytes");
  EXPECT_EQ(ReadAll(zip, InflateBudget(500, 2000)), "Workbook part a inflates to more than 500 bytes");
  EXPECT_EQ(ReadAll(zip, InflateBudget(600, 605)), "a=" + std::string(600, 'a') + ";b=bbbbb;");
}

}  // namespace
