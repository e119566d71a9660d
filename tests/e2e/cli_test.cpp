// The command line: usage, version, option errors, conflicts, output files, inputs and the
// exit status, through the built binary.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

// Replaces every "{dir}" in the arguments and texts of a case with the test's directory.
std::string in_dir(std::string text, const temp_dir& dir) {
  for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) {
    text.replace(at, 5, dir.path().string());
  }
  return text;
}

std::vector<std::string> in_dir(std::vector<std::string> args, const temp_dir& dir) {
  for (std::string& arg : args) {
    arg = in_dir(arg, dir);
  }
  return args;
}

// Three 625/50 frames recorded at 2008-05-17 12:30:00 in {dir}/a.dv.
const std::string one_line = "{0}{2}2008-05-17|12:30:00\r\n";

TEST(CommandLine, Cases) {
  const std::string usage = usage_text;
  const std::vector<tool_case> cases = {
      {"no arguments", {}, usage, "", 1},
      {"help", {"-h"}, usage, "", 0},
      {"long help", {"--help"}, usage, "", 0},
      {"version", {"-V"}, "tapestamp 0.3\n", "", 0},
      {"version before a bad option", {"--version", "--bogus"}, "tapestamp 0.3\n", "", 0},
      {"unknown long option", {"--bogus"}, usage, "tapestamp: unrecognized option '--bogus'\n", 1},
      {"unknown short option", {"-x"}, usage, "tapestamp: invalid option -- 'x'\n", 1},
      {"missing argument", {"-n"}, usage, "tapestamp: option requires an argument -- 'n'\n", 1},
      {"ambiguous abbreviation",
       {"--s", "{dir}/a.dv"},
       usage,
       "tapestamp: option '--s' is ambiguous; possibilities: '--subtitles' '--ssyb-dump' "
       "'--subtitles-out' '--subtitles-format' '--split'\n",
       1},
      {"argument to a flag",
       {"--info=x"},
       usage,
       "tapestamp: option '--info' doesn't allow an argument\n",
       1},
      {"max-frames not numeric",
       {"-s", "-n", "5x", "{dir}/a.dv"},
       "",
       "Invalid max-frames option argument `5x'\n",
       1},
      {"boundary with a T",
       {"-s", "-b", "2008-05-17T12:30", "{dir}/a.dv"},
       "",
       "Invalid boundary option argument `2008-05-17T12:30'\n",
       1},
      {"boundary with trailing text",
       {"-s", "-b", "2008-05-17 12:30:00x", "{dir}/a.dv"},
       "",
       "Invalid boundary option argument `2008-05-17 12:30:00x'\n",
       1},
      {"info and subtitles on stdout",
       {"-i", "-s", "{dir}/a.dv"},
       "",
       "Conflict options for stdout. You make a mistake probably.\n",
       1},
      {"pass-through and subtitles on stdout",
       {"-p", "-s", "{dir}/a.dv"},
       "",
       "Conflict options for stdout. You make a mistake probably.\n",
       1},
      {"pass-through and date1",
       {"-p", "-d", "{dir}/a.dv"},
       "",
       "Conflict options pass-through & date1. You make a mistake probably.\n",
       1},
      {"pass-through and long date1",
       {"--date1", "--pass-through", "{dir}/a.dv"},
       "",
       "Conflict options pass-through & date1. You make a mistake probably.\n",
       1},
      {"subtitles, options after the operand", {"{dir}/a.dv", "-s"}, one_line, "", 0},
      {"subtitles takes no argument", {"--subtitles", "{dir}/a.dv"}, one_line, "", 0},
      {"abbreviated long options",
       {"--subtitles-o", "-", "--time=%T", "{dir}/a.dv"},
       "{0}{2}12:30:00\r\n",
       "",
       0},
      {"later option wins",
       {"-s", "-f", "%F", "-f", "%T", "{dir}/a.dv"},
       "{0}{2}12:30:00\r\n",
       "",
       0},
      {"double dash ends the options", {"-s", "--", "{dir}/-s"}, one_line, "", 0},
      {"dash is a file name",
       {"-s", "-"},
       "",
       "open(\"-\"...) failed: No such file or directory\n",
       1},
      {"missing input, the run goes on",
       {"-s", "{dir}/missing.dv", "{dir}/a.dv"},
       one_line,
       "open(\"{dir}/missing.dv\"...) failed: No such file or directory\n",
       1},
      {"output file in a missing directory",
       {"--subtitles-out", "{dir}/no/such.sub", "{dir}/a.dv"},
       "",
       "fopen(\"{dir}/no/such.sub\"...) failed: No such file or directory\n",
       1},
      {"subtitles file named dash is stdout",
       {"--subtitles-out", "-", "{dir}/a.dv"},
       one_line,
       "",
       0},
      {"pass-through alone reads nothing", {"-p", "{dir}/missing.dv"}, "", "", 0},
      {"verbose run",
       {"-v", "-s", "{dir}/a.dv"},
       one_line,
       "processing file `{dir}/a.dv'...\nall done\n",
       0},
      {"verbose with nothing to do", {"-v", "-p"}, "", "all done\n", 0},
      {"directory as input", {"-s", "{dir}"}, "", "read() failed: Is a directory\n", 1},
      {"unknown subtitles format, no file made",
       {"--subtitles-out", "{dir}/never.srt", "--subtitles-format", "SRT", "{dir}/a.dv"},
       "",
       "Invalid subtitles-format option argument `SRT'\n",
       1},
      {"unknown recordings format",
       {"--recordings-out", "{dir}/never.txt", "--recordings-format=xml", "{dir}/a.dv"},
       "",
       "Invalid recordings-format option argument `xml'\n",
       1},
      {"recordings and subtitles on stdout",
       {"--recordings", "-s", "{dir}/a.dv"},
       "",
       "Conflict options for stdout. You make a mistake probably.\n",
       1},
      {"recordings and pass-through on stdout",
       {"-p", "--recordings", "{dir}/a.dv"},
       "",
       "Conflict options for stdout. You make a mistake probably.\n",
       1},
      {"split and date1",
       {"--split", "{dir}/part-", "-d", "{dir}/a.dv"},
       "",
       "Conflict options split & date1. You make a mistake probably.\n",
       1},
      {"the stdout conflict is told first",
       {"--split", "{dir}/part-", "-d", "-i", "-s", "{dir}/a.dv"},
       "",
       "Conflict options for stdout. You make a mistake probably.\n",
       1},
      {"abbreviations of before stay unambiguous",
       {"--info-", "{dir}/info.txt", "--subtitles-o", "-", "--max", "3", "--time", "%T",
        "{dir}/a.dv"},
       "{0}{2}12:30:00\r\n",
       "",
       0},
      {"clock offset of an hour",
       {"-s", "--clock-offset", "+1h", "{dir}/a.dv"},
       "{0}{2}2008-05-17|13:30:00\r\n",
       "",
       0},
      {"clock offset back by days, hours and minutes",
       {"-s", "--clock-offset=-1d2h30m", "{dir}/a.dv"},
       "{0}{2}2008-05-16|10:00:00\r\n",
       "",
       0},
      {"clock offset in seconds",
       {"-s", "--clock-offset", "+90s", "{dir}/a.dv"},
       "{0}{2}2008-05-17|12:31:30\r\n",
       "",
       0},
      {"clock offset of nothing", {"-s", "--clock-offset", "-0s", "{dir}/a.dv"}, one_line, "", 0},
  };
  temp_dir dir;
  const bytes three = frames(3);
  write_file(dir.file("a.dv"), three);
  write_file(dir.file("-s"), three);
  for (const tool_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_tool(in_dir(c.args, dir));
    EXPECT_EQ(r.out, in_dir(c.out, dir));
    EXPECT_EQ(r.err, in_dir(c.err, dir));
    EXPECT_EQ(r.status, c.status);
  }
  // Offsets the clock-offset option refuses: no sign, no number, units out of order,
  // repeated or unknown, upper case, stray characters, numbers too long.
  for (const char* offset : {"1h", "+", "-", "+h", "+1", "+1H", "+1h1d", "+1h1h", "+1m1h", "+1w",
                             "+1h ", " +1h", "+-1h", "++1h", "+1.5h", "+1234567890s", ""}) {
    SCOPED_TRACE(std::string("clock offset `") + offset + "'");
    const run_result r = run_tool(in_dir(
        {"--subtitles-out", "{dir}/never.sub", "--clock-offset", offset, "{dir}/a.dv"}, dir));
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Invalid clock-offset option argument `") + offset + "'\n");
    EXPECT_EQ(r.status, 1);
  }
  // A refused option argument stops the run before any output file is made.
  for (const char* name : {"never.srt", "never.txt", "never.sub"}) {
    EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
  }
}

// Frames one second apart, so that the number of subtitle lines counts the frames handled.
TEST(CommandLine, MaxFramesBases) {
  struct limit_case {
    const char* argument;
    std::size_t lines;
  };
  const limit_case cases[] = {{"0x10", 16}, {"010", 8}, {"", 0},   {"0", 0},
                              {"3", 3},     {"-1", 20}, {"99", 20}};
  temp_dir dir;
  write_file(dir.file("f.dv"), frames(20, {}, 1));
  for (const limit_case& c : cases) {
    SCOPED_TRACE(c.argument);
    const run_result r = run_tool({"-s", "-f", "%T", "-n", c.argument, dir.file("f.dv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(count_of(r.out, "\n"), c.lines);
  }
}

// The clock offset moves the time every output shows, the calendar carried, except the
// information report, which shows what the frame holds.
TEST(CommandLine, ClockOffsetReachesEveryOutputButTheReport) {
  struct offset_case {
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<offset_case> cases = {
      {{"-d"}, "recording date & time: 2009-01-01 00:30:00\n"},
      {{"-s", "-f", "%F %T"}, "{0}{2}2009-01-01 00:30:00\r\n"},
      {{"-i", "-n", "1"},
       "Frame # 0:\n\tvideo: pal normal interlaced\n\taudio: 2 channels, 48000 Hz, 1920 "
       "samples\n\ttimestamp: 00:00:00.00  recording date & time: 2008-12-31 23:30:00\n"},
  };
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(3, dated({2008, 12, 31, 23, 30, 0})));
  for (const offset_case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--clock-offset", "+1h", dir.file("a.dv")});
    const run_result r = run_tool(args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(CommandLine, OutputRouting) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(1));
  const std::string block =
      "Frame # 0:\n\tvideo: pal normal interlaced\n\taudio: 2 channels, 48000 Hz, 1920 samples\n"
      "\ttimestamp: 00:00:00.00  recording date & time: 2008-05-17 12:30:00\n";
  const std::string line = "{0}{0}2008-05-17|12:30:00\r\n";

  // Info on stdout, subtitles into a file.
  run_result r = run_tool({"-i", "--subtitles-out", dir.file("s.sub"), dir.file("a.dv")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, block);
  EXPECT_EQ(read_file(dir.file("s.sub")), line);

  // Info into a file, subtitles on stdout.
  r = run_tool({"--info-out", dir.file("i.txt"), "-s", dir.file("a.dv")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, line);
  EXPECT_EQ(read_file(dir.file("i.txt")), block);

  // "-" as the info file shares stdout with the subtitles: the block comes first, as the
  // info report is ahead of the subtitles in the chain.
  r = run_tool({"--info-out", "-", "-s", dir.file("a.dv")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, block + line);

  // A pack dump together with pass-through is accepted and mixes both on stdout.
  r = run_tool({"-p", "--ssyb-dump", dir.file("a.dv")});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\tssyb id=0x13"), std::string::npos);
  EXPECT_EQ(r.out.size(),
            144000 + block.size() +
                3 * std::string("\tssyb id=0x13 data=[0x00, 0x80, 0x80, 0xc0]\n").size());
}

TEST(CommandLine, OutputFilesAreCreatedBeforeInputIsRead) {
  temp_dir dir;
  // Checks passed: both files exist (truncated) although the only input is missing.
  write_file(dir.file("i.txt"), std::string("old"));
  const run_result r = run_tool({"--info-out", dir.file("i.txt"), "--subtitles-out",
                                 dir.file("s.sub"), dir.file("missing.dv")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(dir.file("i.txt")), "");
  EXPECT_EQ(read_file(dir.file("s.sub")), "");

  // A refused combination touches no output file.
  write_file(dir.file("kept.sub"), std::string("old"));
  const run_result refused =
      run_tool({"--subtitles-out", dir.file("kept.sub"), "-i", "-p", dir.file("missing.dv")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(read_file(dir.file("kept.sub")), "old");
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing.dv")));
}

// Text that cannot be written fails the run with one message, wherever it was headed.
TEST(CommandLine, UnwritableOutputFails) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(3));
  // Sixty frames a second apart make more text than one stdio buffer holds.
  write_file(dir.file("long.dv"), frames(60, {}, 1));
  const std::string long_format(100, '.');
  struct fault_case {
    const char* name;
    std::vector<std::string> args;
    bool stdout_full;
    std::string err;
  };
  const std::vector<fault_case> cases = {
      {"short text on stdout",
       {"-s", dir.file("a.dv")},
       true,
       "fflush() (stdout) failed: No space left on device\n"},
      {"more text than a stdio buffer on stdout",
       {"-s", "-f", "%T" + long_format, dir.file("long.dv")},
       true,
       "fflush() (stdout) failed: No space left on device\n"},
      {"info on stdout",
       {"-i", dir.file("long.dv")},
       true,
       "fflush() (stdout) failed: No space left on device\n"},
      {"version on stdout", {"-V"}, true, "fflush() (stdout) failed: No space left on device\n"},
      {"subtitles file",
       {"--subtitles-out", "/dev/full", "-f", "%T" + long_format, dir.file("long.dv")},
       false,
       "fclose() (file `/dev/full') failed: No space left on device\n"},
      {"info file",
       {"--info-out", "/dev/full", dir.file("long.dv")},
       false,
       "fclose() (file `/dev/full') failed: No space left on device\n"},
  };
  for (const fault_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_input input;
    if (c.stdout_full) {
      input.stdout_file = "/dev/full";
    }
    const run_result r = run_tool(c.args, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(CommandLine, StandardInput) {
  temp_dir dir;
  const bytes three = frames(3);
  write_file(dir.file("a.dv"), three);
  run_input from_pipe;
  from_pipe.stdin_pipe = as_string(three);
  run_result r = run_tool({"-v", "-s"}, from_pipe);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, one_line);
  EXPECT_EQ(r.err, "processing stdin...\nall done\n");

  run_input from_file;
  from_file.stdin_file = dir.file("a.dv");
  r = run_tool({"-s"}, from_file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, one_line);
}

}  // namespace
}  // namespace test_support
