// The recorded time of a frame as every output shows it: all copies of the date and time
// packs, their validity, the majority, the year window, and damage that real tapes show.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::date_time;

constexpr std::size_t block = 80;
constexpr std::size_t sequence = 150 * block;

// Calls `visit` with every subcode and VAUX pack of the frame at `frame` (its id byte first),
// with the sequence it belongs to.
void for_each_pack(std::uint8_t* frame, std::size_t size,
                   const std::function<void(std::uint8_t*, std::size_t)>& visit) {
  for (std::size_t seq = 0; seq < size / sequence; ++seq) {
    std::uint8_t* s = frame + seq * sequence;
    for (std::size_t sc = 1; sc <= 2; ++sc) {
      for (std::size_t j = 0; j < 6; ++j) {
        visit(s + sc * block + 3 + 8 * j + 3, seq);
      }
    }
    for (std::size_t va = 3; va <= 5; ++va) {
      for (std::size_t j = 0; j < 15; ++j) {
        visit(s + va * block + 3 + 5 * j, seq);
      }
    }
  }
}

using frame_edit = std::function<void(std::vector<std::uint8_t>&)>;

// The packs with `id` get `data`, in the sequences `where` accepts.
frame_edit set_packs(
    std::uint8_t id, std::vector<std::uint8_t> data,
    std::function<bool(std::size_t)> where = [](std::size_t) { return true; }) {
  return [=](std::vector<std::uint8_t>& frame) {
    for_each_pack(frame.data(), frame.size(), [&](std::uint8_t* pack, std::size_t seq) {
      if (pack[0] == id && where(seq)) {
        std::copy(data.begin(), data.end(), pack + 1);
      }
    });
  };
}

// Removes the date and time packs of the sequences `where` accepts.
frame_edit drop_dates(std::function<bool(std::size_t)> where) {
  return [=](std::vector<std::uint8_t>& frame) {
    for_each_pack(frame.data(), frame.size(), [&](std::uint8_t* pack, std::size_t seq) {
      if ((pack[0] == 0x62 || pack[0] == 0x63) && where(seq)) {
        std::fill(pack, pack + 5, std::uint8_t{0xff});
      }
    });
  };
}

// A dropout: everything of the sequences but their header block is 0xFF.
frame_edit wipe_sequences(std::vector<std::size_t> wiped) {
  return [=](std::vector<std::uint8_t>& frame) {
    for (const std::size_t seq : wiped) {
      std::fill(frame.begin() + static_cast<std::ptrdiff_t>(seq * sequence + block),
                frame.begin() + static_cast<std::ptrdiff_t>((seq + 1) * sequence), 0xff);
    }
  };
}

struct time_case {
  const char* name;
  dv_synth::frame_spec spec;
  std::vector<frame_edit> edits;
  std::string shown;  // "YYYY-MM-DD HH:MM:SS", or "" when the frame has no recorded time
};

bytes three_frames(const time_case& c) {
  std::vector<std::uint8_t> frame = dv_synth::make_frame(c.spec);
  for (const frame_edit& edit : c.edits) {
    edit(frame);
  }
  bytes out;
  for (int n = 0; n < 3; ++n) {
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

bool even(std::size_t seq) { return seq % 2 == 0; }
bool not_seq_3(std::size_t seq) { return seq != 3; }

TEST(RecordedTime, EveryOutputShowsTheSameTime) {
  const std::vector<time_case> cases = {
      {"clean frame", {}, {}, "2008-05-17 12:30:00"},
      {"2026, past libdv's century pivot",
       dated({2026, 5, 17, 12, 30, 0}),
       {},
       "2026-05-17 12:30:00"},
      {"2068, the last year of the window",
       dated({2068, 12, 31, 23, 59, 59}),
       {},
       "2068-12-31 23:59:59"},
      {"1969, the first year of the window",
       dated({1969, 1, 1, 0, 0, 0}),
       {},
       "1969-01-01 00:00:00"},
      {"the second before 1970", dated({1969, 12, 31, 23, 59, 59}), {}, "1969-12-31 23:59:59"},
      {"1999", dated({1999, 12, 31, 23, 59, 59}), {}, "1999-12-31 23:59:59"},
      {"29 February of a leap year", dated({2024, 2, 29, 8, 0, 0}), {}, "2024-02-29 08:00:00"},
      {"no date at all", undated(), {}, ""},
      {"date and time packs of 0xFF bytes",
       {},
       {set_packs(0x62, {0xff, 0xff, 0xff, 0xff}), set_packs(0x63, {0xff, 0xff, 0xff, 0xff})},
       ""},
      {"date of 0xFF bytes, time valid", {}, {set_packs(0x62, {0xff, 0xff, 0xff, 0xff})}, ""},
      {"31 April", dated({2008, 4, 30, 12, 0, 0}), {set_packs(0x62, {0xff, 0xf1, 0x04, 0x08})}, ""},
      {"29 February 2023",
       dated({2023, 2, 28, 12, 0, 0}),
       {set_packs(0x62, {0xff, 0xe9, 0x02, 0x23})},
       ""},
      {"month 13", {}, {set_packs(0x62, {0xff, 0xd7, 0x13, 0x08})}, ""},
      {"hour 24", {}, {set_packs(0x63, {0xff, 0x80, 0x80, 0xe4})}, ""},
      {"minute digit 0xA", {}, {set_packs(0x63, {0xff, 0x80, 0x8a, 0xc0})}, ""},
      {"zone and frame bytes play no part",
       {},
       {set_packs(0x62, {0x00, 0xd7, 0x05, 0x08}), set_packs(0x63, {0x12, 0x80, 0xb0, 0xd2})},
       "2008-05-17 12:30:00"},
      {"dates only in odd sequences", {}, {drop_dates(even)}, "2008-05-17 12:30:00"},
      {"sequences 0 and 6 wiped", {}, {wipe_sequences({0, 6})}, "2008-05-17 12:30:00"},
      {"one sequence with another date: the majority wins",
       {},
       {set_packs(0x62, {0xff, 0xd8, 0x05, 0x08}, [](std::size_t seq) { return seq == 3; })},
       "2008-05-17 12:30:00"},
      {"a tie goes to the copy first in the frame",
       {},
       {drop_dates(not_seq_3),
        [](std::vector<std::uint8_t>& frame) {
          // Only sequence 3 keeps its six VAUX date copies; the last three get another day, so
          // each day has as many copies as the other, and the first copy's day wins.
          std::size_t seen = 0;
          for_each_pack(frame.data(), frame.size(), [&](std::uint8_t* pack, std::size_t seq) {
            if (seq == 3 && pack[0] == 0x62 && seen++ >= 3) {
              pack[2] = 0xd9;  // day 19
            }
          });
        }},
       "2008-05-17 12:30:00"},
  };
  temp_dir dir;
  for (const time_case& c : cases) {
    SCOPED_TRACE(c.name);
    const bytes input = three_frames(c);
    const std::string report_time = c.shown.empty() ? "0000-00-00 00:00:00" : c.shown;
    const std::string subtitles = c.shown.empty() ? "" : "{0}{2}" + c.shown + "\r\n";
    for (const char* path : {"--mmap", "--no-mmap"}) {
      SCOPED_TRACE(path);
      std::vector<std::string> extra;
      if (std::string(path) == "--no-mmap") {
        extra.push_back(path);
      }
      auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
      };
      run_result r = run_on_file(dir, input, with({"-s", "-f", "%F %T"}));
      EXPECT_EQ(r.out, subtitles);
      EXPECT_EQ(r.status, 0);
      r = run_on_file(dir, input, with({"-d"}));
      EXPECT_EQ(r.out, "recording date & time: " + report_time + "\n");
      r = run_on_file(dir, input, with({"-i"}));
      EXPECT_EQ(count_of(r.out, "recording date & time: " + report_time + "\n"), 3u);
      EXPECT_EQ(r.err, "");
    }
  }
}

// The boundary compares the recorded year as it really is.
TEST(RecordedTime, BoundaryAfter2024) {
  temp_dir dir;
  const bytes input = frames(2, dated({2026, 5, 17, 12, 30, 0}));
  EXPECT_EQ(run_on_file(dir, input, {"-s", "-b", "2026"}).out, "");
  EXPECT_EQ(run_on_file(dir, input, {"-s", "-b", "2027"}).out, "{0}{1}2026-05-17|12:30:00\r\n");
}

// Nothing the tool was given is lost when a stream fails: the subtitle still pending is
// written at the end of the run, and pass-through copies the failing bytes and the rest.
TEST(RecordedTime, NothingLostWhenAStreamFails) {
  dv_synth::frame_spec bad;
  bad.bad_header = true;
  const bytes whole = frames(3, {}, 1);
  const bytes cut = whole + bytes(whole.begin(), whole.begin() + 100000);
  const bytes rejected =
      frames(2, {}, 1) + frames(1, bad) + frames(4, dated({2008, 5, 17, 13, 0, 0}));
  const std::string cut_subs = "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n{2}{2}12:30:02\r\n";
  temp_dir dir;
  for (const std::size_t chunk : {std::size_t{0}, std::size_t{4099}}) {
    SCOPED_TRACE(chunk);
    run_input input;
    input.pipe_chunk = chunk;
    input.stdin_pipe = as_string(cut);
    run_result r = run_tool({"-p", "-f", "%T", "--subtitles-out", dir.file("cut.sub")}, input);
    EXPECT_EQ(r.out, as_string(cut));
    EXPECT_EQ(r.err, "remains only 100000 bytes, premature EOF?\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir.file("cut.sub")), cut_subs);

    input.stdin_pipe = as_string(rejected);
    r = run_tool({"-p", "-f", "%T", "--subtitles-out", dir.file("bad.sub")}, input);
    EXPECT_EQ(r.out.size(), rejected.size());
    EXPECT_TRUE(r.out == as_string(rejected));
    EXPECT_EQ(r.err,
              "dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir.file("bad.sub")), "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n");
  }
  // As a file operand, mapped: the last subtitle of the cut capture is there too.
  const run_result r = run_on_file(dir, cut, {"-s", "-f", "%T"});
  EXPECT_EQ(r.out, cut_subs);
  EXPECT_EQ(r.status, 1);
  // A frame limit still ends the copy where the handling ends.
  run_input input;
  input.stdin_pipe = as_string(rejected);
  const run_result limited =
      run_tool({"-p", "-n", "1", "--subtitles-out", dir.file("n.sub")}, input);
  EXPECT_EQ(limited.out, as_string(bytes(rejected.begin(), rejected.begin() + 144000)));
  EXPECT_EQ(limited.status, 0);
}

}  // namespace
}  // namespace test_support
