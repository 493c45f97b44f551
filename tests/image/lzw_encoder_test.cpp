#include "image/lzw_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "image/gif_format.h"
#include "image/gif_test_peers.h"

namespace {

std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& indices, int minCodeSize) {
  std::vector<std::uint8_t> out;
  // A small chunk size, so that the sink's piecing is exercised too.
  gif::TByteSink sink([&out](const std::uint8_t* data, std::size_t n) { out.insert(out.end(), data, data + n); }, 100);
  gif::LzwEncode(indices, minCodeSize, sink);
  sink.Flush();
  return out;
}

// The sub-blocks of encoded image data joined, checking their framing:
// minimum code size byte, blocks of 1..255 bytes, one terminator at the end.
std::vector<std::uint8_t> Unblock(const std::vector<std::uint8_t>& encoded, int minCodeSize) {
  EXPECT_EQ(encoded.at(0), minCodeSize);
  std::vector<std::uint8_t> data;
  std::size_t p = 1;
  while (encoded.at(p) != 0) {
    const std::size_t n = encoded[p];
    EXPECT_LE(p + 1 + n, encoded.size());
    data.insert(data.end(), encoded.begin() + static_cast<long>(p + 1), encoded.begin() + static_cast<long>(p + 1 + n));
    p += 1 + n;
  }
  EXPECT_EQ(p + 1, encoded.size()) << "bytes after the terminator";
  return data;
}

std::vector<std::uint8_t> Noise(std::size_t count, int lowest, int highest, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(lowest, highest);
  std::vector<std::uint8_t> v(count);
  for (auto& x : v) x = static_cast<std::uint8_t>(pick(random));
  return v;
}

// A minimal GIF around encoded image data, for giflib to decode.
std::vector<std::uint8_t> WrapInGif(const std::vector<std::uint8_t>& imageData, int width, int height, int bits) {
  std::vector<std::uint8_t> g = {'G', 'I', 'F', '8', '9', 'a'};
  auto word = [&g](int v) {
    g.push_back(static_cast<std::uint8_t>(v));
    g.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  word(width);
  word(height);
  g.push_back(static_cast<std::uint8_t>(0x80 | (bits - 1)));
  g.push_back(0);
  g.push_back(0);
  for (int i = 0; i < 3 << bits; ++i) g.push_back(static_cast<std::uint8_t>(i));
  g.push_back(0x2C);
  word(0);
  word(0);
  word(width);
  word(height);
  g.push_back(0);
  g.insert(g.end(), imageData.begin(), imageData.end());
  g.push_back(0x3B);
  return g;
}

TEST(LzwEncoder, SmallInputsGiveHandComputedBytes) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> indices;
    std::vector<std::uint8_t> expected;
  } cases[] = {
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

// As long as no clear is needed, greedy LZW with the usual width rule gives
// one bit stream; giflib's encoder must produce the very same bytes. Indices
// start at 1 so that no string has the key 0 (the encoder's table keeps one
// such string less reliably, which changes the codes but not their validity).
TEST(LzwEncoder, MatchesGiflibAcrossEveryWidthChange) {
  int widestCode = 0;
  for (int bits = 2; bits <= 8; ++bits) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 1; n <= 160; ++n) lengths.push_back(n);
    for (std::size_t n = 200; n <= 4200; n += 97) lengths.push_back(n);
    for (const std::size_t n : lengths) {
      const auto indices = Noise(n, 1, (1 << bits) - 1, static_cast<unsigned>(n * 31 + bits));
      const auto ours = Encode(indices, std::max(bits, 2));
      const auto codes = gif_test::ReadCodes(Unblock(ours, std::max(bits, 2)), std::max(bits, 2));
      if (std::count(codes.Codes.begin(), codes.Codes.end(), 1 << bits) > 1) continue;  // a clear was needed
      widestCode = std::max(widestCode, *std::max_element(codes.Widths.begin(), codes.Widths.end()));
      const auto theirs = gif_test::ParseGif(gif_test::GiflibEncode(indices, static_cast<int>(n), 1, bits));
      ASSERT_EQ(ours, theirs.Images.at(0).RawBlock) << "bits " << bits << ", " << n << " pixels";
    }
  }
  EXPECT_EQ(widestCode, 12) << "the comparison never reached 12-bit codes";
}

// Noise fills the table quickly: once all 4096 codes are taken, one more code
// goes out at 12 bits, then the clear code (also at 12 bits), and the codes
// after it start again at the initial width.
TEST(LzwEncoder, ClearsWhenAll4096CodesAreTaken) {
  for (const int bits : {2, 4, 8}) {
    const auto indices = Noise(60000, 0, (1 << bits) - 1, 7u + static_cast<unsigned>(bits));
    const auto s = gif_test::ReadCodes(Unblock(Encode(indices, bits), bits), bits);
    ASSERT_TRUE(s.EndSeen);
    ASSERT_EQ(s.Indices, indices) << bits;

    const int clear = 1 << bits;
    std::vector<std::size_t> clears;
    for (std::size_t k = 0; k < s.Codes.size(); ++k) {
      if (s.Codes[k] == clear) clears.push_back(k);
    }
    ASSERT_GE(clears.size(), 3u) << bits;
    EXPECT_EQ(clears[0], 0u);
    EXPECT_EQ(s.Widths[0], bits + 1);
    for (std::size_t j = 1; j < clears.size(); ++j) {
      // Every code between two clears but the last one adds a table entry.
      EXPECT_EQ(clears[j] - clears[j - 1] - 1, static_cast<std::size_t>(gif::kMaxCodes - (clear + 2) + 1)) << bits;
      EXPECT_EQ(s.Widths[clears[j]], 12) << bits;
      EXPECT_EQ(s.Widths[clears[j] - 1], 12) << bits;
      EXPECT_EQ(s.Widths[clears[j] + 1], bits + 1) << bits;
    }
  }
}

// giflib decodes whatever we produce, including the inputs that exercise the
// hash table's collision paths (long runs of index 0, strings whose key is 0,
// all index values, forced clears).
TEST(LzwEncoder, GiflibDecodesAwkwardInputs) {
  struct Case {
    const char* name;
    int bits;
    std::vector<std::uint8_t> indices;
  } cases[] = {
      {"zeros", 2, std::vector<std::uint8_t>(50000, 0)},
      {"mostly zeros", 8, [] {
         auto v = Noise(70000, 0, 255, 3);
         for (std::size_t k = 0; k < v.size(); ++k) {
           if (k % 5) v[k] = 0;
         }
         return v;
       }()},
      {"ramp", 8, [] {
         std::vector<std::uint8_t> v(65536);
         for (std::size_t k = 0; k < v.size(); ++k) v[k] = static_cast<std::uint8_t>(k ^ (k >> 8));
         return v;
       }()},
      {"two-level noise", 2, Noise(80000, 0, 1, 9)},
      {"full noise", 8, Noise(100000, 0, 255, 11)},
  };
  for (const auto& c : cases) {
    const int width = 250;
    const int height = static_cast<int>(c.indices.size() / width);
    const std::vector<std::uint8_t> indices(c.indices.begin(), c.indices.begin() + width * height);
    const auto decoded = gif_test::GiflibDecode(WrapInGif(Encode(indices, c.bits), width, height, c.bits));
    ASSERT_EQ(decoded.Frames.size(), 1u) << c.name;
    EXPECT_EQ(decoded.Frames[0].Indices, indices) << c.name;
  }
}

}  // namespace
