// Url-encoded request content: decoding, the field lookup and the names list
// that every engine answers field questions with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Marks a server variable the gateway does not supply; the engine accessors
// turn it into an empty text, and the field lookup uses it internally to mean
// "no further occurrence".
inline constexpr std::string_view kNotAvailable = "#1NOT_AVAILABLE#1";

// "+" becomes a blank, "%" with two hexadecimal digits becomes that byte; a
// "%" without two such digits behind it stays as it is.
std::string UrlDecode(std::string_view text);

// Upper-cases ASCII letters (names compare without regard to case).
std::string UpperCase(std::string_view text);

// Removes leading and trailing blanks and control characters (bytes <= 32).
std::string_view Trim(std::string_view text);

// Looks a field up in url-encoded content: names match without regard to case
// and surrounding blanks, values are decoded and returned as sent (not
// trimmed); every occurrence is returned, joined by CR LF; a missing field
// yields defaultValue. A segment without "=" becomes the front of the next
// field's name ("a&b=1" holds one field, named "A&B").
std::string LookupField(std::string_view content, std::string_view name, std::string_view defaultValue);

// Names of the fields in the content, in order, each decoded once; a name
// equal to the one added just before is not added again.
std::vector<std::string> FieldNames(std::string_view content);
