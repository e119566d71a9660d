#include "reports/time_text.hpp"

#include "stream/frame_facts.hpp"

namespace tapestamp {
namespace {

// `value` (not negative) in decimal, with leading zeros to `width` digits.
void append_number(std::string& out, std::int64_t value, int width) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  for (int i = count; i < width; ++i) {
    out += '0';
  }
  while (count > 0) {
    out += digits[--count];
  }
}

}  // namespace

void append_clock_time(std::string& out, std::int64_t ticks, std::int64_t unit_ticks, int digits,
                       char separator, int hour_digits) {
  const std::int64_t seconds = ticks / ticks_per_second;
  append_number(out, seconds / 3600, hour_digits);
  out += ':';
  append_number(out, seconds / 60 % 60, 2);
  out += ':';
  append_number(out, seconds % 60, 2);
  out += separator;
  append_number(out, ticks % ticks_per_second / unit_ticks, digits);
}

}  // namespace tapestamp
