// Recording-time subtitles: merging runs of frames, undated frames, the boundary, the time
// format, time zones, and the subtitle carried from a failed stream into the next.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::date_time;

struct subtitle_case {
  const char* name;
  bytes input;
  std::vector<std::string> args;
  std::string out;
};

TEST(Subtitles, Cases) {
  const date_time noon = {2008, 5, 17, 12, 30, 0};
  dv_synth::frame_spec only_vaux;
  only_vaux.date_in_ssyb = false;
  dv_synth::frame_spec only_ssyb;
  only_ssyb.date_in_vaux = false;
  const std::string long_format(128, 'x');
  const std::string longest_format(127, 'x');
  const std::vector<subtitle_case> cases = {
      {"two seconds of frames",
       frames(50),
       {},
       "{0}{24}2008-05-17|12:30:00\r\n{25}{49}2008-05-17|12:30:01\r\n"},
      {"525/60 frames",
       frames(35, ntsc(), 30),
       {},
       "{0}{29}2008-05-17|12:30:00\r\n{30}{34}2008-05-17|12:30:01\r\n"},
      {"undated frames", frames(5, undated()), {}, ""},
      {"a gap of undated frames",
       frames(10) + frames(10, undated()) + frames(10),
       {},
       "{0}{9}2008-05-17|12:30:00\r\n{20}{29}2008-05-17|12:30:00\r\n"},
      {"date in the VAUX packs only", frames(2, only_vaux), {}, "{0}{1}2008-05-17|12:30:00\r\n"},
      {"date in the subcode only", frames(2, only_ssyb), {}, "{0}{1}2008-05-17|12:30:00\r\n"},
      {"time only",
       frames(3, {}, 1),
       {"-f", "%T"},
       "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n{2}{2}12:30:02\r\n"},
      {"text longer than 127 bytes", frames(3), {"-f", long_format}, ""},
      {"text of 127 bytes", frames(3), {"-f", longest_format}, "{0}{2}" + longest_format + "\r\n"},
      {"empty format", frames(3), {"-f", ""}, ""},
      {"fields derived from the date", frames(1), {"-f", "%a %j %u"}, "{0}{0}Sat 138 6\r\n"},
      {"boundary to the minute",
       frames(1, dated({2008, 5, 17, 12, 29, 59})) + frames(3, dated(noon), 1),
       {"-f", "%T", "-b", "2008-05-17 12:30"},
       "{0}{0}12:29:59\r\n{1}{1}12:30:00\r\n"},
      {"boundary to the second",
       frames(3, dated(noon), 1),
       {"-f", "%T", "-b", "2008-05-17 12:30:01"},
       "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n"},
      {"boundary a day",
       frames(1, dated({2008, 5, 16, 23, 59, 59})) + frames(1, dated({2008, 5, 17, 0, 0, 0})) +
           frames(1, dated({2008, 5, 17, 0, 0, 1})),
       {"-f", "%F %T", "-b", "2008-05-17"},
       "{0}{0}2008-05-16 23:59:59\r\n{1}{1}2008-05-17 00:00:00\r\n"},
      {"boundary a month",
       frames(1, dated({2008, 4, 30, 23, 59, 59})) + frames(1, dated({2008, 5, 1, 0, 0, 0})) +
           frames(1, dated({2008, 5, 1, 0, 0, 1})),
       {"-f", "%F %T", "-b", "2008-05"},
       "{0}{0}2008-04-30 23:59:59\r\n{1}{1}2008-05-01 00:00:00\r\n"},
      {"boundary a year",
       frames(1, dated({2007, 12, 31, 23, 59, 59})) + frames(1, dated({2008, 1, 1, 0, 0, 0})) +
           frames(1, dated({2008, 1, 1, 0, 0, 1})),
       {"-f", "%F %T", "-b", "2008"},
       "{0}{0}2007-12-31 23:59:59\r\n{1}{1}2008-01-01 00:00:00\r\n"},
      {"boundary before every frame", frames(3), {"-b", "2001"}, ""},
      {"subtitles again after the boundary",
       frames(1, dated(noon)) + frames(1, dated({2009, 1, 1, 0, 0, 0})) + frames(1, dated(noon)),
       {"-f", "%T", "-b", "2008-12"},
       "{0}{0}12:30:00\r\n{2}{2}12:30:00\r\n"},
      {"boundary in 1900 is no boundary",
       frames(2),
       {"-b", "1900-06"},
       "{0}{1}2008-05-17|12:30:00\r\n"},
  };
  temp_dir dir;
  for (const subtitle_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-s"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const run_result r = run_on_file(dir, c.input, args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

// The recording time is the camcorder's wall time: 02:30 on the night clocks in Berlin
// spring forward stays 02:30, shown and compared, whatever zone the tool runs in.
TEST(Subtitles, RecordedWallTimeInAnyZone) {
  temp_dir dir;
  write_file(dir.file("in.dv"), frames(1, dated({2008, 3, 30, 2, 30, 0})) +
                                    frames(1, dated({2008, 10, 26, 2, 30, 0})));
  for (const char* zone :
       {"TZ=UTC", "TZ=Europe/Berlin", "TZ=America/New_York", "TZ=Asia/Kolkata"}) {
    SCOPED_TRACE(zone);
    run_input input;
    input.env = {zone};
    const run_result r =
        run_tool({"-s", "-f", "%F %T", "-b", "2008-10-26 02:45", dir.file("in.dv")}, input);
    EXPECT_EQ(r.out, "{0}{0}2008-03-30 02:30:00\r\n{1}{1}2008-10-26 02:30:00\r\n");
    EXPECT_EQ(r.status, 0);
  }
}

// A stream that fails gets no end call: its pending subtitle goes on into the next stream,
// whose frame numbers start again at 0.
TEST(Subtitles, CarriedAcrossStreams) {
  temp_dir dir;
  // Frames 0-2 at 12:29:59, frames 3-4 at 12:30:00 (pending when the stray bytes end it).
  write_file(dir.file("failed.dv"), frames(3, dated({2008, 5, 17, 12, 29, 59})) +
                                        frames(2, dated({2008, 5, 17, 12, 30, 0})) + filler(50));
  write_file(dir.file("same.dv"), frames(2, dated({2008, 5, 17, 12, 30, 0})));
  write_file(dir.file("other.dv"), frames(2, dated({2008, 5, 17, 12, 31, 0})));
  write_file(dir.file("undated.dv"), frames(4, undated()));
  write_file(dir.file("empty.dv"), bytes());
  struct carry_case {
    const char* name;
    std::vector<std::string> files;
    std::string out;
  };
  const std::string first = "{0}{2}12:29:59\r\n";
  const std::vector<carry_case> cases = {
      {"no stream follows: written at the end of the run",
       {"failed.dv"},
       first + "{3}{4}12:30:00\r\n"},
      {"same text goes on, last frame from the new stream",
       {"failed.dv", "same.dv"},
       first + "{3}{1}12:30:00\r\n"},
      {"other text ends it with its old numbers",
       {"failed.dv", "other.dv"},
       first + "{3}{4}12:30:00\r\n{0}{1}12:31:00\r\n"},
      {"an undated stream ends it at its first frame",
       {"failed.dv", "undated.dv"},
       first + "{3}{4}12:30:00\r\n"},
      {"an empty stream's end call writes it",
       {"failed.dv", "empty.dv"},
       first + "{3}{4}12:30:00\r\n"},
  };
  for (const carry_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"-s", "-f", "%T"};
    for (const std::string& f : c.files) {
      args.push_back(dir.file(f));
    }
    const run_result r = run_tool(args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "remains only 50 bytes, premature EOF?\n");
    EXPECT_EQ(r.status, 1);
  }
}

}  // namespace
}  // namespace test_support
