#include "http/request_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

// Points the program into a temp folder and controls CGI_LOG_DIR; both are
// put back afterwards.
class RequestLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("CGI_LOG_DIR")) savedLogDir_ = value;
    ::unsetenv("CGI_LOG_DIR");
    programDir_ = temp_.path() / "cgi-bin";
    fs::create_directories(programDir_);
    SetProgram("grafolio.cgi");
  }
  void TearDown() override {
    platform::SetProgramPathForTesting("");
    if (savedLogDir_) {
      ::setenv("CGI_LOG_DIR", savedLogDir_->c_str(), 1);
    } else {
      ::unsetenv("CGI_LOG_DIR");
    }
  }

  void SetProgram(const std::string& name) { platform::SetProgramPathForTesting((programDir_ / name).string()); }

  static void SetLogDir(const std::optional<std::string>& dir) {
    if (dir) {
      ::setenv("CGI_LOG_DIR", dir->c_str(), 1);
    } else {
      ::unsetenv("CGI_LOG_DIR");
    }
  }

  // Every file below the temp folder, as paths relative to it.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(temp_.path())) {
      if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), temp_.path()).string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  TempDir temp_;
  fs::path programDir_;

 private:
  std::optional<std::string> savedLogDir_;
};

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

const std::regex kLinePrefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,  )");

TEST_F(RequestLogTest, LineFormat) {
  SetLogDir(temp_.str());
  WriteRequestLogLine("Unhandled exception : kaputt", 42);
  WriteRequestLogLine("Content length exceeds AutoReadLimit", 42);
  WriteRequestLogLine("", 0);
  WriteRequestLogLine("first\r\nsecond\nthird", 999);

  const auto lines = SplitCrLf(ReadText(temp_.path() / "grafolio.Log"));
  const std::vector<std::string> rests = {
      "42 : Unhandled exception : kaputt",
      "42 : Content length exceeds AutoReadLimit",
      "0 : ",
      "999 : first  second third",
  };
  ASSERT_EQ(lines.size(), rests.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::smatch prefix;
    ASSERT_TRUE(std::regex_search(lines[i], prefix, kLinePrefix)) << lines[i];
    EXPECT_EQ(prefix.suffix().str(), rests[i]);
  }
}

TEST_F(RequestLogTest, WhereTheLogGoes) {
  struct Case {
    const char* name;
    std::optional<std::string> logDir;  // "@" stands for the temp folder
    const char* program;
    const char* blockingFile;  // a regular file that stands in a folder's way
    const char* expected;      // relative to the temp folder
  };
  const std::vector<Case> cases = {
      {"no setting: Log beside the program", std::nullopt, "grafolio.cgi", nullptr, "cgi-bin/Log/grafolio.Log"},
      {"empty setting", "", "grafolio.cgi", nullptr, "cgi-bin/Log/grafolio.Log"},
      {"name up to the first dot", std::nullopt, "graf.olio.exe", nullptr, "cgi-bin/Log/graf.Log"},
      {"name without extension", std::nullopt, "grafolio", nullptr, "cgi-bin/Log/grafolio.Log"},
      {"absolute, created with its parents", "@/var/logs", "grafolio.cgi", nullptr, "var/logs/grafolio.Log"},
      {"relative below the program", "logs/cgi", "grafolio.cgi", nullptr, "cgi-bin/logs/cgi/grafolio.Log"},
      {"relative, reduced", ".//logs/./x/", "grafolio.cgi", nullptr, "cgi-bin/logs/x/grafolio.Log"},
      {"Log cannot be created", std::nullopt, "grafolio.cgi", "cgi-bin/Log", "cgi-bin/grafolio.Log"},
      {"setting cannot be created", "@/blocked/sub", "grafolio.cgi", "blocked", "cgi-bin/grafolio.Log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(temp_.path())) fs::remove_all(entry.path());
    fs::create_directories(programDir_);
    if (c.blockingFile) WriteText(temp_.path() / c.blockingFile, "in the way");
    std::optional<std::string> dir = c.logDir;
    if (dir && dir->starts_with("@")) dir = temp_.str() + dir->substr(1);
    SetLogDir(dir);
    SetProgram(c.program);

    WriteRequestLogLine("hello", 7);

    std::vector<std::string> expected = {c.expected};
    if (c.blockingFile) expected.push_back(c.blockingFile);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Files(), expected);
    if (fs::exists(temp_.path() / c.expected)) {
      EXPECT_TRUE(ReadText(temp_.path() / c.expected).ends_with(",  7 : hello\r\n"));
    }
  }
}

TEST_F(RequestLogTest, FailuresAreSwallowed) {
  // Neither the folder nor the program's folder can hold a file.
  WriteText(temp_.path() / "file", "x");
  platform::SetProgramPathForTesting((temp_.path() / "file" / "grafolio.cgi").string());
  SetLogDir(std::nullopt);
  EXPECT_NO_THROW(WriteRequestLogLine("lost", 1));
  SetLogDir((temp_.path() / "file" / "deeper").string());
  EXPECT_NO_THROW(WriteRequestLogLine("lost", 1));
  EXPECT_EQ(ReadText(temp_.path() / "file"), "x");
}

// Several processes, each with several threads, append long lines at once:
// every line arrives whole.
TEST_F(RequestLogTest, ConcurrentWritersKeepLinesWhole) {
  SetLogDir(temp_.str());
  constexpr int kProcesses = 3;
  constexpr int kThreads = 2;
  constexpr int kLines = 150;
  const auto message = [](int writer) { return std::string(3000 + writer * 517, static_cast<char>('a' + writer)); };

  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<std::thread> threads;
      for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
          const int writer = p * kThreads + t;
          for (int i = 0; i < kLines; ++i) WriteRequestLogLine(message(writer), writer);
        });
      }
      for (auto& thread : threads) thread.join();
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const auto lines = SplitCrLf(ReadText(temp_.path() / "grafolio.Log"));
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kProcesses * kThreads * kLines));
  std::vector<int> counts(kProcesses * kThreads, 0);
  for (const auto& line : lines) {
    std::smatch prefix;
    ASSERT_TRUE(std::regex_search(line, prefix, kLinePrefix)) << line.substr(0, 80);
    const std::string rest = prefix.suffix().str();
    const int writer = rest[0] - '0';
    ASSERT_TRUE(writer >= 0 && writer < kProcesses * kThreads) << rest.substr(0, 80);
    ASSERT_EQ(rest, std::to_string(writer) + " : " + message(writer));
    ++counts[static_cast<std::size_t>(writer)];
  }
  for (const int count : counts) EXPECT_EQ(count, kLines);
}

}  // namespace
