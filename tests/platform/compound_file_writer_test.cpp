#include "platform/compound_file_writer.h"

#include <gtest/gtest.h>

#include "platform/compound_file.h"
#include "support/test_support.h"

namespace {
using platform::CompoundFile;
using platform::CompoundFileError;
using platform::CompoundFileWriter;
using testing_support::Pattern;

// Streams on both sides of the mini-stream cutoff, empty ones, and one large
// enough (8 MB) that the FAT needs DIFAT sectors beyond the header's 109
// entries: our reader gets every byte back, in directory order.
TEST(CompoundFileWriter, ReadsBackThroughOurReader) {
  const std::vector<std::pair<std::string, std::size_t>> sets[] = {
      {{"Book", 100}}, {{"Book", 0}, {"x", 4095}, {"\xC3\x84rger", 4096}, {"SummaryInformation", 5000}},
      {{"Book", 8u << 20}, {"small", 70}},
  };
  for (const auto& set : sets) {
    CompoundFileWriter w;
    std::uint8_t seed = 1;
    for (const auto& [name, size] : set) w.AddStream(name, Pattern(size, seed++));
    const CompoundFile cf(w.Build());
    seed = 1;
    for (const auto& [name, size] : set) EXPECT_EQ(cf.ReadStream(name), Pattern(size, seed++)) << name;
    EXPECT_EQ(cf.Elements().size(), set.size());
  }
}

TEST(CompoundFileWriter, RefusesBadNames) {
  CompoundFileWriter w;
  w.AddStream("Book", {});
  for (const std::string& name : {std::string("BOOK"), std::string(), std::string(32, 'a')}) {
    EXPECT_THROW(w.AddStream(name, {}), CompoundFileError) << name;
  }
}
}  // namespace
