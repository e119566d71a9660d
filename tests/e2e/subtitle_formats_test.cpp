// Subtitles as SRT, WebVTT and ASS: cue times from the frames' durations across both systems
// and several inputs, the merging rules shared with MicroDVD, the file headers, the clock
// offset and the texts that each format must escape.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::date_time;

const std::string vtt_header = "WEBVTT\n\n";

const std::string ass_header =
    "[Script Info]\n"
    "ScriptType: v4.00+\n"
    "PlayResX: 720\n"
    "PlayResY: 576\n"
    "WrapStyle: 2\n"
    "ScaledBorderAndShadow: yes\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Sans,30,&H00FFFFFF,&H000000FF,&H00202020,&H80000000,-1,0,0,0,100,100,0,0,"
    "1,2,1,3,40,40,32,1\n"
    "\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

// One input, the options after `-s --subtitles-format F`, and the whole output per format.
struct formats_case {
  const char* name;
  bytes input;
  std::vector<std::string> args;
  std::string srt;
  std::string vtt;  // after the header
  std::string ass;  // after the header
};

TEST(SubtitleFormats, Cases) {
  const date_time noon = {2008, 5, 17, 12, 30, 0};
  const date_time noon_and_a_second = {2008, 5, 17, 12, 30, 1};
  const std::vector<formats_case> cases = {
      {"two seconds of 625/50 frames",
       frames(50),
       {},
       "1\n00:00:00,000 --> 00:00:01,000\n2008-05-17\n12:30:00\n\n"
       "2\n00:00:01,000 --> 00:00:02,000\n2008-05-17\n12:30:01\n\n",
       "00:00:00.000 --> 00:00:01.000\n2008-05-17\n12:30:00\n\n"
       "00:00:01.000 --> 00:00:02.000\n2008-05-17\n12:30:01\n\n",
       "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,2008-05-17\\N12:30:00\n"
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,2008-05-17\\N12:30:01\n"},
      {"525/60 frames",
       frames(35, ntsc(), 30),
       {"-f", "%T"},
       "1\n00:00:00,000 --> 00:00:01,001\n12:30:00\n\n"
       "2\n00:00:01,001 --> 00:00:01,167\n12:30:01\n\n",
       "00:00:00.000 --> 00:00:01.001\n12:30:00\n\n"
       "00:00:01.001 --> 00:00:01.167\n12:30:01\n\n",
       "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,12:30:00\n"
       "Dialogue: 0,0:00:01.00,0:00:01.16,Default,,0,0,0,,12:30:01\n"},
      {"525/60 times rounded down",
       frames(3, ntsc(), 1),
       {"-f", "%T"},
       "1\n00:00:00,000 --> 00:00:00,033\n12:30:00\n\n"
       "2\n00:00:00,033 --> 00:00:00,066\n12:30:01\n\n"
       "3\n00:00:00,066 --> 00:00:00,100\n12:30:02\n\n",
       "00:00:00.000 --> 00:00:00.033\n12:30:00\n\n"
       "00:00:00.033 --> 00:00:00.066\n12:30:01\n\n"
       "00:00:00.066 --> 00:00:00.100\n12:30:02\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.03,Default,,0,0,0,,12:30:00\n"
       "Dialogue: 0,0:00:00.03,0:00:00.06,Default,,0,0,0,,12:30:01\n"
       "Dialogue: 0,0:00:00.06,0:00:00.10,Default,,0,0,0,,12:30:02\n"},
      {"a switch from 625/50 to 525/60",
       frames(25) + frames(30, dated(noon_and_a_second, ntsc()), 30),
       {"-f", "%T"},
       "1\n00:00:00,000 --> 00:00:01,000\n12:30:00\n\n"
       "2\n00:00:01,000 --> 00:00:02,001\n12:30:01\n\n",
       "00:00:00.000 --> 00:00:01.000\n12:30:00\n\n"
       "00:00:01.000 --> 00:00:02.001\n12:30:01\n\n",
       "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,12:30:00\n"
       "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,12:30:01\n"},
      {"a cue across the switch",
       frames(2) + frames(2, ntsc()),
       {"-f", "%T"},
       "1\n00:00:00,000 --> 00:00:00,146\n12:30:00\n\n",
       "00:00:00.000 --> 00:00:00.146\n12:30:00\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.14,Default,,0,0,0,,12:30:00\n"},
      {"a gap of undated frames",
       frames(10) + frames(10, undated()) + frames(10),
       {"-f", "%T"},
       "1\n00:00:00,000 --> 00:00:00,400\n12:30:00\n\n"
       "2\n00:00:00,800 --> 00:00:01,200\n12:30:00\n\n",
       "00:00:00.000 --> 00:00:00.400\n12:30:00\n\n"
       "00:00:00.800 --> 00:00:01.200\n12:30:00\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.40,Default,,0,0,0,,12:30:00\n"
       "Dialogue: 0,0:00:00.80,0:00:01.20,Default,,0,0,0,,12:30:00\n"},
      {"boundary",
       frames(3, dated(noon), 1),
       {"-f", "%T", "-b", "2008-05-17 12:30:01"},
       "1\n00:00:00,000 --> 00:00:00,040\n12:30:00\n\n"
       "2\n00:00:00,040 --> 00:00:00,080\n12:30:01\n\n",
       "00:00:00.000 --> 00:00:00.040\n12:30:00\n\n"
       "00:00:00.040 --> 00:00:00.080\n12:30:01\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.04,Default,,0,0,0,,12:30:00\n"
       "Dialogue: 0,0:00:00.04,0:00:00.08,Default,,0,0,0,,12:30:01\n"},
      {"frame limit",
       frames(50),
       {"-f", "%T", "-n", "30"},
       "1\n00:00:00,000 --> 00:00:01,000\n12:30:00\n\n"
       "2\n00:00:01,000 --> 00:00:01,200\n12:30:01\n\n",
       "00:00:00.000 --> 00:00:01.000\n12:30:00\n\n"
       "00:00:01.000 --> 00:00:01.200\n12:30:01\n\n",
       "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,12:30:00\n"
       "Dialogue: 0,0:00:01.00,0:00:01.20,Default,,0,0,0,,12:30:01\n"},
      {"clock offset into the next year",
       frames(2, dated({2008, 12, 31, 23, 59, 59}), 1),
       {"-f", "%F %T", "--clock-offset", "+1s"},
       "1\n00:00:00,000 --> 00:00:00,040\n2009-01-01 00:00:00\n\n"
       "2\n00:00:00,040 --> 00:00:00,080\n2009-01-01 00:00:01\n\n",
       "00:00:00.000 --> 00:00:00.040\n2009-01-01 00:00:00\n\n"
       "00:00:00.040 --> 00:00:00.080\n2009-01-01 00:00:01\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.04,Default,,0,0,0,,2009-01-01 00:00:00\n"
       "Dialogue: 0,0:00:00.04,0:00:00.08,Default,,0,0,0,,2009-01-01 00:00:01\n"},
      {"characters with a meaning in the formats",
       frames(1),
       {"-f", "<%T> & {%F} --> \\N \\h \\{ \\"},
       "1\n00:00:00,000 --> 00:00:00,040\n<12:30:00> & {2008-05-17} --> \\N \\h \\{ \\\n\n",
       "00:00:00.000 --> 00:00:00.040\n"
       "&lt;12:30:00&gt; &amp; {2008-05-17} --&gt; \\N \\h \\{ \\\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.04,Default,,0,0,0,,"
       "<12:30:00> & \\{2008-05-17\\} --> \\\u2060N \\\u2060h \\\u2060\\{ \\\n"},
      {"line breaks of every kind, empty lines left out",
       frames(1),
       {"-f", "%n|%F%n%n%T\r\n|"},
       "1\n00:00:00,000 --> 00:00:00,040\n2008-05-17\n12:30:00\n\n",
       "00:00:00.000 --> 00:00:00.040\n2008-05-17\n12:30:00\n\n",
       "Dialogue: 0,0:00:00.00,0:00:00.04,Default,,0,0,0,,2008-05-17\\N12:30:00\n"},
      {"text of line breaks alone shows nothing", frames(2), {"-f", "|%n"}, "", "", ""},
      {"undated frames", frames(5, undated()), {}, "", "", ""},
      {"no frames", bytes(), {}, "", "", ""},
  };
  temp_dir dir;
  for (const formats_case& c : cases) {
    for (const char* format : {"srt", "vtt", "ass"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + format);
      std::vector<std::string> args = {"-s", "--subtitles-format", format};
      args.insert(args.end(), c.args.begin(), c.args.end());
      const run_result r = run_on_file(dir, c.input, args);
      const std::string format_name = format;
      const std::string expected = format_name == "srt"   ? c.srt
                                   : format_name == "vtt" ? vtt_header + c.vtt
                                                          : ass_header + c.ass;
      EXPECT_EQ(r.out, expected);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.status, 0);
    }
  }
}

// The clock offset carries into the calendar before the text and the boundary see the time.
TEST(SubtitleFormats, ClockOffset) {
  struct offset_case {
    const char* name;
    date_time recorded;
    const char* offset;
    std::string text;
  };
  const std::vector<offset_case> cases = {
      {"past midnight", {2008, 5, 17, 23, 30, 0}, "+1h", "2008-05-18 00:30:00"},
      {"into the next month", {2008, 4, 30, 23, 59, 59}, "+1s", "2008-05-01 00:00:00"},
      {"into the next year", {2007, 12, 31, 23, 59, 59}, "+1s", "2008-01-01 00:00:00"},
      {"onto a leap day", {2008, 2, 28, 23, 59, 59}, "+1s", "2008-02-29 00:00:00"},
      {"off a leap day", {2008, 2, 29, 23, 30, 0}, "+1h", "2008-03-01 00:30:00"},
      {"no leap day", {2007, 2, 28, 23, 59, 59}, "+1s", "2007-03-01 00:00:00"},
      {"back over the new year", {2008, 1, 1, 1, 0, 0}, "-1d2h30m", "2007-12-30 22:30:00"},
  };
  temp_dir dir;
  for (const offset_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r =
        run_on_file(dir, frames(1, dated(c.recorded)),
                    {"-s", "--subtitles-format", "srt", "-f", "%F %T", "--clock-offset", c.offset});
    EXPECT_EQ(r.out, "1\n00:00:00,000 --> 00:00:00,040\n" + c.text + "\n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
  // The boundary is compared with the corrected time.
  const run_result r = run_on_file(dir, frames(2, {}, 1),
                                   {"-s", "--subtitles-format", "vtt", "-f", "%T", "--clock-offset",
                                    "+1h", "-b", "2008-05-17 13:30:00"});
  EXPECT_EQ(r.out, vtt_header + "00:00:00.000 --> 00:00:00.040\n13:30:00\n\n");
  EXPECT_EQ(r.status, 0);
}

// Several inputs: times run on from one to the next, each stream's cue ends with it (also
// when it failed), a missing input adds no time, and SRT numbers run across the run.
// MicroDVD keeps numbering frames per stream and carries the failed stream's subtitle.
TEST(SubtitleFormats, SeveralInputs) {
  temp_dir dir;
  // 12:30:00 for a second, then 12:30:01 for 5 frames.
  write_file(dir.file("a.dv"), frames(30));
  // 5 frames at 12:31:00, then stray bytes that fail the stream.
  write_file(dir.file("failed.dv"), frames(5, dated({2008, 5, 17, 12, 31, 0})) + filler(50));
  // 10 frames at 12:30:01: the same text as a.dv's last cue, which still is not taken on.
  write_file(dir.file("b.dv"), frames(10, dated({2008, 5, 17, 12, 30, 1})));
  struct inputs_case {
    const char* format;
    std::string out;
  };
  const std::vector<inputs_case> cases = {
      {"srt",
       "1\n00:00:00,000 --> 00:00:01,000\n12:30:00\n\n"
       "2\n00:00:01,000 --> 00:00:01,200\n12:30:01\n\n"
       "3\n00:00:01,200 --> 00:00:01,400\n12:31:00\n\n"
       "4\n00:00:01,400 --> 00:00:01,800\n12:30:01\n\n"},
      {"vtt", vtt_header + "00:00:00.000 --> 00:00:01.000\n12:30:00\n\n"
                           "00:00:01.000 --> 00:00:01.200\n12:30:01\n\n"
                           "00:00:01.200 --> 00:00:01.400\n12:31:00\n\n"
                           "00:00:01.400 --> 00:00:01.800\n12:30:01\n\n"},
      {"ass", ass_header + "Dialogue: 0,0:00:00.00,0:00:01.00,Default,,0,0,0,,12:30:00\n"
                           "Dialogue: 0,0:00:01.00,0:00:01.20,Default,,0,0,0,,12:30:01\n"
                           "Dialogue: 0,0:00:01.20,0:00:01.40,Default,,0,0,0,,12:31:00\n"
                           "Dialogue: 0,0:00:01.40,0:00:01.80,Default,,0,0,0,,12:30:01\n"},
      {"microdvd", "{0}{24}12:30:00\r\n{25}{29}12:30:01\r\n{0}{4}12:31:00\r\n{0}{9}12:30:01\r\n"},
  };
  const std::string err = "remains only 50 bytes, premature EOF?\nopen(\"" +
                          dir.file("missing.dv") + "\"...) failed: No such file or directory\n";
  for (const inputs_case& c : cases) {
    SCOPED_TRACE(c.format);
    const std::vector<std::string> inputs = {dir.file("a.dv"), dir.file("failed.dv"),
                                             dir.file("missing.dv"), dir.file("b.dv")};
    std::vector<std::string> args = {"-s", "--subtitles-format", c.format, "-f", "%T"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    run_result r = run_tool(args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, 1);

    const std::string file = dir.file(std::string("out.") + c.format);
    args = {"--subtitles-out", file, "--subtitles-format", c.format, "-f", "%T"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    r = run_tool(args);
    EXPECT_EQ(read_file(file), c.out);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, 1);
  }
}

// With -d every stream stops after its third frame: its cue ends there, and the next stream's
// times follow on from the three frames handled.
TEST(SubtitleFormats, WithTheFirstDateLine) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(5, {}, 1));
  write_file(dir.file("b.dv"), frames(5, dated({2008, 5, 17, 12, 31, 0}), 25));
  const run_result r = run_tool(
      {"-s", "--subtitles-format", "srt", "-f", "%T", "-d", dir.file("a.dv"), dir.file("b.dv")});
  EXPECT_EQ(r.out,
            "1\n00:00:00,000 --> 00:00:00,040\n12:30:00\n\n"
            "2\n00:00:00,040 --> 00:00:00,080\n12:30:01\n\n"
            "recording date & time: 2008-05-17 12:30:02\n"
            "3\n00:00:00,080 --> 00:00:00,120\n12:30:02\n\n"
            "recording date & time: 2008-05-17 12:31:00\n"
            "4\n00:00:00,120 --> 00:00:00,240\n12:31:00\n\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

// The header alone when the run reads nothing at all, so that the file stays valid.
TEST(SubtitleFormats, HeaderOfAnEmptyRun) {
  temp_dir dir;
  const std::vector<tool_case> cases = {
      {"srt", {"srt"}, "", ""},
      {"vtt", {"vtt"}, vtt_header, ""},
      {"ass", {"ass"}, ass_header, ""},
      {"microdvd", {"microdvd"}, "", ""},
  };
  for (const tool_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.file("out.sub");
    const run_result r = run_tool(
        {"--subtitles-out", file, "--subtitles-format", c.args[0], dir.file("missing.dv")});
    EXPECT_EQ(read_file(file), c.out);
    EXPECT_EQ(r.err,
              "open(\"" + dir.file("missing.dv") + "\"...) failed: No such file or directory\n");
    EXPECT_EQ(r.status, 1);
  }
}

// Named, MicroDVD is the default byte for byte, its subtitle carried from a failed stream.
TEST(SubtitleFormats, MicroDvdByName) {
  temp_dir dir;
  write_file(dir.file("failed.dv"), frames(3) + filler(50));
  write_file(dir.file("same.dv"), frames(2));
  const run_result named = run_tool(
      {"-s", "--subtitles-format", "microdvd", dir.file("failed.dv"), dir.file("same.dv")});
  const run_result plain = run_tool({"-s", dir.file("failed.dv"), dir.file("same.dv")});
  EXPECT_EQ(named.out, "{0}{1}2008-05-17|12:30:00\r\n");
  EXPECT_EQ(named.out, plain.out);
  EXPECT_EQ(named.err, plain.err);
  EXPECT_EQ(named.status, 1);
}

}  // namespace
}  // namespace test_support
