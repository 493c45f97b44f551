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

// The string table algorithm written out step by step, slowly and without
// shortcuts: separate key and code arrays, one lookup per pixel. The encoder
// takes shortcuts (packed slots, whole runs of one index at a time) and must
// still produce exactly these bytes.
std::vector<std::uint8_t> ReferenceEncode(const std::vector<std::uint8_t>& indices, int minCodeSize) {
  std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(minCodeSize)};
  std::vector<std::uint8_t> block;
  auto flush = [&] {
    if (block.empty()) return;
    out.push_back(static_cast<std::uint8_t>(block.size()));
    out.insert(out.end(), block.begin(), block.end());
    block.clear();
  };
  auto put = [&](std::uint8_t b) {
    if (block.size() == 255) flush();
    block.push_back(b);
  };
  const int initBits = minCodeSize + 1, clear = 1 << minCodeSize, eof = clear + 1;
  int bits = initBits, maxCode = (1 << bits) - 1, freeEnt = clear + 2, acc = 0, nacc = 0;
  bool clearFlag = false;
  auto output = [&](int code) {
    acc = nacc > 0 ? (acc & ((1 << nacc) - 1)) | (code << nacc) : code;
    for (nacc += bits; nacc >= 8; nacc -= 8, acc >>= 8) put(static_cast<std::uint8_t>(acc));
    if (clearFlag) {
      clearFlag = false;
      bits = initBits;
      maxCode = (1 << bits) - 1;
    } else if (freeEnt > maxCode) {
      ++bits;
      maxCode = bits == 12 ? 4096 : (1 << bits) - 1;
    }
    if (code == eof) {
      for (; nacc > 0; nacc -= 8, acc >>= 8) put(static_cast<std::uint8_t>(acc));
      flush();
    }
  };
  std::vector<int> hash(5120, -1), codes(5120, 0);
  output(clear);
  int ent = indices.empty() ? 0 : indices[0];
  for (std::size_t p = 1; p < indices.size(); ++p) {
    const int c = indices[p];
    const int key = (c << 12) + ent;
    int i = (c << 4) ^ ent;
    if (hash[i] == key) {
      ent = codes[i];
      continue;
    }
    bool found = false;
    if (hash[i] >= 0) {
      const int d = i == 0 ? 1 : 5119 - i;
      do {
        i -= d;
        if (i < 0) i += 5119;
        if (hash[i] == key) found = true;
      } while (!found && hash[i] > 0);
    }
    if (found) {
      ent = codes[i];
      continue;
    }
    output(ent);
    ent = c;
    if (freeEnt < 4096) {
      codes[i] = freeEnt++;
      hash[i] = key;
    } else {
      std::fill(hash.begin(), hash.end(), -1);
      freeEnt = clear + 2;
      clearFlag = true;
      output(clear);
    }
  }
  if (!indices.empty()) output(ent);
  output(eof);
  out.push_back(0);
  return out;
}

// Runs of random lengths (1 to `longest`) of random indices below 2^bits.
std::vector<std::uint8_t> Runs(std::size_t count, int bits, int longest, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> v;
  while (v.size() < count) {
    const auto value = static_cast<std::uint8_t>(random() % (1u << bits));
    const std::size_t length = 1 + random() % static_cast<unsigned>(longest);
    v.insert(v.end(), std::min(length, count - v.size()), value);
  }
  return v;
}

TEST(LzwEncoder, SameBytesAsTheStepByStepAlgorithm) {
  struct Case {
    const char* name;
    int bits;
    std::vector<std::uint8_t> indices;
  } cases[] = {
      {"one long run", 2, std::vector<std::uint8_t>(300000, 1)},
      {"one long run of zeros", 8, std::vector<std::uint8_t>(300000, 0)},
      {"short runs", 2, Runs(200000, 2, 6, 1)},
      {"long runs", 4, Runs(300000, 4, 400, 2)},
      {"very long runs of few indices", 2, Runs(400000, 1, 5000, 3)},
      {"runs in 256 indices", 8, Runs(300000, 8, 40, 4)},
      {"runs of zeros and noise", 8, [] {
         auto v = Runs(200000, 8, 30, 5);
         for (std::size_t k = 0; k < v.size(); k += 3) v[k] = 0;
         return v;
       }()},
      {"noise", 8, Noise(100000, 0, 255, 6)},
      {"chart rows", 4, [] {
         std::vector<std::uint8_t> v;
         for (int y = 0; y < 250; ++y) {
           for (int x = 0; x < 400; ++x) v.push_back(static_cast<std::uint8_t>(y % 25 == 0 ? 0 : x / 50 % 3 + (y > 100)));
         }
         return v;
       }()},
  };
  for (const auto& c : cases) {
    for (const std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{77}, std::size_t{4099}, c.indices.size()}) {
      const std::vector<std::uint8_t> part(c.indices.begin(), c.indices.begin() + static_cast<long>(length));
      ASSERT_EQ(Encode(part, std::max(c.bits, 2)), ReferenceEncode(part, std::max(c.bits, 2)))
          << c.name << ", " << length << " pixels";
    }
  }
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
