#include "platform/work_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadText;
using testing_support::WriteText;

TEST(WorkFile, OpensOnlyRegularFilesOfOurs) {
  testing_support::TempDir dir;
  const fs::path victim = dir.path() / "victim";
  WriteText(victim, "keep me");
  WriteText(dir.path() / "plain", "ours");
  fs::create_symlink(victim, dir.path() / "link");
  fs::create_symlink(dir.path() / "missing", dir.path() / "dangling");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir.path() / "folder");
  // name, flags, expected reason ("" opens)
  struct Case { const char* name; int flags; std::string why; };
  const Case cases[] = {
      {"plain", O_RDONLY, ""},
      {"plain", O_WRONLY | O_TRUNC, ""},
      {"new", O_WRONLY | O_CREAT | O_EXCL, ""},
      {"link", O_WRONLY | O_TRUNC, "is a symbolic link"},
      {"link", O_RDONLY, "is a symbolic link"},
      {"dangling", O_WRONLY | O_CREAT, "is a symbolic link"},
      {"fifo", O_RDONLY, "is not a regular file"},  // must not block waiting for a writer
      {"fifo", O_WRONLY | O_CREAT, "No such device or address"},
      {"folder", O_RDONLY, "is not a regular file"},
      {"absent", O_RDONLY, "No such file or directory"},
  };
  for (const Case& c : cases) {
    std::string why;
    const platform::UniqueFd fd = platform::OpenWorkFile((dir.path() / c.name).string(), c.flags, 0600, why);
    EXPECT_EQ(static_cast<bool>(fd), c.why.empty()) << c.name;
    EXPECT_EQ(why, c.why) << c.name;
    if (fd) {
      EXPECT_EQ(::fcntl(fd.get(), F_GETFL) & O_NONBLOCK, 0) << c.name;
    }
  }
  EXPECT_EQ(ReadText(victim), "keep me");
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
  EXPECT_EQ(ReadText(dir.path() / "plain"), "");  // truncated once accepted
}

TEST(WorkFile, RefusesAnotherUsersFileWithoutTruncatingIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  testing_support::TempDir dir;
  const fs::path theirs = dir.path() / "theirs";
  WriteText(theirs, "their bytes");
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  std::string why;
  EXPECT_FALSE(platform::OpenWorkFile(theirs.string(), O_WRONLY | O_TRUNC, 0600, why));
  EXPECT_EQ(why, "is not owned by this user");
  EXPECT_EQ(ReadText(theirs), "their bytes");
  // Files another user wrote for us to read are taken by OpenRegularFile.
  EXPECT_TRUE(platform::OpenRegularFile(theirs.string(), O_RDONLY, 0, why));
  fs::create_symlink(theirs, dir.path() / "link");
  EXPECT_FALSE(platform::OpenRegularFile((dir.path() / "link").string(), O_RDONLY, 0, why));
  EXPECT_EQ(why, "is a symbolic link");
}

TEST(WorkFile, AcceptsOnlyPrivateFoldersOfOurs) {
  testing_support::TempDir dir;
  fs::create_directory(dir.path() / "private");
  ::chmod((dir.path() / "private").c_str(), 0700);
  fs::create_directory(dir.path() / "open");
  ::chmod((dir.path() / "open").c_str(), 0777);
  fs::create_directory(dir.path() / "group");
  ::chmod((dir.path() / "group").c_str(), 0770);
  fs::create_directory_symlink(dir.path() / "private", dir.path() / "link");
  WriteText(dir.path() / "file", "");
  struct Case { const char* name; std::string why; };
  const Case cases[] = {{"private", ""}, {"open", "is writable by others"}, {"group", "is writable by others"},
                        {"link", "is a symbolic link"}, {"file", "is not a directory"},
                        {"absent", "No such file or directory"}};
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(platform::CheckWorkFolder((dir.path() / c.name).string(), why), c.why.empty()) << c.name;
    EXPECT_EQ(why, c.why) << c.name;
  }
}

TEST(WorkFile, WriteAllReportsAFullDevice) {
  const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  errno = 0;
  EXPECT_FALSE(platform::WriteAll(fd, "abc", 3));
  EXPECT_EQ(errno, ENOSPC);
  ::close(fd);
}

}  // namespace
