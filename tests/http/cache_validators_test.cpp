#include <gtest/gtest.h>

#include <set>

#include "http/cache_validators.h"

namespace {
constexpr std::int64_t kNov1994 = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
}  // namespace

TEST(CacheValidators, HttpDates) {
  struct Case { const char* text; std::optional<std::int64_t> seconds; } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kNov1994},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kNov1994},
      {"Sun Nov  6 08:49:37 1994", kNov1994},
      {"  Sun, 06 Nov 1994 08:49:37 GMT ; length=1234", kNov1994},  // old browsers' suffix
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Tuesday, 29-Feb-00 12:00:00 GMT", 951825600},  // 00 is 2000, a leap year
      {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
      {"Sat, 31 Dec 2039 23:59:60 GMT", 2208988800},   // a leap second counts as the next one
      {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
      {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 31 Apr 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 29 Feb 1900 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:60:00 GMT", std::nullopt},
      {"Sun, 06 Xyz 1994 08:49:37 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 GMTx", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:3", std::nullopt},
      {"Sun Nov 6 08:49:37 1994", std::nullopt},
      {"Sunday, 06-Nov-1994 08:49:37 GMT", std::nullopt},
      {"Xxx, 06 Nov 1994 08:49:37 GMT", std::nullopt},
      {"784111777", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseHttpDate(c.text), c.seconds) << c.text;
  EXPECT_EQ(FormatHttpDate(kNov1994), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(1796471595), "Sat, 05 Dec 2026 11:53:15 GMT");
  for (std::int64_t t : {std::int64_t{0}, kNov1994, std::int64_t{951825600}, std::int64_t{4102444799}}) {
    EXPECT_EQ(ParseHttpDate(FormatHttpDate(t)), t) << t;
  }
}

TEST(CacheValidators, IfNoneMatchLists) {
  const char* tag = "\"00c3f1a29b7e4d10\"";
  struct Case { const char* field; bool matches; } cases[] = {
      {"\"00c3f1a29b7e4d10\"", true},
      {"W/\"00c3f1a29b7e4d10\"", true},  // weak comparison
      {"\"aa\", \"00c3f1a29b7e4d10\"", true},
      {"\"aa\",W/\"00c3f1a29b7e4d10\" , \"bb\"", true},
      {" , \"00c3f1a29b7e4d10\",", true},  // empty elements are skipped
      {"*", true},
      {" * ", true},
      {"\"a,b\", \"00c3f1a29b7e4d10\"", true},  // a comma inside quotes belongs to its tag
      {"\"00C3F1A29B7E4D10\"", false},          // tags compare with case
      {"\"00c3f1a29b7e4d1\"", false},
      {"00c3f1a29b7e4d10", false},  // not quoted: not a tag
      {"\"aa\", 00c3f1a29b7e4d10", false},
      {"\"00c3f1a29b7e4d10\", junk", false},  // a malformed list matches nothing
      {"\"00c3f1a29b7e4d10", false},
      {"w/\"00c3f1a29b7e4d10\"", false},  // the weak prefix is "W/"
      {"\"a\"b\", \"00c3f1a29b7e4d10\"", false},
      {"*, \"00c3f1a29b7e4d10\"", false},
      {"", false},
      {",", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IfNoneMatchMatches(c.field, tag), c.matches) << c.field;
  EXPECT_TRUE(IfNoneMatchMatches("\"x\"", "W/\"x\""));
  EXPECT_FALSE(IfNoneMatchMatches("*", "not a tag"));
}

TEST(CacheValidators, ConditionalRequests) {
  const std::string tag = "\"t1\"";
  const std::int64_t modified = kNov1994;
  const std::int64_t now = kNov1994 + 3600;
  const std::string at = "Sun, 06 Nov 1994 08:49:37 GMT";
  const std::string before = "Sun, 06 Nov 1994 08:49:36 GMT";
  const std::string later = "Sun, 06 Nov 1994 09:00:00 GMT";
  const std::string future = "Sun, 06 Nov 1994 10:00:00 GMT";
  using enum TConditionalAnswer;
  struct Case { std::string method, ifNoneMatch, ifModifiedSince; TConditionalAnswer answer; } cases[] = {
      {"GET", "\"t1\"", "", NotModified},
      {"HEAD", "\"t1\"", "", NotModified},
      {"POST", "\"t1\"", "", Full},
      {"get", "\"t1\"", "", Full},  // methods compare with case
      {"GET", "\"t2\"", "", Full},
      {"GET", "\"t2\"", at, Full},     // If-None-Match decides alone
      {"GET", "\"t1\"", before, NotModified},
      {"GET", "", at, NotModified},    // not older than Last-Modified
      {"GET", "", later, NotModified},
      {"GET", "", before, Full},
      {"GET", "", future, Full},       // a date in the future is invalid
      {"GET", "", "yesterday", Full},
      {"POST", "", later, Full},
      {"GET", "", "", Full},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EvaluateConditional(c.method, c.ifNoneMatch, c.ifModifiedSince, tag, modified, now), c.answer)
        << c.method << " / " << c.ifNoneMatch << " / " << c.ifModifiedSince;
  }
}

TEST(CacheValidators, MaxAgeSetting) {
  struct Case { const char* setting; std::optional<std::string> value; } cases[] = {
      {"3600", "max-age=3600"},   {"0", "max-age=0"},       {"000", "max-age=0"},
      {"0060", "max-age=60"},     {"2147483648", "max-age=2147483648"},
      {"2147483649", std::nullopt}, {"99999999999", std::nullopt}, {"", std::nullopt},
      {"-1", std::nullopt},       {" 60", std::nullopt},    {"60s", std::nullopt},
      {"1e3", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(MaxAgeCacheControl(c.setting), c.value) << c.setting;
}

TEST(CacheValidators, EntityTagsKeepPartsApart) {
  auto tagOf = [](std::initializer_list<std::pair<const char*, const char*>> parts) {
    TEntityTagBuilder builder;
    for (const auto& [name, value] : parts) builder.Add(name, value);
    return builder.Tag();
  };
  // Moving bytes between names and values, or between parts, gives another tag.
  const std::set<std::string> tags = {
      tagOf({{"a", "bc"}}),          tagOf({{"ab", "c"}}),           tagOf({{"a", "b"}, {"c", ""}}),
      tagOf({{"a", ""}, {"bc", ""}}), tagOf({{"a", "b,c"}}),         tagOf({}),
      tagOf({{"a", "bc"}, {"", ""}}), tagOf({{"style", "0"}}),        tagOf({{"style", "1"}}),
  };
  EXPECT_EQ(tags.size(), 9u);
  EXPECT_EQ(tagOf({{"a", "bc"}}), tagOf({{"a", "bc"}}));
  EXPECT_EQ(tagOf({}), "\"cbf29ce484222325\"");  // nothing added: the FNV offset itself
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cULL);  // the published FNV-1a test vector
}
