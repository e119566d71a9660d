// Hostile input and I/O faults, through the built binary: each fault gives its message and
// exit status, and whatever was written before it stays written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

// A checksum, to compare long streams without printing them on a mismatch.
std::size_t checksum(const std::string& data) { return std::hash<std::string>{}(data); }

// The first `size` bytes of a frame.
bytes cut_frame(dv_synth::frame_spec spec, std::size_t size) {
  bytes frame = frames(1, spec);
  frame.resize(size);
  return frame;
}

bool write_all(int fd, const bytes& data) {
  const std::uint8_t* at = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, at, left);
    if (n <= 0) {
      return false;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Frames one second apart from 2008-05-17 12:30:00, so that every frame makes its own
// subtitle line "{n}{n}12:30:ss".
bytes seconds(int count, dv_synth::frame_spec spec = {}) { return frames(count, spec, 1); }

std::string subtitle_lines(int first, int count) {
  std::string lines;
  for (int n = first; n < first + count; ++n) {
    char line[64];
    std::snprintf(line, sizeof line, "{%d}{%d}12:%02d:%02d\r\n", n, n, 30 + n / 60, n % 60);
    lines += line;
  }
  return lines;
}

// Damaged streams: what was handed out before the damage is reported and copied out; the
// damage ends the stream with its message and the run fails.
TEST(Faults, DamagedStreams) {
  struct damage_case {
    const char* name;
    bytes stream;
    int frames_before;  // whole frames handled and copied before the damage
    std::string err;
  };
  const bytes bad = frames(1, [] {
    dv_synth::frame_spec spec;
    spec.bad_header = true;
    return spec;
  }());
  const std::string corrupt =
      "dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n";
  const std::vector<damage_case> cases = {
      {"corrupt header mid-stream", seconds(5) + bad + seconds(3), 5, corrupt},
      {"corrupt header first", bad + seconds(3), 0, corrupt},
      {"junk between recordings", seconds(4) + filler(5000) + seconds(2), 4, corrupt},
      {"625/50 frame cut short at the end", seconds(3) + cut_frame({}, 130000), 3,
       "remains only 130000 bytes, premature EOF?\n"},
      {"525/60 frame cut short at the end", seconds(3) + cut_frame(ntsc(), 119999), 3,
       "remains only 119999 bytes, premature EOF?\n"},
  };
  temp_dir dir;
  for (const damage_case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("d.dv"), c.stream);
    // Pass-through with a subtitle file: the whole stream is copied, damage and all, and the
    // subtitles of the frames before the damage are written (the one still pending when the
    // stream failed at the end of the run).
    run_input input;
    input.stdin_file = dir.file("d.dv");
    run_result r = run_tool({"-p", "-f", "%M:%S", "--subtitles-out", dir.file("d.sub")}, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    ASSERT_EQ(r.out.size(), c.stream.size());
    EXPECT_EQ(checksum(r.out), checksum(as_string(c.stream)));
    std::string expected;
    for (int n = 0; n < c.frames_before; ++n) {
      char line[64];
      std::snprintf(line, sizeof line, "{%d}{%d}30:%02d\r\n", n, n, n);
      expected += line;
    }
    EXPECT_EQ(read_file(dir.file("d.sub")), expected);

    // The same file read as a file operand, with the report: one block per frame handed out.
    r = run_tool({"--info-out", dir.file("d.txt"), dir.file("d.dv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(count_of(read_file(dir.file("d.txt")), "Frame # "),
              static_cast<std::size_t>(c.frames_before));
  }

  // A damaged file does not stop the run: the next file is read, and the run still fails.
  write_file(dir.file("bad.dv"), seconds(2) + bad);
  write_file(dir.file("good.dv"), seconds(2));
  const run_result r = run_tool({"-s", "-f", "%T", dir.file("bad.dv"), dir.file("good.dv")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, corrupt);
  // The subtitle pending when the first file failed is carried into the second one.
  EXPECT_EQ(r.out, "{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n{0}{0}12:30:00\r\n{1}{1}12:30:01\r\n");
}

TEST(Faults, MaxFramesExtremes) {
  struct limit_case {
    const char* argument;
    std::string out;
  };
  const std::string all = subtitle_lines(0, 3);
  const std::vector<limit_case> cases = {
      {"18446744073709551615", all},                    // every bit set: no limit
      {"18446744073709551616", all},                    // out of range: the largest value
      {"99999999999999999999999999", all},              // far out of range
      {"-2", all},                                      // wraps to a huge count
      {"-18446744073709551615", subtitle_lines(0, 1)},  // wraps to 1
      {"-99999999999999999999999999", all},             // out of range below: the largest value
      {" 2", subtitle_lines(0, 2)},                     // leading blanks are skipped
      {"0x7fffffff", all},
      {"2147483648", all},  // beyond the largest frame number handlers see
  };
  temp_dir dir;
  write_file(dir.file("f.dv"), seconds(3));
  for (const limit_case& c : cases) {
    SCOPED_TRACE(c.argument);
    const run_result r = run_tool({"-s", "-f", "%H:%M:%S", "-n", c.argument, dir.file("f.dv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
  const run_result trailing = run_tool({"-s", "-n", "2 ", dir.file("f.dv")});
  EXPECT_EQ(trailing.status, 1);
  EXPECT_EQ(trailing.err, "Invalid max-frames option argument `2 '\n");
}

TEST(Faults, LongTimeFormats) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(3));
  struct format_case {
    const char* name;
    std::string format;
    std::string out;
  };
  // "2008-05-17|12:30:00" is 19 bytes; the subtitle text holds at most 127.
  const std::vector<format_case> cases = {
      {"result of 127 bytes", "%F|%T" + std::string(108, 'x'),
       "{0}{2}2008-05-17|12:30:00" + std::string(108, 'x') + "\r\n"},
      {"result of 128 bytes", "%F|%T" + std::string(109, 'x'), ""},
      {"format of 100000 bytes", std::string(100000, 'y'), ""},
      {"100000 conversions",
       [] {
         std::string f;
         for (int i = 0; i < 50000; ++i) {
           f += "%c";
         }
         return f;
       }(),
       ""},
      {"lone percent at the end", "%T%", "{0}{2}12:30:00%\r\n"},
  };
  for (const format_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_tool({"-s", "-f", c.format, dir.file("a.dv")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
}

// Names and option arguments are bytes, not text: they are used and echoed unchanged.
TEST(Faults, OddBytesInArguments) {
  temp_dir dir;
  const std::string odd = "a\nb\xff\xfe\x01 c\t\"'`";
  const std::string long_name(5000, 'n');
  const std::string line = "{0}{2}2008-05-17|12:30:00\r\n";
  const std::vector<tool_case> cases = {
      {"missing file with odd bytes",
       {"-s", dir.file(odd)},
       "",
       "open(\"" + dir.file(odd) + "\"...) failed: No such file or directory\n",
       1},
      {"existing file with odd bytes", {"-s", dir.file(odd + ".dv")}, line, "", 0},
      {"very long name",
       {"-s", dir.file(long_name)},
       "",
       "open(\"" + dir.file(long_name) + "\"...) failed: File name too long\n",
       1},
      {"empty name", {"-s", ""}, "", "open(\"\"...) failed: No such file or directory\n", 1},
      {"odd bytes in -n",
       {"-s", "-n", "\xff\n", dir.file(odd + ".dv")},
       "",
       "Invalid max-frames option argument `\xff\n'\n",
       1},
      {"odd bytes in -b",
       {"-s", "-b", "2008\n\xff", dir.file(odd + ".dv")},
       "",
       "Invalid boundary option argument `2008\n\xff'\n",
       1},
      {"odd bytes in -f",
       {"-s", "-f", "\xff\n%T\x01", dir.file(odd + ".dv")},
       "{0}{2}\xff\n12:30:00\x01\r\n",
       "",
       0},
      {"output file in a missing directory with a long name",
       {"--info-out", dir.file(long_name + "/i.txt"), dir.file(odd + ".dv")},
       "",
       "fopen(\"" + dir.file(long_name + "/i.txt") + "\"...) failed: File name too long\n",
       1},
      {"info file in a missing directory",
       {"--info-out", dir.file("no/i.txt"), dir.file(odd + ".dv")},
       "",
       "fopen(\"" + dir.file("no/i.txt") + "\"...) failed: No such file or directory\n",
       1},
  };
  write_file(dir.file(odd + ".dv"), frames(3));
  for (const tool_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_tool(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }

  // An output file with odd bytes in its name is created under exactly that name.
  const run_result r = run_tool({"--subtitles-out", dir.file(odd + ".sub"), dir.file(odd + ".dv")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file(odd + ".sub")), line);
}

// A directory operand fails that input only; the next file is read.
TEST(Faults, DirectoryAmongInputs) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(3));
  std::filesystem::create_directory(dir.file("sub"));
  for (const char* option : {"--no-mmap", "-v"}) {
    SCOPED_TRACE(option);
    const run_result r = run_tool({option, "-s", dir.file("sub"), dir.file("a.dv")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "{0}{2}2008-05-17|12:30:00\r\n");
    const std::string failure = "read() failed: Is a directory\n";
    EXPECT_EQ(r.err, std::string(option) == "-v"
                         ? "processing file `" + dir.file("sub") + "'...\n" + failure +
                               "processing file `" + dir.file("a.dv") + "'...\nall done\n"
                         : failure);
  }
}

// Permissions stop only an unprivileged user; as root the tool is run as nobody, when it
// can reach the binary that way.
std::vector<std::string> unprivileged_prefix() {
  if (::geteuid() != 0) {
    return {};
  }
  return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

TEST(Faults, PermissionDenied) {
  temp_dir dir;
  run_input as_user;
  as_user.prefix = unprivileged_prefix();
  ::chmod(dir.path().c_str(), 0755);
  const run_result probe = run_tool({"-V"}, as_user);
  if (probe.status != 0) {
    GTEST_SKIP() << "the binary cannot be run unprivileged here: " << probe.err;
  }
  write_file(dir.file("a.dv"), frames(3));
  write_file(dir.file("locked.dv"), frames(3));
  ::chmod(dir.file("a.dv").c_str(), 0644);
  ::chmod(dir.file("locked.dv").c_str(), 0);
  std::filesystem::create_directory(dir.file("ro"));
  ::chmod(dir.file("ro").c_str(), 0555);

  const std::string line = "{0}{2}2008-05-17|12:30:00\r\n";
  const std::vector<tool_case> cases = {
      {"unreadable input, then a good one",
       {"-s", dir.file("locked.dv"), dir.file("a.dv")},
       line,
       "open(\"" + dir.file("locked.dv") + "\"...) failed: Permission denied\n",
       1},
      {"subtitles file in a read-only directory",
       {"--subtitles-out", dir.file("ro/s.sub"), dir.file("a.dv")},
       "",
       "fopen(\"" + dir.file("ro/s.sub") + "\"...) failed: Permission denied\n",
       1},
      {"info file in a read-only directory",
       {"--info-out", dir.file("ro/i.txt"), dir.file("a.dv")},
       "",
       "fopen(\"" + dir.file("ro/i.txt") + "\"...) failed: Permission denied\n",
       1},
  };
  for (const tool_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_tool(c.args, as_user);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("ro/s.sub")));
}

// A run started without a standard descriptor must not let a file it opens take over that
// number: pass-through would write frames into the report, diagnostics would land in it,
// standard input would be read from an output file.
TEST(Faults, ClosedStandardDescriptors) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(3));
  const std::string line = "{0}{2}2008-05-17|12:30:00\r\n";
  struct closed_case {
    const char* name;
    std::vector<int> closed;
    std::vector<std::string> args;
    std::string err;
    int status;
    std::string report;  // what the report file holds afterwards
  };
  const std::vector<closed_case> cases = {
      {"pass-through, stdout closed",
       {1},
       {"-p", "--subtitles-out", "{sub}", dir.file("a.dv")},
       "write() failed: Bad file descriptor\n",
       1,
       "{0}{0}2008-05-17|12:30:00\r\n"},
      {"pass-through, stdin and stdout closed",
       {0, 1},
       {"-p", "--info-out", "{sub}", dir.file("a.dv")},
       "write() failed: Bad file descriptor\n",
       1,
       "Frame # 0:\n\tvideo: pal normal interlaced\n\taudio: 2 channels, 48000 Hz, 1920 samples\n"
       "\ttimestamp: 00:00:00.00  recording date & time: 2008-05-17 12:30:00\n"},
      {"report on stdout, stdout closed",
       {1},
       {"-i", "--subtitles-out", "{sub}", dir.file("a.dv")},
       "fflush() (stdout) failed: Bad file descriptor\n",
       1,
       line},
      {"stdin closed, no operand",
       {0},
       {"--subtitles-out", "{sub}"},
       "read() failed: Bad file descriptor\n",
       1,
       ""},
      {"stdin closed, a file operand",
       {0},
       {"--subtitles-out", "{sub}", dir.file("a.dv")},
       "",
       0,
       line},
  };
  for (const closed_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    std::replace(args.begin(), args.end(), std::string("{sub}"), dir.file("report"));
    run_input input;
    input.closed_fds = c.closed;
    const run_result r = run_tool(args, input);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(read_file(dir.file("report")), c.report);
  }

  // Without stderr a failing run still fails, and its messages go nowhere else.
  run_input no_stderr;
  no_stderr.closed_fds = {2};
  const run_result r = run_tool(
      {"--subtitles-out", dir.file("report"), dir.file("missing.dv"), dir.file("a.dv")}, no_stderr);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(dir.file("report")), line);
}

// A reader that goes away while frames are passed through.
TEST(Faults, BrokenPipe) {
  const bytes stream = seconds(40);
  const std::string input_text = as_string(stream);
  // SIGPIPE at its default ends the tool, as it ends any filter whose reader left.
  run_input input;
  input.stdin_pipe = input_text;
  input.stdout_limit = 1000;
  run_result r = run_tool({"-p", "-s", "--subtitles-out", "/dev/null"}, input);
  EXPECT_EQ(r.status, 128 + SIGPIPE);
  EXPECT_EQ(r.err, "");

  // With SIGPIPE ignored (inherited so), the write fails with its message, and the report
  // file keeps every subtitle completed before that.
  temp_dir dir;
  input.sigpipe_ignored = true;
  input.stdout_limit = 144000 * 10 + 1;
  r = run_tool({"-p", "-f", "%T", "--subtitles-out", dir.file("s.sub")}, input);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "write() failed: Broken pipe\n");
  const std::string subtitles = read_file(dir.file("s.sub"));
  const std::size_t lines = count_of(subtitles, "\r\n");
  // At least the frames read before the reader left; no more than the frames handled.
  EXPECT_GE(lines, 10u);
  EXPECT_LT(lines, 40u);
  EXPECT_EQ(subtitles, subtitle_lines(0, static_cast<int>(lines)));
}

// Pass-through copies the stream byte for byte however it arrives and however slowly it is
// taken, with and without reports.
TEST(Faults, PassThroughIntegrity) {
  const bytes stream = seconds(100) + seconds(100, ntsc());
  const std::string input_text = as_string(stream);
  temp_dir dir;
  struct copy_case {
    const char* name;
    std::vector<std::string> args;
    std::size_t read_size;  // stdout is read in pieces of this size
    int pause_us;           // ... with this pause before each read
  };
  const std::vector<copy_case> cases = {
      {"subtitles file", {"-p", "--subtitles-out", dir.file("s.sub")}, 16381, 50},
      {"info file with pack dumps",
       {"-p", "--info-out", dir.file("i.txt"), "--ssyb-dump", "--vaux-dump"},
       4093,
       0},
      {"subtitles to nowhere, limit beyond the stream",
       {"--pass-through", "--subtitles-out", "/dev/null", "-n", "1000"},
       4093,
       0},
  };
  for (const copy_case& c : cases) {
    SCOPED_TRACE(c.name);
    run_input input;
    input.stdin_pipe = input_text;
    input.pipe_chunk = 7919;  // pieces that never line up with a frame
    input.stdout_read_size = c.read_size;
    input.stdout_read_pause_us = c.pause_us;
    const run_result r = run_tool(c.args, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.size(), stream.size());
    EXPECT_EQ(checksum(r.out), checksum(input_text));
  }
  const std::string subtitles = read_file(dir.file("s.sub"));
  EXPECT_EQ(count_of(subtitles, "\r\n"), 200u);
  EXPECT_EQ(subtitles.substr(0, 28), "{0}{0}2008-05-17|12:30:00\r\n{");
  const std::string report = read_file(dir.file("i.txt"));
  EXPECT_EQ(count_of(report, "Frame # "), 200u);
  EXPECT_EQ(count_of(report, "video: pal "), 100u);
  EXPECT_EQ(count_of(report, "video: ntsc "), 100u);
}

// A long stream: every frame is handled, and the checker the tool runs under (the sanitizers
// of a sanitized build, leaks included, or valgrind) finds nothing. The stream is fed
// through a FIFO, so that it needs no disk space.
void run_ten_thousand_frames(const std::vector<std::string>& prefix) {
  temp_dir dir;
  const std::string fifo = dir.file("stream.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int total = 10000;
  std::thread feeder([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      return;
    }
    // Thirty frames per second: one frame built per second, written thirty times.
    for (int second = 0; second * 30 < total; ++second) {
      const bytes frame = frames(1, dated(dv_synth::add_seconds({}, second), ntsc()));
      for (int n = 0; n < std::min(30, total - second * 30); ++n) {
        if (!write_all(fd, frame)) {
          ::close(fd);
          return;
        }
      }
    }
    ::close(fd);
  });
  run_input input;
  input.prefix = prefix;
  input.stdin_file = fifo;
  input.stdout_file = "/dev/null";
  const run_result r = run_tool({"-p", "--info-out", "/dev/null", "--ssyb-dump", "--vaux-dump",
                                 "--subtitles-out", dir.file("s.sub")},
                                input);
  feeder.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::string subtitles = read_file(dir.file("s.sub"));
  EXPECT_EQ(count_of(subtitles, "\r\n"), 334u);
  EXPECT_NE(subtitles.find("{9990}{9999}2008-05-17|12:35:33\r\n"), std::string::npos);
}

TEST(Faults, TenThousandFrames) { run_ten_thousand_frames({}); }

// The same under valgrind, for the build without sanitizers: no invalid access, no leak.
TEST(Faults, TenThousandFramesUnderValgrind) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitized build: its own checks run in TenThousandFrames";
#else
  if (::access("/usr/bin/valgrind", X_OK) != 0) {
    GTEST_SKIP() << "valgrind is not installed (scripts/install-deps installs it)";
  }
  run_ten_thousand_frames({"/usr/bin/valgrind", "-q", "--error-exitcode=99", "--leak-check=full",
                           "--errors-for-leak-kinds=all"});
#endif
}

// A file that shrinks while it is read: the tool is held in a write of its report (its
// stdout pipe full) while the file is cut; then it must see the new end, hand out the frames
// still there and report the rest as a premature end, without touching what is gone.
TEST(Faults, FileShrinksWhileRead) {
  temp_dir dir;
  const std::string path = dir.file("shrink.dv");
  const int total = 60;
  const int kept = 45;
  // --no-mmap reads with read(); without it (--info repeats -i) the file takes the path
  // regular files take by default.
  for (const char* path_option : {"--no-mmap", "--info"}) {
    SCOPED_TRACE(path_option);
    write_file(path, frames(total, ntsc()));
    bool cut = false;
    run_input input;
    input.stdout_pipe_size = 4096;
    input.pause_at_output = 1;
    input.on_pause = [&] {
      cut = ::truncate(path.c_str(), static_cast<off_t>(kept * 120000 + 1000)) == 0;
    };
    const run_result r = run_tool({path_option, "-i", "--ssyb-dump", path}, input);
    ASSERT_TRUE(cut);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "remains only 1000 bytes, premature EOF?\n");
    EXPECT_EQ(count_of(r.out, "Frame # "), static_cast<std::size_t>(kept));
    EXPECT_NE(r.out.find("Frame # 44:"), std::string::npos);
  }
}

}  // namespace
}  // namespace test_support
