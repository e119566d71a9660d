// A real camcorder capture (tests/samples/README.md): what the tool reads from it, also once
// a dropout has wiped the sequences that libdv alone would look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

const std::string sample = std::string(TAPESTAMP_SAMPLES_DIR) + "/sony_good_quality.dv";

TEST(RealSample, RecordingTimeAndReport) {
  const run_result subs = run_tool({"-s", sample});
  EXPECT_EQ(subs.out, "{0}{4}2024-07-08|19:55:58\r\n");
  EXPECT_EQ(subs.status, 0);
  EXPECT_EQ(run_tool({"-d", sample}).out, "recording date & time: 2024-07-08 19:55:58\n");
  const run_result report = run_tool({"-i", sample});
  EXPECT_EQ(report.out.substr(0, report.out.find("Frame # 1:")),
            "Frame # 0:\n\tvideo: ntsc normal interlaced\n"
            "\taudio: 2 channels, 32000 Hz, 1068 samples\n"
            "\ttimestamp: 00:00:02.17  recording date & time: 2024-07-08 19:55:58\n");
  EXPECT_EQ(count_of(report.out, "recording date & time: 2024-07-08 19:55:58\n"), 5u);
  EXPECT_EQ(report.err, "");

  run_input input;
  input.stdin_file = sample;
  const run_result copy = run_tool({"-p", "--subtitles-out", "/dev/null"}, input);
  EXPECT_TRUE(copy.out == read_file(sample));
  EXPECT_EQ(copy.status, 0);
}

// Sequences 0 and 6 of every frame wiped but for their header blocks: the date is still read
// from the other sequences.
TEST(RealSample, DateSurvivesWipedSequences) {
  std::string damaged = read_file(sample);
  for (std::size_t frame = 0; frame < damaged.size(); frame += 120000) {
    for (const std::size_t seq : {0u, 6u}) {
      const std::size_t start = frame + seq * 12000;
      std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(start + 80),
                damaged.begin() + static_cast<std::ptrdiff_t>(start + 12000), '\xff');
    }
  }
  temp_dir dir;
  write_file(dir.file("damaged.dv"), damaged);
  EXPECT_EQ(run_tool({"-s", dir.file("damaged.dv")}).out, "{0}{4}2024-07-08|19:55:58\r\n");
}

}  // namespace
}  // namespace test_support
