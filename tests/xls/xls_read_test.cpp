#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/sysutils.h"
#include "tests/support/cfb_test_writer.h"
#include "tests/support/test_support.h"
#include "tests/xls/biff_builder.h"

using namespace xlstest;

namespace {
Bytes Formula(int row, int col, const Bytes& result8) {
  return Rec(biff::kFormula, B().u16(row).u16(col).u16(15).raw(result8).u16(0).u32(0).u16(3).raw(Bytes{0x1E, 0x2A, 0x00}));
}
Bytes StringRec(const std::string& latin1) {
  return Rec(biff::kString, B().u16(static_cast<unsigned>(latin1.size())).u8(0).raw(latin1));
}
const Bytes kTextResult = {0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
}  // namespace

TEST(XlsRead, RkValues) {
  const struct { std::uint32_t rk; double value; } cases[] = {
      {0x3FF00000, 1.0}, {0x3FF00001, 0.01}, {0x00000192, 100.0}, {0x0000C0E7, 123.45}, {0xFFFFFFFE, -1.0},
      {0xFFFFFFFF, -0.01}, {0x7FFFFFFE, 536870911.0}, {0x80000002, -536870912.0},  // ends of the 30-bit range
  };
  for (const auto& c : cases) EXPECT_EQ(TXLSRead::RkValue(c.rk), c.value) << std::hex << c.rk;
}

TEST(XlsRead, CellRecords) {
  const struct { const char* what; Bytes records; std::vector<std::string> events; } cases[] = {
      {"RK", Rec(biff::kRk3, B().u16(0).u16(4).u16(16).u32(0x3FF00000)), {"number 4,0 xf16 1.0"}},
      {"MULRK of length 18", Rec(biff::kMulRk, B().u16(3).u16(1).u16(15).u32(0x192).u16(16).u32(0xC0E7).u16(2)),
       {"number 1,3 xf15 100.0", "number 2,3 xf16 123.45"}},
      {"MULBLANK of length 10", Rec(biff::kMulBlank, B().u16(5).u16(7).u16(15).u16(17).u16(8)),
       {"blank 7,5 xf15 ", "blank 8,5 xf17 "}},
      {"BLANK", Rec(biff::kBlank, B().u16(1).u16(1).u16(20)), {"blank 1,1 xf20 "}},
      {"BOOLERR true", Rec(biff::kBoolErr, B().u16(0).u16(0).u16(15).u8(1).u8(0)), {"bool 0,0 xf15 1"}},
      {"BOOLERR error", Rec(biff::kBoolErr, B().u16(0).u16(1).u16(15).u8(7).u8(1)),
       {"error 1,0 xf15 7", "text 1,0 xf15 #DIV/0!"}},
      {"BOOLERR unknown error code", Rec(biff::kBoolErr, B().u16(0).u16(1).u16(15).u8(0x99).u8(1)),
       {"error 1,0 xf15 153", "text 1,0 xf15 #???"}},
      {"LABEL 8-bit is ISO-8859-1", Rec(biff::kLabel, B().u16(0).u16(0).u16(15).u16(5).u8(0).raw("Gr\xFC\xDF" "e")),
       {"text 0,0 xf15 Grüße"}},
      {"LABEL UTF-16", Rec(biff::kLabel, B().u16(0).u16(0).u16(15).u16(3).u8(1).u16(0x03A9).u16(0x0416).u16(0x4E2D)),
       {"text 0,0 xf15 ΩЖ中"}},
      {"FORMULA number", Formula(1, 0, B().f64(42)), {"number 0,1 xf15 42.0 ="}},
      {"FORMULA text and STRING", Cat({Formula(1, 0, kTextResult), StringRec("abc")}), {"text 0,1 xf15 abc ="}},
      {"FORMULA text without STRING", Cat({Formula(1, 0, kTextResult), Number(1, 1, 15, 3)}), {"number 1,1 xf15 3.0"}},
      {"FORMULA text, ARRAY (like SHRFMLA), STRING",
       Cat({Formula(1, 0, kTextResult), Rec(biff::kArray, B().zeros(14)), StringRec("array")}),
       {"unhandled 0221 14", "text 0,1 xf15 array ="}},
      {"FORMULA bool", Formula(2, 3, Bytes{1, 0, 1, 0, 0, 0, 0xFF, 0xFF}), {"bool 3,2 xf15 1 ="}},
      {"FORMULA error", Formula(2, 3, Bytes{2, 0, 0x2A, 0, 0, 0, 0xFF, 0xFF}),
       {"error 3,2 xf15 42 =", "text 3,2 xf15 #N/A ="}},
      {"FORMULA empty text", Formula(2, 3, Bytes{3, 0, 0, 0, 0, 0, 0xFF, 0xFF}), {"text 3,2 xf15  ="}},
      {"FORMULA whose result bytes 6 and 7 are not both FF is a number",
       Formula(0, 0, Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0x3F}), {"number 0,0 xf15 1.9375 ="}},
      {"STRING continued, switching to 16-bit",
       Cat({Formula(0, 0, kTextResult), Rec(biff::kString, B().u16(4).u8(0).raw("ab")),
            Rec(biff::kContinue, B().u8(1).u16(0x03A9).u16(0x0416))}),
       {"text 0,0 xf15 abΩЖ ="}},
      {"ROW with default height", Rec(biff::kRow, B().u16(4).u16(0).u16(10).u16(0x80FF).zeros(6).u16(15)),
       {"row 4 0-9 xf15 h-1"}},
      {"COLINFO", Rec(biff::kColInfo, B().u16(1).u16(3).u16(2560).u16(17).u16(0).u16(0)), {"col 1-3 xf17 w2560"}},
      {"record longer than 8224 bytes is passed over",
       Cat({Rec(biff::kLabel, B().u16(0).u16(0).u16(15).u16(9000).raw(std::string(9000, 'x'))), Number(0, 1, 15, 1)}),
       {"number 1,0 xf15 1.0"}},
      {"unknown record", Rec(0x0221, B().u8(1).u8(2).u8(3)), {"unhandled 0221 3"}},
      {"DIMENSIONS, FORMAT and EXTERNSHEET are quiet",
       Cat({Rec(biff::kDimensions, B().u32(0).u32(0xFFFFFFFF).u16(0).u16(0xFFFF).u16(0)),
            Rec(biff::kFormat2, B().zeros(4)), Rec(biff::kExternSheet, B().zeros(2))}),
       {}},
  };
  for (const auto& c : cases) {
    const Outcome run = ReadBiff8(Biff8Workbook({{"S", c.records}}));
    EXPECT_EQ(run.events, c.events) << c.what;
    EXPECT_EQ(run.messages, std::vector<std::string>{}) << c.what;
  }
}

TEST(XlsRead, SharedStringCells) {
  const Bytes sst = Rec(biff::kSst, B().u32(3).u32(2).u16(2).u8(0).raw("ab").u16(3).u8(8).u16(1).raw("xyz").u16(0).u16(5));
  const Bytes cells = Cat({Rec(biff::kLabelSst, B().u16(0).u16(0).u16(15).u32(0)),
                           Rec(biff::kLabelSst, B().u16(0).u16(1).u16(15).u32(1)),
                           Rec(biff::kLabelSst, B().u16(0).u16(2).u16(15).u32(5))});
  const Bytes stream = Biff8Workbook({{"S", cells}}, sst);
  const Outcome plain = ReadBiff8(stream);
  EXPECT_EQ(plain.events, (std::vector<std::string>{"text 0,0 xf15 ab", "text 1,0 xf15 xyz"}));
  EXPECT_EQ(plain.messages, (std::vector<std::string>{"List index out of bounds (5)\rContinue?"}));
  EXPECT_EQ(ReadBiff8(stream, true).events,
            (std::vector<std::string>{"sheet 0 S (first)", "text 0,0 xf15 ab", "rich 1,0 xf15 xyz runs 1:0 5:0"}));
}

TEST(XlsRead, SheetSelection) {
  const std::vector<Sheet> three = {{"Eins", Number(0, 0, 15, 1)}, {"Zwei", Number(0, 0, 15, 2)},
                                    {"Drei", Number(0, 0, 15, 3)}};
  const std::vector<Sheet> chartFirst = {{"Diagramm", Number(0, 0, 15, 99), 2}, {"Daten", Number(0, 0, 15, 1)},
                                         {"Mehr", Number(0, 0, 15, 2)}};
  // An embedded chart inside a worksheet, with a chart record whose id ends
  // in 09 like a BOF does, and cells behind the chart.
  const Bytes embedded = Cat({Number(0, 0, 15, 1), Bof(0x0600, 0x20), Rec(0x1009, B().zeros(20)),
                              Number(9, 9, 15, 99), Eof(), Number(1, 0, 15, 2)});
  const std::vector<Sheet> two = {{"A", Number(0, 0, 15, 1)}, {"B", Number(0, 0, 15, 2)}};
  const std::vector<std::string> secondOfTwo = {"sheet 0 A", "sheet 1 B", "number 0,0 xf15 2.0"};
  // wanted: the sheet to read, -1 for no OnSheet handler
  const struct { const char* what; Bytes stream; int wanted; std::vector<std::string> events; } cases[] = {
      {"no handler: first worksheet only", Biff8Workbook(three), -1, {"number 0,0 xf15 1.0"}},
      {"second of three", Biff8Workbook(three), 1,
       {"sheet 0 Eins", "sheet 1 Zwei", "number 0,0 xf15 2.0", "sheet 2 Drei"}},
      {"last of three", Biff8Workbook(three), 2, {"sheet 0 Eins", "sheet 1 Zwei", "sheet 2 Drei", "number 0,0 xf15 3.0"}},
      {"sheet number beyond the workbook", Biff8Workbook(three), 5, {"sheet 0 Eins", "sheet 1 Zwei", "sheet 2 Drei"}},
      {"chart sheet first: names and numbers count worksheets", Biff8Workbook(chartFirst), 1,
       {"sheet 0 Daten", "sheet 1 Mehr", "number 0,0 xf15 2.0"}},
      {"chart sheet first, no handler", Biff8Workbook(chartFirst), -1, {"number 0,0 xf15 1.0"}},
      {"embedded chart is passed over", Biff8Workbook({{"S", embedded}}), 0,
       {"sheet 0 S", "number 0,0 xf15 1.0", "number 0,1 xf15 2.0"}},
      // Unwanted sheets whose offsets point before the sheet, into a record
      // body or beyond the stream are walked over instead, never read twice.
      {"offsets 0", Biff8Workbook(two, {}, 0), 1, secondOfTwo},
      {"offsets 5", Biff8Workbook(two, {}, 5), 1, secondOfTwo},
      {"offsets beyond the stream", Biff8Workbook(two, {}, 0xFFFFFFF0), 1, secondOfTwo},
  };
  // Each stream is read as it is, and inside a compound document put
  // together through a scratch file (as a big scattered stream would be).
  for (const auto& c : cases) {
    for (const bool spilled : {false, true}) {
      TXLSRead reader;
      EventLog log;
      log.Attach(reader);
      if (c.wanted >= 0) {
        reader.OnSheet = [&](TXLSRead&, const std::string& name, int index, bool& readIt) {
          log.lines.push_back("sheet " + std::to_string(index) + " " + name);
          readIt = index == c.wanted;
        };
      }
      reader.OnMessageBox = [&](const std::string& m, bool) {
        log.lines.push_back(m);
        return false;
      };
      if (spilled) {
        reader.SpillAbove = 0;
        reader.ReadMemory(testing_support::BuildCfb({{"Workbook", c.stream}}).bytes);
      } else {
        reader.ReadRecordStream(c.stream, true);
      }
      EXPECT_EQ(log.lines, c.events) << c.what << (spilled ? ", through a scratch file" : "");
    }
  }
}

// Someone rewrites the workbook in place while it is being read: the pages
// past its new end read as zeros instead of ending the process with a bus
// error, and the reading ends in an error that says what happened.
TEST(XlsRead, WorkbookCutShortWhileReadIsReportedNotFatal) {
  Bytes cells;
  for (int i = 0; i < 3000; ++i) cells = Cat({cells, Number(i, 0, 15, i)});
  testing_support::TempDir dir;
  const std::string path = (dir.path() / "cut-short.xls").string();
  testing_support::WriteBytes(path, testing_support::BuildCfb({{"Workbook", Biff8Workbook({{"Data", cells}})}}).bytes);
  TXLSRead reader;
  reader.FileName = path;
  reader.ErrorLevel = xelIgnore;
  int cellsSeen = 0;
  reader.OnNumberCell = [&](TXLSRead&, int, int, int, double, bool) {
    if (++cellsSeen == 1) {
      ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
    }
  };
  EXPECT_THAT([&] { reader.Read(); },
              testing::ThrowsMessage<Exception>(testing::StrEq("File \"" + path + "\" changed while it was read")));
  EXPECT_LT(cellsSeen, 3000);
}

TEST(XlsRead, ProgressSteps) {
  // Ten records of 100 bytes: a 1,000-byte stream has a step of 10. Shorter
  // than 100 bytes: no steps, only the final report.
  Bytes stream;
  for (int i = 0; i < 10; ++i) stream = Cat({stream, Rec(0x0221, B().zeros(96))});
  for (const auto& [bytes, want] : {std::pair{stream, std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 100}},
                                    std::pair{Rec(0x0221, B().zeros(10)), std::vector<int>{100}}}) {
    TXLSRead reader;
    std::vector<int> progress;
    reader.OnProgress = [&](TXLSRead&, int v) { progress.push_back(v); };
    reader.ReadRecordStream(bytes, true);
    EXPECT_EQ(progress, want) << bytes.size();
  }
}

TEST(XlsRead, ErrorPolicyOnEncryptedWorkbook) {
  const Bytes stream = Biff8Workbook({{"S", Number(0, 0, 15, 7)}}, Rec(biff::kFilePass, B().zeros(6)));
  const std::string message = "Can not read, file is encrypted";
  // box: OnMessageBox assigned; answer: its answer; seen: the end-of-reading steps run after the policy stops reading
  const struct { TXLSErrorLevel level; bool box; bool answer; std::vector<std::string> seen; } cases[] = {
      {xelException, true, true, {message + "|ok", "progress 100"}},
      {xelMessage, true, false, {message + "\rContinue?|yesno", "progress 100"}},
      {xelMessage, true, true, {message + "\rContinue?|yesno", "cell", "progress 100"}},
      {xelMessage, false, true, {"progress 100"}},  // unattended: No
      {xelIgnore, true, false, {"cell", "progress 100"}},
  };
  for (const auto& c : cases) {
    TXLSRead reader;
    reader.ErrorLevel = c.level;
    std::vector<std::string> seen;
    if (c.box) {
      reader.OnMessageBox = [&](const std::string& m, bool yesNo) {
        seen.push_back(m + (yesNo ? "|yesno" : "|ok"));
        return c.answer;
      };
    }
    reader.OnNumberCell = [&](TXLSRead&, int, int, int, double, bool) { seen.push_back("cell"); };
    int last = 0;
    reader.OnProgress = [&](TXLSRead&, int v) { last = v; };
    reader.ReadRecordStream(stream, true);
    seen.push_back("progress " + std::to_string(last));
    EXPECT_EQ(seen, c.seen) << c.level << " " << c.box << c.answer;
  }
}

TEST(XlsRead, HandlerExceptionsFollowThePolicy) {
  TXLSRead reader;
  std::vector<std::string> messages;
  reader.OnMessageBox = [&](const std::string& m, bool) {
    messages.push_back(m);
    return true;
  };
  int cells = 0;
  reader.OnNumberCell = [&](TXLSRead& self, int, int, int, double v, bool) {
    ++cells;
    self.ReadRecordStream(Biff8Workbook({{"S", Number(0, 0, 15, 1)}}), true);  // returns at once
    if (v == 1) throw Exception("handler failed");
  };
  reader.ReadRecordStream(Biff8Workbook({{"S", Cat({Number(0, 0, 15, 1), Number(0, 1, 15, 2)})}}), true);
  EXPECT_EQ(cells, 2);
  EXPECT_EQ(messages, (std::vector<std::string>{"handler failed\rContinue?"}));
}

TEST(XlsRead, CellColours) {
  auto xf5 = [](unsigned word8) { return Rec(biff::kXf, B().zeros(8).u16(word8).zeros(6)); };
  auto xf8 = [](unsigned word18) { return Rec(biff::kXf, B().zeros(18).u16(word18)); };
  Bytes palette = B().u16(56);
  for (int i = 0; i < 56; ++i) palette = Cat({palette, B().u8(i).u8(0).u8(0).u8(0)});
  const Bytes biff5 = Cat({Bof(0x0500, 5), xf5(0x20C0), xf5(10), Eof()});
  const Bytes biff8 = Cat({Bof(0x0600, 5), xf8(10), xf8(60), xf8(0x7F), Eof()});
  const struct { const char* what; Bytes stream; int xf; TColor colour; } cases[] = {
      {"BIFF5 index 64 - 8 = 56: table A[56]", biff5, 0, 0xFFFFFF}, {"BIFF5 index 10: red", biff5, 1, 0x0000FF},
      {"no XF index", biff5, -1, 0xFFFFFF},
      {"BIFF5 custom colour at position 2", Cat({Bof(0x0500, 5), xf5(10), Rec(biff::kPalette, palette), Eof()}), 0, 2},
      {"BIFF8 map[10] = 16, B[16]", biff8, 0, 0x0004FF}, {"BIFF8 map[60] = 1, B[1]", biff8, 1, 0x003494},
      {"BIFF8 index 127 is outside the tables", biff8, 2, 0},
      {"BIFF8 keeps the built-in colour", Cat({Bof(0x0600, 5), xf8(10), xf8(60), Rec(biff::kPalette, palette), Eof()}), 0,
       0x0004FF},
      {"BIFF8 60 is not below the palette's 56 colours",
       Cat({Bof(0x0600, 5), xf8(10), xf8(60), Rec(biff::kPalette, palette), Eof()}), 1, 0},
      {"XF read as BIFF5, colour asked for after a BIFF8 BOF: zero-filled field, B[map[0]]",
       Cat({Bof(0x0500, 5), xf5(10), Bof(0x0600, 5)}), 0, 0xFFFFFF},
      {"BIFF2-BIFF4 cells are white whatever their index", Cat({Rec(biff::kBof3, B().u16(0).u16(0x10)), Eof()}), 40,
       0xFFFFFF},
  };
  for (const auto& c : cases) {
    TXLSRead reader;
    // BIFF5-BIFF8 BOF (id 0x0809) first: a bare record stream; else a plain file.
    c.stream[1] == 0x08 ? reader.ReadRecordStream(c.stream, true) : reader.ReadMemory(c.stream);
    EXPECT_EQ(reader.GetCellColor(c.xf), c.colour) << c.what;
  }
  TXLSRead reader;
  reader.ReadRecordStream(biff8, true);
  EXPECT_THAT([&] { (void)reader.GetCellColor(3); },
              testing::ThrowsMessage<Exception>(testing::StrEq("Format index out of range (3)")));
}

TEST(XlsRead, Fonts) {
  auto font = [](const std::string& name, unsigned colour, unsigned weight) {
    return Rec(biff::kFont, B().u16(200).u16(0x02).u16(colour).u16(weight).u16(0).u8(1).u8(0).u8(238).u8(0)
                                .u8(static_cast<unsigned>(name.size())).u8(0).raw(name));
  };
  TXLSRead reader;
  reader.ReadRecordStream(Cat({Bof(0x0600, 5), font("A", 10, 700), font("B", 0x7FFF, 400), font("C", 8, 400),
                               font("D", 8, 400), font("E", 8, 400), Eof()}),
                          true);
  std::string names;
  for (const auto& f : reader.Fonts()) names += f.Name;
  ASSERT_EQ(names, "ABCDAE") << "font index 4 is a copy of font 0";
  const auto& a = reader.Fonts()[0];
  EXPECT_EQ(std::tuple(a.Size, a.Bold, a.Italic, a.Underline, a.Charset, a.Color),
            std::tuple(10, true, true, true, 238, 0x0004FFu));
  EXPECT_EQ(reader.Fonts()[1].Color, 0u) << "system window-text colour is outside the tables";
  EXPECT_FALSE(reader.Fonts()[1].Bold);
}

TEST(XlsRead, PlainFiles) {
  // BIFF2: cells without XF index; the text decoded by cp1252 (no CODEPAGE).
  const Bytes biff2 = Cat({Rec(biff::kBof2, B().u16(2).u16(0x10)),
                           Rec(biff::kInteger2, B().u16(0).u16(1).zeros(3).u16(77)),
                           Rec(biff::kNumber2, B().u16(1).u16(1).zeros(3).f64(0.5)),
                           Rec(biff::kLabel2, B().u16(0).u16(0).zeros(3).u8(5).raw("\x80 \xE4\xF6\xFC")),
                           Rec(biff::kBoolErr2, B().u16(2).u16(0).zeros(3).u8(1).u8(0)),
                           Rec(biff::kBoolErr2, B().u16(2).u16(1).zeros(3).u8(0x0F).u8(1)),
                           Rec(biff::kFormula, B().u16(3).u16(0).zeros(3).f64(6).u8(0).u8(1).u8(0x1E)), Eof()});
  const struct { const char* what; Bytes file; int version; std::vector<std::string> events; } cases[] = {
      {"BIFF2", biff2, 1,
       {"number 1,0 xf-1 77.0", "number 1,1 xf-1 0.5", "text 0,0 xf-1 € äöü", "bool 0,2 xf-1 1",
        "error 1,2 xf-1 15", "text 1,2 xf-1 #VALUE!", "number 0,3 xf-1 6.0 ="}},
      {"first record is the only one", Rec(biff::kBof3, B().u16(0).u16(0x10)), 2, {}},
  };
  for (const auto& c : cases) {
    TXLSRead reader;
    EventLog log;
    log.Attach(reader);
    reader.ReadMemory(c.file);
    EXPECT_EQ(reader.Version(), c.version) << c.what;
    EXPECT_EQ(reader.MaxRecordSize(), 2080) << c.what;
    EXPECT_EQ(log.lines, c.events) << c.what;
  }
}
