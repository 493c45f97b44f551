#include <gtest/gtest.h>

#include <regex>

#include "gateways/cgi_std_engine.h"
#include "gateways/general_engine.h"
#include "http/http_engine.h"
#include "http/http_fields.h"
#include "http/http_proc_table.h"
#include "support/cgi_harness.h"

TEST(FieldLookup, EdgeCases) {
  struct Case { const char* content; const char* name; const char* fallback; const char* expected; } cases[] = {
      {"Style=3&x=1", "style", "0", "3"},
      {" style =3&x=1", "style", "0", "3"},          // names are trimmed
      {"style=3", " STYLE ", "0", "3"},              // so is the key
      {"style=&x=1", "style", "0", ""},              // empty value, not the default
      {"a=1&b=2&a=3", "a", "", "1\r\n3"},            // repeated fields joined
      {"q=a%2Bb+c%zz", "q", "", "a+b c%zz"},         // bad escape stays
      {"q=%4", "q", "", "%4"},                       // escape cut by the end
      {"q=%41%62%2f", "q", "", "Ab/"},
      {"", "x", "def", "def"},                       // empty content
      {"x=1", "y", "", ""},                          // empty default stays empty
      {"a&b=1", "a&b", "d", "1"},                    // a segment without "=" joins the next name
      {"a&b=1", "b", "d", "d"},
      {"%53tyle=4", "style", "0", "4"},              // names are decoded
      {"x=1&&y=2", "y", "0", "0"},                 // the empty segment joins the next name ("&y")
      {"x=a=b", "x", "", "a=b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LookupField(c.content, c.name, c.fallback), c.expected) << c.content << " / " << c.name;
  }
}

TEST(FieldLookup, NamesList) {
  EXPECT_EQ(FieldNames("a=1&b=2&b=3&c&d=4"), (std::vector<std::string>{"a", "b", "d"}));
  EXPECT_EQ(FieldNames("a=1&b=2&a=3"), (std::vector<std::string>{"a", "b", "a"}));
  EXPECT_EQ(FieldNames("na%6De=1"), (std::vector<std::string>{"name"}));
  EXPECT_TRUE(FieldNames("").empty());
}

TEST(ContentReading, QueryStringOrBody) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string body;
    std::string expectedStyle;
    std::vector<std::string> expectedLog;
  } cases[] = {
      {{{"QUERY_STRING", "style=3"}}, "", "3", {}},
      {{{"QUERY_STRING", "style=3"}, {"CONTENT_LENGTH", "7"}}, "style=4", "4", {}},
      {{{"QUERY_STRING", "style=3"}, {"CONTENT_LENGTH", "0"}}, "", "3", {}},
      {{{"CONTENT_LENGTH", "10000"}}, "style=5" + std::string(10000 - 7, '&'), "5", {}},
      {{{"CONTENT_LENGTH", "10001"}}, "style=5" + std::string(10001 - 7, '&'), "default",
       {"Content length exceeds AutoReadLimit"}},
      {{{"CONTENT_LENGTH", "9"}}, std::string("style=6\0x", 9), "6", {}},   // cut at the zero byte
      {{{"CONTENT_LENGTH", "20"}}, "style=7", "none",                         // body shorter than announced
       {"Unhandled exception : Request body incomplete: 7 of 20 bytes arrived"}},
      {{{"CONTENT_LENGTH", "abc"}}, "", "none",
       {"Unhandled exception : 'abc' ist kein gültiger Integerwert"}},
  };
  for (auto& c : cases) {
    CgiRun run;
    run.env = c.env;
    run.env["SERVER_SOFTWARE"] = "Apache";
    run.body = c.body;
    run.settings.AutoReadLimit = 10000;
    std::string style = "none";
    run.handler = [&](THttpEngine&) { style = HttpFieldValue("style", "default"); };
    run.Run();
    EXPECT_EQ(style, c.expectedStyle) << c.env.begin()->second;
    std::vector<std::string> messages;
    for (const auto& line : run.logLines) messages.push_back(LogMessage(line));
    EXPECT_EQ(messages, c.expectedLog);
  }
}

TEST(EngineSelection, FollowsTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    TEngineKind kind;
    bool listening = false;
  } cases[] = {
      {{{"SERVER_SOFTWARE", "lighttpd"}}, {}, TEngineKind::StandardCgi},
      {{{"SERVER_SOFTWARE", "lighttpd"}, {"CGI_VERSION", "CGI/1.3a (Win)"}}, {}, TEngineKind::WinCgi},
      {{{"SERVER_SOFTWARE", "lighttpd"}, {"CGI_VERSION", "wIn"}}, {}, TEngineKind::WinCgi},
      {{{"SERVER_SOFTWARE", "MyZBServer"}}, {}, TEngineKind::ResidentServer},  // ZB counts as unset
      {{}, {}, TEngineKind::ResidentServer}, {{}, {"request.ini"}, TEngineKind::WinCgi},
      {{{"SERVER_SOFTWARE", "x"}}, {"START_SERVER"}, TEngineKind::ResidentServer}, {{}, {}, TEngineKind::FastCgi, true},
      {{}, {"--fastcgi", "127.0.0.1:9000"}, TEngineKind::FastCgi},
  };
  for (const auto& c : cases) {
    TCgiIO io;
    io.GetEnv = [&](const std::string& name) {
      auto it = c.env.find(name);
      return it == c.env.end() ? std::string() : it->second;
    };
    io.InputListening = c.listening;
    EXPECT_EQ(SelectEngineKind(io, c.args), c.kind);
  }
}

TEST(ServerVariables, NamesAndFallbacks) {
  CgiRun run;
  run.env = {{"SERVER_SOFTWARE", "Apache"}, {"SCRIPT_NAME", "/cgi-bin/grafolio"}, {"REMOTE_ADDRESS", "10.0.0.1"},
             {"QUERY_STRING", std::string(kNotAvailable)}};
  std::vector<std::string> seen;
  run.handler = [&](THttpEngine& e) {
    seen = {e.GetServerVariable("EXECUTABLE PATH"), e.GetExecutablePath(), e.GetScriptName(), e.GetRemoteAddr(),
            e.GetQueryString(), e.GetServerVariable("server software"), std::to_string(e.GetContentLength())};
  };
  run.Run();
  EXPECT_EQ(seen, (std::vector<std::string>{"/cgi-bin/grafolio", "/cgi-bin/grafolio", "/cgi-bin/grafolio",
                                            "10.0.0.1", "", "Apache", "0"}));
}

TEST(ResponseBytes, HeaderRules) {
  auto gif = [](THttpEngine&) { SetBinaryKind(2), HttpWriteBinary("GIF89a", 6); };
  auto html = [](THttpEngine&) { HttpWriteLine("<html>"); };
  auto nothing = [](THttpEngine&) {};
  struct Case {
    const char* name;
    std::string software;
    bool buffered;
    std::function<void(THttpEngine&)> handler;
    std::string expected;
  } cases[] = {
      {"gif, status line", "lighttpd/1.4", false, gif, "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\nGIF89a"},
      {"gif, Apache", "Apache/2.4", false, gif, "content-type:image/gif\r\n\r\nGIF89a"},
      {"gif, Netscape", "Netscape-Enterprise", false, gif, "content-type:image/gif\r\n\r\nGIF89a"},
      {"html", "lighttpd", false, html, "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<html>\r\n"},
      {"no body", "lighttpd", false, nothing, "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n"},
      {"location first", "lighttpd", false,
       [](THttpEngine&) { HttpWriteHeader("Location", "/x"), HttpWriteText("\r\n"); },
       "Location:/x\r\ncontent-type:text/html\r\n\r\n\r\n"},
      {"content-type first", "lighttpd", false,
       [](THttpEngine& e) {
         e.WriteHeader("Content-Type", "text/plain"), RequestState().HeaderSent = true;
         e.EndHeader(), HttpWriteText("hi");
       },
       "HTTP/1.1 200 OK\r\nContent-Type:text/plain\r\n\r\nhi"},
      {"hand-written header line", "Apache", false,
       [](THttpEngine&) { HttpWriteText("Set-Cookie:a=b\r\n"), HttpWriteText("<p>"); },
       "Set-Cookie:a=b\r\ncontent-type:text/html\r\n\r\n<p>"},
      {"buffered with header", "lighttpd", true, html,
       "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\ncontent-length:8\r\n\r\n<html>\r\n"},
      {"buffered gif", "Apache", true, gif, "content-type:image/gif\r\ncontent-length:6\r\n\r\nGIF89a"},
      {"buffered without CR LF CR LF", "Apache", true,
       [](THttpEngine&) {
         RequestState().HeaderSent = true, HttpWriteText("raw\r\nbytes"), HttpWriteText(""), HttpWriteBinary("x", 0);
       },
       "raw\r\nbytes"},
      {"exception", "lighttpd", false, [](THttpEngine&) { throw std::runtime_error("boom"); }, ""},
      {"exception after output", "lighttpd", false,
       [](THttpEngine&) { HttpWriteText("<p>"), throw std::runtime_error("boom"); },
       "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<p>"},
  };
  for (auto& c : cases) {
    CgiRun run;
    run.env = {{"SERVER_SOFTWARE", c.software}};
    run.settings.BufferedOutput = c.buffered;
    run.handler = c.handler;
    run.Run();
    EXPECT_EQ(run.output, c.expected) << c.name;
  }
}

// Cache validators ride on a binary answer only; a 304 keeps the status-line
// rules (a Status line where no status line is written); HEAD gets the
// header of the GET with the image's length and no body.
TEST(ResponseBytes, AnswerHeadersStatusAndHead) {
  auto validators = [] { HttpAddAnswerHeader("ETag", "\"1\""), HttpAddAnswerHeader("Last-Modified", "D"); };
  auto image = [&](THttpEngine&) { validators(), SetBinaryKind(2), HttpWriteImage("GIF89a", 6); };
  auto notModified = [&](THttpEngine& e) { validators(), e.WriteHeaderOnlyAnswer("304 Not Modified"); };
  auto page = [&](THttpEngine&) { validators(), HttpWriteLine("<html>"); };
  struct Case {
    std::string software, method;
    std::function<void(THttpEngine&)> handler;
    std::string expected;
  } cases[] = {
      {"lighttpd", "GET", image, "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\nETag:\"1\"\r\nLast-Modified:D\r\n\r\nGIF89a"},
      {"Apache", "GET", image, "content-type:image/gif\r\nETag:\"1\"\r\nLast-Modified:D\r\n\r\nGIF89a"},
      {"lighttpd", "HEAD", image,
       "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\nETag:\"1\"\r\nLast-Modified:D\r\ncontent-length:6\r\n\r\n"},
      {"Apache", "HEAD", image, "content-type:image/gif\r\nETag:\"1\"\r\nLast-Modified:D\r\ncontent-length:6\r\n\r\n"},
      {"lighttpd", "GET", notModified, "HTTP/1.1 304 Not Modified\r\nETag:\"1\"\r\nLast-Modified:D\r\n\r\n"},
      {"Apache/2.4", "GET", notModified, "Status:304 Not Modified\r\nETag:\"1\"\r\nLast-Modified:D\r\n\r\n"},
      {"Netscape", "HEAD", notModified, "Status:304 Not Modified\r\nETag:\"1\"\r\nLast-Modified:D\r\n\r\n"},
      {"lighttpd", "GET", page, "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<html>\r\n"},
      {"lighttpd", "HEAD", page, "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n<html>\r\n"},
  };
  for (auto& c : cases) {
    for (const bool buffered : {false, true}) {
      CgiRun run;
      run.env = {{"SERVER_SOFTWARE", c.software}, {"REQUEST_METHOD", c.method}};
      run.handler = c.handler;
      run.settings.BufferedOutput = buffered;
      run.Run();
      // Buffered, a body gets its length; a HEAD or 304 header stays as it is.
      std::string expected = c.expected;
      const std::size_t end = expected.find("\r\n\r\n");
      const std::string body = expected.substr(end + 4);
      if (buffered && !body.empty()) expected.insert(end + 2, "content-length:" + std::to_string(body.size()) + "\r\n");
      EXPECT_EQ(run.output, expected) << c.software << " " << c.method << (buffered ? " buffered" : "");
    }
  }
  // A request never inherits the answer headers of the one before it.
  CgiRun run;
  run.env = {{"SERVER_SOFTWARE", "lighttpd"}};
  run.handler = [](THttpEngine&) { SetBinaryKind(2), HttpWriteImage("GIF89a", 6); };
  run.Run();
  EXPECT_EQ(run.output, "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\nGIF89a");
}

TEST(ResponseBytes, NoCacheLines) {
  CgiRun run;
  run.env = {{"SERVER_SOFTWARE", "Apache"}};
  run.settings.NoCache = true;
  run.handler = [](THttpEngine&) { HttpWriteText("<b>"); };
  run.Run();
  const std::regex shape(
      "content-type:text/html\r\nPragma:no-cache\r\nCache-Control:no-cache\r\n"
      "Expires:(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \\d{4} "
      "\\d\\d:\\d\\d:\\d\\d GMT\r\n"
      "Document Expires:[^\r]+ GMT\r\n\r\n<b>");
  EXPECT_TRUE(std::regex_match(run.output, shape)) << run.output;
}

TEST(RequestLog, LinesOfOneRequestShareTheirId) {
  CgiRun run;
  run.env = {{"SERVER_SOFTWARE", "Apache"}, {"CONTENT_LENGTH", "20000"}};
  run.settings.AutoReadLimit = 10000;
  run.handler = [](THttpEngine&) { throw std::runtime_error("second line"); };
  run.Run();
  ASSERT_EQ(run.logLines.size(), 2u);
  const std::regex line("(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d),  (\\d{1,3}) : (.*)");
  std::smatch a, b;
  ASSERT_TRUE(std::regex_match(run.logLines[0], a, line)) << run.logLines[0];
  ASSERT_TRUE(std::regex_match(run.logLines[1], b, line)) << run.logLines[1];
  EXPECT_EQ(a[2], b[2]);
  EXPECT_EQ(a[3], "Content length exceeds AutoReadLimit");
  EXPECT_EQ(b[3], "Unhandled exception : second line");
}

TEST(RequestCycle, EventsInOrderAndIdResetAfterwards) {
  std::vector<std::string> order;
  CgiRun run;
  run.env = {{"SERVER_SOFTWARE", "Apache"}};
  run.settings.OnFirstExecRequest = [&](THttpEngine&) { order.push_back("first"); };
  run.settings.OnLastExecRequest = [&](THttpEngine&) { order.push_back("last"); };
  run.handler = [&](THttpEngine&) {
    order.push_back("exec");
    EXPECT_GE(RequestState().RequestId, 0);
    EXPECT_LE(RequestState().RequestId, 999);
  };
  run.Run();
  EXPECT_EQ(order, (std::vector<std::string>{"first", "exec", "last"}));
  EXPECT_EQ(RequestState().RequestId, 0);
}

TEST(RequestCycle, OnRequestErrorReplacesTheLogLine) {
  std::string reported;
  CgiRun run;
  run.env = {{"SERVER_SOFTWARE", "Apache"}};
  run.settings.OnRequestError = [&](THttpEngine&, const std::exception& e) { reported = e.what(); };
  run.handler = [](THttpEngine&) { throw std::runtime_error("bad"); };
  run.Run();
  EXPECT_EQ(reported, "bad");
  EXPECT_TRUE(run.logLines.empty());
}
