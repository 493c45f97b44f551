#include <gtest/gtest.h>

#include "gateways/isapi_engine.h"

TEST(ISAPIFilter, RawRequestData) {
  struct Case { std::string raw; bool post; std::string query; std::string cookie; std::string content; } cases[] = {
      {"GET /x.dll?style=2&a=b HTTP/1.0\r\nCookie: s=1; t=2\r\n\r\n", false, "style=2&a=b", "s=1; t=2", ""},
      {"POST /x.dll?q=1 HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n style=3 \r\n", true,
       "q=1", "", "style=3&q=1"},
      {"POST /x.dll HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\nstyle=3", true, "", "",
       "style=3"},
      {"POST /x.dll HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=b\r\n\r\n--b", true, "", "", ""},
      {"GET /x.dll?cut", false, "cut", "", ""}, {"", false, "", "", ""},
  };
  for (const auto& c : cases) {
    const TRawRequest r = ParseRawRequest(c.raw);
    EXPECT_EQ(r.Post, c.post) << c.raw;
    EXPECT_EQ(r.QueryString, c.query) << c.raw;
    EXPECT_EQ(r.Cookie, c.cookie) << c.raw;
    EXPECT_EQ(r.Content, c.content) << c.raw;
  }
}
