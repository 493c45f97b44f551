#include <gtest/gtest.h>

#include "platform/sysutils.h"
#include "tests/xls/biff_builder.h"
#include "xls/xls_sst.h"

using namespace xlstest;

namespace {
struct Parsed { std::vector<std::string> texts; std::vector<xls::RunBlock> runs; std::string error; };

Parsed Parse(const std::vector<Bytes>& segments) {
  std::vector<std::span<const std::uint8_t>> spans(segments.begin(), segments.end());
  xls::SharedStrings sst;
  Parsed out;
  try {
    sst.Parse(spans);
  } catch (const Exception& e) {
    out.error = e.what();
  }
  for (std::size_t i = 0; i < sst.Count(); ++i) {
    out.texts.push_back(sst.At(static_cast<std::int64_t>(i)).text);
    out.runs.push_back(sst.At(static_cast<std::int64_t>(i)).runs);
  }
  return out;
}

B Header(std::uint32_t count) { return B().u32(count).u32(count); }
}  // namespace

TEST(SharedStrings, Layouts) {
  const std::string x256(256, 'x');
  const struct {
    const char* what;
    std::vector<Bytes> segments;
    std::vector<std::string> texts;
    std::string error;
  } cases[] = {
      {"8-bit and 16-bit strings", {Header(2).raw(Bytes{2, 0, 0, 'a', 'b', 1, 0, 1, 0xFC, 0})}, {"ab", "ü"}, ""},
      {"empty string", {Header(2).u16(0).u8(0).u16(1).u8(0).raw("z")}, {"", "z"}, ""},
      {"phonetic data is passed over",
       {Header(2).u16(2).u8(0x04).u32(3).raw("ab").raw("PHO").u16(2).u8(0).raw("cd")}, {"ab", "cd"}, ""},
      {"rich text with phonetic data",
       {Header(2).u16(2).u8(0x0C).u16(1).u32(2).raw("ab").u16(0).u16(3).raw("PH").u16(1).u8(0).raw("c")},
       {"ab", "c"}, ""},
      {"continuation between strings keeps a count whose low byte is 0",
       {Header(2).u16(2).u8(0).raw("ab"), B().u16(256).u8(0).raw(x256)}, {"ab", x256}, ""},
      {"continuation cuts 8-bit characters, goes on in 16-bit",
       {Header(2).u16(4).u8(0).raw("ab"), B().u8(1).u16(0x03A9).u16(0x0416).u16(1).u8(0).raw("z")},
       {"abΩЖ", "z"}, ""},
      {"continuation cuts 16-bit characters, goes on in 8-bit",
       {Header(1).u16(4).u8(1).u16(0x03A9).u16(0x0416), B().u8(0).raw("cd")}, {"ΩЖcd"}, ""},
      {"continuation right after a string header starts with its option byte",
       {Header(1).u16(2).u8(0), B().u8(1).u16(0x4E2D).u16(0x6587)}, {"中文"}, ""},
      {"continuation cuts the formatting runs (no option byte)",
       {Header(2).u16(1).u8(0x08).u16(2).raw("a").u16(0).u16(1), B().u16(1).u16(2).u16(1).u8(0).raw("b")},
       {"a", "b"}, ""},
      {"continuation cuts the phonetic data (no option byte)",
       {Header(2).u16(1).u8(0x04).u32(6).raw("a").raw("PHO"), B().raw("NET").u16(1).u8(0).raw("b")}, {"a", "b"}, ""},
      {"continuation cuts a string header", {Header(2).u16(1).u8(0).raw("a").u8(1), B().u8(0).u8(0).raw("b")},
       {"a", "b"}, ""},
      {"count far larger than the data", {B().u32(1).u32(0x7FFFFFFF).u16(1).u8(0).raw("a")}, {"a"}, ""},
      {"negative count", {B().u32(1).u32(0x80000000).u16(1).u8(0).raw("a")}, {}, ""},
      {"last string cut short", {Header(2).u16(1).u8(0).raw("a").u16(10).u8(0).raw("abc")}, {"a", "abc"}, ""},
      {"unknown option bits", {Header(3).u16(1).u8(0).raw("a").u16(1).u8(0x02).raw("b")}, {"a"},
       "Unhandled string in SST (12)"},
      {"unknown option bits in the first string", {Header(1).u16(1).u8(0x10).raw("b")}, {},
       "Unhandled string in SST (8)"},
      {"header only", {Header(0)}, {}, ""}, {"nothing at all", {B()}, {}, ""},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.segments);
    EXPECT_EQ(p.texts, c.texts) << c.what;
    EXPECT_EQ(p.error, c.error) << c.what;
  }
}

TEST(SharedStrings, RunBlocks) {
  // "abc" with one run from character 0 in font 5, and a string with two
  // runs whose run list is cut by a continuation.
  const Parsed p = Parse({Header(2).raw(Bytes{3, 0, 8, 1, 0, 'a', 'b', 'c', 0, 0, 5, 0}).u16(2).u8(0x08).u16(2).raw("de")
                              .u16(0).u16(7),
                          B().u16(1).u16(9)});
  ASSERT_EQ(p.texts, (std::vector<std::string>{"abc", "de"}));
  EXPECT_EQ(p.runs[0], (xls::RunBlock{1u << 16, 5u << 16}));
  EXPECT_EQ(p.runs[1], (xls::RunBlock{2u << 16, 7u << 16, 9u << 16 | 1}));
}
