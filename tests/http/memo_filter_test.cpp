#include "http/memo_filter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "http/http_proc_table.h"
#include "support/test_support.h"

namespace {
constexpr const char* kNotAvailable = "#1NOT_AVAILABLE#1";

// What the fake engine knows and what it was asked. Output is per thread so
// that filters running on two threads can be told apart.
thread_local std::string t_output;
const std::map<std::string, std::string, std::less<>> kServerVariables = {
    {"REMOTE_ADDR", "10.1.2.3"}, {"EMPTY_VAR", ""}, {"HTTP_USER_AGENT", "<script>&"},
    {"$'*+-/:;<=>?@[\\]^_`{|}~", "punct"}, {"Gr\xC3\xBC\xC3\x9F", "umlaut"}};
const std::map<std::string, std::string, std::less<>> kFields = {{"color", "red"}, {"EMPTY_VAR", "from-field"}};
std::vector<std::string> g_variableLookups;

std::string Find(const std::map<std::string, std::string, std::less<>>& map, std::string_view name,
                 std::string_view fallback) {
  const auto it = map.find(name);
  return std::string(it == map.end() ? fallback : it->second);
}

class MemoFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = HttpProcTable();
    HttpProcTable() = THttpProcTable{};
    HttpProcTable().HttpWriteText = [](std::string_view text) { t_output.append(text); };
    HttpProcTable().HttpServerVariable = [](std::string_view name) {
      g_variableLookups.emplace_back(name);
      return Find(kServerVariables, name, kNotAvailable);
    };
    HttpProcTable().HttpFieldValue = [](std::string_view name, std::string_view fallback) {
      return Find(kFields, name, fallback);
    };
    g_variableLookups.clear();
    SetFilterClock([] {  // 00:01:05 on 4 March 2026
      std::tm t{};
      t.tm_year = 126, t.tm_mon = 2, t.tm_mday = 4, t.tm_min = 1, t.tm_sec = 5;
      return t;
    });
  }
  void TearDown() override {
    HttpProcTable() = saved_;
    SetFilterClock(nullptr);
  }

  // Conditions: "yes" and "x" hold, anything else does not. Every question
  // is recorded.
  void UseConditions() {
    filter_.OnHttpLogicalEntry = [this](const std::string& name, bool& value) {
      asked_.push_back(name);
      value = name == "yes" || name == "x";
    };
  }
  std::string Send(std::vector<std::string> lines) {
    t_output.clear();
    filter_.SetText(std::move(lines));
    filter_.SendText();
    return t_output;
  }
  THttpMemoFilter filter_;
  std::vector<std::string> asked_;

 private:
  THttpProcTable saved_;
};

struct FilterCase { const char* name; std::vector<std::string> lines; std::string expected; };

const std::string kHiddenInput = "<INPUT TYPE=\"HIDDEN\" NAME=\"RANDOM_HIDDEN_INPUT\" VALUE=\"65\">";

// Placeholders and texts that are no tags, without any handler.
TEST_F(MemoFilterTest, TextsAndPlaceholders) {
  const std::vector<FilterCase> cases = {
      {"lone percent", {"50%"}, "50%\r\n"}, {"empty tag text", {"100%% sure"}, "100%% sure\r\n"},
      {"mismatched delimiters", {"%REMOTE_ADDR#"}, "%REMOTE_ADDR#\r\n"},
      {"server variable", {"from %REMOTE_ADDR%."}, "from 10.1.2.3.\r\n"},
      {"tags side by side, both delimiters", {"%REMOTE_ADDR%%color%#color#"}, "10.1.2.3redred\r\n"},
      {"unclosed after a tag", {"a%REMOTE_ADDR%b%"}, "a10.1.2.3b%\r\n"},
      {"field when no variable", {"[%color%]"}, "[red]\r\n"},
      {"field when variable empty", {"%EMPTY_VAR%"}, "from-field\r\n"}, {"nobody answers", {"[%nothing%]"}, "[]\r\n"},
      {"request values escaped", {"%HTTP_USER_AGENT%"}, "&lt;script&gt;&amp;\r\n"},
      {"every allowed punctuation", {"%$'*+-/:;<=>?@[\\]^_`{|}~%"}, "punct\r\n"},
      {"bytes above 127", {"%Gr\xC3\xBC\xC3\x9F%"}, "umlaut\r\n"},
      {"hidden input", {"%RANDOM_HIDDEN_INPUT%"}, kHiddenInput + "\r\n"},
      {"time and date", {"%TIME% %DATE%"}, "00:01:05 2026-03-04\r\n"},
      {"time in lower case is a plain name", {"[%time%]"}, "[]\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Send(c.lines), c.expected) << c.name;
}

// Texts between equal delimiters that hold a forbidden character are written
// as they stand, and nothing is looked up for them.
TEST_F(MemoFilterTest, TagTextCharacterRules) {
  const std::vector<std::string> notTags = {
      "%a!b%",    "%a\"b%",   "%a&b%",   "%a(b%",   "%a)b%",  "%a,b%",     "%a.b%",    "%a b%",
      "%a\tb%",   "% a%",     "%a %",    "%if x%",  "%If x%", "%IF  x%",   "%IF x y%", "%Elseif x%",
      "%ELSE x%", "%ENDIF %", "%IFx y%", "%a\x01%", "%a\x7F%", "#a%b#",
  };
  for (const auto& text : notTags) EXPECT_EQ(Send({text}), text + "\r\n") << text;
  EXPECT_TRUE(g_variableLookups.empty());
}

TEST_F(MemoFilterTest, Conditions) {
  UseConditions();
  const std::vector<FilterCase> cases = {
      {"if true", {"%IF x%A%ELSE%B%ENDIF%"}, "A\r\n"}, {"if false", {"%IF no%A%ELSE%B%ENDIF%"}, "B\r\n"},
      {"over lines", {"%IF x%", "A", "%ELSE%", "B", "%ENDIF%", "C"}, "\r\nA\r\n\r\nC\r\n"},
      {"hash tags", {"#IF x#A#ELSE#B#ENDIF#"}, "A\r\n"},
      {"keywords in any case", {"%IF no%A%else%B%Endif%C"}, "BC\r\n"},
      {"elseif taken", {"%IF no%A%ELSEIF yes%B%ELSE%C%ENDIF%"}, "B\r\n"},
      {"first branch wins", {"%IF x%A%ELSEIF yes%B%ELSE%C%ENDIF%"}, "A\r\n"},
      {"else after failed chain", {"%IF no%A%ELSEIF no%B%ELSE%C%ENDIF%"}, "C\r\n"},
      {"second elseif", {"%IF no%A%ELSEIF no%B%ELSEIF x%C%ELSE%D%ENDIF%"}, "C\r\n"},
      {"no else", {"%IF no%A%ENDIF%B"}, "B\r\n"},
      {"nested, inner false", {"%IF x%a%IF no%b%ELSE%e%ENDIF%c%ENDIF%d"}, "aecd\r\n"},
      {"nested, outer false", {"%IF no%a%IF yes%b%ELSE%e%ENDIF%c%ELSE%f%ENDIF%d"}, "fd\r\n"},
      {"placeholder only when active", {"%IF no%%REMOTE_ADDR%%ELSE%%color%%ENDIF%"}, "red\r\n"},
      {"endif at level 0", {"%ENDIF%A%ENDIF%", "B"}, "A\r\nB\r\n"},
      {"stray else at level 0", {"%ELSE%A%ELSEIF no%B%ELSE%C"}, "ABC\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Send(c.lines), c.expected) << c.name;

  // Conditions are asked only where they matter.
  asked_.clear();
  EXPECT_EQ(Send({"%IF no%%IF inner%a%ELSEIF inner2%b%ENDIF%%ELSEIF x%c%ELSEIF never%d%ENDIF%"}), "c\r\n");
  EXPECT_EQ(asked_, (std::vector<std::string>{"no", "x"}));
  filter_.OnHttpLogicalEntry = nullptr;
  EXPECT_EQ(Send({"%IF x%A%ELSEIF yes%B%ELSE%C%ENDIF%D"}), "CD\r\n") << "without a handler only ELSE is taken";
}

TEST_F(MemoFilterTest, UnbalancedTemplateDoesNotLeakIntoNextOne) {
  UseConditions();
  EXPECT_EQ(Send({"%IF no%", "%IF yes%", "A"}), "");
  EXPECT_EQ(Send({"B", "%ELSE%C"}), "B\r\nC\r\n");
  EXPECT_EQ(Send({"%IF x%", "%ELSE%"}), "\r\n");
  EXPECT_EQ(Send({"D"}), "D\r\n");
}

// The stack holds 31 levels of IF; deeper levels are counted but their text
// is dropped, and the levels around them stay balanced.
TEST_F(MemoFilterTest, NestingBeyondTheStack) {
  UseConditions();
  const auto nested = [](int depth, const std::string& inner) {
    std::string ifs, endifs;
    for (int i = 0; i < depth; ++i) ifs += "%IF yes%", endifs += "%ENDIF%";
    return ifs + inner + endifs + "after";
  };
  EXPECT_EQ(Send({nested(kMaxNestingLevel, "deep")}), "deepafter\r\n");
  EXPECT_EQ(Send({nested(kMaxNestingLevel + 1, "deep")}), "after\r\n");
  EXPECT_EQ(asked_.size(), 2u * kMaxNestingLevel) << "the level beyond the stack asks nothing";
  EXPECT_EQ(Send({nested(200, "x%ELSE%y%ELSEIF x%z%REMOTE_ADDR%")}), "after\r\n");

  // An excess IF closes before the 31st level goes on.
  const std::string line = nested(kMaxNestingLevel, "").substr(0, 8 * kMaxNestingLevel);
  EXPECT_EQ(Send({line + "a%IF yes%b%IF no%c%ENDIF%d%ENDIF%e%ELSE%f%ENDIF%g"}), "aeg\r\n");

  // Unclosed excess levels leave nothing behind.
  EXPECT_EQ(Send({nested(100, "").substr(0, 800)}), "");
  EXPECT_EQ(Send({"next"}), "next\r\n");
}

// Every thread keeps its own nesting state: a template sent on another thread
// in the middle of this one changes nothing here.
TEST_F(MemoFilterTest, NestingStateIsPerThread) {
  UseConditions();
  std::string otherOutput;
  filter_.OnHttpEntry = [&otherOutput](const std::string&, bool&) {
    std::thread([&otherOutput] {
      THttpMemoFilter second;
      second.SetText({"%ENDIF%", "%IF no%", "B"});
      second.SendText();
      otherOutput = t_output;
    }).join();
  };
  EXPECT_EQ(Send({"%IF yes%%probe%A%ENDIF%"}), "A\r\n");
  EXPECT_EQ(otherOutput, "\r\n");
}

TEST_F(MemoFilterTest, WithoutEngineNothingIsWrittenAndNothingBreaks) {
  HttpProcTable() = THttpProcTable{};
  EXPECT_EQ(Send({"a %REMOTE_ADDR% %RANDOM_HIDDEN_INPUT% %TIME%"}), "");
}

// The message page through an entry handler that answers %message% (Handled
// arrives true and stays so) and declines anything else.
TEST_F(MemoFilterTest, MessagePage) {
  std::vector<std::string> entries;
  filter_.OnHttpEntry = [&entries](const std::string& name, bool& handled) {
    entries.push_back(name);
    EXPECT_TRUE(handled);
    if (name == "message") HttpProcTable().HttpWriteText("Die Datei existiert nicht");
    handled = name == "message";
  };
  // The page as the end-to-end test expects it from the web server, byte for byte.
  std::string page = testing_support::ReadText(testing_support::SourceDir() / "tests/e2e/expected/message_page.html");
  page.replace(page.find("@MESSAGE@"), 9, "Die Datei existiert nicht");
  EXPECT_EQ(Send(MessagePageTemplate()), page);
  EXPECT_TRUE(g_variableLookups.empty()) << "the server variable named message was consulted";

  // A handler that declines lets the built-in lookups run.
  EXPECT_EQ(Send({"%REMOTE_ADDR% %RANDOM_HIDDEN_INPUT%"}), "10.1.2.3 " + kHiddenInput + "\r\n");
  EXPECT_EQ(entries, (std::vector<std::string>{"message", "REMOTE_ADDR", "RANDOM_HIDDEN_INPUT"}));
}
}  // namespace
