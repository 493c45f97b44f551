// The civil calendar as day counts: one conversion shared by the chart's
// date axis, the workbook readers' ISO dates and the HTTP date parser.
#pragma once

#include <cstdint>

namespace platform {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (month
// 1..12, day 1..31). Exact for every year whose day count fits 64 bits.
std::int64_t DaysFromCivil(std::int64_t year, std::int64_t month, std::int64_t day);

}  // namespace platform
