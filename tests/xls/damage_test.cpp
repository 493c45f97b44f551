// Damaged workbooks: every one ends in a clear error or a partial read,
// never in a crash, an out-of-bounds read or an unbounded allocation (the
// sanitizer build checks the latter two).
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sysutils.h"
#include "tests/support/test_support.h"
#include "tests/xls/biff_builder.h"

using namespace xlstest;

namespace {

struct Result {
  std::vector<std::string> events;
  std::vector<std::string> messages;
};

Result ReadStream(const Bytes& stream, bool answer = true) {
  TXLSRead reader;
  EventLog log;
  log.Attach(reader, true, true);
  Result r;
  reader.OnMessageBox = [&](const std::string& m, bool) {
    r.messages.push_back(m);
    return answer;
  };
  reader.ReadRecordStream(stream, true);
  r.events = log.lines;
  return r;
}

// A small workbook that uses most record kinds.
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

std::vector<std::size_t> RecordBoundaries(const Bytes& stream) {
  std::vector<std::size_t> ends;
  for (std::size_t pos = 0; pos + 4 <= stream.size();) {
    pos += 4 + (stream[pos + 2] | stream[pos + 3] << 8);
    ends.push_back(pos);
  }
  return ends;
}

bool IsPrefix(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

}  // namespace

TEST(XlsDamage, TruncatedAtEveryRecordBoundary) {
  const Bytes full = SmallWorkbook();
  const Result whole = ReadStream(full);
  ASSERT_TRUE(whole.messages.empty()) << whole.messages[0];
  ASSERT_EQ(whole.events.size(), 9u);
  for (const std::size_t end : RecordBoundaries(full)) {
    const Result part = ReadStream(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(end)));
    EXPECT_TRUE(IsPrefix(part.events, whole.events)) << "cut at " << end;
    // Only a cut between SST and its CONTINUE, or between FORMULA and its
    // STRING, loses a text; nothing is ever invented.
    EXPECT_TRUE(part.messages.empty() ||
                part.messages[0].find("List index out of bounds") != std::string::npos)
        << "cut at " << end << ": " << part.messages[0];
  }
}

TEST(XlsDamage, TruncatedAtEveryByte) {
  const Bytes full = SmallWorkbook();
  const Result whole = ReadStream(full);
  for (std::size_t end = 0; end < full.size(); ++end) {
    const Result part = ReadStream(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(end)));
    EXPECT_LE(part.events.size(), whole.events.size()) << "cut at " << end;
    for (const auto& m : part.messages) {
      const bool known = m.find("runs past the end of the stream") != std::string::npos ||
                         m.find("is too short") != std::string::npos ||
                         m.find("List index out of bounds") != std::string::npos;
      EXPECT_TRUE(known) << "cut at " << end << ": " << m;
    }
  }
}

TEST(XlsDamage, MalformedRecords) {
  const struct {
    const char* what;
    Bytes sheet;
    std::vector<std::string> messages;
  } cases[] = {
      {"record length past the end of the stream", Cat({Number(0, 0, 0, 1), B().u16(biff::kNumber).u16(14).u16(0)}),
       {"Record 0x0203 at offset 38 runs past the end of the stream\rContinue?"}},
      {"cell record too short", Rec(biff::kNumber, B().u16(0).u16(0).u16(0).u32(0)),
       {"Record 0x0203 is too short (10 bytes)\rContinue?"}},
      {"BOF too short", Rec(biff::kBof5, B().u16(0x0600)), {"Record 0x0809 is too short (2 bytes)\rContinue?"}},
      {"huge DIMENSIONS", Rec(biff::kDimensions, B().u32(0).u32(0xFFFFFFFF).u16(0).u16(0xFFFF).u16(0)), {}},
      {"SST count far larger than its data",
       Rec(biff::kSst, B().u32(0xFFFFFFFF).u32(0x7FFFFFFF).u16(1).u8(0).raw("a")), {}},
      {"MULRK shorter than its fixed part", Rec(biff::kMulRk, B().u16(0).u16(0)), {}},
      {"MULRK with a broken last entry", Rec(biff::kMulRk, B().u16(0).u16(0).u16(0).u32(0x192).u16(0).u16(0)), {}},
      {"LABEL longer than its body", Rec(biff::kLabel, B().u16(0).u16(0).u16(0).u16(500).u8(0).raw("abc")), {}},
      {"ROW too short", Rec(biff::kRow, B().u16(0)), {"Record 0x0208 is too short (2 bytes)\rContinue?"}},
  };
  for (const auto& c : cases) {
    const Result r = ReadStream(Cat({Bof(0x0600, 0x10), c.sheet}));
    EXPECT_EQ(r.messages, c.messages) << c.what;
  }
  // The text that is there arrives.
  const Result label = ReadStream(Cat({Bof(0x0600, 0x10), Rec(biff::kLabel, B().u16(0).u16(0).u16(0).u16(500).u8(0).raw("abc"))}));
  EXPECT_EQ(label.events, (std::vector<std::string>{"sheet 0  (first)", "text 0,0 xf0 abc"}));
}

TEST(XlsDamage, BoundSheetOffsetsThatPointNowhere) {
  // Offsets before the sheet, beyond the stream and into a record body:
  // unwanted sheets are walked over instead, never read twice.
  for (const std::uint32_t bad : {0u, 5u, 0xFFFFFFF0u}) {
    const Bytes sheets = Cat({Bof(0x0600, 0x10), Number(0, 0, 0, 1), Eof(), Bof(0x0600, 0x10), Number(0, 0, 0, 2), Eof()});
    const Bytes globals = Cat({Bof(0x0600, 5), Rec(biff::kBoundSheet, B().u32(bad).u16(0).u8(1).u8(0).raw("A")),
                               Rec(biff::kBoundSheet, B().u32(bad).u16(0).u8(1).u8(0).raw("B")), Eof()});
    TXLSRead reader;
    std::vector<std::string> seen;
    reader.OnSheet = [&](TXLSRead&, const std::string& name, int index, bool& readIt) {
      seen.push_back(name + std::to_string(index));
      readIt = index == 1;
    };
    std::vector<double> values;
    reader.OnNumberCell = [&](TXLSRead&, int, int, int, double v, bool) { values.push_back(v); };
    reader.ReadRecordStream(Cat({globals, sheets}), true);
    EXPECT_EQ(seen, (std::vector<std::string>{"A0", "B1"})) << bad;
    EXPECT_EQ(values, (std::vector<double>{2})) << bad;
  }
}

TEST(XlsDamage, VersionSwitchAfterFormats) {
  // XF records read as BIFF5, colours asked for after a BIFF8 BOF.
  TXLSRead reader;
  reader.ReadRecordStream(Cat({Bof(0x0500, 5), Rec(biff::kXf, B().zeros(8).u16(10).zeros(6)), Bof(0x0600, 5)}), false);
  EXPECT_EQ(reader.Version(), 6);
  EXPECT_EQ(reader.GetCellColor(0), 0xFFFFFFu) << "BIFF8 colour index 0 (zero-filled field): B[map[0]]";
}

TEST(XlsDamage, OpenFailures) {
  testing_support::TempDir dir;
  const auto write = [&](const std::string& name, const Bytes& bytes) {
    testing_support::WriteBytes(dir.path() / name, bytes);
    return (dir.path() / name).string();
  };
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {"", "Filename is missing"},
      {"   ", "Filename is missing"},
      {write("text.xls", B().raw("Name;Wert\r\nNord;12\r\n")), "File is not a Excel file"},
      {write("bof10.xls", B().u8(0x09).u8(0x10).u16(4).zeros(4)), "File is not a Excel file"},
      {write("short.xls", B().u8(0x09)), "File is not a Excel file"},
      {write("empty.xls", B()), "File is not a Excel file"},
      {(dir.path() / "missing.xls").string(), "Cannot open file \"" + (dir.path() / "missing.xls").string() + "\""},
  };
  for (const auto& c : cases) {
    TXLSRead reader;
    reader.FileName = c.file;
    try {
      reader.Read();
      ADD_FAILURE() << "no error for '" << c.file << "'";
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.file;
    }
  }
}

TEST(XlsDamage, KeptFuzzFinds) {
  const auto dir = testing_support::SourceDir() / "tests" / "fixtures" / "fuzz" / "xls_read";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
    ++files;
    const Bytes bytes = testing_support::ReadBytes(entry.path());
    TXLSRead reader;
    EventLog log;
    log.Attach(reader, true, true);
    reader.ErrorLevel = xelIgnore;
    try {
      reader.ReadMemory(bytes);
    } catch (const Exception&) {
    }
    reader.ReadRecordStream(bytes, true);
    SUCCEED() << entry.path();
  }
  std::cout << files << " kept fuzz find(s) read cleanly\n";
}
