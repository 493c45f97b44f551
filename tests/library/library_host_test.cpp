// A test host for the program's library: it loads the library with dlopen and
// plays the server's side of ISAPI (extension control block and callbacks)
// and of NSAPI (a stand-in server library with parameter blocks and a
// connection), and drives real requests through them. Every answer must be
// the answer the CGI program gives to the same request.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "gateways/isapi.h"
#include "server/ns_httpd.h"
#include "support/test_support.h"

namespace {
namespace fs = std::filesystem;

struct Req { const char* what; std::string method; std::string query; std::string contentType; std::string body; };

std::string Multipart(const std::string& workbook) {
  return "--zz\r\nContent-Disposition: form-data; name=\"style\"\r\n\r\n4\r\n"
         "--zz\r\nContent-Disposition: form-data; name=\"filename\"; filename=\"C:\\up\\sales.xls\"\r\n"
         "Content-Type: application/vnd.ms-excel\r\n\r\n" + workbook + "\r\n--zz--\r\n";
}

std::vector<Req> Requests(const fs::path& folder) {
  const std::string workbook = testing_support::ReadText(folder / "obst.xls");
  return {
      {"default chart", "GET", "", "", ""},
      {"workbook chart", "GET", "filename=obst.xls&style=3&3D=yes", "", ""},
      {"missing workbook", "GET", "filename=none.xls", "", ""},
      {"POST body", "POST", "style=6", "application/x-www-form-urlencoded", "filename=obst.xls&style=1"},
      {"multipart upload", "POST", "", "multipart/form-data; boundary=zz", Multipart(workbook)},
  };
}

class LibraryHost : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library's folder is the program's folder: workbooks and the Log
    // folder live there.
    fs::copy_file(GRAFOLIO_LIBRARY, dir_.path() / "libgrafolio.so");
    fs::copy_file(GRAFOLIO_PROGRAM, dir_.path() / "grafolio");
    fs::copy_file(SourceWorkbook(), dir_.path() / "obst.xls");
    server_ = ::dlopen(NS_HTTPD_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(server_, nullptr) << ::dlerror();
    library_ = ::dlopen((dir_.path() / "libgrafolio.so").c_str(), RTLD_NOW);
    ASSERT_NE(library_, nullptr) << ::dlerror();
  }
  template <typename F>
  F Entry(const char* name) {
    auto* f = reinterpret_cast<F>(::dlsym(library_, name));
    EXPECT_NE(f, nullptr) << name;
    return f;
  }
  static fs::path SourceWorkbook() { return testing_support::SourceDir() / "tests/fixtures/workbooks/obst.xls"; }

  // The CGI program's answer to the same request.
  std::string Cgi(const Req& r, const std::string& software) {
    const fs::path in = dir_.path() / "cgi.in";
    const fs::path out = dir_.path() / "cgi.out";
    testing_support::WriteText(in, r.body);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::clearenv();
      ::setenv("SERVER_SOFTWARE", software.c_str(), 1);
      ::setenv("REQUEST_METHOD", r.method.c_str(), 1);
      ::setenv("QUERY_STRING", r.query.c_str(), 1);
      if (!r.body.empty()) {
        ::setenv("CONTENT_TYPE", r.contentType.c_str(), 1);
        ::setenv("CONTENT_LENGTH", std::to_string(r.body.size()).c_str(), 1);
      }
      if (!std::freopen(in.c_str(), "rb", stdin) || !std::freopen(out.c_str(), "wb", stdout)) ::_exit(127);
      ::execl((dir_.path() / "grafolio").c_str(), "grafolio", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return testing_support::ReadText(out);
  }

  // The answer without its ETag and Last-Modified lines, which name the
  // program file (the library here, the program there); `lines` counts them.
  static std::string WithoutValidators(std::string answer, int& lines) {
    lines = 0;
    for (const char* name : {"\r\nETag:", "\r\nLast-Modified:"}) {
      const auto at = answer.find(name);
      if (at == std::string::npos || at > answer.find("\r\n\r\n")) continue;
      answer.erase(at, answer.find("\r\n", at + 2) - at);
      ++lines;
    }
    return answer;
  }

  // The answer equals the CGI program's but for the validators, is a chart
  // (with both validators) or the message page, and no upload file is left.
  void CheckAnswer(const Req& r, const std::string& answer, const std::string& software) {
    int lines = 0;
    int cgiLines = 0;
    EXPECT_TRUE(WithoutValidators(answer, lines) == WithoutValidators(Cgi(r, software), cgiLines))
        << r.what << ": " << answer.substr(0, 120);
    const bool page = r.what == std::string("missing workbook");
    EXPECT_EQ(lines, page ? 0 : 2) << r.what;
    EXPECT_EQ(cgiLines, lines) << r.what;
    EXPECT_NE(answer.find(page ? "not found" : "GIF89a"), std::string::npos) << r.what;
    for (const auto& entry : fs::directory_iterator(dir_.path())) EXPECT_NE(entry.path().extension(), ".tmp");
  }
  testing_support::TempDir dir_;
  void* server_ = nullptr;
  void* library_ = nullptr;
};

// The server's side of one ISAPI request.
struct IsapiConnection {
  std::map<std::string, std::string> variables;
  std::string body;
  std::size_t pos = 0;
  std::string output;
  static IsapiConnection& Of(HCONN c) { return *static_cast<IsapiConnection*>(c); }
  static BOOL GetServerVariable(HCONN c, char* name, void* buffer, DWORD* size) {
    const auto it = Of(c).variables.find(name);
    if (it == Of(c).variables.end()) return 0;
    const bool fits = *size >= it->second.size() + 1;
    if (fits) std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
    *size = static_cast<DWORD>(it->second.size() + 1);
    return fits;
  }
  static BOOL WriteClient(HCONN c, void* buffer, DWORD* bytes, DWORD) {
    Of(c).output.append(static_cast<const char*>(buffer), *bytes);
    return 1;
  }
  static BOOL ReadClient(HCONN c, void* buffer, DWORD* size) {
    auto& conn = Of(c);
    const std::size_t n = std::min<std::size_t>({*size, 777, conn.body.size() - conn.pos});
    std::memcpy(buffer, conn.body.data() + conn.pos, n);
    conn.pos += n;
    *size = static_cast<DWORD>(n);
    return 1;
  }
  static BOOL ServerSupportFunction(HCONN, DWORD, void*, DWORD*, DWORD*) { return 1; }
};
}  // namespace

TEST_F(LibraryHost, ISAPIRequests) {
  auto version = Entry<BOOL (*)(HSE_VERSION_INFO*)>("GetExtensionVersion");
  auto proc = Entry<DWORD (*)(EXTENSION_CONTROL_BLOCK*)>("HttpExtensionProc");
  auto filterVersion = Entry<BOOL (*)(HTTP_FILTER_VERSION*)>("GetFilterVersion");
  auto filterProc = Entry<DWORD (*)(HTTP_FILTER_CONTEXT*, DWORD, void*)>("HttpFilterProc");
  auto terminate = Entry<BOOL (*)(DWORD)>("TerminateExtension");
  ASSERT_TRUE(version && proc && filterVersion && filterProc && terminate);
  HSE_VERSION_INFO info{};
  EXPECT_TRUE(version(&info));
  EXPECT_EQ(info.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(info.lpszExtensionDesc, "GATEKIT 4.0.1");
  HTTP_FILTER_VERSION filter{};
  EXPECT_TRUE(filterVersion(&filter));
  EXPECT_EQ(filter.dwFilterVersion, 0x20000u);
  char raw[] = "GET /scripts/grafolio.dll?style=2 HTTP/1.0\r\nCookie: s=1\r\n\r\n";
  HTTP_FILTER_RAW_DATA data{raw, sizeof raw - 1, sizeof raw, 0};
  HTTP_FILTER_CONTEXT context{};
  EXPECT_EQ(filterProc(&context, SF_NOTIFY_READ_RAW_DATA, &data), SF_STATUS_REQ_NEXT_NOTIFICATION);
  const std::string software = "Microsoft-IIS/5.0";
  for (const auto& r : Requests(dir_.path())) {
    IsapiConnection conn;
    conn.variables = {{"SERVER_SOFTWARE", software}, {"REQUEST_METHOD", r.method}, {"SCRIPT_NAME", "/grafolio.dll"}};
    if (!r.body.empty()) {
      conn.variables["CONTENT_TYPE"] = r.contentType;
      conn.variables["CONTENT_LENGTH"] = std::to_string(r.body.size());
    }
    conn.body = r.body;
    std::string method = r.method, query = r.query, type = r.contentType, empty;
    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.cbSize = sizeof ecb, ecb.ConnID = &conn, ecb.lpszMethod = method.data(), ecb.lpszQueryString = query.data();
    ecb.lpszPathInfo = ecb.lpszPathTranslated = empty.data(), ecb.lpszContentType = type.data();
    // The server preloads the first bytes of the body; the rest is read.
    ecb.cbTotalBytes = static_cast<DWORD>(r.body.size());
    ecb.cbAvailable = static_cast<DWORD>(std::min<std::size_t>(r.body.size(), 100));
    ecb.lpbData = reinterpret_cast<unsigned char*>(conn.body.data());
    conn.pos = ecb.cbAvailable;
    ecb.GetServerVariable = IsapiConnection::GetServerVariable, ecb.WriteClient = IsapiConnection::WriteClient;
    ecb.ReadClient = IsapiConnection::ReadClient, ecb.ServerSupportFunction = IsapiConnection::ServerSupportFunction;
    EXPECT_EQ(proc(&ecb), HSE_STATUS_SUCCESS) << r.what;
    CheckAnswer(r, conn.output, software);
  }
  EXPECT_TRUE(terminate(0));
}

TEST_F(LibraryHost, NSAPIRequests) {
  auto service = Entry<int (*)(pblock*, void*, void*)>("grafolio_service");
  ASSERT_TRUE(service);
  // Leading members of the server's session and request records.
  struct SessionHead { pblock* client; void* csd; void* inbuf; int csd_open; };
  struct RequestHead { pblock* vars; pblock* reqpb; int loadhdrs; pblock* headers; int senthdrs; pblock* srvhdrs; };
  for (const auto& r : Requests(dir_.path())) {
    const std::string length = std::to_string(r.body.size());
    pblock reqpb{{"method", "uri", "protocol", "query"}, {r.method.c_str(), "/grafolio", "HTTP/1.0", r.query.c_str()}, 4};
    pblock headers{{"user-agent", "content-type", "content-length"}, {"host", r.contentType.c_str(), length.c_str()},
                   r.body.empty() ? 1 : 3};
    pblock client{{"dns"}, {"localhost"}, 1};
    FakeConnection conn{r.body, 0, {}};
    SessionHead sn{&client, &conn, nullptr, 1};
    RequestHead rq{nullptr, &reqpb, 1, &headers, 0, nullptr};
    EXPECT_EQ(service(nullptr, &sn, &rq), 0) << r.what;
    CheckAnswer(r, conn.output, "Netscape-Enterprise/4.1");
  }
}
