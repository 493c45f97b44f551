// The HTML template filter: sends a page template to the client through the
// output procedure table, replacing placeholders and keeping or dropping
// stretches of the page by IF/ELSEIF/ELSE/ENDIF tags.
//
// A tag is a delimiter ("%" or "#"), a tag text and the same delimiter again,
// all on one line. The tag text holds letters, digits, bytes of 128 and above
// and the characters $ ' * + - / : ; < = > ? @ [ \ ] ^ _ ` { | } ~; it holds a
// blank only directly behind a leading "IF" or "ELSEIF" written in capitals.
// Anything else (control characters, ! " # % & ( ) , . and other blanks)
// means the text is no tag and is written as it stands. An empty tag text is
// no tag either, so "%%" is written unchanged.
//
// Tags:
//   %IF cond%      opens a level; its text is written when cond holds
//   %ELSEIF cond%  next branch of the chain
//   %ELSE%         last branch (any text starting with ELSE, any case)
//   %ENDIF%        closes the level (any case)
//   %name%         placeholder: OnHttpEntry, else the server variable, else
//                  the form field, else RANDOM_HIDDEN_INPUT, TIME, DATE
//
// The nesting state lives per thread and is reset by every SendText.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Handler for a placeholder: Handled arrives true. Write the replacement with
// HttpWriteText and leave it true, or set it false to let the built-in
// lookups (server variable, form field, RANDOM_HIDDEN_INPUT, TIME, DATE) run.
using THttpEntryEvent = std::function<void(const std::string& EntryName, bool& Handled)>;

// Handler for the condition of IF and ELSEIF: set Value to say whether the
// branch is taken. Value arrives false.
using THttpLogicalEntryEvent = std::function<void(const std::string& EntryName, bool& Value)>;

// Nesting levels the filter keeps: 0 (outside any IF) to kMaxNestingLevel.
inline constexpr int kMaxNestingLevel = 31;

// The IF/ELSE/ENDIF nesting of one pass over a template.
struct TFilterNesting;

class THttpTextFilterComponent {
 public:
  THttpTextFilterComponent() = default;
  virtual ~THttpTextFilterComponent() = default;

  THttpEntryEvent OnHttpEntry;
  THttpLogicalEntryEvent OnHttpLogicalEntry;

  // The characters that open and close a tag.
  const std::string& Delimiters() const { return delimiters_; }

 protected:
  // Filters one line (line end included, if any) and writes the result with
  // HttpWriteText, using and updating the nesting state of the pass.
  void ProcessLine(TFilterNesting& nesting, std::string_view line);

 private:
  void ProcessTag(TFilterNesting& nesting, const std::string& tag, std::string& pending);
  void WritePlaceholder(const std::string& name, std::string& pending);

  std::string delimiters_ = "%#";
};

class THttpMemoFilter : public THttpTextFilterComponent {
 public:
  THttpMemoFilter() = default;

  // The template, one entry per line, without line ends.
  std::vector<std::string>& Text() { return text_; }
  const std::vector<std::string>& Text() const { return text_; }
  void SetText(std::vector<std::string> lines) { text_ = std::move(lines); }

  // Sends every line of Text, each followed by CR LF, through the filter,
  // starting a new nesting state.
  void SendText();

 private:
  std::vector<std::string> text_;
};

// The template of the program's message page: 31 lines whose only
// placeholder is %message% (line 20).
std::vector<std::string> MessagePageTemplate();

// Local time for the TIME, DATE and RANDOM_HIDDEN_INPUT placeholders. Tests
// install a fixed clock; nullptr returns to the system's local time.
using TFilterClock = std::tm (*)();
void SetFilterClock(TFilterClock clock);
