#include "chart/format_float.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/sysutils.h"

namespace {

// A non-negative number as decimal digits: value = 0.digits × 10^exponent,
// no trailing zeros; an empty digit string is zero.
struct Decimal {
  std::string digits;
  int exponent = 0;
  bool IsZero() const { return digits.empty(); }
};

// The 18-significant-digit expansion of |value| (finite values only).
Decimal ToDecimal(double value) {
  Decimal d;
  value = std::fabs(value);
  if (value == 0) return d;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", value);
  // buf = "d.ddddddddddddddddde±XX"
  const char* e = buf;
  while (*e && *e != 'e') ++e;
  d.digits.push_back(buf[0]);
  for (const char* p = buf + 2; p < e; ++p) d.digits.push_back(*p);
  d.exponent = std::atoi(e + 1) + 1;
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  return d;
}

// Keeps the first `keep` digits, rounding half away from zero.
void RoundDigits(Decimal& d, int keep) {
  if (keep < 0) {
    d.digits.clear();
    return;
  }
  if (static_cast<std::size_t>(keep) >= d.digits.size()) return;
  const bool up = d.digits[keep] >= '5';
  d.digits.resize(keep);
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9') {
      d.digits[i] = '0';
      --i;
    }
    if (i >= 0) {
      ++d.digits[i];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

struct Token {
  enum Kind { kLiteral, kIntDigit, kFracDigit, kPoint, kExponent } kind;
  std::string text;       // literal text
  bool required = false;  // '0' rather than '#'
  bool exponentPlus = false;
  int exponentDigits = 0;
};

struct Picture {
  std::vector<Token> tokens;
  int intPlaces = 0;
  int fracPlaces = 0;
  int minInt = 0;
  int minFrac = 0;
  bool grouping = false;
  bool scientific = false;
  bool hasPlaceholder = false;
};

Picture ParsePicture(std::string_view s) {
  Picture pic;
  bool afterPoint = false;
  int firstRequiredInt = -1;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      Token t{Token::kLiteral, {}};
      std::size_t j = i + 1;
      while (j < s.size() && s[j] != c) t.text.push_back(s[j++]);
      pic.tokens.push_back(std::move(t));
      i = j;  // on the closing quote (or past the end)
    } else if ((c == '0' || c == '#') && !pic.scientific) {
      Token t{afterPoint ? Token::kFracDigit : Token::kIntDigit, {}};
      t.required = c == '0';
      if (afterPoint) {
        ++pic.fracPlaces;
        if (t.required) pic.minFrac = pic.fracPlaces;
      } else {
        if (t.required && firstRequiredInt < 0) firstRequiredInt = pic.intPlaces;
        ++pic.intPlaces;
      }
      pic.hasPlaceholder = true;
      pic.tokens.push_back(std::move(t));
    } else if (c == '.' && !pic.scientific) {
      if (!afterPoint) {
        afterPoint = true;
        pic.tokens.push_back(Token{Token::kPoint, {}});
      }
    } else if (c == ',' && !pic.scientific) {
      pic.grouping = true;
    } else if ((c == 'E' || c == 'e') && !pic.scientific && i + 1 < s.size() &&
               (s[i + 1] == '+' || s[i + 1] == '-')) {
      Token t{Token::kExponent, {}};
      t.text = std::string(1, c);
      t.exponentPlus = s[i + 1] == '+';
      i += 2;
      while (i < s.size() && s[i] == '0' && t.exponentDigits < 4) {
        ++t.exponentDigits;
        ++i;
      }
      --i;
      pic.scientific = true;
      pic.tokens.push_back(std::move(t));
    } else {
      if (!pic.tokens.empty() && pic.tokens.back().kind == Token::kLiteral) {
        pic.tokens.back().text.push_back(c);
      } else {
        pic.tokens.push_back(Token{Token::kLiteral, std::string(1, c)});
      }
    }
  }
  pic.minInt = firstRequiredInt < 0 ? 0 : pic.intPlaces - firstRequiredInt;
  if (pic.scientific) pic.grouping = false;
  return pic;
}

// Splits at ';' outside quotes.
std::vector<std::string_view> Sections(std::string_view format) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      out.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(format.substr(start));
  return out;
}

struct Rendered {
  std::string text;
  bool zero = false;
};

Rendered Render(const Picture& pic, double value, bool writeSign) {
  Decimal d = ToDecimal(value);
  int exponent10 = 0;
  if (pic.scientific) {
    RoundDigits(d, pic.intPlaces + pic.fracPlaces);
    if (!d.IsZero()) exponent10 = d.exponent - pic.intPlaces;
    d.exponent = d.IsZero() ? 0 : pic.intPlaces;
  } else {
    RoundDigits(d, d.exponent + pic.fracPlaces);
  }
  Rendered r;
  r.zero = d.IsZero();

  std::string intDigits;
  std::string fracDigits;
  if (!d.IsZero()) {
    if (d.exponent > 0) {
      const std::size_t n = static_cast<std::size_t>(d.exponent);
      intDigits = d.digits.substr(0, std::min(n, d.digits.size()));
      intDigits.resize(n, '0');
      if (d.digits.size() > n) fracDigits = d.digits.substr(n);
    } else {
      fracDigits = std::string(static_cast<std::size_t>(-d.exponent), '0') + d.digits;
    }
  }
  if (fracDigits.size() > static_cast<std::size_t>(pic.fracPlaces)) fracDigits.resize(pic.fracPlaces);
  while (fracDigits.size() > static_cast<std::size_t>(pic.minFrac) && !fracDigits.empty() &&
         fracDigits.back() == '0') {
    fracDigits.pop_back();
  }
  if (fracDigits.size() < static_cast<std::size_t>(pic.minFrac)) fracDigits.resize(pic.minFrac, '0');
  if (intDigits.size() < static_cast<std::size_t>(pic.minInt)) {
    intDigits.insert(0, static_cast<std::size_t>(pic.minInt) - intDigits.size(), '0');
  }

  std::string& out = r.text;
  bool signPending = writeSign && !r.zero;
  const auto emitSign = [&] {
    if (signPending) {
      out.push_back('-');
      signPending = false;
    }
  };
  const int len = static_cast<int>(intDigits.size());
  const auto emitIntDigit = [&](int index) {
    out.push_back(intDigits[index]);
    const int place = len - 1 - index;
    if (pic.grouping && place > 0 && place % 3 == 0) out.push_back(',');
  };

  int intSeen = 0;
  int fracSeen = 0;
  for (const Token& t : pic.tokens) {
    switch (t.kind) {
      case Token::kLiteral:
        out += t.text;
        break;
      case Token::kIntDigit: {
        emitSign();
        const int place = pic.intPlaces - 1 - intSeen;
        if (intSeen == 0) {
          for (int i = 0; i < len - place; ++i) emitIntDigit(i);
        } else if (place < len) {
          emitIntDigit(len - 1 - place);
        }
        ++intSeen;
        break;
      }
      case Token::kPoint:
        emitSign();
        if (pic.intPlaces == 0) {
          for (int i = 0; i < len; ++i) emitIntDigit(i);
        }
        if (!fracDigits.empty()) out.push_back('.');
        break;
      case Token::kFracDigit:
        if (fracSeen < static_cast<int>(fracDigits.size())) out.push_back(fracDigits[fracSeen]);
        ++fracSeen;
        break;
      case Token::kExponent: {
        out += t.text;
        if (exponent10 < 0) {
          out.push_back('-');
        } else if (t.exponentPlus) {
          out.push_back('+');
        }
        std::string e = std::to_string(std::abs(exponent10));
        if (e.size() < static_cast<std::size_t>(t.exponentDigits)) e.insert(0, t.exponentDigits - e.size(), '0');
        out += e;
        break;
      }
    }
  }
  return r;
}

}  // namespace

std::string FormatFloat(std::string_view format, double value) {
  if (format.empty() || !std::isfinite(value)) return FloatToStr(value);
  const std::vector<std::string_view> sections = Sections(format);
  const auto section = [&](std::size_t i) {
    return i < sections.size() && !sections[i].empty() ? sections[i] : sections[0];
  };

  const bool negative = value < 0;
  const bool ownNegative = negative && sections.size() > 1 && !sections[1].empty();
  std::string_view chosen = negative ? section(1) : section(0);
  if (value == 0) chosen = section(2);

  Picture pic = ParsePicture(chosen);
  if (!pic.scientific) {
    // More than 18 integer digits cannot be written digit by digit.
    const Decimal d = ToDecimal(value);
    if (!d.IsZero() && d.exponent > 18) return FloatToStr(value);
  }
  Rendered r = Render(pic, value, negative && !ownNegative);
  if (r.zero && value != 0 && sections.size() > 2 && !sections[2].empty()) {
    r = Render(ParsePicture(sections[2]), 0.0, false);
  }
  return r.text;
}
