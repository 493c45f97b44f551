#include "platform/compound_file.h"
#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <span>
#include <sstream>

#include "support/cfb_test_writer.h"
#include "support/test_support.h"

namespace {
using platform::CompoundFile;
using platform::CompoundFileError;
using testing_support::BuildCfb;
using testing_support::CfbTestFile;
using testing_support::CfbTestOptions;
using testing_support::Pattern;
namespace fs = std::filesystem;

// A small container like a workbook: a regular "Workbook" stream of 5000
// bytes (10 sectors of 512), then a 300-byte stream in the mini stream.
CfbTestFile SampleFile(CfbTestOptions options = {}) {
  return BuildCfb({{"Workbook", Pattern(5000, 1)}, {"\x05SummaryInformation", Pattern(300, 2)}}, options);
}

std::vector<std::string> Names(const CompoundFile& cf) {
  std::vector<std::string> names;
  for (const auto& e : cf.Elements()) names.push_back(e.name);
  return names;
}

// The message of the CompoundFileError that `act` raises; empty when it succeeds.
std::string ErrorOf(const std::function<void()>& act) {
  try {
    act();
  } catch (const CompoundFileError& e) {
    return e.what();
  }
  return "";
}

// Reads every stream; damaged ones may fail, but only with CompoundFileError.
void ReadEveryStream(const CompoundFile& cf) {
  for (const auto& e : cf.Elements()) ErrorOf([&] { cf.ReadStream(e.name); });
}

// Tab-separated rows of a text file, without blank and '#' comment lines.
std::vector<std::vector<std::string>> ReadTable(const fs::path& file) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : testing_support::Split(testing_support::ReadText(file), '\n')) {
    if (!line.empty() && line[0] != '#') rows.push_back(testing_support::Split(line, '\t'));
  }
  return rows;
}

TEST(CompoundFile, ReadsRegularAndMiniStreamsWithEitherSectorSize) {
  for (unsigned shift : {9u, 12u}) {
    SCOPED_TRACE(shift);
    const auto big = Pattern(70000, 3);    // more than one FAT sector's worth at 512
    const auto small = Pattern(4095, 4);   // largest stream kept in the mini stream
    const auto edge = Pattern(4096, 5);    // smallest regular stream
    const auto file = BuildCfb({{"Book", big}, {"s", small}, {"Workbook", edge}, {"empty", {}}}, {shift, 0});
    const CompoundFile cf(file.bytes);
    EXPECT_EQ(cf.SectorSize(), 1u << shift);
    EXPECT_EQ(Names(cf), (std::vector<std::string>{"Book", "s", "Workbook", "empty"}));
    EXPECT_EQ(cf.Elements()[0].size, 70000u);
    EXPECT_EQ(cf.Elements()[0].type, 2);
    EXPECT_EQ(cf.ReadStream("Book"), big);
    EXPECT_EQ(cf.ReadStream("s"), small);
    EXPECT_EQ(cf.ReadStream("Workbook"), edge);
    EXPECT_TRUE(cf.ReadStream("empty").empty());
  }
}

TEST(CompoundFile, FollowsTheDifatBeyondTheHeadersFatList) {
  // 240 FAT sectors need two DIFAT sectors (109 in the header, 127 per DIFAT sector).
  const auto data = Pattern(9000, 6);
  const auto file = BuildCfb({{"Workbook", data}}, {9, 240});
  ASSERT_EQ(file.difatSectors.size(), 2u);
  // Move the stream's 18 sectors to sectors only the 240th FAT sector covers,
  // linked through FAT entries that only the DIFAT lists.
  auto moved = file;
  const std::uint32_t first = 239 * 128, count = 18;
  moved.bytes.resize(moved.SectorOffset(first + count), 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::memcpy(moved.bytes.data() + moved.SectorOffset(first + i),
                file.bytes.data() + file.SectorOffset(file.streamStart[0] + i), 512);
    moved.Put32(moved.FatEntryOffset(first + i), i + 1 < count ? first + i + 1 : 0xFFFFFFFE);
  }
  moved.Put32(moved.DirEntryOffset(1) + 0x74, first);
  EXPECT_EQ(CompoundFile(file.bytes).ReadStream("Workbook"), data);
  EXPECT_EQ(CompoundFile(moved.bytes).ReadStream("Workbook"), data);
}

TEST(CompoundFile, StreamViewOnlyForOneRunOfSectors) {
  const auto data = Pattern(5000, 4);
  const auto file = BuildCfb({{"Workbook", data}, {"small", Pattern(300, 5)}});
  const CompoundFile whole{std::span<const std::uint8_t>(file.bytes)};
  const auto view = whole.StreamView("Workbook");
  EXPECT_EQ(std::vector<std::uint8_t>(view.begin(), view.end()), data);
  EXPECT_EQ(view.data(), file.bytes.data() + file.SectorOffset(file.streamStart[0])) << "no copy";
  EXPECT_TRUE(whole.StreamView("small").empty()) << "mini stream";
  // The first two sectors swapped, links and all: the same stream, but no
  // longer in one piece.
  auto swapped = file;
  const std::uint32_t s0 = file.streamStart[0];
  std::memcpy(swapped.bytes.data() + swapped.SectorOffset(s0), file.bytes.data() + file.SectorOffset(s0 + 1), 512);
  std::memcpy(swapped.bytes.data() + swapped.SectorOffset(s0 + 1), file.bytes.data() + file.SectorOffset(s0), 512);
  swapped.Put32(swapped.DirEntryOffset(1) + 0x74, s0 + 1);
  swapped.Put32(swapped.FatEntryOffset(s0 + 1), s0);
  swapped.Put32(swapped.FatEntryOffset(s0), s0 + 2);
  const CompoundFile scattered(swapped.bytes);
  EXPECT_TRUE(scattered.StreamView("Workbook").empty());
  EXPECT_EQ(scattered.ReadStream("Workbook"), data);
  // Piece by piece into a scratch file, and mapped back.
  platform::ScratchFile scratch;
  scattered.ReadStream("Workbook", [&](const std::uint8_t* p, std::size_t n) { scratch.Append(p, n); });
  const platform::MappedFile spilled = scratch.Map();
  EXPECT_EQ(std::vector<std::uint8_t>(spilled.Bytes().begin(), spilled.Bytes().end()), data);
}

TEST(CompoundFile, ToleratesHarmlessSloppiness) {
  const auto data = Pattern(5000, 1);
  struct Case {
    const char* what;
    std::function<void(CfbTestFile&)> edit;
    std::size_t expectedSize;  // of "Workbook"
  };
  const std::vector<Case> cases = {
      {"last sector cut short: read as zero-padded", [](auto& f) { f.bytes.resize(f.bytes.size() - 300); }, 5000},
      {"size a little larger than the chain: take what the chain holds",
       [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x78, 5200); }, 5120},
      {"version 3 ignores the high half of the size",
       [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x7C, 0xDEADBEEF); }, 5000},
      {"a garbage entry hanging in the tree is skipped",
       [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x44, 3); }, 5000},  // left link to an unused entry
      {"an oversized name length is clamped to the field",
       [](auto& f) { f.Put16(f.DirEntryOffset(1) + 0x40, 0x400); }, 5000},
      {"a damaged mini stream leaves regular streams readable",
       [](auto& f) { f.Put32(f.DirEntryOffset(0) + 0x74, 99999); }, 5000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto file = SampleFile();
    c.edit(file);
    const CompoundFile cf(file.bytes);
    EXPECT_EQ(Names(cf), (std::vector<std::string>{"Workbook", "\x05SummaryInformation"}));
    const auto got = cf.ReadStream("Workbook");
    ASSERT_EQ(got.size(), c.expectedSize);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 4608, data.begin()));  // the first nine sectors
  }
}

TEST(CompoundFile, ReportsDamage) {
  struct Case {
    const char* what;
    std::function<void(CfbTestFile&)> edit;
    std::string error;
    std::string stream = {};  // empty: opening fails; else opening succeeds and reading this stream fails
    CfbTestOptions options = {};
  };
  constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;
  const CfbTestOptions withDifat{9, 240};
  const std::string summary = "\x05SummaryInformation";
  const std::vector<Case> cases = {
      {"truncated inside the header", [](auto& f) { f.bytes.resize(100); },
       "the file is shorter than its 512-byte header"},
      {"truncated after the header", [](auto& f) { f.bytes.resize(512); },
       "the header lists 1 FAT sectors but the file holds only 0 sectors"},
      {"truncated inside the directory", [](auto& f) { f.bytes.resize(f.SectorOffset(f.dirStart) - 1); },
       "sector chain of the directory leaves the file at sector 1"},
      {"truncated inside the workbook", [](auto& f) { f.bytes.resize(f.SectorOffset(f.streamStart[0] + 4)); },
       "sector chain of stream \"Workbook\" leaves the file at sector 8", "Workbook"},
      {"no signature", [](auto& f) { f.bytes[7] = 0; }, "the signature is missing"},
      {"odd sector size", [](auto& f) { f.Put16(0x1E, 10); }, "sector shift 10 is neither 9 nor 12"},
      {"odd mini sector size", [](auto& f) { f.Put16(0x20, 7); }, "mini sector shift 7 is not 6"},
      {"FAT sector past the end", [](auto& f) { f.Put32(0x4C, 123); },
       "FAT sector 123 lies beyond the end of the file"},
      {"absurd FAT sector count", [](auto& f) { f.Put32(0x2C, 0x800001); },
       "the header lists 8388609 FAT sectors but the file holds only 14 sectors"},
      {"DIFAT loops", [](auto& f) { f.Put32(f.SectorOffset(f.difatSectors[0]) + 127 * 4, f.difatSectors[0]); },
       "the DIFAT chain loops", "", withDifat},
      {"DIFAT sector past the end", [](auto& f) { f.Put32(0x44, 77777); },
       "DIFAT sector 77777 lies beyond the end of the file", "", withDifat},
      {"FAT sector listed in the DIFAT past the end", [](auto& f) { f.Put32(f.SectorOffset(f.difatSectors[1]), 77777); },
       "FAT sector 77777 lies beyond the end of the file", "", withDifat},
      {"directory chain loops", [](auto& f) { f.Put32(f.FatEntryOffset(f.dirStart), f.dirStart); },
       "sector chain of the directory loops"},
      {"directory starts past the end", [](auto& f) { f.Put32(0x30, 4000); },
       "sector chain of the directory leaves the file at sector 4000"},
      {"directory starts at an end mark", [](auto& f) { f.Put32(0x30, kEnd); }, "the directory is empty"},
      {"first entry is no root", [](auto& f) { f.bytes[f.DirEntryOffset(0) + 0x42] = 2; },
       "the first directory entry is not the root storage"},
      {"tree link past the directory", [](auto& f) { f.Put32(f.DirEntryOffset(2) + 0x48, 500); },
       "directory entry 2 links to entry 500, beyond the directory"},
      {"tree loops", [](auto& f) { f.Put32(f.DirEntryOffset(2) + 0x48, 1); }, "the directory tree loops at entry 1"},
      {"tree links back to the root", [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x44, 0); },
       "the directory tree loops at entry 0"},
      {"stream chain loops", [](auto& f) { f.Put32(f.FatEntryOffset(f.streamStart[0] + 8), f.streamStart[0] + 3); },
       "sector chain of stream \"Workbook\" loops", "Workbook"},
      {"stream chain runs into a free sector", [kFree](auto& f) { f.Put32(f.FatEntryOffset(f.streamStart[0] + 2), kFree); },
       "sector chain of stream \"Workbook\" runs into a free or reserved sector mark", "Workbook"},
      {"stream chain ends early", [kEnd](auto& f) { f.Put32(f.FatEntryOffset(f.streamStart[0] + 2), kEnd); },
       "stream \"Workbook\" claims 5000 bytes but its sector chain holds only 1536", "Workbook"},
      {"stream starts past the end", [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x74, 99999); },
       "sector chain of stream \"Workbook\" leaves the file at sector 99999", "Workbook"},
      {"stream chain leaves the FAT's reach",
       [](auto& f) { f.Put32(f.FatEntryOffset(f.streamStart[0] + 7), 200); f.bytes.resize(f.SectorOffset(201)); },
       "sector 200 of stream \"Workbook\" has no allocation table entry", "Workbook"},
      {"huge stream size", [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x78, 0xFFFFFFFF); },
       "stream \"Workbook\" claims 4294967295 bytes but its sector chain holds only 5120", "Workbook"},
      {"mini FAT chain loops", [](auto& f) { f.Put32(f.MiniFatEntryOffset(f.streamStart[1] + 3), f.streamStart[1]); },
       "sector chain of stream \"" + summary + "\" loops", summary},
      {"mini sector past the mini stream", [](auto& f) { f.Put32(f.DirEntryOffset(2) + 0x74, 64); },
       "sector chain of stream \"" + summary + "\" leaves the mini stream at sector 64", summary},
      {"mini stream starts past the end", [](auto& f) { f.Put32(f.DirEntryOffset(0) + 0x74, 99999); },
       "sector chain of the mini stream leaves the file at sector 99999", summary},
      {"mini FAT chain loops on itself",
       [](auto& f) { f.Put32(f.FatEntryOffset(f.miniFatStart), f.miniFatStart); f.Put32(0x40, 2); },
       "sector chain of the mini FAT loops", summary},
      {"no such stream", [](auto&) {}, "there is no stream \"Book\"", "Book"},
      {"a storage is no stream", [](auto& f) { f.bytes[f.DirEntryOffset(1) + 0x42] = 1; },
       "\"Workbook\" is a storage, not a stream", "Workbook"},
      {"4096-byte sectors: a version 4 size beyond the file", [](auto& f) { f.Put32(f.DirEntryOffset(1) + 0x7C, 0x7FFFFFFF); },
       "stream \"Workbook\" claims 9223372032559813512 bytes but its sector chain holds only 8192",
       "Workbook", {12, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto file = SampleFile(c.options);
    c.edit(file);
    bool opened = false;
    EXPECT_EQ(ErrorOf([&] {
                const CompoundFile cf(file.bytes);
                opened = true;
                if (!c.stream.empty()) cf.ReadStream(c.stream);
              }),
              "Compound file: " + c.error);
    EXPECT_EQ(opened, !c.stream.empty());
  }
}

// Version 4 keeps 64-bit sizes; an element never reports more than the file holds.
TEST(CompoundFile, CapsReportedSizesByTheFile) {
  auto file = SampleFile({12, 0});
  file.Put32(file.DirEntryOffset(1) + 0x7C, 0x7FFFFFFF);
  EXPECT_EQ(CompoundFile(file.bytes).Elements()[0].size, file.bytes.size() - 4096);
}

TEST(CompoundFile, OpensFilesAndTellsThemApart) {
  testing_support::TempDir dir;
  const auto book = dir.path() / "book.xls";
  testing_support::WriteBytes(book, SampleFile().bytes);
  testing_support::WriteBytes(dir.path() / "plain.xls", {0x09, 0x08, 0x10, 0x00, 0x00, 0x06, 0x05, 0x00, 0, 0, 0, 0});
  testing_support::WriteBytes(dir.path() / "tiny.xls", {0xD0, 0xCF, 0x11});
  for (const fs::path& other : {dir.path() / "plain.xls", dir.path() / "tiny.xls", dir.path() / "missing.xls", dir.path()}) {
    EXPECT_FALSE(CompoundFile::IsStorageFile(other.string())) << other;
  }
  EXPECT_TRUE(CompoundFile::IsStorageFile(book.string()));
  EXPECT_EQ(CompoundFile::Open(book.string()).ReadStream("Workbook"), Pattern(5000, 1));
  try {
    CompoundFile::Open((dir.path() / "missing.xls").string());
    ADD_FAILURE() << "opened a missing file";
  } catch (const CompoundFileError&) {
    ADD_FAILURE() << "a missing file is no container damage";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("missing.xls"), std::string::npos) << e.what();
  }
}

// Every compound document of the corpus opens and yields the streams its
// manifest names, or (unreadable directories) fails with CompoundFileError.
TEST(CompoundFile, ReadsTheCorpus) {
  const auto corpus = testing_support::CorpusDir();
  int opened = 0, refused = 0;
  for (const auto& cols : ReadTable(corpus / "MANIFEST.tsv")) {
    ASSERT_GE(cols.size(), 5u);
    const std::string path = (corpus / cols[0]).string(), &container = cols[3];
    const bool fuzzerMade = cols[4].find("fuzzer-made") != std::string::npos;
    SCOPED_TRACE(cols[0]);
    if (container.rfind("compound:", 0) != 0) {
      EXPECT_FALSE(CompoundFile::IsStorageFile(path));
      continue;
    }
    ASSERT_TRUE(CompoundFile::IsStorageFile(path));
    const std::string streams = container.substr(9);
    if (streams == "?") {
      ++(ErrorOf([&] { ReadEveryStream(CompoundFile::Open(path)); }).empty() ? opened : refused);
      continue;
    }
    const auto cf = CompoundFile::Open(path);
    ++opened;
    // Writers keep each storage's tree ordered by name length, then by
    // upper-cased name; the in-order walk must reproduce that order.
    auto key = [](const CompoundFile::Element& e) {
      std::string upper = e.name;
      for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return std::make_pair(e.name.size(), upper);
    };
    const auto& elements = cf.Elements();
    for (std::size_t i = 1; i < elements.size() && !fuzzerMade; ++i) EXPECT_LT(key(elements[i - 1]), key(elements[i]));
    std::stringstream names(streams);
    for (std::string name; std::getline(names, name, '+');) {
      std::vector<std::uint8_t> bytes;
      const std::string error = ErrorOf([&] { bytes = cf.ReadStream(name); });
      if (!error.empty()) {
        EXPECT_TRUE(fuzzerMade) << error;  // fuzzer-made files may break the workbook's own chain
        continue;
      }
      EXPECT_GE(bytes.size(), 4u) << name;
    }
  }
  EXPECT_GE(opened, 240);
  EXPECT_GE(refused, 5);
}

// The workbook streams agree with xlrd's extraction (sizes, FNV-1a hashes).
TEST(CompoundFile, AgreesWithAnIndependentReaderOnTheCorpus) {
  int compared = 0;
  for (const auto& cols : ReadTable(testing_support::SourceDir() / "tests/fixtures/cfb/xlrd_streams.tsv")) {
    ASSERT_EQ(cols.size(), 4u);
    SCOPED_TRACE(cols[0] + " " + cols[1]);
    const auto bytes = CompoundFile::Open((testing_support::CorpusDir() / cols[0]).string()).ReadStream(cols[1]);
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (auto b : bytes) hash = (hash ^ b) * 0x100000001b3ULL;
    EXPECT_EQ(bytes.size(), std::stoull(cols[2]));
    EXPECT_EQ(hash, std::stoull(cols[3], nullptr, 16));
    ++compared;
  }
  EXPECT_EQ(compared, 249);
}
}  // namespace
