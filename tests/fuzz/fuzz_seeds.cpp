// Writes the seed corpus of the stream fuzzer into a directory: structured inputs for both
// systems, dated and undated, whole and truncated, with a corrupt header mid-stream, junk
// between frames, a frame limit; and two raw streams of synthesised frames.
//
//   fuzz_seeds DIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dv_synth.hpp"
#include "fuzz_input.hpp"

namespace {

using bytes = std::vector<std::uint8_t>;

struct patch {
  std::uint8_t frame_and_region;
  std::uint16_t offset;
  std::uint8_t value;
};

// Options of the run, as the fuzz target reads them.
constexpr std::uint32_t mapped = 0, read_file = 1, from_pipe = 2, pass_through = 1 << 2,
                        stdout_file = 1 << 3, split = 1 << 9, date1 = 1 << 12, dumps = 1 << 13,
                        long_text = 1 << 14, boundary = 1 << 15, two_inputs = 1 << 16;
constexpr std::uint32_t subtitles(std::uint32_t format) { return format << 4; }
constexpr std::uint32_t recordings(std::uint32_t format) { return format << 6; }
constexpr std::uint32_t clock_offset(std::uint32_t index) { return index << 10; }

struct seed {
  const char* name;
  std::uint32_t options;
  std::uint8_t count;     // frames
  std::uint8_t pal_bits;  // bit i: frame i is 625/50
  std::uint8_t dated_bits;
  std::uint8_t look;
  std::uint16_t cut_thirds;  // bytes cut from the end, divided by 3
  std::uint8_t limit;        // 7: none
  std::vector<patch> patches;
  std::uint8_t marks = 0;  // bits 0..3: recording-start marks; bits 4..7: hour jumps
  std::uint8_t times = 0;  // bit 0: frames a second apart; bit 1: jumps go back
};

bytes encode(const seed& s) {
  bytes out = {0,
               s.count,
               s.pal_bits,
               s.dated_bits,
               s.look,
               static_cast<std::uint8_t>(s.cut_thirds >> 8),
               static_cast<std::uint8_t>(s.cut_thirds & 0xff),
               s.limit,
               s.marks,
               s.times,
               static_cast<std::uint8_t>(s.options & 0xff),
               static_cast<std::uint8_t>(s.options >> 8 & 0xff),
               static_cast<std::uint8_t>(s.options >> 16 & 0xff)};
  for (const patch& p : s.patches) {
    out.push_back(p.frame_and_region);
    out.push_back(static_cast<std::uint8_t>(p.offset >> 8));
    out.push_back(static_cast<std::uint8_t>(p.offset & 0xff));
    out.push_back(p.value);
  }
  return out;
}

bool write(const std::string& path, const bytes& data) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fwrite(data.data(), 1, data.size(), file) == data.size();
  return std::fclose(file) == 0 && written;
}

constexpr std::uint8_t frame_region(unsigned frame, unsigned region) {
  return static_cast<std::uint8_t>(frame << 5 | region);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<seed> seeds = {
      {"pal-dated", mapped | dumps, 3, 0xff, 0xff, 0, 0, 7, {}},
      {"ntsc-dated", read_file | subtitles(1), 3, 0x00, 0xff, 0, 0, 7, {}},
      {"pal-undated", from_pipe | subtitles(2) | recordings(1), 2, 0xff, 0x00, 0, 0, 7, {}},
      {"ntsc-undated-no-timecode", mapped | recordings(2), 2, 0x00, 0x00, 0x80, 0, 7, {}},
      {"mixed-systems", long_text | subtitles(3) | recordings(3), 4, 0x05, 0x0b, 0, 0, 7, {}},
      {"pal-truncated-mid-frame", split | pass_through, 2, 0xff, 0xff, 0, 8000, 7, {}},
      {"ntsc-stray-tail", from_pipe | split | recordings(4), 3, 0x00, 0xff, 0, 13000, 7, {}},
      {"corrupt-header-mid-stream",
       from_pipe | pass_through | split,
       5,
       0xff,
       0xff,
       0,
       0,
       7,
       {{frame_region(2, 0), 0, 0xff}}},
      {"dsf-off-vaux-pal", recordings(5), 2, 0x00, 0xff, 0, 0, 7, {{frame_region(0, 0), 3, 0x3f}}},
      {"junk-between-frames",
       boundary | read_file | pass_through | stdout_file,
       3,
       0xff,
       0xff,
       0,
       0,
       7,
       {{frame_region(1, 31), 1000, 0x00}}},
      {"four-channel-audio", date1 | dumps, 3, 0xff, 0xff, 3, 0, 7, {}},
      {"no-audio-letterbox-progressive",
       clock_offset(1),
       3,
       0x00,
       0xff,
       4 | 2 << 3 | 0x20,
       0,
       7,
       {}},
      {"no-aspect-date-in-vaux",
       clock_offset(2) | subtitles(1),
       3,
       0xff,
       0xff,
       3 << 3 | 0x40,
       0,
       7,
       {}},
      {"frame-limit-two", long_text | split | two_inputs, 4, 0xff, 0xff, 0, 0, 2, {}},
      {"pass-through-boundary", boundary | from_pipe | pass_through, 4, 0x00, 0x0f, 1, 0, 7, {}},
      {"bad-audio-quantisation", dumps, 3, 0xff, 0xff, 0, 0, 7, {{frame_region(0, 1), 7, 0x87}}},
      {"date-packs-in-seq6", 0, 3, 0xff, 0xff, 0, 0, 7, {{frame_region(1, 3), 86, 0x62}}},
      {"date-in-a-later-sequence",
       recordings(1),
       2,
       0xff,
       0x00,
       0,
       0,
       7,
       {{frame_region(1, 30), 5 * 400 + 3 + 8 * 2 + 3, 0x62}}},
      {"recording-marks-and-jumps",
       recordings(0) | split | subtitles(2) | two_inputs,
       4,
       0xff,
       0xff,
       0,
       0,
       7,
       {},
       0x25,
       0x01},
      {"jumps-back", recordings(3) | clock_offset(3), 4, 0x0f, 0xff, 0, 0, 7, {}, 0x60, 0x03},
      {"empty-stream", split | pass_through | from_pipe, 0, 0, 0, 0, 0, 7, {}},
  };

  for (const seed& s : seeds) {
    if (!write(dir + "/" + s.name, encode(s))) {
      std::perror(s.name);
      return 1;
    }
  }

  // Raw streams, for the byte-level mutations: one whole 625/50 frame, and a 525/60 frame
  // followed by the first 20000 bytes of another.
  bytes pal = {1, 0, 0, 0};
  dv_synth::append_frame(pal, dv_synth::frame_spec{});
  bytes ntsc = {1, static_cast<std::uint8_t>(from_pipe | pass_through | split), 0, 0};
  dv_synth::frame_spec spec;
  spec.pal = false;
  dv_synth::append_frame(ntsc, spec);
  dv_synth::append_frame(ntsc, spec);
  ntsc.resize(fuzz_input::raw_header_size + 140000);
  if (!write(dir + "/raw-pal", pal) || !write(dir + "/raw-ntsc-truncated", ntsc)) {
    std::perror("raw");
    return 1;
  }
  return 0;
}
