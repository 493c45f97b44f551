#include "chart/mark_text.h"

#include <cmath>

#include "chart/format_float.h"

namespace mark_text {

double MarkPercent(double value, double absoluteTotal) {
  if (absoluteTotal == 0) return 100;
  return std::fabs(value) * 100 / absoluteTotal;
}

std::string ComposeMarkText(int style, const MarkTextInput& in) {
  const std::string value = FormatFloat(in.valueFormat, in.value);
  const std::string label = in.label.empty() ? value : in.label;
  const std::string percent = FormatFloat(in.percentFormat, MarkPercent(in.value, in.absoluteTotal));
  const auto withTotal = [&] { return percent + " von " + FormatFloat(in.valueFormat, in.absoluteTotal); };
  switch (style) {
    case 0: return value;
    case 1: return percent;
    case 2: return label;
    case 3: return label + " " + percent;
    case 4: return label + " " + value;
    case 5: return in.legendText;
    case 6: return withTotal();
    case 7: return label + " " + withTotal();
    case 8: return in.xValueText;
    default: return {};
  }
}

}  // namespace mark_text
