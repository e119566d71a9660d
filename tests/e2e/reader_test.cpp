// Reading a stream frame by frame: clean ends, premature ends, corrupt headers, frame limits,
// input in small pieces and the pass-through copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

// Subtitles of frames one second apart make every handled frame visible: a line is written
// when the next frame arrives, and the last one only by the end call.
const std::vector<std::string> one_line_per_second = {"-f", "%T"};

std::string lines(int first, int count) {
  std::string out;
  for (int n = first; n < first + count; ++n) {
    char line[64];
    std::snprintf(line, sizeof line, "{%d}{%d}12:30:%02d\r\n", n, n, n);
    out += line;
  }
  return out;
}

struct stream_case {
  const char* name;
  bytes input;
  std::vector<std::string> extra_args;
  std::string out;  // the subtitles
  std::string err;
  int status;
  // Bytes the pass-through copy holds: a failed stream is still copied to its end.
  std::size_t copied;
};

const std::size_t pal_size = 144000;
const std::size_t ntsc_size = 120000;

std::vector<stream_case> stream_cases() {
  dv_synth::frame_spec bad;
  bad.bad_header = true;
  const bytes pal3 = frames(3, {}, 1);
  const std::string header_error =
      "dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n";
  return {
      {"empty input", {}, {}, "", "", 0, 0},
      {"one byte", filler(1), {}, "", "remains only 1 bytes, premature EOF?\n", 1, 1},
      {"one byte short of a frame",
       filler(ntsc_size - 1),
       {},
       "",
       "remains only 119999 bytes, premature EOF?\n",
       1,
       ntsc_size - 1},
      {"625/50 frames", pal3, {}, lines(0, 3), "", 0, 3 * pal_size},
      {"525/60 frames", frames(3, ntsc(), 1), {}, lines(0, 3), "", 0, 3 * ntsc_size},
      {"systems switching",
       frames(1, {}, 1) + frames(1, dated({2008, 5, 17, 12, 30, 1}, ntsc())) +
           frames(1, dated({2008, 5, 17, 12, 30, 2})),
       {},
       lines(0, 3),
       "",
       0,
       2 * pal_size + ntsc_size},
      {"whole frames and stray bytes",
       pal3 + filler(100),
       {},
       lines(0, 3),
       "remains only 100 bytes, premature EOF?\n",
       1,
       3 * pal_size + 100},
      // A 625/50 frame whose tail is missing is not handed out: the bytes left are reported.
      {"625/50 frame cut short",
       frames(2, {}, 1) + bytes(pal3.begin() + 2 * pal_size, pal3.end() - 1),
       {},
       lines(0, 2),
       "remains only 143999 bytes, premature EOF?\n",
       1,
       3 * pal_size - 1},
      {"625/50 frame with only 525/60 bytes",
       frames(2, {}, 1) +
           bytes(pal3.begin() + 2 * pal_size, pal3.begin() + 2 * pal_size + ntsc_size),
       {},
       lines(0, 2),
       "remains only 120000 bytes, premature EOF?\n",
       1,
       2 * pal_size + ntsc_size},
      {"corrupt header mid-stream",
       frames(2, {}, 1) + frames(1, bad) + pal3,
       {},
       lines(0, 2),
       header_error,
       1,
       6 * pal_size},
      {"corrupt first frame", frames(1, bad), {}, "", header_error, 1, pal_size},
      {"frame limit", frames(5, {}, 1), {"-n", "2"}, lines(0, 2), "", 0, 2 * pal_size},
      {"frame limit beyond the stream", pal3, {"-n", "10"}, lines(0, 3), "", 0, 3 * pal_size},
      {"frame limit zero", pal3, {"-n", "0"}, "", "", 0, 0},
  };
}

std::vector<std::string> args(std::vector<std::string> front, const stream_case& c) {
  front.insert(front.end(), one_line_per_second.begin(), one_line_per_second.end());
  front.insert(front.end(), c.extra_args.begin(), c.extra_args.end());
  return front;
}

TEST(Reader, StreamsFromAFile) {
  temp_dir dir;
  for (const stream_case& c : stream_cases()) {
    SCOPED_TRACE(c.name);
    const run_result r = run_on_file(dir, c.input, args({"-s"}, c));
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

// A pipe that delivers odd-sized pieces gives the same results as a file.
TEST(Reader, StreamsFromAPipeInSmallPieces) {
  for (const stream_case& c : stream_cases()) {
    SCOPED_TRACE(c.name);
    run_input input;
    input.stdin_pipe = as_string(c.input);
    input.pipe_chunk = 4099;
    const run_result r = run_tool(args({"-s"}, c), input);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

// Pass-through copies every frame handed out, byte for byte, and after a failure the rest of
// the input; a frame limit ends the copy where the handling ends.
TEST(Reader, PassThroughCopiesHandledFrames) {
  temp_dir dir;
  for (const stream_case& c : stream_cases()) {
    SCOPED_TRACE(c.name);
    run_input input;
    input.stdin_pipe = as_string(c.input);
    input.pipe_chunk = 65536;
    const run_result r = run_tool(args({"-p", "--subtitles-out", dir.file("s.sub")}, c), input);
    EXPECT_EQ(r.out, as_string(c.input).substr(0, c.copied));
    EXPECT_EQ(read_file(dir.file("s.sub")), c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
}

// The copy is the same whatever the input and standard output are: a file or a pipe in; a
// pipe, a file or a file appended to out. The kernel moves the bytes where the pair allows it
// (and refuses to for the appended file); what arrives does not change.
TEST(Reader, PassThroughOverEveryKindOfDescriptor) {
  enum class out_kind { pipe, file, appended };
  const char* const out_names[] = {"stdout a pipe", "stdout a file", "stdout appended to"};
  temp_dir dir;
  for (const stream_case& c : stream_cases()) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("in.dv"), c.input);
    const std::string expected = as_string(c.input).substr(0, c.copied);
    for (const bool from_pipe : {false, true}) {
      SCOPED_TRACE(from_pipe ? "stdin a pipe" : "stdin a file");
      for (const out_kind out : {out_kind::pipe, out_kind::file, out_kind::appended}) {
        SCOPED_TRACE(out_names[static_cast<int>(out)]);
        run_input input;
        if (from_pipe) {
          input.stdin_pipe = as_string(c.input);
          input.pipe_chunk = 4099;
        } else {
          input.stdin_file = dir.file("in.dv");
        }
        std::string before;
        if (out != out_kind::pipe) {
          input.stdout_file = dir.file("out.dv");
          input.stdout_append = out == out_kind::appended;
          before = out == out_kind::appended ? "kept" : "";
          write_file(dir.file("out.dv"), std::string("kept"));
        }
        const run_result r = run_tool(args({"-p", "--subtitles-out", dir.file("s.sub")}, c), input);
        const std::string copied = out == out_kind::pipe ? r.out : read_file(dir.file("out.dv"));
        EXPECT_EQ(copied.size(), before.size() + expected.size());
        EXPECT_TRUE(copied == before + expected);
        EXPECT_EQ(read_file(dir.file("s.sub")), c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.status, c.status);
      }
    }
  }

  // Standard input standing inside a file: reading and the copy start there.
  const bytes five = frames(5, {}, 1);
  write_file(dir.file("in.dv"), five);
  run_input input;
  input.stdin_file = dir.file("in.dv");
  input.stdin_offset = static_cast<long>(2 * pal_size);
  const run_result r = run_tool({"-p", "-f", "%T", "--subtitles-out", dir.file("s.sub")}, input);
  EXPECT_TRUE(r.out == as_string(five).substr(2 * pal_size));
  EXPECT_EQ(read_file(dir.file("s.sub")), "{0}{0}12:30:02\r\n{1}{1}12:30:03\r\n{2}{2}12:30:04\r\n");
  EXPECT_EQ(r.status, 0);
}

// Frame numbers restart in every file; a file that fails does not stop the run.
TEST(Reader, SeveralFiles) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(2, {}, 1));
  write_file(dir.file("short.dv"), filler(10));
  write_file(dir.file("b.dv"), frames(3, {}, 1));
  const run_result r =
      run_tool({"-v", "-s", "-f", "%T", dir.file("a.dv"), dir.file("short.dv"), dir.file("b.dv")});
  EXPECT_EQ(r.out, lines(0, 2) + lines(0, 3));
  EXPECT_EQ(r.err, "processing file `" + dir.file("a.dv") + "'...\nprocessing file `" +
                       dir.file("short.dv") + "'...\nremains only 10 bytes, premature EOF?\n" +
                       "processing file `" + dir.file("b.dv") + "'...\nall done\n");
  EXPECT_EQ(r.status, 1);

  // The frame limit counts in each file on its own.
  const run_result limited =
      run_tool({"-s", "-f", "%T", "-n", "2", dir.file("b.dv"), dir.file("b.dv")});
  EXPECT_EQ(limited.out, lines(0, 2) + lines(0, 2));
  EXPECT_EQ(limited.status, 0);
}

}  // namespace
}  // namespace test_support
