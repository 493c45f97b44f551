#include "http/request_log.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/program.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::ReadText;
using testing_support::WriteText;

namespace {
void SetLogDir(const std::optional<std::string>& dir) {
  (void)(dir ? ::setenv("CGI_LOG_DIR", dir->c_str(), 1) : ::unsetenv("CGI_LOG_DIR"));
}

// The log's lines, each without its "date time,  " prefix, which must be
// there; the text must end with a whole line.
std::vector<std::string> LogLines(const fs::path& file) {
  static const std::regex prefix(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,  )");
  const std::string text = ReadText(file);
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    std::smatch match;
    const std::string line = text.substr(start, end - start);
    EXPECT_TRUE(std::regex_search(line, match, prefix)) << line.substr(0, 80);
    lines.push_back(match.suffix().str());
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

// Points the program into a temp folder and controls CGI_LOG_DIR; both are
// put back afterwards.
class RequestLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("CGI_LOG_DIR")) savedLogDir_ = value;
    SetLogDir(std::nullopt);
    SetProgram("grafolio.cgi");
  }
  void TearDown() override {
    platform::SetProgramPathForTesting("");
    SetLogDir(savedLogDir_);
  }
  void SetProgram(const std::string& name) {
    fs::create_directories(temp_.path() / "cgi-bin");
    platform::SetProgramPathForTesting((temp_.path() / "cgi-bin" / name).string());
  }
  // Every file below the temp folder, as sorted paths relative to it.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(temp_.path())) {
      if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), temp_.path()).string());
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  testing_support::TempDir temp_;
  std::optional<std::string> savedLogDir_;
};

TEST_F(RequestLogTest, LineFormat) {
  SetLogDir(temp_.str());
  WriteRequestLogLine("Unhandled exception : kaputt", 42);
  WriteRequestLogLine("", 0);
  WriteRequestLogLine("first\r\nsecond\nthird", 999);
  EXPECT_EQ(LogLines(temp_.path() / "grafolio.Log"),
            (std::vector<std::string>{"42 : Unhandled exception : kaputt", "0 : ", "999 : first  second third"}));
}

TEST_F(RequestLogTest, WhereTheLogGoes) {
  const struct {
    const char* name;
    std::optional<std::string> logDir;  // "@" stands for the temp folder
    const char* program;
    const char* expected;  // relative to the temp folder
  } cases[] = {
      {"no setting: Log beside the program", std::nullopt, "grafolio.cgi", "cgi-bin/Log/grafolio.Log"},
      {"empty setting", "", "grafolio.cgi", "cgi-bin/Log/grafolio.Log"},
      {"name up to the first dot", std::nullopt, "graf.olio.exe", "cgi-bin/Log/graf.Log"},
      {"absolute, created with its parents", "@/var/logs", "grafolio.cgi", "var/logs/grafolio.Log"},
      {"relative below the program", "logs/cgi", "grafolio.cgi", "cgi-bin/logs/cgi/grafolio.Log"},
      {"relative, reduced", ".//logs/./x/", "grafolio.cgi", "cgi-bin/logs/x/grafolio.Log"},
      {"setting cannot be created", "/proc/no-log-here", "grafolio.cgi", "cgi-bin/grafolio.Log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(temp_.path())) fs::remove_all(entry.path());
    SetProgram(c.program);
    SetLogDir(c.logDir && c.logDir->starts_with("@") ? temp_.str() + c.logDir->substr(1) : c.logDir);
    WriteRequestLogLine("hello", 7);
    EXPECT_EQ(Files(), std::vector<std::string>{c.expected});
    EXPECT_EQ(LogLines(temp_.path() / c.expected), std::vector<std::string>{"7 : hello"});
  }
}

TEST_F(RequestLogTest, UnwritableLogGoesToStandardError) {
  const struct {
    const char* name;
    const char* programDir;  // relative to the temp folder; "file" is a regular file
    const char* logDir;      // CGI_LOG_DIR below the temp folder, or null
    const char* reason;
  } cases[] = {
      {"no folder can hold the log", "file", nullptr, "Not a directory"},
      {"setting below a file", "file", "file/deeper", "Not a directory"},
      {"the log file is a folder", "cgi-bin", "cgi-bin/Log", "Is a directory"},
      {"a file stands where Log should be", "cgi-bin/Log/grafolio.Log", nullptr, "Not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(temp_.path())) fs::remove_all(entry.path());
    WriteText(temp_.path() / "file", "x");
    fs::create_directories(temp_.path() / "cgi-bin/Log/grafolio.Log");
    WriteText(temp_.path() / "cgi-bin/Log/grafolio.Log/Log", "not a folder");
    platform::SetProgramPathForTesting((temp_.path() / c.programDir / "grafolio.cgi").string());
    SetLogDir(c.logDir ? std::optional<std::string>(temp_.str() + "/" + c.logDir) : std::nullopt);
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(WriteRequestLogLine("lost\nline", 7));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::regex expected(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,  7 : lost line  \[request log .*grafolio\.Log )"
                              R"(not writable: )" + std::string(c.reason) + "\\]\n$");
    EXPECT_TRUE(std::regex_search(err, expected)) << err;
    EXPECT_EQ(ReadText(temp_.path() / "file"), "x");
  }
}

// Links and FIFOs planted at the log's name are neither followed nor
// waited on: the line goes to standard error, and nothing else is written.
TEST_F(RequestLogTest, PlantedFilesAreRefused) {
  SetLogDir(temp_.str() + "/Log");
  const fs::path log = temp_.path() / "Log/grafolio.Log";
  // plant: makes something at `log`; reason: the refusal's text
  struct Case { const char* name; std::function<void()> plant; const char* reason; };
  int reader = -1;
  const Case cases[] = {
      {"link to another file", [&] { fs::create_symlink(temp_.path() / "victim", log); }, "is a symbolic link"},
      {"dangling link", [&] { fs::create_symlink(temp_.path() / "created", log); }, "is a symbolic link"},
      {"FIFO nobody reads", [&] { ::mkfifo(log.c_str(), 0600); }, "No such device or address"},
      {"FIFO with a reader", [&] {
         ::mkfifo(log.c_str(), 0600);
         reader = ::open(log.c_str(), O_RDONLY | O_NONBLOCK);
       }, "is not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& entry : fs::directory_iterator(temp_.path())) fs::remove_all(entry.path());
    fs::create_directories(log.parent_path());
    WriteText(temp_.path() / "victim", "keep");
    c.plant();
    testing::internal::CaptureStderr();
    WriteRequestLogLine("planted", 3);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(err.ends_with(",  3 : planted  [request log " + log.string() + " not writable: " + c.reason + "]\n"))
        << err;
    EXPECT_EQ(ReadText(temp_.path() / "victim"), "keep");
    EXPECT_FALSE(fs::exists(temp_.path() / "created"));
    if (reader >= 0) ::close(reader);
    reader = -1;
  }
}

// Several processes, each with several threads, append long lines at once:
// every line arrives whole.
TEST_F(RequestLogTest, ConcurrentWritersKeepLinesWhole) {
  SetLogDir(temp_.str());
  constexpr int kProcesses = 3, kThreads = 2, kLines = 150;
  const auto message = [](int writer) { return std::string(3000 + writer * 517, static_cast<char>('a' + writer)); };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<std::thread> threads;
      for (int writer = p * kThreads; writer < (p + 1) * kThreads; ++writer) {
        threads.emplace_back([&, writer] {
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
  std::vector<int> counts(kProcesses * kThreads, 0);
  for (const auto& line : LogLines(temp_.path() / "grafolio.Log")) {
    const int writer = line[0] - '0';
    ASSERT_TRUE(writer >= 0 && writer < kProcesses * kThreads) << line.substr(0, 80);
    ASSERT_EQ(line, std::to_string(writer) + " : " + message(writer));
    ++counts[static_cast<std::size_t>(writer)];
  }
  EXPECT_EQ(counts, std::vector<int>(kProcesses * kThreads, kLines));
}
}  // namespace
