#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "gateways/cgi_ini_file.h"
#include "gateways/cgi_win_engine.h"
#include "support/cgi_harness.h"

namespace {
namespace fs = std::filesystem;

// Runs one WinCGI request from `ini` (written into a temporary folder, where
// "@" in the text stands for that folder) with `handler`; returns the output
// file's bytes, the handler's log lines through `log`. `plant` runs on the
// folder before the request; `failed` receives the engine's Failed().
std::string RunWinCgi(const std::string& ini, const std::function<void(THttpEngine&)>& handler,
                      std::vector<std::string>* log = nullptr,
                      const std::function<void(const fs::path&)>& plant = {}, bool* failed = nullptr) {
  testing_support::TempDir dir;
  std::string text = ini;
  for (std::size_t p; (p = text.find('@')) != std::string::npos;) text.replace(p, 1, dir.str());
  testing_support::WriteText(dir.path() / "request.ini", text);
  if (plant) plant(dir.path());
  setenv("CGI_LOG_DIR", dir.str().c_str(), 1);
  RegisterHttpProcTable();
  THttpEngineSettings settings;
  settings.OnExecRequest = handler;
  settings.TempDir = dir.str();
  settings.AutoReadLimit = 10000;
  TCgiIO io;
  io.GetEnv = [](const std::string&) { return std::string(); };
  {
    TCGIWinEngine engine(settings, false, false, io, (dir.path() / "request.ini").string());
    engine.Start();
    SetCurrentHttpEngine(nullptr);
    if (failed) *failed = engine.Failed();
  }
  unsetenv("CGI_LOG_DIR");
  if (log)
    for (const auto& line : ReadLogLines(dir.path())) log->push_back(LogMessage(line));
  const fs::path out = dir.path() / "answer.out";
  return fs::is_regular_file(fs::symlink_status(out)) ? testing_support::ReadText(out) : "<none>";
}
}  // namespace

TEST(CGIIniFile, ReadingRules) {
  TCGIIniFile ini;
  ini.Parse(
      "ignored=before any section\r\n"
      "  [ cgi ]  \r\n"
      "Request Method=POST\r\n"
      " \t query string =  a=1&b=2  \r\n"
      "=no key\r\n"
      "a line without equals\r\n"
      "0123456789012345678901234567890=thirty-one\r\n"
      "01234567890123456789012345678901=thirty-two\r\n"
      "Twice=first\r\n"
      "TWICE=second\r\n"
      "[Form Literal]\n"  // a lone LF ends a line too
      "x=1\r\n"
      "[CGI]\r\n"
      "More=merged into the first CGI section\r\n");
  struct Case { const char* section; const char* key; const char* expected; } cases[] = {
      {"CGI", "request method", "POST"}, {" Cgi ", "QUERY STRING", "a=1&b=2"}, {"CGI", "ignored", "-"},
      {"CGI", "", "-"}, {"CGI", "0123456789012345678901234567890", "thirty-one"},
      {"CGI", "01234567890123456789012345678901", "-"},  // "=" after the 32nd character
      {"CGI", "twice", "second"}, {"CGI", "more", "merged into the first CGI section"}, {"Form Literal", "X", "1"},
      {"Missing", "x", "-"},
  };
  for (const auto& c : cases) EXPECT_EQ(ini.ReadString(c.section, c.key, "-"), c.expected) << c.key;
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"CGI", "FORM LITERAL"}));
}

TEST(CGIWinEngine, VariablesFieldsAndOutput) {
  const std::string ini =
      "[CGI]\r\nRequest Method=POST\r\nExecutable Path=/cgi-bin/grafolio\r\n"
      "[System]\r\nOutput File=@/answer.out\r\n"
      "[Extra Headers]\r\nHTTP User Agent=Mozilla/4.0\r\nCookie=s=1\r\n"
      "[Form Literal]\r\nname=first\r\nname_1=second\r\nname_2=third\r\nname_4=gap\r\nstyle=3\r\n"
      "[Form External]\r\next=@/ext.txt 5\r\nneg=@/ext.txt -1\r\nnan=@/ext.txt five\r\n"
      "big=@/ext.txt 99\r\nnoblank=@/ext.txt\r\n";
  std::vector<std::string> log;
  const std::string out = RunWinCgi(ini, [](THttpEngine& e) {
    // The external file is written by the test itself, beside the ini file.
    const std::string folder = fs::path(e.GetServerVariable("Output File")).parent_path();
    testing_support::WriteText(folder + "/ext.txt", "hello world");
    EXPECT_EQ(e.GetServerVariable("HTTP_USER_AGENT"), "Mozilla/4.0");
    EXPECT_EQ(e.GetUserAgent(), "Mozilla/4.0");
    EXPECT_EQ(e.GetScriptName(), "/cgi-bin/grafolio");
    EXPECT_EQ(e.GetHttpCookie(), "s=1");
    EXPECT_EQ(e.GetFieldValue("NAME", "-"), "first\r\nsecond\r\nthird");
    EXPECT_EQ(e.GetFieldValue("style", "-"), "3");
    EXPECT_EQ(e.GetFieldValue("absent", "-"), "-");
    EXPECT_EQ(e.GetFieldValue("ext", "-"), "hello");
    for (const char* refused : {"neg", "nan", "big", "noblank"}) EXPECT_EQ(e.GetFieldValue(refused, "-"), "-");
    EXPECT_EQ(e.GetFieldNames(),
              (std::vector<std::string>{"BIG", "EXT", "NAN", "NEG", "NOBLANK", "NAME", "STYLE"}));
    e.WriteText("<html>\r\n");
  }, &log);
  EXPECT_EQ(out, "content-type:text/html\r\n\r\n<html>\r\n");
  EXPECT_EQ(log.size(), 4u);
  // An answer other than 200 tells the server with a Status line.
  const std::string notModified = RunWinCgi("[System]\r\nOutput File=@/answer.out\r\n", [](THttpEngine& e) {
    HttpAddAnswerHeader("ETag", "\"7\"");
    e.WriteHeaderOnlyAnswer("304 Not Modified");
  });
  EXPECT_EQ(notModified, "Status:304 Not Modified\r\nETag:\"7\"\r\n\r\n");
}

TEST(CGIWinEngine, MultipartAndMissingOutput) {
  std::string out;
  // A multipart body from the content file.
  testing_support::TempDir body;
  const std::string multipart =
      "--xx\r\nContent-Disposition: form-data; name=\"filename\"; filename=\"a.xls\"\r\n\r\nBIFF\r\n--xx--\r\n";
  testing_support::WriteText(body.path() / "body", multipart);
  std::string upload;
  out = RunWinCgi("[CGI]\r\nRequest Method=POST\r\nContent Type=multipart/form-data; boundary=xx\r\n"
                  "Content Length=" + std::to_string(multipart.size()) + "\r\nContent File=" + body.str() +
                      "/body\r\n[System]\r\nOutput File=@/answer.out\r\n",
                  [&](THttpEngine& e) {
                    upload = e.GetFieldValue("filename_FILENAME", "");
                    EXPECT_EQ(testing_support::ReadText(upload), "BIFF");
                    EXPECT_EQ(e.GetFieldNames(), (std::vector<std::string>{"filename", "filename_FILENAME"}));
                  });
  EXPECT_FALSE(upload.empty());
  EXPECT_FALSE(fs::exists(upload));
  // No output file named: no events, nothing written.
  bool fired = false;
  out = RunWinCgi("[CGI]\r\nRequest Method=GET\r\n", [&](THttpEngine&) { fired = true; });
  EXPECT_FALSE(fired);
  EXPECT_EQ(out, "<none>");
}

// Request and output files that are missing, planted links or FIFOs, and an
// output file that fills the disk: the request fails (Failed, for a failure
// exit status) with one log line, nothing planted is followed or waited on,
// and no cut-off answer is left in the output file.
TEST(CGIWinEngine, FileFaultsFailTheRequest) {
  const std::string ini = "[CGI]\r\nRequest Method=GET\r\n[System]\r\nOutput File=@/answer.out\r\n";
  const auto write = [](THttpEngine& e) {
    e.WriteHeader("content-type", "image/gif");
    e.EndHeader();
    const std::string gif(300000, 'G');
    e.WriteBinary(gif.data(), gif.size());
  };
  // plant: changes the folder before the request; log: "@" stands for the
  // folder; out: what the output file holds afterwards
  struct Case { const char* what; std::function<void(const fs::path&)> plant; std::string log, out = "<none>"; };
  const Case cases[] = {
      {"output file is a link",
       [](const fs::path& d) {
         testing_support::WriteText(d / "victim", "keep");
         fs::create_symlink(d / "victim", d / "answer.out");
       },
       "Cannot create WinCGI output file @/answer.out: is a symbolic link"},
      {"output file is a dangling link", [](const fs::path& d) { fs::create_symlink(d / "made", d / "answer.out"); },
       "Cannot create WinCGI output file @/answer.out: is a symbolic link"},
      {"output file is a FIFO", [](const fs::path& d) { ::mkfifo((d / "answer.out").c_str(), 0600); },
       "Cannot create WinCGI output file @/answer.out: No such device or address"},
      {"request file is missing", [](const fs::path& d) { fs::remove(d / "request.ini"); },
       "Cannot open WinCGI request file @/request.ini: No such file or directory"},
      {"request file is a FIFO",
       [](const fs::path& d) {
         fs::remove(d / "request.ini");
         ::mkfifo((d / "request.ini").c_str(), 0600);
       },
       "Cannot open WinCGI request file @/request.ini: is not a regular file"},
      {"request file is a folder",
       [](const fs::path& d) {
         fs::remove(d / "request.ini");
         fs::create_directory(d / "request.ini");
       },
       "Cannot open WinCGI request file @/request.ini: is not a regular file"},
      {"a full disk: no file may grow beyond 64 KiB",
       [](const fs::path&) {
         rlimit small{};
         ::getrlimit(RLIMIT_FSIZE, &small);
         small.rlim_cur = 65536;
         ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
       },
       "Cannot write WinCGI output file @/answer.out: File too large", ""},
  };
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  for (const auto& c : cases) {
    std::vector<std::string> log;
    bool failed = false;
    fs::path folder;
    const auto plant = [&](const fs::path& d) {
      folder = d;
      c.plant(d);
    };
    const std::string out = RunWinCgi(ini, write, &log, plant, &failed);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_TRUE(failed) << c.what;
    std::string expected = "Unhandled exception : " + c.log;
    expected.replace(expected.find('@'), 1, folder.string());
    EXPECT_EQ(log, std::vector<std::string>{expected}) << c.what;
    EXPECT_EQ(out, c.out) << c.what;
  }
  std::signal(SIGXFSZ, previous);
  // A good request does not fail.
  bool failed = true;
  EXPECT_EQ(RunWinCgi(ini, [](THttpEngine& e) { e.WriteText("<p>"); }, nullptr, {}, &failed),
            "content-type:text/html\r\n\r\n<p>");
  EXPECT_FALSE(failed);
}
