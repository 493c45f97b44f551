#include "chart/mark_text.h"
#include <gtest/gtest.h>

using namespace mark_text;

namespace {

TEST(MarkText, OutsideTheStyles) {
  // The styles on a series are checked with the marks; here what lies
  // outside them: unknown styles and negative values.
  MarkTextInput in;
  in.value = 67;
  in.absoluteTotal = 181;
  for (int style : {9, -1}) EXPECT_EQ(ComposeMarkText(style, in), "") << style;
  EXPECT_DOUBLE_EQ(MarkPercent(-6, 181), 600.0 / 181);
}

}  // namespace
