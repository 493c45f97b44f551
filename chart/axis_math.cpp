#include "chart/axis_math.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "chart/format_float.h"
#include "chart/pixel_math.h"
#include "platform/civil_date.h"

namespace axis_math {

namespace {

// Pixel offsets are kept within this bound so that a value far off the
// scale still yields coordinates the drawing surface can take.
constexpr double kPixelLimit = 1 << 24;

// Tolerance for treating a quotient as a whole number: labels at exact
// multiples of the increment must not get lost to binary fractions such as
// 0.3 / 0.1 = 2.9999999999999996.
double SnapToWhole(double q) {
  const double r = std::nearbyint(q);
  if (std::fabs(q - r) <= 1e-9 * std::max(1.0, std::fabs(q))) return r;
  return q;
}

// ---- civil calendar (serial days since 1899-12-30) ----

constexpr long long kEpochDays = -25569;  // 1899-12-30 counted from 1970-01-01

struct Civil {
  long long year;
  unsigned month;
  unsigned day;
};

Civil CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

// Serial dates outside about ±1e7 days are far beyond any calendar use;
// they are clamped so that the day arithmetic stays in range.
long long SerialDay(double value) {
  return static_cast<long long>(std::floor(std::clamp(value, -1e7, 1e7)));
}

Civil CivilFromSerial(long long serial) { return CivilFromDays(serial + kEpochDays); }
double SerialFromCivil(long long y, unsigned m, unsigned d) {
  return static_cast<double>(platform::DaysFromCivil(y, m, d) - kEpochDays);
}

}  // namespace

// ---------------------------------------------------------------------------
// Label increment

double NextStep(double x) {
  if (!(x > 0) || !std::isfinite(x)) return x;
  int k = static_cast<int>(std::floor(std::log10(x)));
  const auto power = [](int e) { return std::pow(10.0, std::abs(e)); };
  double m = k >= 0 ? x / power(k) : x * power(k);
  // The power of ten is rarely exact: 1e-11 may come out as 9.999999999.
  if (std::fabs(m - std::nearbyint(m)) < 1e-9) m = std::nearbyint(m);
  if (m >= 10) {
    m /= 10;
    ++k;
  } else if (m < 1) {
    m *= 10;
    --k;
  }
  const double next = m < 2 ? 2 : m < 5 ? 5 : 10;
  const double result = k >= 0 ? next * power(k) : next / power(k);
  return result > x ? result : x * 2;
}

int LabelSizeAlongAxis(bool horizontal, int labelsAngle, int textWidth, int textHeight) {
  const bool upright = labelsAngle == 0 || labelsAngle == 180;
  return horizontal == upright ? textWidth : textHeight;
}

int MaxLabelCount(int axisLength, int labelSize, int separationPercent) {
  double size = labelSize;
  if (separationPercent > 0) size += RoundHalfEven(labelSize * separationPercent * 0.01);
  if (size < 1) return 1;
  return RoundHalfEven(axisLength / size);
}

double NumericIncrement(double range, double desired, int maxLabels) {
  if (maxLabels < 1) return kMinNumericIncrement;
  double inc = desired > 0 ? desired : (std::fabs(range) < 1 ? kMinNumericIncrement : 1.0);
  if (std::isfinite(range)) {
    // Each round moves one 1-2-5 step; 4000 rounds span far more than the
    // whole double range, so the bound only stops a runaway.
    for (int round = 0; round < 4000 && std::isfinite(inc); ++round) {
      const double t = range / inc;
      if (std::fabs(t) < 2147483647.0 && RoundHalfEven(t) <= maxLabels) break;
      inc = NextStep(inc);
    }
  }
  return std::max(inc, kMinNumericIncrement);
}

double DateTimeIncrement(double range, double desired, int maxLabels) {
  if (maxLabels < 1) return kOneSecond;
  double inc = std::max(kOneSecond, desired);
  if (!std::isfinite(range)) return inc;
  if (range / inc >= 1e6) inc = range / 1e6;
  for (int round = 0; round < 4000 && std::isfinite(inc); ++round) {
    if (RoundHalfEven(range / inc) <= maxLabels) break;
    if (inc >= 365) {
      inc *= 2;
    } else {
      std::size_t i = 0;
      while (i + 1 < kDateTimeSteps.size() && kDateTimeSteps[i + 1] <= inc) ++i;
      inc = kDateTimeSteps[std::min(i + 1, kDateTimeSteps.size() - 1)];
    }
  }
  return std::max(inc, kOneSecond);
}

// ---------------------------------------------------------------------------
// Label values

double DateTimeBoundary(double value, double step) {
  const long long day = SerialDay(value);
  if (step < 7) return static_cast<double>(day);
  if (step < 15) {
    // Serial day 0 was a Saturday; weeks start on Monday.
    const long long fromMonday = ((day + 5) % 7 + 7) % 7;
    return static_cast<double>(day - fromMonday);
  }
  const Civil c = CivilFromSerial(day);
  if (step < 30) return SerialFromCivil(c.year, c.month, c.day >= 16 ? 16 : 1);
  if (step < 365) {
    const unsigned months = step < 60 ? 1 : step < 90 ? 2 : step < 120 ? 3 : step < 182 ? 4 : 6;
    return SerialFromCivil(c.year, (c.month - 1) / months * months + 1, 1);
  }
  const long long years = std::max(1LL, static_cast<long long>(std::llround(std::min(step, 1e6) / 365)));
  const long long y = c.year - (((c.year % years) + years) % years);
  return SerialFromCivil(y, 1, 1);
}

std::vector<double> LabelValues(double minimum, double maximum, double increment, const LabelRule& rule) {
  std::vector<double> out;
  if (!(increment > 0) || !std::isfinite(increment) || !std::isfinite(minimum) || !std::isfinite(maximum)) {
    return out;
  }
  const double range = maximum - minimum;
  if (!(std::fabs(maximum / increment) < 2147483647.0 && std::fabs(range / increment) < 10000)) return out;

  const double eps = increment * 1e-9;
  const bool calendar = rule.dateTime && rule.exactDateTime && increment >= 1 && minimum != maximum;
  // Labels are first - k × increment, or a walk over calendar boundaries.
  double first = maximum;
  if (calendar) {
    first = DateTimeBoundary(maximum, increment);
  } else if (minimum != maximum && rule.roundFirstLabel) {
    first = std::trunc(SnapToWhole(maximum / increment)) * increment;
  }
  const bool multiples = !calendar && minimum != maximum && rule.roundFirstLabel;
  const double firstMultiple = multiples ? std::trunc(SnapToWhole(maximum / increment)) : 0;

  double v = first;
  // The range check above bounds the walk to about 10000 labels.
  for (long long k = 0; k < 10010; ++k) {
    if (k > 0) {
      if (multiples) {
        v = (firstMultiple - static_cast<double>(k)) * increment;
      } else if (calendar && increment >= 7) {
        v = DateTimeBoundary(v - increment / 2, increment);
      } else {
        v = first - static_cast<double>(k) * increment;
      }
    }
    if (v > maximum + eps) continue;
    if (v < minimum - eps) break;
    const bool atEnd = std::fabs(v - maximum) <= eps || std::fabs(v - minimum) <= eps;
    if (rule.labelsOnAxis || !atEnd) out.push_back(v);
  }
  return out;
}

// ---------------------------------------------------------------------------
// Value <-> pixel

int CalcPosValue(const ScaleGeometry& g, double value) {
  int start, size, end, centre;
  if (g.horizontal) {
    start = g.left;
    size = g.right - g.left;
    end = g.right;
    centre = (g.left + g.right) / 2;
  } else {
    start = g.bottom;
    size = -(g.bottom - g.top);
    end = g.top;
    centre = (g.top + g.bottom) / 2;
  }
  const auto place = [&](double offset) {
    const int p = RoundClamped(offset, kPixelLimit);
    return g.inverted ? end - p : start + p;
  };
  if (g.logarithmic) {
    const double lnMin = g.minimum > 0 ? std::log(g.minimum) : 0;
    const double lnMax = g.maximum > 0 ? std::log(g.maximum) : 0;
    const double span = lnMax - lnMin;
    if (span == 0) return centre;
    if (!(value > 0)) return g.inverted ? end : start;
    return place((std::log(value) - lnMin) * size / span);
  }
  const double range = g.maximum - g.minimum;
  if (range == 0) return centre;
  return place((value - g.minimum) * size / range);
}

double CalcPosPoint(const ScaleGeometry& g, int pixel) {
  const int extent = g.horizontal ? g.right - g.left : g.bottom - g.top;
  if (extent <= 0) return 0;
  const double frac = static_cast<double>(pixel - (g.horizontal ? g.left : g.top)) / extent;
  double fromStart = g.horizontal ? frac : 1 - frac;
  if (g.inverted) fromStart = 1 - fromStart;
  if (g.logarithmic) {
    const double lnMin = g.minimum > 0 ? std::log(g.minimum) : 0;
    const double lnMax = g.maximum > 0 ? std::log(g.maximum) : 0;
    return std::exp(lnMin + fromStart * (lnMax - lnMin));
  }
  return g.minimum + fromStart * (g.maximum - g.minimum);
}

int CalcDepthPosValue(double minimum, double maximum, int width3D, double value) {
  const double range = maximum - minimum;
  if (range == 0) return width3D;
  return RoundClamped(width3D * (value - minimum) / range, kPixelLimit);
}

void WidenScale(double& minimum, double& maximum, int extent, int minSide, int maxSide, bool logarithmic) {
  const int inner = extent - minSide - maxSide;
  if (inner <= 0 || maximum == minimum) return;
  if (logarithmic) {
    if (!(minimum > 0) || !(maximum > 0)) return;
    const double lnMin = std::log(minimum);
    const double lnMax = std::log(maximum);
    const double perPixel = (lnMax - lnMin) / inner;
    minimum = std::exp(lnMin - minSide * perPixel);
    maximum = std::exp(lnMax + maxSide * perPixel);
    return;
  }
  const double perPixel = (maximum - minimum) / inner;
  const double newMin = minimum - minSide * perPixel;
  maximum += maxSide * perPixel;
  minimum = newMin;
}

// ---------------------------------------------------------------------------
// Label layout

bool LabelOverlap::Accept(int position, int labelSize) {
  const int s = labelSize + static_cast<int>(labelSize * separation_ * 0.01);
  const int half = s / 2;
  bool draw = first_ || separation_ == 0;
  if (!draw) draw = position + half <= last_ - lastHalf_ || position - half >= last_ + lastHalf_;
  first_ = false;
  lastHalf_ = half;
  if (draw) last_ = position;
  return draw;
}

int MultiLineLabelRise(int lineHeight, int lines) {
  return lineHeight / 2 + RoundHalfEven(lineHeight * (lines + 1) / 2.0) - lineHeight;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back().push_back(c);
    }
  }
  return lines;
}

std::string MultiLineText(std::string text) {
  std::replace(text.begin(), text.end(), ' ', '\r');
  return text;
}

namespace {

const char* const kMonthShort[] = {"Jan", "Feb", "Mär", "Apr", "Mai", "Jun",
                                   "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"};
const char* const kMonthLong[] = {"Januar", "Februar", "März",     "April",   "Mai",      "Juni",
                                  "Juli",   "August",  "September", "Oktober", "November", "Dezember"};
const char* const kDayShort[] = {"So", "Mo", "Di", "Mi", "Do", "Fr", "Sa"};
const char* const kDayLong[] = {"Sonntag",    "Montag",  "Dienstag", "Mittwoch",
                                "Donnerstag", "Freitag", "Samstag"};

std::string Pad(long long v, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*lld", width, v);
  return buf;
}

bool StartsWithNoCase(const std::string& s, std::size_t i, const char* word) {
  for (std::size_t k = 0; word[k]; ++k) {
    if (i + k >= s.size() || std::tolower(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
  }
  return true;
}

}  // namespace

std::string DateTimeText(const std::string& format, double value, double range) {
  if (value < 0 || !std::isfinite(value)) return {};
  const std::string f = !format.empty() ? format : (range < 1 ? "hh:nn" : "yyyy-mm-dd");
  const long long day = SerialDay(value);
  const Civil c = CivilFromSerial(day);
  const int weekday = static_cast<int>(((day + 6) % 7 + 7) % 7);  // 0 = Sunday
  long long ms = std::llround((value - static_cast<double>(day)) * 86400000.0);
  ms = std::clamp(ms, 0LL, 86399999LL);
  const int hour = static_cast<int>(ms / 3600000);
  const int minute = static_cast<int>(ms / 60000 % 60);
  const int second = static_cast<int>(ms / 1000 % 60);
  const int milli = static_cast<int>(ms % 1000);
  const bool twelve = f.find("am/pm") != std::string::npos || f.find("AM/PM") != std::string::npos ||
                      f.find("a/p") != std::string::npos || f.find("A/P") != std::string::npos;

  std::string out;
  bool afterHour = false;
  for (std::size_t i = 0; i < f.size();) {
    const char ch = f[i];
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::size_t run = 1;
    while (i + run < f.size() && std::tolower(static_cast<unsigned char>(f[i + run])) == lower) ++run;
    if (ch == '"' || ch == '\'') {
      const std::size_t close = f.find(ch, i + 1);
      out += f.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
      i = close == std::string::npos ? f.size() : close + 1;
      continue;
    }
    if (StartsWithNoCase(f, i, "am/pm")) {
      out += hour < 12 ? "am" : "pm";
      i += 5;
      continue;
    }
    if (StartsWithNoCase(f, i, "a/p")) {
      out += hour < 12 ? "a" : "p";
      i += 3;
      continue;
    }
    switch (lower) {
      case 'y':
        out += run <= 2 ? Pad(((c.year % 100) + 100) % 100, 2) : Pad(c.year, 4);
        break;
      case 'm':
        if (afterHour && run <= 2) {
          out += Pad(minute, run == 2 ? 2 : 1);
        } else if (run >= 4) {
          out += kMonthLong[c.month - 1];
        } else if (run == 3) {
          out += kMonthShort[c.month - 1];
        } else {
          out += Pad(c.month, static_cast<int>(run));
        }
        break;
      case 'd':
        if (run >= 4) {
          out += kDayLong[weekday];
        } else if (run == 3) {
          out += kDayShort[weekday];
        } else {
          out += Pad(c.day, static_cast<int>(run));
        }
        break;
      case 'h': {
        int h = hour;
        if (twelve) h = h % 12 == 0 ? 12 : h % 12;
        out += Pad(h, run >= 2 ? 2 : 1);
        break;
      }
      case 'n':
        out += Pad(minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        out += Pad(second, run >= 2 ? 2 : 1);
        break;
      case 'z':
        out += run >= 3 ? Pad(milli, 3) : std::to_string(milli);
        break;
      case '/':
        out.append(run, '-');
        break;
      default:
        out.append(f, i, run);
    }
    if (lower == 'h') afterHour = true;
    else if (lower != ':' && lower != ' ') afterHour = false;
    i += run;
  }
  return out;
}

}  // namespace axis_math
