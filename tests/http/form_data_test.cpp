#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "cgi_harness.h"
#include "http/form_data.h"
#include "http/http_fields.h"
#include "platform/program.h"

namespace {
namespace fs = std::filesystem;

// headers: header lines, each ending in CR LF
struct Part { std::string headers; std::string data; };

std::string Body(const std::vector<Part>& parts, const std::string& boundary = "--b0undary") {
  std::string body;
  for (const auto& part : parts) body += boundary + "\r\n" + part.headers + "\r\n" + part.data + "\r\n";
  return body + boundary + "--\r\n";
}

Part Field(const std::string& name, const std::string& value) {
  return {"Content-Disposition: form-data; name=\"" + name + "\"\r\n", value};
}

Part File(const std::string& name, const std::string& client, const std::string& type, const std::string& data) {
  std::string headers = "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + client + "\"\r\n";
  if (!type.empty()) headers += "Content-Type: " + type + "\r\n";
  return {headers, data};
}

struct Read { std::string content; std::vector<std::string> files; };

// Feeds `body` in pieces of `piece` bytes; the body announces `length` bytes
// (the body's size when negative); `failAt` >= 0 makes the read at that
// offset fail.
Read ReadBody(const std::string& body, const std::string& folder, std::size_t piece = 4096, long long length = -1,
              long long failAt = -1) {
  std::size_t pos = 0;
  TMultipartInput input;
  input.ContentLength = length < 0 ? static_cast<long long>(body.size()) : length;
  input.Folder = folder;
  input.Read = [&](void* buffer, int count) -> int {
    if (failAt >= 0 && pos >= static_cast<std::size_t>(failAt)) return -1;
    const std::size_t n = std::min({static_cast<std::size_t>(count), piece, body.size() - pos});
    std::copy_n(body.data() + pos, n, static_cast<char*>(buffer));
    pos += n;
    return static_cast<int>(n);
  };
  Read result;
  result.content = ReadMultipartBody(input, result.files);
  return result;
}
}  // namespace

TEST(UrlEncode, Bytes) {
  EXPECT_EQ(UrlEncode("a:b"), "a%3Ab");
  EXPECT_EQ(UrlEncode(" "), "+");
  EXPECT_EQ(UrlEncode("A.z/0\\9_-&=\xFF"), "A.z/0\\9%5F%2D%26%3D%FF");
  EXPECT_EQ(UrlDecode(UrlEncode(std::string("x\0y\r\n", 5))), std::string("x\0y\r\n", 5));
}

TEST(UploadFolder, RelativeBelowProgram) {
  platform::SetProgramPathForTesting("/srv/cgi-bin/grafolio");
  EXPECT_EQ(UploadFolder("temp"), "/srv/cgi-bin/temp/");
  EXPECT_EQ(UploadFolder(""), "/srv/cgi-bin/");
  EXPECT_EQ(UploadFolder("./up//x/"), "/srv/cgi-bin/up/x/");
  EXPECT_EQ(UploadFolder("/var/tmp"), "/var/tmp/");
  platform::SetProgramPathForTesting("");
}

TEST(UploadFileName, StaysInsideItsFolder) {
  struct Case { std::string client; std::string expected; } cases[] = {
      {"photo.jpg", "42photo.tmp"}, {"C:\\Users\\me\\photo.jpg", "42photo.tmp"},
      {"/home/me/sales.xls.bak", "42sales.tmp"}, {"../../etc/passwd", "42passwd.tmp"}, {"..", "42.tmp"},
      {std::string("a\0/../b", 7), "42b.tmp"}, {"a\x01 b\xC3\xA4", "42a__b__.tmp"},
      {std::string(300, 'x'), "42" + std::string(64, 'x') + ".tmp"},
  };
  for (const auto& c : cases) EXPECT_EQ(UploadFileName(c.client, 42), c.expected) << c.client;
}

TEST(MultipartReader, Examples) {
  struct Case {
    const char* what;
    std::vector<Part> parts;
    // field -> expected value ("*" = a temporary file's path)
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::string> fileContents;
  } cases[] = {
      {"title and upload",
       {Field("title", "Hello World"), File("upload", "photo.jpg", "image/jpeg", "JPEG\r\nDATA\r\n")},
       {{"title", "Hello World"}, {"upload", "photo.jpg"}, {"upload_CONTENT_TYPE", " image/jpeg"}, {"upload_FILENAME", "*"}},
       {"JPEG\r\nDATA\r\n"}},
      {"repeated field", {Field("a", "1"), Field("b", "x"), Field("a", "2")}, {{"a", "1\r\n2"}, {"b", "x"}}, {}},
      {"file without Content-Type",
       {File("f", "data.bin", "", std::string("\0\1\2", 3))},
       {{"f", "data.bin"}, {"f_CONTENT_TYPE", "none"}, {"f_FILENAME", "*"}},
       {std::string("\0\1\2", 3)}},
      {"empty file field",
       {File("upload", "", "application/octet-stream", "")},
       {{"upload", ""}, {"upload_FILENAME", "none"}, {"upload_CONTENT_TYPE", " application/octet-stream"}},
       {}},
      {"value with line breaks and markup",
       {Field("t", "a\r\nb&c=d\n"), Field("u", "\r")}, {{"t", "a\r\nb&c=d\n"}, {"u", "\r"}},
       {}},
      {"name cannot inject other fields",
       {Field("x=1&filename_FILENAME", "/etc/passwd")},
       {{"filename_FILENAME", "none"}, {"x=1&filename_FILENAME", "/etc/passwd"}},
       {}},
      {"filename before name", {{"Content-Disposition: form-data; filename=\"f.xls\"; name=\"n\"\r\n", "z"}},
       {{"n", "f.xls"}, {"n_FILENAME", "*"}}, {"z"}},
  };
  for (const auto& c : cases) {
    testing_support::TempDir dir;
    const Read read = ReadBody(Body(c.parts), dir.str() + "/", 7);
    for (const auto& [name, value] : c.fields) {
      const std::string got = LookupField(read.content, name, "none");
      if (value == "*") {
        EXPECT_EQ(fs::path(got).parent_path(), dir.path()) << c.what << ": " << name;
      } else {
        EXPECT_EQ(got, value) << c.what << ": " << name << " in " << read.content;
      }
    }
    ASSERT_EQ(read.files.size(), c.fileContents.size()) << c.what;
    for (std::size_t i = 0; i < read.files.size(); ++i) {
      EXPECT_EQ(testing_support::ReadText(read.files[i]), c.fileContents[i]) << c.what;
    }
  }
  // The example's exact content.
  testing_support::TempDir dir;
  const Read read = ReadBody(Body({Field("title", "Hello World"), File("upload", "photo.jpg", "image/jpeg", "x")}),
                             dir.str() + "/");
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_EQ(read.content, "title=Hello+World&upload_CONTENT_TYPE=+image/jpeg&upload=photo.jpg&upload_FILENAME=" +
                              UrlEncode(read.files[0]) + "&");
}

// File data of every length around the window's size, with short and long
// boundaries, in small and large pieces: the boundary lands on every side of
// a refill and the file still holds exactly the data.
TEST(MultipartReader, BoundaryStraddlingTheRefill) {
  testing_support::TempDir dir;
  const std::size_t window = TMultipartInput::kWindowSize;
  for (const std::string& boundary : {std::string("--b"), "--" + std::string(200, 'q')}) {
    for (std::size_t piece : {std::size_t(1000), window}) {
      for (std::size_t size : {window - 400, window - 300, window - 260, window - 200, window - 150, window - 100,
                               window - 60, window - 2, window, window + 1, window * 2 - 230, window * 3 + 17}) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>("-\r\nq-b"[i % 6]);
        const std::string body = Body({File("f", "x.bin", "", data), Field("after", "yes")}, boundary);
        const Read read = ReadBody(body, dir.str() + "/", piece);
        ASSERT_EQ(read.files.size(), 1u) << size;
        EXPECT_EQ(LookupField(read.content, "after", "none"), "yes") << boundary.size() << " " << size;
        EXPECT_TRUE(testing_support::ReadText(read.files[0]) == data) << boundary.size() << " " << piece << " " << size;
        fs::remove(read.files[0]);
      }
    }
  }
}

// A body cut anywhere before its closing boundary, announced with its cut
// length or with the full length (the stream ends early), and bodies that
// fail to read, hold an over-long header or value: empty content, no hang;
// files created on the way are listed for deletion.
TEST(MultipartReader, BrokenBodiesGiveEmptyContent) {
  testing_support::TempDir dir;
  const std::string body =
      Body({Field("title", "Hello"), File("upload", "a.xls", "application/vnd.ms-excel", "DATA"), Field("z", "1")});
  const std::size_t closing = body.size() - 2;  // behind the closing "--"
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    for (long long length : {static_cast<long long>(cut), static_cast<long long>(body.size())}) {
      const Read read = ReadBody(body.substr(0, cut), dir.str() + "/", 5, length);
      if (cut >= closing && length == static_cast<long long>(cut)) {
        EXPECT_EQ(LookupField(read.content, "z", ""), "1") << cut;
      } else {
        EXPECT_EQ(read.content, "") << cut << " of " << body.size();
      }
      for (const auto& file : read.files) {
        EXPECT_EQ(fs::path(file).parent_path(), dir.path());
        fs::remove(file);
      }
    }
  }
  struct Case { const char* what; std::string body; long long failAt; } cases[] = {
      {"read fails inside the file", body, static_cast<long long>(body.find("DATA"))},
      {"no boundary at all", "just some text without line end", -1}, {"empty first line", "\r\n--b\r\n", -1},
      {"header longer than the window",
       Body({{"X-Long: " + std::string(TMultipartInput::kWindowSize, 'h') + "\r\n", "v"}}), -1},
      {"plain value larger than the window", Body({Field("v", std::string(TMultipartInput::kWindowSize, 'v'))}), -1},
      {"boundary never comes", "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n\r\n" +
                                   std::string(3 * TMultipartInput::kWindowSize, 'd'), -1},
  };
  for (const auto& c : cases) {
    const Read read = ReadBody(c.body, dir.str() + "/", 5, -1, c.failAt);
    EXPECT_EQ(read.content, "") << c.what;
    for (const auto& file : read.files) fs::remove(file);
  }
}

// Through a CGI request: a multipart body beyond AutoReadLimit is read, and
// the uploads are gone after the request, also when the request failed.
TEST(MultipartReader, RequestDeletesItsUploads) {
  for (const bool fail : {false, true}) {
    testing_support::TempDir dir;
    CgiRun run;
    run.env = {{"SERVER_SOFTWARE", "test"}, {"REQUEST_METHOD", "POST"},
               {"CONTENT_TYPE", "multipart/form-data; boundary=b0undary"}};
    run.body = Body({File("filename", "big.xls", "", std::string(50000, 'x')), Field("style", "3")});
    run.env["CONTENT_LENGTH"] = std::to_string(run.body.size());
    run.settings.AutoReadLimit = 10000;
    run.settings.TempDir = dir.str();
    std::string uploaded;
    run.handler = [&](THttpEngine& engine) {
      uploaded = engine.GetFieldValue("filename_FILENAME", "");
      EXPECT_EQ(engine.GetFieldValue("style", ""), "3");
      EXPECT_EQ(fs::file_size(uploaded), 50000u);
      if (fail) throw std::runtime_error("failed");
    };
    run.Run();
    EXPECT_FALSE(uploaded.empty());
    EXPECT_FALSE(fs::exists(uploaded)) << fail;
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}
