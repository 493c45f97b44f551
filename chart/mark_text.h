// How a mark's text is made from a point's value, label and percentage,
// apart from any drawing.
#pragma once

#include <string>

namespace mark_text {

// Percentage of a point in its list: |value| × 100 / absoluteTotal, or 100
// when the total is 0.
double MarkPercent(double value, double absoluteTotal);

// Everything a mark text can be made of. legendText and xValueText are the
// finished legend text and X-axis label of the point.
struct MarkTextInput {
  double value = 0;           // MarkValue of the point
  std::string label;          // empty = the point has no label
  double absoluteTotal = 0;   // of the series' mandatory list
  std::string valueFormat = "#,##0.###";
  std::string percentFormat = "##0.## %";
  std::string legendText;
  std::string xValueText;
};

// The text of a mark in style (the TSeriesMarksStyle order: value, percent,
// label, label+percent, label+value, legend, percent+total,
// label+percent+total, X value). Any other style gives an empty text.
std::string ComposeMarkText(int style, const MarkTextInput& in);

}  // namespace mark_text
