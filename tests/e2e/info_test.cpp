// The frame information report and its pack dumps, checked against what libdv answers for
// frames built byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::aspect;
using dv_synth::sampling;

std::string block(int frame, const std::string& video, const std::string& audio,
                  const std::string& stamps) {
  return "Frame # " + std::to_string(frame) + ":\n\tvideo: " + video + "\n\taudio: " + audio +
         "\n\ttimestamp: " + stamps + "\n";
}

const std::string pal_audio = "2 channels, 48000 Hz, 1920 samples";
const std::string noon_stamps = "00:00:00.00  recording date & time: 2008-05-17 12:30:00";

struct info_case {
  const char* name;
  dv_synth::frame_spec spec;
  std::string video;
  std::string audio;
  std::string stamps;
};

dv_synth::frame_spec with(void (*change)(dv_synth::frame_spec&)) {
  dv_synth::frame_spec spec;
  change(spec);
  return spec;
}

TEST(InfoReport, FrameBlocks) {
  const std::vector<info_case> cases = {
      {"625/50 4:3", {}, "pal normal interlaced", pal_audio, noon_stamps},
      {"525/60 4:3", ntsc(), "ntsc normal interlaced", "2 channels, 48000 Hz, 1602 samples",
       noon_stamps},
      {"16:9", with([](auto& s) { s.display = aspect::wide_16_9; }), "pal wide interlaced",
       pal_audio, noon_stamps},
      // libdv counts every display mode but 16:9 as normal, so letterbox never shows.
      {"letterbox", with([](auto& s) { s.display = aspect::letterbox; }), "pal normal interlaced",
       pal_audio, noon_stamps},
      {"no video control pack", with([](auto& s) { s.display = aspect::none; }), "pal unknown",
       pal_audio, noon_stamps},
      {"progressive", with([](auto& s) { s.progressive = true; }), "pal normal progressive",
       pal_audio, noon_stamps},
      {"44.1 kHz", with([](auto& s) { s.audio = sampling::khz44_1; }), "pal normal interlaced",
       "2 channels, 44100 Hz, 1764 samples", noon_stamps},
      {"32 kHz", with([](auto& s) { s.audio = sampling::khz32; }), "pal normal interlaced",
       "2 channels, 32000 Hz, 1280 samples", noon_stamps},
      {"32 kHz four channels", with([](auto& s) { s.audio = sampling::khz32_4ch; }),
       "pal normal interlaced", "2 channels, 32000 Hz, 1280 samples", noon_stamps},
      {"525/60 32 kHz four channels", with([](auto& s) {
         s.pal = false;
         s.audio = sampling::khz32_4ch;
         s.samples = 1067;
       }),
       "ntsc normal interlaced", "2 channels, 32000 Hz, 1067 samples", noon_stamps},
      {"no audio", with([](auto& s) { s.audio = sampling::none; }), "pal normal interlaced",
       "0 channels, 0 Hz, 0 samples", noon_stamps},
      {"time code, no date", with([](auto& s) {
         s.timecode = dv_synth::time_code{1, 2, 3, 4};
         s.recorded.reset();
       }),
       "pal normal interlaced", pal_audio,
       "01:02:03.04  recording date & time: 0000-00-00 00:00:00"},
      {"no time code", with([](auto& s) { s.timecode.reset(); }), "pal normal interlaced",
       pal_audio, noon_stamps},
      {"date in the VAUX packs only", with([](auto& s) {
         s.date_in_ssyb = false;
         s.recorded = dv_synth::date_time{1999, 12, 31, 23, 59, 58};
       }),
       "pal normal interlaced", pal_audio,
       "00:00:00.00  recording date & time: 1999-12-31 23:59:58"},
  };
  temp_dir dir;
  for (const info_case& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_on_file(dir, frames(1, c.spec), {"-i"});
    EXPECT_EQ(r.out, block(0, c.video, c.audio, c.stamps));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(InfoReport, FramesAndFiles) {
  temp_dir dir;
  // A frame without audio packs shows the audio of the frame before it, as libdv keeps it.
  write_file(dir.file("a.dv"),
             frames(1) + frames(1, with([](auto& s) { s.audio = sampling::none; })));
  write_file(dir.file("b.dv"), frames(1, ntsc()));
  const run_result r = run_tool({"-i", dir.file("a.dv"), dir.file("b.dv")});
  EXPECT_EQ(r.out, block(0, "pal normal interlaced", pal_audio, noon_stamps) +
                       block(1, "pal normal interlaced", pal_audio, noon_stamps) +
                       block(0, "ntsc normal interlaced", "2 channels, 48000 Hz, 1602 samples",
                             noon_stamps));
  EXPECT_EQ(r.status, 0);
}

TEST(InfoReport, PackDumps) {
  dv_synth::frame_spec spec;
  spec.extra_ssyb = {{0x14, {1, 2, 3, 4}}, {0x00, {0xab, 0xcd, 0xef, 0x01}}};
  spec.extra_vaux = {{0x70, {0xa, 0xb, 0xc, 0xd}}, {0x01, {0, 0, 0, 0}}};
  const std::string ssyb =
      "\tssyb id=0x00 data=[0xab, 0xcd, 0xef, 0x01]\n"
      "\tssyb id=0x13 data=[0x00, 0x80, 0x80, 0xc0]\n"
      "\tssyb id=0x14 data=[0x01, 0x02, 0x03, 0x04]\n"
      "\tssyb id=0x62 data=[0xff, 0xd7, 0x05, 0x08]\n"
      "\tssyb id=0x63 data=[0xff, 0x80, 0xb0, 0xd2]\n";
  const std::string vaux =
      "\tvaux id=0x01 data=[0x00, 0x00, 0x00, 0x00]\n"
      "\tvaux id=0x60 data=[0xff, 0xff, 0xe0, 0xff]\n"
      "\tvaux id=0x61 data=[0x3f, 0xc8, 0xfc, 0xff]\n"
      "\tvaux id=0x62 data=[0xff, 0xd7, 0x05, 0x08]\n"
      "\tvaux id=0x63 data=[0xff, 0x80, 0xb0, 0xd2]\n"
      "\tvaux id=0x70 data=[0x0a, 0x0b, 0x0c, 0x0d]\n";
  const std::string head = block(0, "pal normal interlaced", pal_audio, noon_stamps);
  struct dump_case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
  };
  const std::vector<dump_case> cases = {
      {"report alone", {"-i"}, head},
      {"ssyb dump alone selects the report", {"--ssyb-dump"}, head + ssyb},
      {"vaux dump alone selects the report", {"--vaux-dump"}, head + vaux},
      {"both dumps, ssyb first", {"--vaux-dump", "--ssyb-dump"}, head + ssyb + vaux},
      {"dump with info", {"-i", "--vaux-dump"}, head + vaux},
  };
  temp_dir dir;
  write_file(dir.file("in.dv"), frames(1, spec));
  for (const dump_case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.push_back(dir.file("in.dv"));
    const run_result r = run_tool(args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    // The same report into a file, and into "-".
    std::vector<std::string> to_file = {"--info-out", dir.file("info.txt")};
    to_file.insert(to_file.end(), args.begin(), args.end());
    const run_result f = run_tool(to_file);
    EXPECT_EQ(f.out, "");
    EXPECT_EQ(read_file(dir.file("info.txt")), c.out);
    to_file[1] = "-";
    EXPECT_EQ(run_tool(to_file).out, c.out);
  }
}

}  // namespace
}  // namespace test_support
