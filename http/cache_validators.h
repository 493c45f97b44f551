// Cache validators: entity tags, HTTP dates and the rules of conditional
// requests (If-None-Match, If-Modified-Since), as plain functions of texts
// and numbers, apart from any engine, file or clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// 64-bit FNV-1a of `bytes`, continued from `hash`.
inline constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
std::uint64_t Fnv1a64(std::string_view bytes, std::uint64_t hash = kFnvOffset);

// What an entity tag stands for, gathered as named parts. Each part goes in
// with its name and length, so two different lists of parts never give the
// same bytes to hash (a value holding a separator cannot pose as two parts).
class TEntityTagBuilder {
 public:
  void Add(std::string_view name, std::string_view value);
  void AddNumber(std::string_view name, std::int64_t value);
  // The strong tag of everything added: 16 lower-case hexadecimal digits of
  // its FNV-1a hash in double quotes, e.g. "\"00c3f1a29b7e4d10\"".
  std::string Tag() const;

 private:
  std::uint64_t hash_ = kFnvOffset;
};

// The IMF-fixdate of a moment given as seconds since the epoch:
// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string FormatHttpDate(std::int64_t unixSeconds);

// Seconds since the epoch of an HTTP date in any of the three forms a
// recipient must accept: IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"),
// RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT", two-digit years 70..99 are
// 19xx, 00..69 20xx) and asctime ("Sun Nov  6 08:49:37 1994"). Text from a
// ";" on (old browsers add "; length=N") is ignored, and so are blanks
// around the date. Anything else, or a date that does not exist (31 Apr,
// hour 24), gives nothing.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// Whether an If-None-Match field value matches the current tag: "*", or a
// comma-separated list of entity tags one of which equals `tag` by the weak
// comparison (a "W/" prefix on either side is ignored). A list that is not
// well formed matches nothing, so it never earns a 304.
bool IfNoneMatchMatches(std::string_view fieldValue, std::string_view tag);

// Whether an If-Modified-Since field value says the client's copy is current:
// a valid date not older than `lastModified` and not later than `now` (a date
// in the future is invalid and ignored).
bool NotModifiedSince(std::string_view fieldValue, std::int64_t lastModified, std::int64_t now);

// What a request that carries these conditions gets.
enum class TConditionalAnswer { Full, NotModified };

// The conditional request rules: only GET and HEAD are answered 304. A present
// If-None-Match alone decides; without it, If-Modified-Since does. Empty field
// values count as absent (a CGI server leaves absent header fields unset).
TConditionalAnswer EvaluateConditional(std::string_view method, std::string_view ifNoneMatch,
                                       std::string_view ifModifiedSince, std::string_view tag,
                                       std::int64_t lastModified, std::int64_t now);

// The Cache-Control value for an operator's max-age setting: "max-age=N" for
// a number of seconds 0..2147483648 (decimal digits only, leading zeros
// dropped); nothing for anything else, an empty setting included.
std::optional<std::string> MaxAgeCacheControl(std::string_view setting);
