// The recorded time of a frame: the date and time packs of every DIF sequence, read and
// checked here rather than through libdv, which sees only a few of them and none of their
// validity. Calendar arithmetic on recorded times (clock offsets, differences) lives here too.
#ifndef TAPESTAMP_STREAM_RECORDED_TIME_HPP_
#define TAPESTAMP_STREAM_RECORDED_TIME_HPP_

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace tapestamp {

// Finds the recorded date and time of one whole frame of `size` bytes (FRAME_SIZE_525_60 or
// FRAME_SIZE_625_50; the sequences scanned follow from the size). Every copy of the date pack
// (0x62) and the time pack (0x63) counts: the six SSYBs of both subcode blocks and the 15 packs
// of the three VAUX blocks of each sequence. A copy counts only when its BCD digits and its
// calendar values are valid; the date is the value most valid copies hold, the time likewise,
// a tie going to the copy first in byte order. Two-digit years 69..99 are 1969..1999, 00..68
// are 2000..2068. Returns false when the frame lacks a valid date or a valid time; else fills
// `time` with the wall time as recorded (tm_isdst 0, no zone offset, weekday and day of the
// year filled in, tm_zone "UTC") and returns true. Reads no byte at or past bytes + size.
bool find_recorded_time(const std::uint8_t* bytes, std::size_t size, std::tm& time);

// Seconds from 1970-01-01 00:00:00 to the wall time in `time` (its six calendar fields),
// counted as if no zone or daylight saving existed.
std::int64_t wall_seconds(const std::tm& time);

// The wall time `seconds` after 1970-01-01 00:00:00, with weekday and day of the year, as
// find_recorded_time fills it.
std::tm wall_time(std::int64_t seconds);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_RECORDED_TIME_HPP_
