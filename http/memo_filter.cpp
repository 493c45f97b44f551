#include "http/memo_filter.h"

#include <array>
#include <atomic>
#include <cstdio>

#include "http/http_proc_table.h"
#include "platform/sysutils.h"

namespace {

constexpr std::string_view kNotAvailable = "#1NOT_AVAILABLE#1";


std::tm SystemLocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::atomic<TFilterClock> g_clock{nullptr};

std::tm Now() {
  const TFilterClock clock = g_clock.load();
  return clock ? clock() : SystemLocalTime();
}

bool IsUpperAscii(char ch) { return ch >= 'A' && ch <= 'Z'; }

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& ch : upper) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return upper;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Characters besides letters, digits and bytes >= 128 that a tag text may hold.
bool IsTagPunctuation(char ch) {
  static constexpr std::string_view kAllowed = "$'*+-/:;<=>?@[\\]^_`{|}~";
  return kAllowed.find(ch) != std::string_view::npos;
}

// Whether `text` (the bytes between two equal delimiters) forms a tag.
bool IsTagText(std::string_view text) {
  if (text.empty()) return false;
  // The one place a blank may stand: right behind a leading IF or ELSEIF.
  std::size_t blankAt = std::string_view::npos;
  if (StartsWith(text, "IF ")) {
    blankAt = 2;
  } else if (StartsWith(text, "ELSEIF ")) {
    blankAt = 6;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto ch = static_cast<unsigned char>(text[i]);
    if (ch == ' ') {
      if (i != blankAt) return false;
    } else if (ch >= 128 || (ch >= '0' && ch <= '9') || IsUpperAscii(static_cast<char>(ch)) ||
               (ch >= 'a' && ch <= 'z')) {
      continue;
    } else if (!IsTagPunctuation(static_cast<char>(ch))) {
      return false;
    }
  }
  return true;
}

void WriteOut(std::string& pending) {
  if (pending.empty()) return;
  if (const auto write = HttpProcTable().HttpWriteText) write(pending);
  pending.clear();
}

bool AskCondition(const THttpLogicalEntryEvent& event, const std::string& condition) {
  bool value = false;
  event(condition, value);
  return value;
}

std::string TwoDigits(int value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", value);
  return buf;
}

}  // namespace

// The nesting state of one pass over a template. Levels 0..kMaxNestingLevel
// live in the stack; IFs nested deeper than that are only counted in
// `excess`, and everything inside them is dropped until their ENDIFs have
// been seen. A pass starts at level 0, active and open.
struct TFilterNesting {
  // One nesting level: "active" = its text is written; "open" = no branch
  // of its IF chain has been taken yet.
  struct Level {
    bool active = false;
    bool open = true;
  };
  int level = 0;
  int excess = 0;
  std::array<Level, kMaxNestingLevel + 1> stack{{Level{true, true}}};

  bool Active() const { return excess == 0 && stack[static_cast<std::size_t>(level)].active; }
  Level& Current() { return stack[static_cast<std::size_t>(level)]; }
  const Level& Below() const { return stack[static_cast<std::size_t>(level - 1)]; }
};

void SetFilterClock(TFilterClock clock) { g_clock.store(clock); }

void THttpTextFilterComponent::ProcessLine(TFilterNesting& nesting, std::string_view line) {
  std::string pending;
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t open = line.find_first_of(delimiters_, pos);
    if (open == std::string_view::npos) {
      if (nesting.Active()) pending.append(line.substr(pos));
      break;
    }
    if (nesting.Active()) pending.append(line.substr(pos, open - pos));
    const char delimiter = line[open];
    const std::size_t close = line.find(delimiter, open + 1);
    if (close == std::string_view::npos || !IsTagText(line.substr(open + 1, close - open - 1))) {
      if (nesting.Active()) pending.push_back(delimiter);
      pos = open + 1;
      continue;
    }
    ProcessTag(nesting, std::string(Trim(line.substr(open + 1, close - open - 1))), pending);
    pos = close + 1;
  }
  WriteOut(pending);
}

void THttpTextFilterComponent::ProcessTag(TFilterNesting& s, const std::string& tag, std::string& pending) {
  const std::string upper = UpperAscii(tag);

  if (StartsWith(upper, "IF ")) {
    if (s.excess > 0 || s.level == kMaxNestingLevel) {
      // Deeper than the stack holds: count the level, drop its text.
      ++s.excess;
      return;
    }
    const bool outerActive = s.Active();
    ++s.level;
    auto& level = s.Current();
    level.open = true;
    level.active = false;
    if (outerActive) {
      if (OnHttpLogicalEntry) level.active = AskCondition(OnHttpLogicalEntry, std::string(Trim(tag.substr(2))));
      level.open = !level.active;
    }
    return;
  }

  if (StartsWith(tag, "ELSEIF ")) {
    // Level 0 has no IF chain; a stray ELSEIF there changes nothing.
    if (s.excess > 0 || s.level == 0) return;
    auto& level = s.Current();
    if (level.open && s.Below().active) {
      if (!OnHttpLogicalEntry || level.active) {
        level.active = false;
      } else {
        level.active = AskCondition(OnHttpLogicalEntry, std::string(Trim(tag.substr(6))));
      }
      level.open = !level.active;
    } else {
      level.active = false;
    }
    return;
  }

  if (StartsWith(upper, "ELSE")) {
    if (s.excess > 0 || s.level == 0) return;
    auto& level = s.Current();
    if (level.open && s.Below().active) {
      level.active = true;
      level.open = false;
    } else {
      level.active = false;
    }
    return;
  }

  if (upper == "ENDIF") {
    if (s.excess > 0) {
      --s.excess;
      return;
    }
    s.Current() = TFilterNesting::Level{true, true};
    if (s.level > 0) --s.level;
    return;
  }

  if (s.Active()) WritePlaceholder(tag, pending);
}

void THttpTextFilterComponent::WritePlaceholder(const std::string& name, std::string& pending) {
  if (OnHttpEntry) {
    // The handler writes on its own; what came before must go out first.
    WriteOut(pending);
    bool handled = true;
    OnHttpEntry(name, handled);
    if (handled) return;
  }
  const THttpProcTable& procs = HttpProcTable();

  // Values from the request go into HTML: escape them.
  if (procs.HttpServerVariable) {
    const std::string value = procs.HttpServerVariable(name);
    if (!value.empty() && value != kNotAvailable) {
      pending.append(HtmlEscape(value));
      return;
    }
  }
  const std::string field =
      procs.HttpFieldValue ? procs.HttpFieldValue(name, kNotAvailable) : std::string(kNotAvailable);
  if (name == "RANDOM_HIDDEN_INPUT") {
    const std::tm now = Now();
    const int seconds = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    pending.append("<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"");
    pending.append(std::to_string(seconds));
    pending.append("\">");
  } else if (field != kNotAvailable) {
    pending.append(HtmlEscape(field));
  } else if (name == "TIME") {
    const std::tm now = Now();
    pending.append(TwoDigits(now.tm_hour) + ":" + TwoDigits(now.tm_min) + ":" + TwoDigits(now.tm_sec));
  } else if (name == "DATE") {
    const std::tm now = Now();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
    pending.append(buf);
  }
}

void THttpMemoFilter::SendText() {
  TFilterNesting nesting;
  std::string line;
  for (const std::string& text : text_) {
    line.assign(text);
    line.append("\r\n");
    ProcessLine(nesting, line);
  }
}

std::vector<std::string> MessagePageTemplate() {
  return {
      "<html>",
      "",
      "<head>",
      "<title>Netwinde - GRAFLIO</title>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">",
      "</head>",
      "",
      "<body>",
      "<div align=\"center\"><center>",
      "",
      "<table border=\"1\" width=\"550\" cellspacing=\"0\" bordercolor=\"#808080\" cellpadding=\"0\">",
      "  <tr>",
      "    <td bgcolor=\"#004080\"><p align=\"right\"><font color=\"#FFFFFF\" face=\"Arial\"><strong><big>Net-Winde",
      "    GRAFOLIO</big><br>",
      "    <small>Message</small></strong></font></td>",
      "  </tr>",
      "</table>",
      "</center></div>",
      "",
      "<p align=\"center\"><small><font face=\"Arial\"><strong>%message%</strong></font></small></p>",
      "",
      "<hr width=\"550\" size=\"1\" color=\"#4E4E4E\">",
      "",
      "<p align=\"center\"><font face=\"Arial\"><small><strong>grafolio chart gateway</strong></small><br>",
      "<small><a href=\"mailto:webmaster@localhost\">Webmaster</a> | <a href=\"/\">Home page</a></small>",
      "</font></p>",
      "",
      "<p align=\"center\">&nbsp;</p>",
      "</body>",
      "</html>",
      "",
  };
}
