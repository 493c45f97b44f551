#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>

#include "resident/cgi_exchange.h"
#include "resident/cgi_server.h"
#include "resident/exchange_clock.h"
#include "support/cgi_harness.h"

namespace {
using testing_support::ReadText;
using testing_support::TempDir;
using testing_support::WriteText;
}  // namespace

TEST(QueueRecord, BytesAndRoundTrip) {
  TQueueRecord record{kRecordAnswered, 46000.5, "/TMP/TEMP/GRAFOLIO_C_00AF_REQ"};
  const auto bytes = EncodeQueueRecord(record);
  std::string expected = std::string("\x02\0\0\0\0\0\0\0\x10\x76\xE6\x40", 12) + record.RequestName;
  expected.resize(kQueueRecordSize, '\0');
  EXPECT_EQ(std::string(bytes.data(), bytes.size()), expected);
  EXPECT_EQ(DecodeQueueRecord(bytes.data()), record);

  // A name is cut to 255 characters; the last byte stays zero.
  const auto longName = EncodeQueueRecord({kRecordWaiting, 0, std::string(300, 'N')});
  EXPECT_EQ(longName[266], 'N');
  EXPECT_EQ(longName[267], '\0');
  EXPECT_EQ(DecodeQueueRecord(longName.data()).RequestName, std::string(255, 'N'));
  // Only the first status byte counts, and a name without zero ends at 255.
  auto raw = std::string(kQueueRecordSize, 'X');
  raw[0] = 1;
  EXPECT_EQ(DecodeQueueRecord(raw.data()).Status, 1);
  EXPECT_EQ(DecodeQueueRecord(raw.data()).RequestName.size(), 255u);
}

TEST(RequestFile, HeadFormatAndParsing) {
  EXPECT_EQ(RequestFileHead({"A=1", "QUERY_STRING=x y"}), "A=1\r\nQUERY_STRING=x y\r\nKESTREL_CGI_DEBUG=true\r\n\r\n");
  struct Case { std::string bytes; std::optional<std::size_t> length; std::vector<std::string> lines; } cases[] = {
      {RequestFileHead({"A=1", "B="}) + "body\r\n\r\n", 35, {"A=1", "B=", "KESTREL_CGI_DEBUG=true"}},
      {"\r\n\r\nbody", 4, {}},
      {"A=1\r\nB=2\r\n", std::nullopt, {}},                    // cut before the empty line
      {"A=1\r\n\r", std::nullopt, {}},
      {std::string(kMaxRequestHead, 'x') + "\r\n\r\n", std::nullopt, {}},  // too long a head
      {"A=1\nB=2\r\n\r\n", 11, {"A=1\nB=2"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    EXPECT_EQ(ParseRequestHead(c.bytes, lines), c.length) << c.bytes.substr(0, 40);
    if (c.length) {
      EXPECT_EQ(lines, c.lines);
    }
    // Read from a file in pieces of any size, the head is the same and the
    // bytes beyond it are the body's start.
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{8192}}) {
      std::size_t at = 0;
      const auto head = ReadRequestFileHead([&](char* buffer, std::size_t count) {
        const std::size_t n = std::min({count, piece, c.bytes.size() - at});
        std::copy_n(c.bytes.data() + at, n, buffer);
        at += n;
        return n;
      });
      EXPECT_EQ(head.Complete, c.length.has_value()) << piece;
      EXPECT_EQ(head.Lines, c.length ? c.lines : std::vector<std::string>{}) << piece;
      EXPECT_EQ(head.BodyStart, c.length ? c.bytes.substr(*c.length, head.BodyStart.size()) : "") << piece;
    }
  }
  EXPECT_EQ(RequestVariable({"QUERY_STRING=a=1", "QUERY=x", "query_string=b", "EMPTY="}, "QUERY_STRING"), "a=1");
  EXPECT_EQ(RequestVariable({"QUERY_STRINGX=1", "EMPTY="}, "QUERY_STRING"), "");
  EXPECT_EQ(RequestVariable({"EMPTY="}, "EMPTY"), "");
}

TEST(AnswerCopy, InsertsContentLength) {
  const std::string big(5000, 'b');
  struct Case { std::string answer; std::string expected; } cases[] = {
      {"content-type:image/gif\r\n\r\nGIF89a", "content-type:image/gif\r\nContent-Length: 6\r\n\r\nGIF89a"},
      {"a:b\r\n\r\n", "a:b\r\nContent-Length: 0\r\n\r\n"},
      {"a:b\r\n\r\n" + big, "a:b\r\nContent-Length: 5000\r\n\r\n" + big},
      {"a:b\r\n\r\nx\r\n\r\ny", "a:b\r\nContent-Length: 6\r\n\r\nx\r\n\r\ny"},  // the first one counts
      {"no header end\r\n", "no header end\r\n"}, {"", ""},
      {std::string(1030, 'h') + "\r\n\r\nbody", std::string(1030, 'h') + "\r\n\r\nbody"},  // beyond 1024 bytes
      // A HEAD answer brings its own length, a 304 has none at all.
      {"a:b\r\ncontent-length:9\r\n\r\n", "a:b\r\ncontent-length:9\r\n\r\n"},
      {"HTTP/1.1 304 Not Modified\r\nETag:\"1\"\r\n\r\n", "HTTP/1.1 304 Not Modified\r\nETag:\"1\"\r\n\r\n"},
      {"Status:304 Not Modified\r\n\r\n", "Status:304 Not Modified\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nX:304 \r\n\r\n", "HTTP/1.1 200 OK\r\nX:304 \r\nContent-Length: 0\r\n\r\n"},
  };
  TempDir dir;
  const std::string file = dir.str() + "/answer";
  for (const auto& c : cases) {
    WriteText(file, c.answer);
    std::string out;
    EXPECT_TRUE(CopyAnswer(file, [&](const char* data, std::size_t n) { out.append(data, n); }));
    EXPECT_EQ(out, c.expected) << c.answer.substr(0, 30);
  }
  EXPECT_FALSE(CopyAnswer(dir.str() + "/missing", [](const char*, std::size_t) {}));
}

TEST(ClientQueue, IdCollisionFilesAndStaleCleanUp) {
  Exchange x;
  x.CreateQueue();
  TCgiServerClient first(x.paths, x.clock.Clock()), second(x.paths, x.clock.Clock());
  first.DrawId = [] { return 0x2A; };
  int draws = 0;
  second.DrawId = [&] { return ++draws < 3 ? 0x2A : 0xBEEF; };
  ASSERT_TRUE(first.Queue({"QUERY_STRING=a"}, "body1"));
  ASSERT_TRUE(second.Queue({"QUERY_STRING=b"}, ""));
  EXPECT_EQ(first.Id(), "002A");
  EXPECT_EQ(second.Id(), "BEEF");  // drawn again on the collision
  EXPECT_EQ(ReadText(x.paths.Request("002A")), "QUERY_STRING=a\r\nKESTREL_CGI_DEBUG=true\r\n\r\nbody1");
  struct stat st {};
  ASSERT_EQ(::stat(x.paths.Request("BEEF").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::vector<TQueueRecord> records;
  ASSERT_EQ(ReadQueue(x.paths, records, x.clock.Clock(), 1, 0), TQueueAccess::Done);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].RequestName, UpperCaseName(x.paths.Request("BEEF")));
  EXPECT_EQ(records[1].Status, kRecordWaiting);
  EXPECT_NEAR(records[1].QueuedAt, LocalDateTime(x.clock.now), 1e-9);

  // No queue: nothing is queued and no request file stays.
  ::unlink(x.paths.Queue().c_str());
  TCgiServerClient third(x.paths, x.clock.Clock());
  EXPECT_FALSE(third.Queue({}, ""));

  // Stale clean-up: a queue untouched for 30 s (no server) goes, and with it
  // every request and answer file of a client that is gone; a fresh one
  // keeps them. A client still waiting keeps its request file.
  struct Case { double age; bool queueKept; } cases[] = {{10, true}, {31, false}};
  for (const auto& c : cases) {
    x.CreateQueue();
    WriteText(x.paths.Answer("0001"), "x");
    WriteText(x.paths.Request("0002"), "x");
    SetFileTime(x.paths.Queue(), x.clock.now - c.age);
    TCgiServerClient client(x.paths, x.clock.Clock());
    client.CleanStaleFiles();
    EXPECT_EQ(::access(x.paths.Queue().c_str(), F_OK) == 0, c.queueKept) << c.age;
    EXPECT_EQ(::access(x.paths.Answer("0001").c_str(), F_OK) == 0, c.queueKept) << c.age;
    EXPECT_EQ(::access(x.paths.Request("0002").c_str(), F_OK) == 0, c.queueKept) << c.age;
    EXPECT_EQ(::access(x.paths.Request("002A").c_str(), F_OK), 0) << c.age;
  }
}

TEST(ClientWait, TimeLimits) {
  // Heartbeat: a lock file that nobody touches for 30 s means the server is
  // gone. Wait limit: with a beating server the client gives up after 180 s.
  // Either way the client's request file is deleted; the queue stays.
  struct Case { bool beating; TCgiServerClient::TResult result; double seconds; } cases[] = {
      {false, TCgiServerClient::TResult::ServerGone, 30}, {true, TCgiServerClient::TResult::TimedOut, 180},
  };
  for (const auto& c : cases) {
    Exchange x;
    x.CreateQueue();
    WriteText(x.paths.Lock(), "1\n");
    SetFileTime(x.paths.Lock(), x.clock.now);
    TCgiServerClient client(x.paths, x.clock.Clock());
    ASSERT_TRUE(client.Queue({"A=1"}, ""));
    if (c.beating) x.clock.onWait = [&] { SetFileTime(x.paths.Lock(), x.clock.now); };
    const double start = x.clock.now;
    EXPECT_EQ(client.WaitForAnswer([](const char*, std::size_t) {}), c.result);
    EXPECT_NEAR(x.clock.now - start, c.seconds, 0.5);
    EXPECT_EQ(::access(x.paths.Queue().c_str(), F_OK), 0);
    EXPECT_NE(::access(x.paths.Request(client.Id()).c_str(), F_OK), 0);
  }
}

TEST(ServerQueue, KeepsEveryRecordBeyondSixtyFive) {
  Exchange x;
  TCgiServerQueue server(x.paths, x.clock.Clock());
  ASSERT_TRUE(server.Open());
  for (int i = 0; i < 100; ++i) {
    char id[8];
    std::snprintf(id, sizeof id, "%04X", i);
    WriteText(x.paths.Request(id), "A=1\r\n\r\n");
    ASSERT_EQ(AppendQueueRecord(x.paths, {kRecordWaiting, 1.0 * i, UpperCaseName(x.paths.Request(id))}, x.clock.Clock(),
                                1, 0),
              TQueueAccess::Done);
  }
  bool gone = false;
  const auto taken = server.TakeNext(gone);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->RequestName, UpperCaseName(x.paths.Request("0000")));
  server.Finish(taken->RequestName);
  EXPECT_NE(::access(x.paths.Request("0000").c_str(), F_OK), 0);
  std::vector<TQueueRecord> records;
  ASSERT_EQ(ReadQueue(x.paths, records, x.clock.Clock(), 1, 0), TQueueAccess::Done);
  ASSERT_EQ(records.size(), 99u);
  for (int i = 0; i < 99; ++i) EXPECT_EQ(records[i].QueuedAt, i + 1.0);

  // Nothing waiting: the heartbeat touches the queue; a deleted queue is seen.
  const auto next = server.TakeNext(gone);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Status, kRecordTaken);
  ::unlink(x.paths.Queue().c_str());
  EXPECT_FALSE(server.TakeNext(gone));
  EXPECT_TRUE(gone);
}

TEST(ServerEngine, ServesQueuedRequestsAndRefusesMalformedOnes) {
  Exchange x;
  RegisterHttpProcTable();
  THttpEngineSettings settings;
  settings.AutoReadLimit = 10000;
  settings.OnExecRequest = [](THttpEngine&) {
    HttpWriteText("<p>" + HttpFieldValue("style", "none") + " " + HttpServerVariable("REMOTE ADDR") + "</p>");
  };
  TCgiServerEngine engine(settings, x.paths, x.clock.Clock());
  // head: environment block, or raw bytes when not well formed
  struct Case { std::string head; std::string body; std::string expected; } cases[] = {
      {RequestFileHead({"SERVER_SOFTWARE=lighttpd", "QUERY_STRING=style=3", "REMOTE_ADDR=10.1.2.3"}), "",
       "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\nContent-Length: 17\r\n\r\n<p>3 10.1.2.3</p>"},
      {RequestFileHead({"SERVER_SOFTWARE=Apache", "CONTENT_LENGTH=7", "QUERY_STRING=style=1"}), "style=5",
       "content-type:text/html\r\nContent-Length: 9\r\n\r\n<p>5 </p>"},
      {"SERVER_SOFTWARE=lighttpd\r\nQUERY_STRING=style=3", "", ""},  // no end of the head
  };
  for (const auto& c : cases) {
    x.CreateQueue();
    TCgiServerClient client(x.paths, x.clock.Clock());
    ASSERT_TRUE(client.Queue({}, ""));
    WriteText(x.paths.Request(client.Id()), c.head + c.body);
    bool gone = false;
    TCgiServerQueue taker(x.paths, x.clock.Clock());
    const auto taken = taker.TakeNext(gone);
    ASSERT_TRUE(taken);
    engine.Serve(*taken);
    std::string out;
    EXPECT_EQ(client.WaitForAnswer([&](const char* d, std::size_t n) { out.append(d, n); }),
              TCgiServerClient::TResult::Answered);
    EXPECT_EQ(out, c.expected);
    EXPECT_NE(::access(x.paths.Answer(client.Id()).c_str(), F_OK), 0);  // the client deleted it
  }
  SetCurrentHttpEngine(nullptr);
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(x.dir.path() / "Log")) log += ReadText(entry.path());
  EXPECT_NE(log.find("Malformed CGI server request file"), std::string::npos);
}

TEST(ServerEngine, PollLoopServesClientsAndEndsWithItsQueue) {
  for (const TCGIMode mode : {TCGIMode::ServerMode, TCGIMode::ServerThreadMode}) {
    Exchange x;
    RegisterHttpProcTable();
    THttpEngineSettings settings;
    settings.CGIMode = mode;
    std::mutex serving;  // the handler is not reentrant, as the driver is not
    settings.OnExecRequest = [&](THttpEngine&) {
      std::lock_guard lock(serving);
      HttpWriteText("<p>" + HttpFieldValue("n", "") + "</p>");
    };
    TCgiServerEngine engine(settings, x.paths, WakingClock(x.paths));
    std::thread server([&] { engine.Start(); });
    for (int i = 0; i < 100 && !ServerRunning(x.paths); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(ServerRunning(x.paths));
    std::vector<std::string> answers(8);
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i) {
      clients.emplace_back([&, i] {
        TCgiServerClient client(x.paths, WakingClock(x.paths));
        client.ServerSeen = true;
        if (!client.Queue({"SERVER_SOFTWARE=Apache", "QUERY_STRING=n=" + std::to_string(i)}, "")) return;
        client.WaitForAnswer([&](const char* d, std::size_t n) { answers[i].append(d, n); });
      });
    }
    for (auto& c : clients) c.join();
    for (int i = 0; i < 8; ++i) {
      const std::string body = "<p>" + std::to_string(i) + "</p>";
      EXPECT_EQ(answers[i], "content-type:text/html\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    // A second server of the same program does not start.
    TCgiServerEngine second(settings, x.paths, SystemClock());
    second.Start();
    EXPECT_FALSE(second.Opened());
    const auto deleted = std::chrono::steady_clock::now();
    ::unlink(x.paths.Queue().c_str());
    server.join();
    EXPECT_LT(std::chrono::steady_clock::now() - deleted, std::chrono::milliseconds(500));
    EXPECT_FALSE(ServerRunning(x.paths));
    SetCurrentHttpEngine(nullptr);
  }
}
