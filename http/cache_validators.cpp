#include "http/cache_validators.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

#include "platform/civil_date.h"

namespace {

constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Reads the text front to back; every step fails once anything does not fit.
class DateScanner {
 public:
  explicit DateScanner(std::string_view text) : text_(text) {}

  bool Literal(std::string_view expected) {
    if (text_.substr(0, expected.size()) != expected) return ok_ = false;
    text_.remove_prefix(expected.size());
    return ok_;
  }
  // Exactly `width` digits; a leading blank stands for a zero when `padded`.
  int Number(std::size_t width, bool padded = false) {
    if (text_.size() < width) return ok_ = false;
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const char c = text_[i];
      if (c == ' ' && padded && i == 0) continue;
      if (c < '0' || c > '9') return ok_ = false;
      value = value * 10 + (c - '0');
    }
    text_.remove_prefix(width);
    return value;
  }
  // One of `names`; returns its index.
  template <std::size_t N>
  int Name(const std::array<std::string_view, N>& names) {
    for (std::size_t i = 0; i < N; ++i) {
      if (text_.substr(0, names[i].size()) == names[i]) {
        text_.remove_prefix(names[i].size());
        return static_cast<int>(i);
      }
    }
    ok_ = false;
    return 0;
  }
  bool Ok() const { return ok_ && text_.empty(); }

 private:
  std::string_view text_;
  bool ok_ = true;
};

int DaysInMonth(int year, int month) {
  static constexpr int kLengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kLengths[month - 1];
}

struct DateFields {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

void ScanTime(DateScanner& scan, DateFields& d) {
  d.hour = scan.Number(2);
  scan.Literal(":");
  d.minute = scan.Number(2);
  scan.Literal(":");
  d.second = scan.Number(2);
}

std::optional<std::int64_t> ToSeconds(const DateFields& d) {
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month)) return std::nullopt;
  // A leap second (60) is allowed on input and counts as the next second.
  if (d.hour > 23 || d.minute > 59 || d.second > 60) return std::nullopt;
  return platform::DaysFromCivil(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<std::int64_t> ParseImfFixdate(std::string_view text) {
  DateScanner scan(text);
  DateFields d;
  scan.Name(kDays);
  scan.Literal(", ");
  d.day = scan.Number(2);
  scan.Literal(" ");
  d.month = scan.Name(kMonths) + 1;
  scan.Literal(" ");
  d.year = scan.Number(4);
  scan.Literal(" ");
  ScanTime(scan, d);
  scan.Literal(" GMT");
  return scan.Ok() ? ToSeconds(d) : std::nullopt;
}

// "Sunday, 06-Nov-94 08:49:37 GMT"
std::optional<std::int64_t> ParseRfc850(std::string_view text) {
  DateScanner scan(text);
  DateFields d;
  scan.Name(kLongDays);
  scan.Literal(", ");
  d.day = scan.Number(2);
  scan.Literal("-");
  d.month = scan.Name(kMonths) + 1;
  scan.Literal("-");
  const int year = scan.Number(2);
  d.year = year < 70 ? 2000 + year : 1900 + year;
  scan.Literal(" ");
  ScanTime(scan, d);
  scan.Literal(" GMT");
  return scan.Ok() ? ToSeconds(d) : std::nullopt;
}

// "Sun Nov  6 08:49:37 1994"
std::optional<std::int64_t> ParseAsctime(std::string_view text) {
  DateScanner scan(text);
  DateFields d;
  scan.Name(kDays);
  scan.Literal(" ");
  d.month = scan.Name(kMonths) + 1;
  scan.Literal(" ");
  d.day = scan.Number(2, true);
  scan.Literal(" ");
  ScanTime(scan, d);
  scan.Literal(" ");
  d.year = scan.Number(4);
  return scan.Ok() ? ToSeconds(d) : std::nullopt;
}

// The opaque part of an entity tag (quotes included) when `text` is exactly
// one well-formed tag, weak or strong.
std::optional<std::string_view> OpaqueTag(std::string_view text) {
  if (text.substr(0, 2) == "W/") text.remove_prefix(2);
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // etagc: "!" and "#" to "~", and bytes from 0x80 on.
    if (c != 0x21 && (c < 0x23 || c == 0x7F)) return std::nullopt;
  }
  return text;
}

}  // namespace

std::uint64_t Fnv1a64(std::string_view bytes, std::uint64_t hash) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

void TEntityTagBuilder::Add(std::string_view name, std::string_view value) {
  const std::string lengths = std::to_string(name.size()) + ":" + std::to_string(value.size()) + ":";
  hash_ = Fnv1a64(lengths, hash_);
  hash_ = Fnv1a64(name, hash_);
  hash_ = Fnv1a64(value, hash_);
}

void TEntityTagBuilder::AddNumber(std::string_view name, std::int64_t value) { Add(name, std::to_string(value)); }

std::string TEntityTagBuilder::Tag() const {
  char text[20];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash_));
  return text;
}

std::string FormatHttpDate(std::int64_t unixSeconds) {
  const std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[40];
  std::snprintf(text, sizeof text, "%.3s, %02d %.3s %04d %02d:%02d:%02d GMT", kDays[utc.tm_wday].data(), utc.tm_mday,
                kMonths[utc.tm_mon].data(), utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  if (const auto semicolon = text.find(';'); semicolon != std::string_view::npos) text = text.substr(0, semicolon);
  text = TrimBlanks(text);
  if (text.size() > 3 && text[3] == ',') return ParseImfFixdate(text);
  if (text.size() > 3 && text[3] == ' ') return ParseAsctime(text);
  return ParseRfc850(text);
}

bool IfNoneMatchMatches(std::string_view fieldValue, std::string_view tag) {
  const auto current = OpaqueTag(tag);
  if (!current) return false;
  const std::string_view list = TrimBlanks(fieldValue);
  if (list == "*") return true;
  bool matched = false;
  bool any = false;
  std::size_t at = 0;
  while (at <= list.size()) {
    while (at < list.size() && IsBlank(list[at])) ++at;
    std::size_t end = at;
    // A comma inside the quotes belongs to the tag.
    if (list.substr(at, 3) == "W/\"" || list.substr(at, 1) == "\"") {
      end = list.find('"', list.find('"', at) + 1);
      if (end == std::string_view::npos) return false;
      ++end;
    }
    end = list.find(',', end);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view element = TrimBlanks(list.substr(at, end - at));
    // Empty list elements are allowed and skipped.
    if (!element.empty()) {
      const auto opaque = OpaqueTag(element);
      if (!opaque) return false;
      any = true;
      matched = matched || *opaque == *current;
    }
    at = end + 1;
  }
  return any && matched;
}

bool NotModifiedSince(std::string_view fieldValue, std::int64_t lastModified, std::int64_t now) {
  const auto date = ParseHttpDate(fieldValue);
  return date && *date <= now && *date >= lastModified;
}

TConditionalAnswer EvaluateConditional(std::string_view method, std::string_view ifNoneMatch,
                                       std::string_view ifModifiedSince, std::string_view tag,
                                       std::int64_t lastModified, std::int64_t now) {
  if (method != "GET" && method != "HEAD") return TConditionalAnswer::Full;
  if (!ifNoneMatch.empty()) {
    return IfNoneMatchMatches(ifNoneMatch, tag) ? TConditionalAnswer::NotModified : TConditionalAnswer::Full;
  }
  if (!ifModifiedSince.empty() && NotModifiedSince(ifModifiedSince, lastModified, now)) {
    return TConditionalAnswer::NotModified;
  }
  return TConditionalAnswer::Full;
}

std::optional<std::string> MaxAgeCacheControl(std::string_view setting) {
  if (setting.empty() || setting.size() > 40 || setting.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  setting.remove_prefix(std::min(setting.find_first_not_of('0'), setting.size() - 1));
  if (setting.size() > 10 || (setting.size() == 10 && setting > "2147483648")) return std::nullopt;
  return "max-age=" + std::string(setting);
}
