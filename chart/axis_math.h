// The arithmetic of axes, apart from any drawing: how a label increment is
// chosen, which values get labels, how values map to pixels and back, and
// when text labels would overlap.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace axis_math {

// ---------------------------------------------------------------------------
// Label increment

// Date-time label steps in days, one second up to one year.
inline constexpr std::array<double, 25> kDateTimeSteps = {
    1.0 / 86400,  5.0 / 86400,  10.0 / 86400, 15.0 / 86400, 30.0 / 86400,
    1.0 / 1440,   5.0 / 1440,   10.0 / 1440,  15.0 / 1440,  30.0 / 1440,
    1.0 / 24,     2.0 / 24,     6.0 / 24,     12.0 / 24,    1,
    2,            3,            7,            15,           30,
    60,           90,           120,          182,          365};
inline constexpr double kOneSecond = 1.0 / 86400;
inline constexpr double kMinNumericIncrement = 1e-12;

// The 1-2-5 progression: the step after x (x > 0). 1 -> 2 -> 5 -> 10,
// 0.1 -> 0.2, 20 -> 50.
double NextStep(double x);

// The size a label takes along the axis: its text width on a horizontal
// axis with upright (0 or 180 degree) labels, its height otherwise; the
// other way round on a vertical axis.
int LabelSizeAlongAxis(bool horizontal, int labelsAngle, int textWidth, int textHeight);

// How many labels fit on an axis of axisLength pixels when one label takes
// labelSize pixels plus separationPercent of that as a gap. 1 when the
// label size is below one pixel.
int MaxLabelCount(int axisLength, int labelSize, int separationPercent);

// The label step of a numeric axis over range (IMaximum - IMinimum).
// desired > 0 is the user's Increment and the starting point; the step
// grows along the 1-2-5 progression until at most maxLabels labels remain.
// Never below 1e-12.
double NumericIncrement(double range, double desired, int maxLabels);

// The label step of a date-time axis (days): at least one second, grown
// through kDateTimeSteps (doubling beyond a year) until at most maxLabels
// labels remain.
double DateTimeIncrement(double range, double desired, int maxLabels);

// ---------------------------------------------------------------------------
// Label values

struct LabelRule {
  bool roundFirstLabel = true;
  bool labelsOnAxis = true;
  bool dateTime = false;
  bool exactDateTime = true;
};

// The values that get a label, from the top of the scale downwards. Empty
// when the increment is far too small for the range (more than 10000
// labels, or a first label beyond the 32-bit range of steps).
std::vector<double> LabelValues(double minimum, double maximum, double increment, const LabelRule& rule);

// The last calendar boundary of a date step (one day or more) at or before
// value: midnight for day steps, Monday for weeks, the 1st or 16th for half
// months, month starts aligned to 1, 2, 3, 4 or 6 months, January 1st for a
// year or more.
double DateTimeBoundary(double value, double step);

// ---------------------------------------------------------------------------
// Value <-> pixel

// What a horizontal or vertical axis needs to place values: its scale and
// the plotting rectangle.
struct ScaleGeometry {
  double minimum = 0;  // IMinimum
  double maximum = 0;  // IMaximum
  bool logarithmic = false;
  bool inverted = false;
  bool horizontal = true;
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// The pixel of value. A scale without range maps every value to the
// plotting rectangle's centre; on a logarithmic scale values <= 0 lie at
// the scale's start.
int CalcPosValue(const ScaleGeometry& g, double value);

// The value at pixel, the inverse of CalcPosValue; 0 when the plotting
// rectangle has no width (height).
double CalcPosPoint(const ScaleGeometry& g, int pixel);

// The depth axis: value's depth in 0..width3D; width3D when the scale has no
// range.
int CalcDepthPosValue(double minimum, double maximum, int width3D, double value);

// Widens a scale so that its ends land minSide pixels inside the start and
// maxSide pixels inside the end of an axis extent pixels long (room that
// series ask for beyond their first and last value, such as half a bar).
// minSide is the room beyond the minimum, maxSide beyond the maximum. A
// scale without range, or margins that leave no pixels, stay as they are.
// Logarithmic scales widen in logarithms.
void WidenScale(double& minimum, double& maximum, int extent, int minSide, int maxSide, bool logarithmic);

// ---------------------------------------------------------------------------
// Label layout

// Thins text labels so that they do not overlap: labels arrive in drawing
// order and Accept says whether this one is drawn. With separation 0
// every label is drawn.
class LabelOverlap {
 public:
  explicit LabelOverlap(int separationPercent) : separation_(separationPercent) {}
  bool Accept(int position, int labelSize);

 private:
  int separation_;
  bool first_ = true;
  int last_ = 0;
  int lastHalf_ = 0;
};

// Distance from a tick up to the top of the first line of an n-line label
// on a side axis with line height h; centres the block on the tick.
int MultiLineLabelRise(int lineHeight, int lines);

// Splits a label at carriage returns (a CR LF pair counts once).
std::vector<std::string> SplitLines(const std::string& text);

// Spaces become line breaks (LabelsMultiLine).
std::string MultiLineText(std::string text);

// Date-time label text: empty for negative values; otherwise the value
// formatted with format, or when that is empty with the short time format
// "hh:nn" for ranges below one day and the short date format "yyyy-mm-dd"
// else. Format letters: yyyy yy m mm mmm mmmm d dd ddd dddd h hh n nn s ss z
// zzz, "/" date separator "-", ":" time separator, "am/pm", quoted text.
std::string DateTimeText(const std::string& format, double value, double range);

}  // namespace axis_math
