// Regular files read through the sliding mapping: every stream case gives what the buffered
// path (--no-mmap) gives, files longer than one window, and stdin redirected from a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

bytes cut(bytes frame, std::size_t size) {
  frame.resize(size);
  return frame;
}

dv_synth::frame_spec bad_header() {
  dv_synth::frame_spec spec;
  spec.bad_header = true;
  return spec;
}

const std::string bad_header_message =
    "dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n";

std::string premature(std::size_t remaining) {
  return "remains only " + std::to_string(remaining) + " bytes, premature EOF?\n";
}

struct stream_case {
  const char* name;
  bytes input;
  std::vector<std::string> args;  // the file name is added last
  std::size_t frames;             // "Frame # " blocks expected on stdout
  std::string err;
  int status = 0;
};

// Runs every case on the file as an operand, mapped and with --no-mmap: the two give the
// same stdout, stderr and status, and those are the ones expected.
TEST(MappedReading, SameAsBufferedReading) {
  const bytes pal_frame = frames(1, dated({2008, 5, 17, 23, 59, 59}));
  const std::vector<stream_case> cases = {
      {"empty file", {}, {"-i"}, 0, ""},
      {"one byte", filler(1), {"-i"}, 0, premature(1), 1},
      {"one byte short of a frame", filler(119999), {"-i"}, 0, premature(119999), 1},
      {"one byte, no frames asked", filler(1), {"-i", "-n", "0"}, 0, ""},
      {"119999 bytes, no frames asked", filler(119999), {"-i", "-n", "0"}, 0, ""},
      {"625/50 frames", frames(3), {"-i"}, 3, ""},
      {"525/60 frames", frames(4, ntsc()), {"-i"}, 4, ""},
      {"systems switching", frames(2) + frames(2, ntsc()) + frames(1), {"-i"}, 5, ""},
      {"625/50 frames and stray bytes", frames(2) + filler(1000), {"-i"}, 2, premature(1000), 1},
      {"525/60 frames and 119999 stray bytes",
       frames(2, ntsc()) + filler(119999),
       {"-i"},
       2,
       premature(119999),
       1},
      {"last 625/50 frame cut to 120000 bytes",
       frames(2) + cut(pal_frame, 120000),
       {"-i"},
       2,
       premature(120000),
       1},
      {"last 625/50 frame cut to 143999 bytes",
       frames(2) + cut(pal_frame, 143999),
       {"-i"},
       2,
       premature(143999),
       1},
      {"only a 625/50 frame cut short", cut(pal_frame, 130000), {"-i"}, 0, premature(130000), 1},
      {"525/60 frames then a cut 625/50 frame",
       frames(3, ntsc()) + cut(pal_frame, 121000),
       {"-i"},
       3,
       premature(121000),
       1},
      {"bad header mid-stream",
       frames(2) + frames(1, bad_header()) + frames(1),
       {"-i"},
       2,
       bad_header_message,
       1},
      {"bad header first", frames(1, bad_header()), {"-i"}, 0, bad_header_message, 1},
      {"frame limit", frames(5), {"-i", "-n", "2"}, 2, ""},
      {"frame limit before stray bytes", frames(2) + filler(10), {"-i", "-n", "2"}, 2, ""},
      {"frame limit above the frames", frames(2), {"-i", "-n", "7"}, 2, ""},
      {"frame limit 0", frames(3), {"-i", "-n", "0"}, 0, ""},
      {"subtitles, clean end", frames(30), {"-s"}, 0, ""},
      {"subtitles, no end call after stray bytes",
       frames(30) + filler(7),
       {"-s"},
       0,
       premature(7),
       1},
      {"subtitles and dumps into files",
       frames(3, ntsc()),
       {"--subtitles-out", "-", "--info-out", "/dev/null", "--ssyb-dump", "--vaux-dump"},
       0,
       ""},
      {"first date stops the stream", frames(5, {}, 1), {"-d"}, 0, ""},
      {"first date, two frames", frames(2), {"-d"}, 0, ""},
  };
  temp_dir dir;
  const std::string file = dir.file("in.dv");
  for (const stream_case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(file, c.input);
    std::vector<std::string> mapped_args = c.args;
    mapped_args.push_back(file);
    std::vector<std::string> buffered_args = c.args;
    buffered_args.push_back("--no-mmap");
    buffered_args.push_back(file);
    const run_result mapped = run_tool(mapped_args);
    const run_result buffered = run_tool(buffered_args);
    EXPECT_EQ(mapped.out, buffered.out);
    EXPECT_EQ(mapped.err, buffered.err);
    EXPECT_EQ(mapped.status, buffered.status);
    EXPECT_EQ(mapped.err, c.err);
    EXPECT_EQ(mapped.status, c.status);
    EXPECT_EQ(count_of(mapped.out, "Frame # "), c.frames);
  }
}

// The subtitle lines of `count` frames recorded one second apart from 2008-05-17 12:30:00.
std::string one_line_per_frame(int count) {
  std::string out;
  for (int n = 0; n < count; ++n) {
    const dv_synth::date_time t = dv_synth::add_seconds({}, n);
    char line[128];
    std::snprintf(line, sizeof line, "{%d}{%d}%04d-%02d-%02d|%02d:%02d:%02d\r\n", n, n, t.year,
                  t.month, t.day, t.hour, t.minute, t.second);
    out += line;
  }
  return out;
}

// Files of 40 MB and more are walked through several 16 MiB windows; every frame is handed
// out once and in order, as reading them with read() does.
TEST(MappedReading, FilesLongerThanOneWindow) {
  struct long_case {
    const char* name;
    dv_synth::frame_spec spec;
    int count;
  };
  const std::vector<long_case> cases = {
      {"625/50", {}, 300},
      {"525/60", ntsc(), 350},
  };
  temp_dir dir;
  const std::string file = dir.file("long.dv");
  for (const long_case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(file, frames(c.count, c.spec, 1));
    const run_result mapped = run_tool({"-s", file});
    const run_result buffered = run_tool({"-s", "--no-mmap", file});
    EXPECT_EQ(mapped.status, 0);
    EXPECT_EQ(mapped.err, "");
    EXPECT_EQ(mapped.out, one_line_per_frame(c.count));
    EXPECT_EQ(mapped.out, buffered.out);
  }
}

// Standard input redirected from a regular file is mapped from the file's first byte, while
// read() goes on from where the descriptor stands.
TEST(MappedReading, StdinFromFileIsReadFromItsStart) {
  temp_dir dir;
  const std::string file = dir.file("in.dv");
  write_file(file, frames(3, {}, 1));
  run_input input;
  input.stdin_file = file;
  input.stdin_offset = static_cast<long>(dv_synth::frame_size(true));

  const run_result mapped = run_tool({"-v", "-s"}, input);
  EXPECT_EQ(mapped.status, 0);
  EXPECT_EQ(mapped.err, "processing stdin...\nall done\n");
  EXPECT_EQ(mapped.out, one_line_per_frame(3));

  const run_result buffered = run_tool({"-v", "-s", "--no-mmap"}, input);
  EXPECT_EQ(buffered.status, 0);
  EXPECT_EQ(buffered.err, "processing stdin...\nall done\n");
  EXPECT_EQ(buffered.out, "{0}{0}2008-05-17|12:30:01\r\n{1}{1}2008-05-17|12:30:02\r\n");

  input.stdin_offset = 1000;  // not even at a frame's start
  EXPECT_EQ(run_tool({"-s"}, input).out, one_line_per_frame(3));
}

}  // namespace
}  // namespace test_support
