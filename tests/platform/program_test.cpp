#include "platform/program.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Targets of every length around the sizes the reading buffer grows through
// come back whole; a missing link gives "".
TEST(Program, LinkTargetsOfAnyLengthComeBackWhole) {
  testing_support::TempDir temp;
  const fs::path& dir = temp.path();
  for (const std::size_t length : {1u, 254u, 255u, 256u, 511u, 1000u, 2047u, 2048u, PATH_MAX - 1u}) {
    std::string target;
    for (std::size_t i = 0; i < length; ++i) target += static_cast<char>('a' + i % 26);
    const fs::path link = dir / ("link" + std::to_string(length));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << length;
    EXPECT_EQ(platform::LinkTarget(link.string()), target) << length;
  }
  EXPECT_EQ(platform::LinkTarget((dir / "missing").string()), "");
  EXPECT_EQ(platform::ProgramPath(), fs::canonical("/proc/self/exe").string());
}

}  // namespace
