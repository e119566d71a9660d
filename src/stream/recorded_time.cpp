#include "stream/recorded_time.hpp"

#include <array>
#include <cstring>

#include "stream/frame_reader.hpp"

namespace tapestamp {
namespace {

constexpr std::size_t sequence_size = 12000;
constexpr std::size_t block_size = 80;
constexpr std::uint8_t date_pack_id = 0x62;
constexpr std::uint8_t time_pack_id = 0x63;

// Copies of one pack a frame can hold: 12 sequences, each with 12 subcode and 45 VAUX packs.
constexpr std::size_t max_copies = 12 * (12 + 45);

bool is_leap(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int days_in_month(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return days[month - 1] + (month == 2 && is_leap(year) ? 1 : 0);
}

// A BCD value from a tens digit (already masked) and a units digit; -1 when either is no
// decimal digit.
int bcd_value(unsigned tens, unsigned units) {
  if (tens > 9 || units > 9) {
    return -1;
  }
  return static_cast<int>(tens * 10 + units);
}

// The packed value of a date (year, month, day) or a time (hour, minute, second); -1 when
// the pack's data is no valid date or time. `data` points at PC1..PC4.
int date_value(const std::uint8_t* data) {
  const int day = bcd_value((data[1] >> 4) & 0x3u, data[1] & 0xfu);
  const int month = bcd_value((data[2] >> 4) & 0x1u, data[2] & 0xfu);
  const int two_digits = bcd_value(data[3] >> 4, data[3] & 0xfu);
  if (day < 0 || month < 1 || month > 12 || two_digits < 0) {
    return -1;
  }
  // Two-digit years as POSIX strptime's %y reads them.
  const int year = two_digits >= 69 ? 1900 + two_digits : 2000 + two_digits;
  if (day < 1 || day > days_in_month(year, month)) {
    return -1;
  }
  return (year * 100 + month) * 100 + day;
}

int time_value(const std::uint8_t* data) {
  const int second = bcd_value((data[1] >> 4) & 0x7u, data[1] & 0xfu);
  const int minute = bcd_value((data[2] >> 4) & 0x7u, data[2] & 0xfu);
  const int hour = bcd_value((data[3] >> 4) & 0x3u, data[3] & 0xfu);
  if (second < 0 || second > 59 || minute < 0 || minute > 59 || hour < 0 || hour > 23) {
    return -1;
  }
  return (hour * 100 + minute) * 100 + second;
}

// The values seen for one pack, each with how many copies hold it, in the order first seen.
class vote {
 public:
  // Counts one copy whose four data bytes are `raw`; `decode` gives its value, or -1 when it
  // is not valid. A copy like the one before it, as nearly all are, is counted without
  // being decoded again.
  void add(std::uint32_t raw, int (*decode)(const std::uint8_t*), const std::uint8_t* data) {
    if (have_last_ && raw == last_raw_) {
      if (last_ != invalid) {
        ++counts_[last_];
      }
      return;
    }
    have_last_ = true;
    last_raw_ = raw;
    last_ = invalid;
    const int value = decode(data);
    if (value < 0) {
      return;
    }
    for (std::size_t i = 0; i < distinct_; ++i) {
      if (values_[i] == value) {
        ++counts_[i];
        last_ = i;
        return;
      }
    }
    values_[distinct_] = value;
    counts_[distinct_] = 1;
    last_ = distinct_;
    ++distinct_;
  }

  // The value most copies hold, the first seen among equals; -1 when none was valid.
  int winner() const {
    int best = -1;
    unsigned best_count = 0;
    for (std::size_t i = 0; i < distinct_; ++i) {
      if (counts_[i] > best_count) {
        best = values_[i];
        best_count = counts_[i];
      }
    }
    return best;
  }

 private:
  // Only the first distinct_ entries are ever read; leaving the rest unset keeps the
  // per-frame cost to the copies the frame has.
  std::array<int, max_copies> values_;
  std::array<unsigned, max_copies> counts_;
  std::size_t distinct_ = 0;
  bool have_last_ = false;
  std::uint32_t last_raw_ = 0;
  static constexpr std::size_t invalid = max_copies;
  std::size_t last_ = invalid;  // index of the last copy's value, or invalid
};

void count_pack(const std::uint8_t* pack, vote& dates, vote& times) {
  if (pack[0] != date_pack_id && pack[0] != time_pack_id) {
    return;
  }
  std::uint32_t raw = 0;
  std::memcpy(&raw, pack + 1, sizeof raw);
  if (pack[0] == date_pack_id) {
    dates.add(raw, date_value, pack + 1);
  } else {
    times.add(raw, time_value, pack + 1);
  }
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

}  // namespace

std::int64_t wall_seconds(const std::tm& time) {
  const std::int64_t days =
      days_from_civil(std::int64_t{time.tm_year} + 1900, static_cast<unsigned>(time.tm_mon + 1),
                      static_cast<unsigned>(time.tm_mday));
  return days * 86400 + time.tm_hour * 3600 + time.tm_min * 60 + time.tm_sec;
}

std::tm wall_time(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // The civil date of a day count, the inverse of days_from_civil.
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(shifted - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned month_index = (5 * day_of_year + 2) / 153;
  const unsigned day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const unsigned month = month_index < 10 ? month_index + 3 : month_index - 9;
  const std::int64_t year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2);

  std::tm time{};
  time.tm_year = static_cast<int>(year - 1900);
  time.tm_mon = static_cast<int>(month) - 1;
  time.tm_mday = static_cast<int>(day);
  time.tm_hour = static_cast<int>(rest / 3600);
  time.tm_min = static_cast<int>(rest / 60 % 60);
  time.tm_sec = static_cast<int>(rest % 60);
  // 1970-01-01 was a Thursday.
  time.tm_wday = static_cast<int>(((days % 7) + 11) % 7);
  time.tm_yday = static_cast<int>(days - days_from_civil(year, 1, 1));
  time.tm_isdst = 0;
  time.tm_gmtoff = 0;
  time.tm_zone = "UTC";
  return time;
}

bool find_recorded_time(const std::uint8_t* bytes, std::size_t size, std::tm& time) {
  const std::size_t sequences = size >= FRAME_SIZE_625_50 ? 12 : 10;
  // The packs lie in a few blocks at the start of each sequence, far apart: asking for all of
  // them first lets the memory system fetch them together instead of one after another.
  for (std::size_t seq = 0; seq < sequences; ++seq) {
    const std::uint8_t* const sequence = bytes + seq * sequence_size;
    for (std::size_t offset = block_size; offset < 6 * block_size; offset += 64) {
      __builtin_prefetch(sequence + offset);
    }
  }
  vote dates;
  vote times;
  for (std::size_t seq = 0; seq < sequences; ++seq) {
    const std::uint8_t* const sequence = bytes + seq * sequence_size;
    // Two subcode blocks of six SSYBs: two ID bytes, a reserved byte, then the pack.
    for (std::size_t block = 1; block <= 2; ++block) {
      const std::uint8_t* const subcode = sequence + block * block_size;
      for (std::size_t j = 0; j < 6; ++j) {
        count_pack(subcode + 3 + 8 * j + 3, dates, times);
      }
    }
    // Three VAUX blocks of fifteen packs.
    for (std::size_t block = 3; block <= 5; ++block) {
      const std::uint8_t* const vaux = sequence + block * block_size;
      for (std::size_t j = 0; j < 15; ++j) {
        count_pack(vaux + 3 + 5 * j, dates, times);
      }
    }
  }
  const int date = dates.winner();
  const int clock = times.winner();
  if (date < 0 || clock < 0) {
    return false;
  }
  std::tm recorded{};
  recorded.tm_year = date / 10000 - 1900;
  recorded.tm_mon = date / 100 % 100 - 1;
  recorded.tm_mday = date % 100;
  recorded.tm_hour = clock / 10000;
  recorded.tm_min = clock / 100 % 100;
  recorded.tm_sec = clock % 100;
  time = wall_time(wall_seconds(recorded));
  return true;
}

}  // namespace tapestamp
