#include "image/lzw_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/gif_format.h"
#include "image/gif_test_peers.h"

namespace {
using gif_test::TBytes;

TBytes Encode(const TBytes& indices, int minCodeSize) {
  TBytes out;
  // A small chunk size, so that the sink's piecing is exercised too.
  gif::TByteSink sink([&out](const std::uint8_t* data, std::size_t n) { out.insert(out.end(), data, data + n); }, 100);
  gif::LzwEncode(indices, minCodeSize, sink);
  sink.Flush();
  return out;
}

// The codes of encoded image data, read back by the plain reader, checking
// the framing: minimum code size byte, sub-blocks, terminator at the end.
gif_test::TCodeStream Codes(const TBytes& encoded, int bits) {
  EXPECT_EQ(encoded.at(0), bits);
  std::size_t p = 1;
  const auto data = gif_test::SubBlocks(encoded, p);
  EXPECT_EQ(p, encoded.size()) << "bytes after the terminator";
  return gif_test::ReadCodes(data, bits);
}

// Runs of random lengths (1 to `longest`) of random indices in lowest..highest;
// longest 1 gives plain noise.
TBytes Runs(std::size_t count, int lowest, int highest, int longest, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(lowest, highest), length(1, longest);
  TBytes v;
  while (v.size() < count) {
    v.insert(v.end(), std::min<std::size_t>(static_cast<std::size_t>(length(random)), count - v.size()),
             static_cast<std::uint8_t>(value(random)));
  }
  return v;
}

// The image data of `indices` fed to the encoder in pieces of the given
// sizes, repeated to the end.
TBytes EncodeInPieces(const TBytes& indices, int minCodeSize, const std::vector<std::size_t>& pieces) {
  TBytes out;
  gif::TByteSink sink([&out](const std::uint8_t* data, std::size_t n) { out.insert(out.end(), data, data + n); });
  gif::TLzwEncoder encoder(minCodeSize, sink);
  for (std::size_t at = 0, k = 0; at < indices.size(); ++k) {
    const std::size_t n = std::min(pieces[k % pieces.size()], indices.size() - at);
    encoder.Add(std::span(indices).subspan(at, n));
    at += n;
  }
  encoder.Finish();
  sink.Flush();
  return out;
}

TEST(LzwEncoder, SmallInputsGiveHandComputedBytes) {
  struct Case { const char* name; TBytes indices, expected; } cases[] = {
      // clear(4) end(5), 3 bits each.
      {"empty", {}, {0x02, 0x01, 0x2C, 0x00}},
      // clear(4) 1 end(5).
      {"one pixel", {1}, {0x02, 0x02, 0x4C, 0x01, 0x00}},
      // clear(4) 0 6 0 end(5); the width grows to 4 bits once code 7 is
      // taken, so the end code goes out with 4 bits.
      {"four equal pixels", {0, 0, 0, 0}, {0x02, 0x02, 0x84, 0x51, 0x00}},
  };
  for (const auto& c : cases) EXPECT_EQ(Encode(c.indices, 2), c.expected) << c.name;
}

// Rows fed one at a time give the bytes of the whole image at once, also
// when a long run or a table clear straddles two pieces.
TEST(LzwEncoder, PiecesGiveTheBytesOfTheWhole) {
  struct Case { const char* name; int bits; TBytes indices; std::vector<std::size_t> pieces; } cases[] = {
      {"one long run, odd rows", 4, TBytes(30000, 3), {1, 7, 400}},
      {"runs across rows", 8, Runs(100000, 0, 255, 40, 4), {400}},
      {"noise, clears inside pieces", 8, Runs(100000, 0, 255, 1, 11), {3, 250, 1}},
      {"empty pieces", 2, Runs(5000, 0, 3, 300, 2), {0, 64}},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeInPieces(c.indices, c.bits, c.pieces), Encode(c.indices, c.bits)) << c.name;
}

// Every input decodes back to itself. Once all 4096 codes are taken, one
// more code and the clear code go out at 12 bits, then the initial width
// again. Without a clear, greedy LZW gives one bit stream, so giflib's encoder
// must give the same bytes (compared for inputs without index 0, whose table
// keys the encoder may assign differently).
TEST(LzwEncoder, DecodesBackMatchesGiflibAndClearsAt4096Codes) {
  struct Case { int bits; TBytes indices; };
  std::vector<Case> cases = {
      {2, TBytes(50000, 0)},          {8, TBytes(300000, 0)},          {2, Runs(80000, 0, 1, 1, 9)},
      {4, Runs(60000, 0, 15, 1, 11)}, {8, Runs(100000, 0, 255, 1, 11)}, {8, Runs(300000, 0, 255, 40, 4)},
      {2, Runs(400000, 0, 1, 5000, 3)},
  };
  for (int bits = 2; bits <= 8; ++bits) {
    for (std::size_t n = 1; n <= 4200; n += n < 160 ? 1 : 97) {
      for (const int longest : {1, 30}) {
        cases.push_back({bits, Runs(n, 1, (1 << bits) - 1, longest, static_cast<unsigned>(n * 31 + bits))});
      }
    }
  }
  int widestCompared = 0, withClears = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("bits " + std::to_string(c.bits) + ", " + std::to_string(c.indices.size()) + " pixels");
    const auto ours = Encode(c.indices, c.bits);
    const auto s = Codes(ours, c.bits);
    ASSERT_TRUE(s.EndSeen);
    ASSERT_EQ(s.Indices, c.indices);
    const int clear = 1 << c.bits;
    std::vector<std::size_t> clears;
    for (std::size_t k = 0; k < s.Codes.size(); ++k) {
      if (s.Codes[k] == clear) clears.push_back(k);
    }
    ASSERT_EQ(clears.at(0), 0u);
    EXPECT_EQ(s.Widths[0], c.bits + 1);
    for (std::size_t j = 1; j < clears.size(); ++j) {
      // Every code between two clears but the last one adds a table entry.
      EXPECT_EQ(clears[j] - clears[j - 1] - 1, static_cast<std::size_t>(gif::kMaxCodes - (clear + 2) + 1));
      EXPECT_EQ(s.Widths[clears[j] - 1], 12);
      EXPECT_EQ(s.Widths[clears[j]], 12);
      EXPECT_EQ(s.Widths[clears[j] + 1], c.bits + 1);
    }
    withClears += clears.size() > 2;
    if (clears.size() == 1 && *std::min_element(c.indices.begin(), c.indices.end()) > 0) {
      ASSERT_EQ(ours, gif_test::ParseGif(gif_test::GiflibEncodeRow(c.indices, c.bits)).Images.at(0).RawBlock);
      widestCompared = std::max(widestCompared, *std::max_element(s.Widths.begin(), s.Widths.end()));
    }
  }
  EXPECT_EQ(widestCompared, 12) << "the comparison with giflib never reached 12-bit codes";
  EXPECT_GE(withClears, 4) << "too few inputs filled the table twice";
}
}  // namespace
