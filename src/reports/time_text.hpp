// Times within a stream or a run, written for the text formats the outputs use.
#ifndef TAPESTAMP_REPORTS_TIME_TEXT_HPP_
#define TAPESTAMP_REPORTS_TIME_TEXT_HPP_

#include <cstdint>
#include <string>

namespace tapestamp {

// Appends `ticks` (1/30000 s, not negative) as "H:MM:SS", hours at least `hour_digits` wide,
// then `separator` and the fraction of the second in steps of `unit_ticks` (rounded down),
// `digits` wide: 30, 3 for milliseconds, 300, 2 for centiseconds.
void append_clock_time(std::string& out, std::int64_t ticks, std::int64_t unit_ticks, int digits,
                       char separator, int hour_digits);

}  // namespace tapestamp

#endif  // TAPESTAMP_REPORTS_TIME_TEXT_HPP_
