// Damaged workbooks: every one ends in a clear error or a partial read,
// never in a crash, an out-of-bounds read or an unbounded allocation (the
// sanitizer build checks the latter two).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/sysutils.h"
#include "tests/support/test_support.h"
#include "tests/xls/biff_builder.h"

using namespace xlstest;

namespace {
// A small workbook that uses most record kinds, with an SST cut by a
// CONTINUE and a FORMULA followed by its STRING.
Bytes SmallWorkbook() {
  const Bytes sst = Cat({Rec(biff::kSst, B().u32(2).u32(2).u16(4).u8(0).raw("No")),
                         Rec(biff::kContinue, B().u8(1).u16(0x72).u16(0x0064).u16(5).u8(0).raw("Sued"))});
  const Bytes xfs = Cat({Rec(biff::kXf, B().zeros(18).u16(10)), Rec(biff::kXf, B().zeros(18).u16(12))});
  const Bytes cells = Cat({Rec(biff::kLabelSst, B().u16(0).u16(0).u16(0).u32(0)),
                           Rec(biff::kLabelSst, B().u16(0).u16(1).u16(1).u32(1)),
                           Rec(biff::kMulRk, B().u16(1).u16(0).u16(0).u32(0x192).u16(1).u32(0xC0E7).u16(1)),
                           Rec(biff::kBoolErr, B().u16(2).u16(0).u16(0).u8(1).u8(0)),
                           Rec(biff::kFormula, B().u16(2).u16(1).u16(0).raw(Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0xFF})
                                                   .u16(0).u32(0).u16(0)),
                           Rec(biff::kString, B().u16(2).u8(0).raw("ok"))});
  return Biff8Workbook({{"Eins", cells}, {"Zwei", Number(0, 0, 0, 2)}}, Cat({xfs, sst}));
}
}  // namespace

// Cut at every byte: never more events than the whole read, and only
// messages the reader names. Cut at a record boundary: the events are a
// prefix of the whole read (only a cut between SST and its CONTINUE, or
// between FORMULA and its STRING, loses a text; nothing is invented).
TEST(XlsDamage, TruncatedAtEveryByte) {
  const Bytes full = SmallWorkbook();
  const Outcome whole = ReadBiff8(full, true);
  ASSERT_TRUE(whole.messages.empty()) << whole.messages[0];
  ASSERT_EQ(whole.events.size(), 9u);
  std::vector<std::size_t> boundaries;  // where each record ends
  for (std::size_t pos = 0; pos + 4 <= full.size();) {
    pos += 4 + (full[pos + 2] | full[pos + 3] << 8);
    boundaries.push_back(pos);
  }
  for (std::size_t end = 0; end <= full.size(); ++end) {
    const Outcome part = ReadBiff8(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(end)), true);
    const bool atBoundary = std::find(boundaries.begin(), boundaries.end(), end) != boundaries.end();
    EXPECT_TRUE(part.events.size() <= whole.events.size() &&
                (!atBoundary || std::equal(part.events.begin(), part.events.end(), whole.events.begin())))
        << "cut at " << end;
    for (const auto& m : part.messages) {
      const bool known = m.find("List index out of bounds") != std::string::npos ||
                         (!atBoundary && (m.find("runs past the end of the stream") != std::string::npos ||
                                          m.find("is too short") != std::string::npos));
      EXPECT_TRUE(known) << "cut at " << end << ": " << m;
    }
  }
}

TEST(XlsDamage, MalformedRecords) {
  const Bytes label = Rec(biff::kLabel, B().u16(0).u16(0).u16(0).u16(500).u8(0).raw("abc"));
  const struct {
    const char* what;
    Bytes sheet;
    std::vector<std::string> messages;
    std::vector<std::string> events;
  } cases[] = {
      {"record length past the end of the stream", Cat({Number(0, 0, 0, 1), B().u16(biff::kNumber).u16(14).u16(0)}),
       {"Record 0x0203 at offset 38 runs past the end of the stream\rContinue?"}, {"number 0,0 xf0 1.0"}},
      {"cell record too short", Rec(biff::kNumber, B().u16(0).u16(0).u16(0).u32(0)),
       {"Record 0x0203 is too short (10 bytes)\rContinue?"}, {}},
      {"BOF too short", Rec(biff::kBof5, B().u16(0x0600)), {"Record 0x0809 is too short (2 bytes)\rContinue?"}, {}},
      {"BIFF4 BOF inside the loop", Cat({Rec(biff::kBof4, B().u16(0).u16(0x10)), Number(0, 0, 15, 1)}),
       {"File is not a Excel 95/97 Workbook\rContinue?"}, {"number 0,0 xf15 1.0"}},
      {"huge DIMENSIONS", Rec(biff::kDimensions, B().u32(0).u32(0xFFFFFFFF).u16(0).u16(0xFFFF).u16(0)), {}, {}},
      {"SST count far larger than its data",
       Rec(biff::kSst, B().u32(0xFFFFFFFF).u32(0x7FFFFFFF).u16(1).u8(0).raw("a")), {}, {}},
      {"MULRK shorter than its fixed part", Rec(biff::kMulRk, B().u16(0).u16(0)), {}, {}},
      {"MULRK with a broken last entry", Rec(biff::kMulRk, B().u16(0).u16(0).u16(0).u32(0x192).u16(0).u16(0)), {},
       {"number 0,0 xf0 100.0"}},
      {"LABEL longer than its body: the text that is there arrives", label, {}, {"text 0,0 xf0 abc"}},
  };
  for (const auto& c : cases) {
    const Outcome r = ReadBiff8(Cat({Bof(0x0600, 0x10), c.sheet}));
    EXPECT_EQ(r.messages, c.messages) << c.what;
    EXPECT_EQ(r.events, c.events) << c.what;
  }
}

TEST(XlsDamage, OpenFailures) {
  testing_support::TempDir dir;
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    testing_support::WriteBytes(dir.path() / name, bytes);
    return (dir.path() / name).string();
  };
  const std::string missing = (dir.path() / "missing.xls").string();
  const struct { std::string file; std::string message; } cases[] = {
      {"   ", "Filename is missing"},
      {write("text.xls", B().raw("Name;Wert\r\nNord;12\r\n")), "File is not a Excel file"},
      {write("bof10.xls", B().u8(0x09).u8(0x10).u16(4).zeros(4)), "File is not a Excel file"},
      {write("short.xls", B().u8(0x09)), "File is not a Excel file"}, {missing, "Cannot open file \"" + missing + "\""},
  };
  for (const auto& c : cases) {
    TXLSRead reader;
    reader.FileName = c.file;
    EXPECT_THAT([&] { reader.Read(); }, testing::ThrowsMessage<Exception>(testing::StrEq(c.message))) << c.file;
  }
}

// Read as the fuzz target reads them: as a file and as a bare stream, every
// sheet, the colour of every cell asked for.
TEST(XlsDamage, KeptFuzzFinds) {
  int files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(testing_support::SourceDir() / "tests" / "fixtures" / "fuzz" / "xls_read")) {
    if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
    ++files;
    const Bytes bytes = testing_support::ReadBytes(entry.path());
    TXLSRead reader;
    EventLog log;
    log.Attach(reader, true);
    reader.OnNumberCell = [](TXLSRead& r, int, int, int xf, double, bool) { (void)r.GetCellColor(xf); };
    reader.OnStringCell = [](TXLSRead& r, int, int, int xf, const std::string&, bool) { (void)r.GetCellColor(xf); };
    reader.ErrorLevel = xelIgnore;
    try {
      reader.ReadMemory(bytes);
    } catch (const Exception&) {
    }
    reader.ReadRecordStream(bytes, true);
  }
  EXPECT_GT(files, 0);
}
