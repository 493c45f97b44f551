#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <stdexcept>

#include "http/form_data.h"
#include "http/http_fields.h"
#include "platform/program.h"
#include "support/cgi_harness.h"

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

// error: the reader's TRequestBodyError message ("" when it read the body)
struct Read { std::string content; std::vector<TUploadFile> files; std::string error; };

// Feeds `body` in pieces of `piece` bytes; the body announces `length` bytes
// (the body's size when negative); `failAt` >= 0 makes the read at that
// offset fail. Every read checks that the upload folder holds no file name:
// an upload is unnamed while it is being written.
Read ReadBody(const std::string& body, const std::string& folder, std::size_t piece = 4096, long long length = -1,
              long long failAt = -1, std::size_t fieldLimit = 10000) {
  std::size_t pos = 0;
  TMultipartInput input;
  input.ContentLength = length < 0 ? static_cast<long long>(body.size()) : length;
  input.Folder = folder;
  input.FieldLimit = fieldLimit;
  input.Read = [&](void* buffer, int count) -> int {
    EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder)) << "at " << pos;
    if (failAt >= 0 && pos >= static_cast<std::size_t>(failAt)) return -1;
    const std::size_t n = std::min({static_cast<std::size_t>(count), piece, body.size() - pos});
    std::copy_n(body.data() + pos, n, static_cast<char*>(buffer));
    pos += n;
    return static_cast<int>(n);
  };
  Read result;
  try {
    result.content = ReadMultipartBody(input, result.files);
  } catch (const TRequestBodyError& error) {
    result.error = error.what();
  }
  EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
  return result;
}

std::string Contents(const TUploadFile& file) { return testing_support::ReadText(file.Path); }
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
    // field -> expected value ("*" = an upload file's path)
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
        EXPECT_TRUE(std::any_of(read.files.begin(), read.files.end(), [&](auto& f) { return f.Path == got; }))
            << c.what << ": " << name << " = " << got;
      } else {
        EXPECT_EQ(got, value) << c.what << ": " << name << " in " << read.content;
      }
    }
    ASSERT_EQ(read.files.size(), c.fileContents.size()) << c.what;
    for (std::size_t i = 0; i < read.files.size(); ++i) {
      EXPECT_EQ(Contents(read.files[i]), c.fileContents[i]) << c.what;
    }
  }
  // The example's exact content.
  testing_support::TempDir dir;
  const Read read = ReadBody(Body({Field("title", "Hello World"), File("upload", "photo.jpg", "image/jpeg", "x")}),
                             dir.str() + "/");
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_EQ(read.content, "title=Hello+World&upload_CONTENT_TYPE=+image/jpeg&upload=photo.jpg&upload_FILENAME=" +
                              UrlEncode(read.files[0].Path) + "&");
  EXPECT_EQ(read.files[0].Path, "/proc/self/fd/" + std::to_string(read.files[0].Fd.get()));
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
        EXPECT_TRUE(Contents(read.files[0]) == data) << boundary.size() << " " << piece << " " << size;
      }
    }
  }
}

// A body cut at every byte before its closing boundary, announced with its
// cut length (no closing boundary) or with the full length (the stream ends
// early), and bodies that fail to read, or hold too much: each is refused
// with what was missing or too large. No upload stays behind.
TEST(MultipartReader, IncompleteOrOversizedBodiesAreRefused) {
  testing_support::TempDir dir;
  const std::string folder = dir.str() + "/";
  const std::string body =
      Body({Field("title", "Hello"), File("upload", "a.xls", "application/vnd.ms-excel", "DATA"), Field("z", "1")});
  const std::size_t closing = body.size() - 2;  // behind the closing "--"
  const std::string total = " of " + std::to_string(body.size()) + " bytes";
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    const Read asCut = ReadBody(body.substr(0, cut), folder, 5, static_cast<long long>(cut));
    if (cut >= closing) {
      EXPECT_EQ(asCut.error, "") << cut;
      EXPECT_EQ(LookupField(asCut.content, "z", ""), "1") << cut;
    } else {
      EXPECT_EQ(asCut.error, cut == 0 ? "Multipart body without a boundary line"
                                      : "Multipart body incomplete: no closing boundary") << cut;
    }
    EXPECT_EQ(ReadBody(body.substr(0, cut), folder, 5, static_cast<long long>(body.size())).error,
              "Request body incomplete: " + std::to_string(cut) + total + " arrived") << cut;
  }
  const std::size_t data = body.find("DATA");
  const std::string window = std::to_string(TMultipartInput::kWindowSize);
  const std::string file = "Content-Disposition: form-data; name=\"f\"; filename=\"x\"\r\n";
  std::vector<Part> tooManyFiles(TMultipartInput::kMaxFiles + 1, File("f", "x", "", "1"));
  // fieldLimit: the reader's FieldLimit; 0 stands for 10000
  struct Case { const char* what; std::string body; long long failAt; std::size_t fieldLimit; std::string error; };
  const Case cases[] = {
      {"read fails inside the file", body, static_cast<long long>(data), 0,
       "Request body incomplete: reading failed after " + std::to_string((data + 4) / 5 * 5) + total},
      {"read fails at once", body, 0, 0, "Request body incomplete: reading failed after 0" + total},
      {"no line end at all", "just some text without line end", -1, 0,
       "Multipart body incomplete: no closing boundary"},
      {"empty first line", "\r\n--b\r\n", -1, 0, "Multipart body without a boundary line"},
      {"ends inside a part header", "--b\r\n" + file, -1, 0, "Multipart body incomplete: no closing boundary"},
      {"header longer than the window",
       Body({{"X-Long: " + std::string(TMultipartInput::kWindowSize, 'h') + "\r\n", "v"}}), -1, 0,
       "Multipart body refused: a part header does not fit in " + window + " bytes"},
      {"boundary line longer than the window", "--" + std::string(2 * TMultipartInput::kWindowSize, 'b'), -1, 0,
       "Multipart body refused: a boundary line does not fit in " + window + " bytes"},
      {"boundary never comes", "--b\r\n" + file + "\r\n" + std::string(3 * TMultipartInput::kWindowSize, 'd'), -1, 0,
       "Multipart body incomplete: no closing boundary"},
      {"fields of exactly the limit", Body({Field("a", std::string(4999, 'v')), Field("b", std::string(4999, 'w'))}),
       -1, 0, ""},
      {"one byte more", Body({Field("a", std::string(4999, 'v')), Field("b", std::string(5000, 'w'))}), -1, 0,
       "Multipart body refused: its fields exceed 10000 bytes"},
      {"a value far beyond the limit, refused before it all arrives",
       Body({Field("v", std::string(5 * TMultipartInput::kWindowSize, 'v'))}), -1, 0,
       "Multipart body refused: its fields exceed 10000 bytes"},
      {"many small fields", Body(std::vector<Part>(2001, Field("abcd", "e"))), -1, 0,
       "Multipart body refused: its fields exceed 10000 bytes"},
      {"client file names count", Body({File("f", std::string(10000, 'n') + ".xls", "", "x")}), -1, 0,
       "Multipart body refused: its fields exceed 10000 bytes"},
      {"content types count", Body({{"Content-Type: " + std::string(20, 't') + "\r\n" + "Content-Type: x\r\n", ""}}),
       -1, 20, "Multipart body refused: its fields exceed 20 bytes"},
      {"a plain value larger than the window under a larger limit",
       Body({Field("v", std::string(TMultipartInput::kWindowSize, 'v'))}), -1, 1 << 20,
       "Multipart body refused: a field value does not fit in " + window + " bytes"},
      {"too many files", Body(tooManyFiles), -1, 0, "Multipart body refused: more than 64 files"},
  };
  for (const auto& c : cases) {
    // Small pieces only where a read must fail at a place.
    const std::size_t piece = c.failAt >= 0 ? 5 : 1000;
    const Read read = ReadBody(c.body, folder, piece, -1, c.failAt, c.fieldLimit ? c.fieldLimit : 10000);
    EXPECT_EQ(read.error, c.error) << c.what;
    if (!c.error.empty()) {
      EXPECT_TRUE(read.content.empty()) << c.what;
    }
  }
}

// Upload files that cannot be made or written end the read with the reason.
TEST(MultipartReader, UploadFileFailures) {
  testing_support::TempDir dir;
  const std::string body = Body({File("f", "big.xls", "", std::string(200000, 'x'))});
  testing_support::WriteText(dir.path() / "plain", "in the way");
  EXPECT_EQ(ReadBody(body, dir.str() + "/plain/", 4096).error.substr(0, 25), "Cannot create upload file");
  // A full disk: no file may grow beyond 64 KiB.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 65536;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const Read read = ReadBody(body, dir.str() + "/up/", 4096);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(read.error.starts_with("Cannot write upload file " + dir.str() + "/up/")) << read.error;
  EXPECT_TRUE(read.error.ends_with("big.tmp: File too large")) << read.error;
  EXPECT_TRUE(fs::is_empty(dir.path() / "up"));
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
      EXPECT_TRUE(IsRequestTempFile(uploaded));
      EXPECT_EQ(fs::file_size(uploaded), 50000u);
      if (fail) throw std::runtime_error("failed");
    };
    run.Run();
    EXPECT_FALSE(uploaded.empty());
    EXPECT_FALSE(IsRequestTempFile(uploaded));
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}

// A body that does not arrive whole, or that is refused, ends the request
// through the error path: no event runs, nothing is answered, one log line
// says what was missing.
TEST(MultipartReader, IncompleteBodyEndsTheRequest) {
  const std::string multipart = Body({File("filename", "a.xls", "", "BIFF"), Field("style", "3")});
  // announced: CONTENT_LENGTH; type: CONTENT_TYPE
  struct Case { std::string body; std::size_t announced; std::string type; std::string log; };
  const Case cases[] = {
      {multipart.substr(0, 60), multipart.size(), "multipart/form-data; boundary=b0undary",
       "Request body incomplete: 60 of " + std::to_string(multipart.size()) + " bytes arrived"},
      {multipart.substr(0, 60), 60, "multipart/form-data; boundary=b0undary",
       "Multipart body incomplete: no closing boundary"},
      {Body({Field("style", std::string(10001, '3'))}), 0, "multipart/form-data; boundary=b0undary",
       "Multipart body refused: its fields exceed 10000 bytes"},
      {"style=3&filename=sal", 25, "application/x-www-form-urlencoded",
       "Request body incomplete: 20 of 25 bytes arrived"},
  };
  for (const auto& c : cases) {
    testing_support::TempDir dir;
    CgiRun run;
    run.env = {{"SERVER_SOFTWARE", "test"}, {"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", c.type},
               {"CONTENT_LENGTH", std::to_string(c.announced ? c.announced : c.body.size())}};
    run.body = c.body;
    run.settings.AutoReadLimit = 10000;
    run.settings.TempDir = dir.str();
    bool ran = false;
    run.handler = [&](THttpEngine&) { ran = true; };
    run.Run();
    EXPECT_FALSE(ran) << c.log;
    EXPECT_EQ(run.output, "") << c.log;
    ASSERT_EQ(run.logLines.size(), 1u) << c.log;
    EXPECT_EQ(LogMessage(run.logLines[0]), "Unhandled exception : " + c.log);
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}
