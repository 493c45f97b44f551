#include "platform/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {
namespace fs = std::filesystem;
using testing_support::ReadText;
using testing_support::WriteText;

// A finished file replaces only a missing or regular file: a link, FIFO or
// folder at the name stays as it is (and so does what a link points to).
TEST(ReplaceFile, OnlyOverARegularOrMissingFile) {
  // plant: makes what stands at the name "out"; why: the refusal ("" replaces)
  struct Case { const char* what; std::function<void(const fs::path&)> plant; const char* why; };
  const Case cases[] = {
      {"missing", [](const fs::path&) {}, ""},
      {"regular file", [](const fs::path& d) { WriteText(d / "out", "old"); }, ""},
      {"link to a file", [](const fs::path& d) { fs::create_symlink(d / "victim", d / "out"); }, "is not a regular file"},
      {"dangling link", [](const fs::path& d) { fs::create_symlink(d / "made", d / "out"); }, "is not a regular file"},
      {"FIFO", [](const fs::path& d) { ::mkfifo((d / "out").c_str(), 0600); }, "is not a regular file"},
      {"folder", [](const fs::path& d) { fs::create_directory(d / "out"); }, "is not a regular file"},
      {"below a file", [](const fs::path& d) { WriteText(d / "out", "x"); }, "Not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::TempDir dir;
    WriteText(dir.path() / "victim", "keep");
    c.plant(dir.path());
    const std::string target = (dir.path() / (std::string(c.what) == "below a file" ? "out/x" : "out")).string();
    std::string why;
    EXPECT_EQ(platform::MayReplace(target, why), *c.why == '\0');
    const std::string temp = platform::CreateFileBeside((dir.path() / "new").string());
    WriteText(temp, "new");
    why.clear();
    EXPECT_EQ(platform::ReplaceFile(temp, target, why), *c.why == '\0');
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(ReadText(dir.path() / "victim"), "keep");
    EXPECT_FALSE(fs::exists(dir.path() / "made"));
    if (*c.why == '\0') {
      EXPECT_EQ(ReadText(target), "new");
      EXPECT_FALSE(fs::exists(temp));
    } else {
      EXPECT_EQ(ReadText(temp), "new");  // the caller decides what becomes of it
    }
  }
  std::string why;
  EXPECT_FALSE(platform::MayReplace("/dev/full", why));
  EXPECT_EQ(why, "is not a regular file");
}

}  // namespace
