// The first recording date line: the third frame of each stream, then the stream stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

const std::string third_frame = "recording date & time: 2008-05-17 12:30:02\n";

TEST(FirstDate, Cases) {
  struct date1_case {
    const char* name;
    std::vector<std::string> args;
    bytes input;
    std::string out;
  };
  const std::vector<date1_case> cases = {
      {"no frames", {"-d"}, {}, ""},
      {"one frame", {"-d"}, frames(1, {}, 1), ""},
      {"two frames", {"-d"}, frames(2, {}, 1), ""},
      {"three frames", {"-d"}, frames(3, {}, 1), third_frame},
      {"many frames", {"--date1"}, frames(6, {}, 1), third_frame},
      {"frame limit 1", {"-d", "-n", "1"}, frames(5, {}, 1), ""},
      {"frame limit 2", {"-d", "-n", "2"}, frames(5, {}, 1), ""},
      {"frame limit 3", {"-d", "-n", "3"}, frames(5, {}, 1), third_frame},
      {"third frame undated",
       {"-d"},
       frames(2) + frames(1, undated()),
       "recording date & time: 0000-00-00 00:00:00\n"},
      // Stray bytes after the third frame are never reached.
      {"stops reading after the third frame", {"-d"}, frames(3, {}, 1) + filler(10), third_frame},
      // The subtitles see frames 0 to 2 but get no end call: the pending one is lost.
      {"with subtitles",
       {"-d", "-s", "-f", "%T"},
       frames(5, {}, 1),
       // The subtitle the stop left pending is written at the end of the run.
       "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n" + third_frame + "{2}{2}12:30:02\r\n"},
      {"with the report",
       {"-d", "-i"},
       frames(2) + frames(1, ntsc()) + frames(2),
       "Frame # 0:\n\tvideo: pal normal interlaced\n\taudio: 2 channels, 48000 Hz, 1920 samples\n"
       "\ttimestamp: 00:00:00.00  recording date & time: 2008-05-17 12:30:00\n"
       "Frame # 1:\n\tvideo: pal normal interlaced\n\taudio: 2 channels, 48000 Hz, 1920 samples\n"
       "\ttimestamp: 00:00:00.00  recording date & time: 2008-05-17 12:30:00\n"
       "Frame # 2:\n\tvideo: ntsc normal interlaced\n\taudio: 2 channels, 48000 Hz, 1602 samples\n"
       "\ttimestamp: 00:00:00.00  recording date & time: 2008-05-17 12:30:00\n"
       "recording date & time: 2008-05-17 12:30:00\n"},
  };
  temp_dir dir;
  for (const date1_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_on_file(dir, c.input, c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(FirstDate, EachFileItsOwnLine) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(4, {}, 1));
  write_file(dir.file("b.dv"), frames(4, dated({1999, 12, 31, 23, 59, 0}), 1));
  write_file(dir.file("c.dv"), frames(2, {}, 1));
  const run_result r = run_tool({"-d", dir.file("a.dv"), dir.file("b.dv"), dir.file("c.dv")});
  EXPECT_EQ(r.out, third_frame + "recording date & time: 1999-12-31 23:59:02\n");
  EXPECT_EQ(r.status, 0);

  // A subtitle left pending by the stop goes on into the next file.
  const run_result s = run_tool({"-d", "-s", "-f", "%T", dir.file("a.dv"), dir.file("a.dv")});
  EXPECT_EQ(s.out, "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n" + third_frame +
                       "{2}{2}12:30:02\r\n{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n" + third_frame +
                       "{2}{2}12:30:02\r\n");
}

}  // namespace
}  // namespace test_support
