// The SRT, WebVTT and ASS files read back by ffmpeg: the cue times and texts it finds are the
// frames' times and recorded times, and an ASS file burnt into a picture draws in its bottom
// right corner, on a plain picture and on the real camcorder sample.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::date_time;

struct pipe_closer {
  void operator()(std::FILE* pipe) const noexcept { ::pclose(pipe); }
};
using pipe_ptr = std::unique_ptr<std::FILE, pipe_closer>;

// The standard output of a shell command.
std::string command_output(const std::string& command) {
  const pipe_ptr pipe(::popen(command.c_str(), "r"));
  std::string out;
  if (!pipe) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
    out.append(buffer, n);
  }
  return out;
}

bool have_ffmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

std::string without_cr(std::string text) {
  std::erase(text, '\r');
  return text;
}

// "HH:MM:SS,mmm" of a time in 1/30000 s, first rounded down to `unit` ticks.
std::string srt_time(std::int64_t ticks, std::int64_t unit) {
  const std::int64_t ms = ticks / unit * unit / 30;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

// A run of frames of one system and one recorded second.
struct frame_run {
  int count;
  bool pal;
  std::string text;
};

TEST(FfmpegReadBack, CueTimesAndTexts) {
  if (!have_ffmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  // Two seconds of 625/50, then 35 frames of 525/60, as the tool is given them.
  const std::vector<frame_run> runs = {{25, true, "2008-05-17\n12:30:00"},
                                       {25, true, "2008-05-17\n12:30:01"},
                                       {30, false, "2008-05-17\n12:30:02"},
                                       {5, false, "2008-05-17\n12:30:03"}};
  const bytes input = frames(50) + frames(35, dated({2008, 5, 17, 12, 30, 2}, ntsc()), 30);
  temp_dir dir;
  write_file(dir.file("in.dv"), input);
  struct readback_case {
    const char* format;
    std::int64_t unit;  // ticks of the format's time unit
  };
  for (const readback_case& c :
       {readback_case{"srt", 30}, readback_case{"vtt", 30}, readback_case{"ass", 300}}) {
    SCOPED_TRACE(c.format);
    // What ffmpeg must find, from the frames' durations.
    std::string expected;
    std::int64_t ticks = 0;
    int number = 1;
    for (const frame_run& run : runs) {
      const std::int64_t end = ticks + run.count * (run.pal ? 1200 : 1001);
      expected += std::to_string(number++) + "\n" + srt_time(ticks, c.unit) + " --> " +
                  srt_time(end, c.unit) + "\n" + run.text + "\n\n";
      ticks = end;
    }
    const std::string file = dir.file(std::string("out.") + c.format);
    const run_result r =
        run_tool({"--subtitles-out", file, "--subtitles-format", c.format, dir.file("in.dv")});
    ASSERT_EQ(r.status, 0);
    const std::string back =
        command_output("ffmpeg -v error -i '" + file + "' -c:s text -f srt - 2>&1");
    EXPECT_EQ(without_cr(back), expected);
  }
}

// A gray picture of `width` x `height` pixels from ffmpeg, one byte a pixel.
std::string gray_frame(const std::string& input_options, const std::string& filter) {
  return command_output("ffmpeg -v error " + input_options + " -vf '" + filter +
                        "' -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null");
}

// The pixels that differ between two pictures, in the bottom right quarter and elsewhere.
struct changed_pixels {
  int bottom_right = 0;
  int elsewhere = 0;
};

changed_pixels compare(const std::string& a, const std::string& b, int width, int height) {
  changed_pixels changed;
  if (a.size() != b.size() || a.size() != static_cast<std::size_t>(width * height)) {
    ADD_FAILURE() << "pictures of " << a.size() << " and " << b.size() << " bytes";
    return changed;
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(y * width + x);
      if (a[at] != b[at]) {
        ++(x >= width / 2 && y >= height * 3 / 4 ? changed.bottom_right : changed.elsewhere);
      }
    }
  }
  return changed;
}

TEST(FfmpegReadBack, AssBurntIntoThePicture) {
  if (!have_ffmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  temp_dir dir;
  write_file(dir.file("in.dv"), frames(50));
  struct burn_case {
    const char* name;
    std::string time_format;
  };
  // Braces in the text would hide it as an override block if they were not escaped.
  for (const burn_case& c : {burn_case{"the default text", "%F|%T"}, burn_case{"braces", "{%T}"}}) {
    SCOPED_TRACE(c.name);
    const std::string ass = dir.file("out.ass");
    ASSERT_EQ(run_tool({"--subtitles-out", ass, "--subtitles-format", "ass", "-f", c.time_format,
                        dir.file("in.dv")})
                  .status,
              0);
    const std::string source = "-f lavfi -i color=black:s=720x576:d=2";
    const std::string plain = gray_frame(source, "null");
    const std::string burnt = gray_frame(source, "ass=filename=" + ass);
    const changed_pixels changed = compare(plain, burnt, 720, 576);
    EXPECT_GT(changed.bottom_right, 500);
    EXPECT_EQ(changed.elsewhere, 0);
  }
}

TEST(FfmpegReadBack, AssBurntIntoTheRealSample) {
  if (!have_ffmpeg()) {
    GTEST_SKIP() << "ffmpeg is not installed";
  }
  const std::string sample = std::string(TAPESTAMP_SAMPLES_DIR) + "/sony_good_quality.dv";
  temp_dir dir;
  const std::string ass = dir.file("sample.ass");
  ASSERT_EQ(run_tool({"--subtitles-out", ass, "--subtitles-format", "ass", sample}).status, 0);
  const std::string input = "-i '" + sample + "'";
  const std::string plain = gray_frame(input, "null");
  const std::string burnt = gray_frame(input, "ass=filename=" + ass);
  const changed_pixels changed = compare(plain, burnt, 720, 480);
  EXPECT_GT(changed.bottom_right, 500);
  EXPECT_EQ(changed.elsewhere, 0);
}

}  // namespace
}  // namespace test_support
