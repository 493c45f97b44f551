// Number formatting with picture strings, as the chart uses them for axis
// labels, mark texts and legend values ("#,##0.###", "##0.## %", "0").
#pragma once

#include <string>
#include <string_view>

// Formats value with a picture string. The program runs with a point as
// decimal separator and a comma as thousands separator.
//
// Picture characters:
//   0      digit placeholder; a digit or a zero is always written
//   #      digit placeholder; written only when the number has a digit there
//   .      decimal point; the first one fixes the position, more are ignored
//   ,      thousands grouping switched on (anywhere in the section)
//   E+ E-  scientific notation (E+ always writes the exponent's sign, E- only
//          a minus); the zeros after it give the exponent's least width
//   "xx" 'xx'  literal text
//   ;      separates sections: positive;negative;zero. A value that uses the
//          negative section is written without its minus sign.
// Everything else is copied as it stands (for example " %").
//
// The value is rounded to the number of decimal placeholders, halves away
// from zero, working on its 18-significant-digit decimal expansion. A value
// that rounds to zero is written as zero (never "-0") and uses the zero
// section when there is one. An empty picture, a value with more than 18
// integer digits, NaN and infinities give the general text of FloatToStr.
std::string FormatFloat(std::string_view format, double value);
