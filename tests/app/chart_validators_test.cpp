#include <gtest/gtest.h>
#include <sys/stat.h>
#include <chrono>
#include <filesystem>
#include <thread>
#include "app/chart_validators.h"
#include "driver_harness.h"
#include "http/cache_validators.h"

namespace fs = std::filesystem;

namespace {

// A program folder with a stand-in program file and a workbook.
struct Site {
  Site() {
    testing_support::WriteText(dir.path() / "grafolio", "program build 1");
    fs::copy_file(testing_support::SourceDir() / "tests/fixtures/workbooks/obst.xls", dir.path() / "obst.xls");
  }
  // One request; `env` adds request variables.
  DriverRun& Get(const std::string& query, std::map<std::string, std::string> env = {}) {
    runs.push_back(std::make_unique<DriverRun>(query, dir.str()));
    runs.back()->env = std::move(env);
    runs.back()->env.emplace("REQUEST_METHOD", "GET");
    runs.back()->Run();
    return *runs.back();
  }
  // Waits past the file system's time-stamp step, so that a change shows.
  static void Tick() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }
  testing_support::TempDir dir;
  std::vector<std::unique_ptr<DriverRun>> runs;
};

std::string Head(const std::string& answer) { return answer.substr(0, answer.find("\r\n\r\n") + 4); }

std::string HeaderValue(const std::string& answer, const std::string& name) {
  const std::string head = Head(answer);
  const auto at = head.find("\r\n" + name + ":");
  if (at == std::string::npos) return {};
  const auto start = at + name.size() + 3;
  return head.substr(start, head.find("\r\n", start) - start);
}

}  // namespace

TEST(ChartValidators, NotModifiedUntilTheWorkbookChanges) {
  Site site;
  const std::string query = "filename=obst.xls&style=3";
  std::string tag = HeaderValue(site.Get(query).output, "ETag");
  ASSERT_EQ(tag.size(), 18u);
  const std::string lastModified = HeaderValue(site.Get(query).output, "Last-Modified");
  const std::string notModified = "HTTP/1.1 304 Not Modified\r\nETag:" + tag + "\r\nLast-Modified:" + lastModified +
                                  "\r\n\r\n";
  EXPECT_EQ(site.Get(query, {{"HTTP_IF_NONE_MATCH", tag}}).output, notModified);
  EXPECT_EQ(site.Get(query, {{"HTTP_IF_NONE_MATCH", "\"x\", W/" + tag}}).output, notModified);
  EXPECT_EQ(site.Get(query, {{"HTTP_IF_MODIFIED_SINCE", lastModified}}).output, notModified);

  const fs::path book = site.dir.path() / "obst.xls";
  const std::string bytes = testing_support::ReadText(book);
  std::string other = bytes;
  other[other.size() - 1] ^= 1;  // the same size, another content
  struct Change { const char* what; std::function<void()> apply; } changes[] = {
      {"touched", [&] { fs::last_write_time(book, fs::file_time_type::clock::now()); }},
      {"rewritten with the same bytes", [&] { testing_support::WriteText(book, bytes); }},
      {"replaced by a file of the same size",
       [&] {
         testing_support::WriteText(site.dir.path() / "new.xls", other);
         fs::rename(site.dir.path() / "new.xls", book);
       }},
      {"rewritten in place, its old modification time put back",
       [&] {
         const auto modified = fs::last_write_time(book);
         testing_support::WriteText(book, bytes);
         fs::last_write_time(book, modified);
       }},
      {"program replaced", [&] { testing_support::WriteText(site.dir.path() / "grafolio", "program build 2"); }},
  };
  for (const auto& change : changes) {
    Site::Tick();
    change.apply();
    const std::string answer = site.Get(query, {{"HTTP_IF_NONE_MATCH", tag}}).output;
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n", 0), 0u) << change.what;
    const std::string newTag = HeaderValue(answer, "ETag");
    EXPECT_NE(newTag, tag) << change.what;
    EXPECT_EQ(site.Get(query, {{"HTTP_IF_NONE_MATCH", newTag}}).output.rfind("HTTP/1.1 304 ", 0), 0u) << change.what;
    tag = newTag;
  }
  // Only GET and HEAD are answered from the client's copy.
  EXPECT_EQ(site.Get(query, {{"HTTP_IF_NONE_MATCH", tag}, {"REQUEST_METHOD", "POST"}}).output.rfind("HTTP/1.1 200", 0),
            0u);
}

TEST(ChartValidators, EveryFieldChangesTheTag) {
  Site site;
  const std::map<std::string, std::string> changed = {
      {"filename", "testenglish"}, {"sheet", "01"},         {"style", "3"},         {"color", "3"},
      {"height", "200"},           {"width", "300"},        {"legend", "no"},       {"legendstyle", "percent"},
      {"border", "yes"},           {"backcolor", "3"},      {"chartbacktopcolor", "3"},
      {"chartbackbottomcolor", "3"}, {"number", "yes"},     {"numbercolor", "3"},   {"marks", "no"},
      {"marksstyle", "value"},     {"3D", "yes"},           {"3Dorthogonal", "no"}, {"3DRotation", "30"},
      {"3DElevation", "330"},      {"3DZoom", "90"},        {"3DDepth", "30"},      {"format", "png"},
  };
  ASSERT_EQ(changed.size(), kChartFields.size());
  const std::string base = "filename=obst.xls";
  const std::string tag = HeaderValue(site.Get(base).output, "ETag");
  // A field given with its default value is the same request.
  EXPECT_EQ(site.Get(base + "&style=0&legend=yes", {{"HTTP_IF_NONE_MATCH", tag}}).output.rfind("HTTP/1.1 304", 0), 0u);
  for (const auto& field : kChartFields) {
    ASSERT_TRUE(changed.count(field.Name)) << field.Name;
    const std::string change = std::string(field.Name) + "=" + changed.at(field.Name);
    const std::string query = change.rfind("filename=", 0) == 0 ? change : base + "&" + change;
    const std::string answer = site.Get(query, {{"HTTP_IF_NONE_MATCH", tag}}).output;
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << query;
    EXPECT_NE(HeaderValue(answer, "ETag"), "") << query;
    EXPECT_NE(HeaderValue(answer, "ETag"), tag) << query;
  }
}

TEST(ChartValidators, HeadGetsTheHeaderOfTheGet) {
  Site site;
  for (const std::string query : {"filename=obst.xls", "filename=testenglish&style=3&3D=yes"}) {
    const std::string get = site.Get(query).output;
    const std::string head = site.Get(query, {{"REQUEST_METHOD", "HEAD"}}).output;
    const std::string body = get.substr(Head(get).size());
    ASSERT_EQ(body.rfind("GIF89a", 0), 0u) << query;
    std::string expected = Head(get);
    expected.insert(expected.size() - 2, "content-length:" + std::to_string(body.size()) + "\r\n");
    EXPECT_EQ(head, expected) << query;
  }
}

TEST(ChartValidators, WhoGetsValidators) {
  Site site;
  testing_support::WriteText(site.dir.path() / "empty.xls", "");
  // Message pages carry none, test tables do (the program is their identity).
  EXPECT_EQ(HeaderValue(site.Get("filename=missing.xls").output, "ETag"), "");
  EXPECT_EQ(HeaderValue(site.Get("filename=empty.xls").output, "ETag"), "");
  EXPECT_EQ(site.Get("filename=missing.xls", {{"HTTP_IF_NONE_MATCH", "*"}}).output.rfind("HTTP/1.1 200", 0), 0u);
  const std::string german = HeaderValue(site.Get("").output, "ETag");
  EXPECT_NE(german, "");
  EXPECT_EQ(HeaderValue(site.Get("filename=testdeutsch").output, "ETag"), german);
  EXPECT_NE(HeaderValue(site.Get("filename=testenglish").output, "ETag"), german);
  // Last-Modified: the later of program and workbook.
  const fs::path book = site.dir.path() / "obst.xls";
  fs::last_write_time(book, fs::last_write_time(site.dir.path() / "grafolio") + std::chrono::hours(2));
  const auto bookSeconds = [&] {
    struct stat st {};
    ::stat(book.c_str(), &st);
    return static_cast<std::int64_t>(st.st_mtim.tv_sec);
  }();
  EXPECT_EQ(HeaderValue(site.Get("filename=obst.xls").output, "Last-Modified"), FormatHttpDate(bookSeconds));
}

TEST(ChartValidators, MaxAgeFromTheServer) {
  Site site;
  struct Case { std::string setting; std::string cacheControl; std::string log; } cases[] = {
      {"", "", ""},
      {"600", "max-age=600", ""},
      {"ten", "", "GRAFOLIO_MAX_AGE is not a number of seconds: 'ten'"},
  };
  for (const auto& c : cases) {
    DriverRun& full = site.Get("filename=testenglish", {{"GRAFOLIO_MAX_AGE", c.setting}});
    EXPECT_EQ(HeaderValue(full.output, "Cache-Control"), c.cacheControl) << c.setting;
    EXPECT_EQ(full.log.find(c.log) != std::string::npos, true) << full.log;
    const std::string tag = HeaderValue(full.output, "ETag");
    DriverRun& cached = site.Get("filename=testenglish", {{"GRAFOLIO_MAX_AGE", c.setting}, {"HTTP_IF_NONE_MATCH", tag}});
    EXPECT_EQ(HeaderValue(cached.output, "Cache-Control"), c.cacheControl) << c.setting;
  }
}

TEST(ChartValidators, UploadsAreKnownByTheirBytes) {
  TFileIdentity program{"/srv/grafolio", 1, 2, 3, 4'000'000'000, 5};
  std::vector<std::string> fields;
  for (const auto& field : kChartFields) fields.push_back(field.Default);
  TChartSource first{TChartSource::Upload, {"/srv/Temp/123obst.tmp", 1, 77, 900, 9'500'000'000, 9}, 42};
  TChartSource again = first;
  again.file = {"/srv/Temp/456obst.tmp", 1, 78, 900, 10'200'000'000, 10};
  TChartSource otherBytes = again;
  otherBytes.contentHash = 43;
  const auto tag = ComposeChartValidators(program, std::nullopt, fields, first);
  EXPECT_EQ(ComposeChartValidators(program, std::nullopt, fields, again).ETag, tag.ETag);
  EXPECT_NE(ComposeChartValidators(program, std::nullopt, fields, otherBytes).ETag, tag.ETag);
  EXPECT_EQ(tag.LastModified, 9);  // the upload is newer than the program
  TChartSource table;
  EXPECT_EQ(ComposeChartValidators(program, std::nullopt, fields, table).LastModified, 4);
  // The chart font is part of what is drawn.
  EXPECT_NE(ComposeChartValidators(program, program, fields, table).ETag,
            ComposeChartValidators(program, std::nullopt, fields, table).ETag);
}
