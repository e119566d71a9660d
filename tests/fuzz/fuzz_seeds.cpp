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

struct seed {
  const char* name;
  std::uint8_t options;   // byte 0 bits 1..3
  std::uint8_t count;     // frames
  std::uint8_t pal_bits;  // bit i: frame i is 625/50
  std::uint8_t dated_bits;
  std::uint8_t look;
  std::uint16_t cut_thirds;  // bytes cut from the end, divided by 3
  std::uint8_t limit;        // 7: none
  std::vector<patch> patches;
};

bytes encode(const seed& s) {
  bytes out = {static_cast<std::uint8_t>(s.options << 1),
               s.count,
               s.pal_bits,
               s.dated_bits,
               s.look,
               static_cast<std::uint8_t>(s.cut_thirds >> 8),
               static_cast<std::uint8_t>(s.cut_thirds & 0xff),
               s.limit};
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
      {"pal-dated", 0, 3, 0xff, 0xff, 0, 0, 7, {}},
      {"ntsc-dated", 0, 3, 0x00, 0xff, 0, 0, 7, {}},
      {"pal-undated", 0, 2, 0xff, 0x00, 0, 0, 7, {}},
      {"ntsc-undated-no-timecode", 0, 2, 0x00, 0x00, 0x80, 0, 7, {}},
      {"mixed-systems", 1, 4, 0x05, 0x0b, 0, 0, 7, {}},
      {"pal-truncated-mid-frame", 0, 2, 0xff, 0xff, 0, 8000, 7, {}},
      {"ntsc-stray-tail", 0, 3, 0x00, 0xff, 0, 13000, 7, {}},
      {"corrupt-header-mid-stream", 0, 5, 0xff, 0xff, 0, 0, 7, {{frame_region(2, 0), 0, 0xff}}},
      {"dsf-off-vaux-pal", 0, 2, 0x00, 0xff, 0, 0, 7, {{frame_region(0, 0), 3, 0x3f}}},
      {"junk-between-frames", 2, 3, 0xff, 0xff, 0, 0, 7, {{frame_region(1, 31), 1000, 0x00}}},
      {"four-channel-audio", 0, 3, 0xff, 0xff, 3, 0, 7, {}},
      {"no-audio-letterbox-progressive", 0, 3, 0x00, 0xff, 4 | 2 << 3 | 0x20, 0, 7, {}},
      {"no-aspect-date-in-vaux", 0, 3, 0xff, 0xff, 3 << 3 | 0x40, 0, 7, {}},
      {"frame-limit-two", 4, 4, 0xff, 0xff, 0, 0, 2, {}},
      {"pass-through-boundary", 6, 4, 0x00, 0x0f, 1, 0, 7, {}},
      {"bad-audio-quantisation", 0, 3, 0xff, 0xff, 0, 0, 7, {{frame_region(0, 1), 7, 0x87}}},
      {"date-packs-in-seq6", 0, 3, 0xff, 0xff, 0, 0, 7, {{frame_region(1, 3), 86, 0x62}}},
      {"empty-stream", 0, 0, 0, 0, 0, 0, 7, {}},
  };
  for (const seed& s : seeds) {
    if (!write(dir + "/" + s.name, encode(s))) {
      std::perror(s.name);
      return 1;
    }
  }

  // Raw streams, for the byte-level mutations: one whole 625/50 frame, and a 525/60 frame
  // followed by the first 20000 bytes of another.
  bytes pal = {1};
  dv_synth::append_frame(pal, dv_synth::frame_spec{});
  bytes ntsc = {1};
  dv_synth::frame_spec spec;
  spec.pal = false;
  dv_synth::append_frame(ntsc, spec);
  dv_synth::append_frame(ntsc, spec);
  ntsc.resize(1 + 140000);
  if (!write(dir + "/raw-pal", pal) || !write(dir + "/raw-ntsc-truncated", ntsc)) {
    std::perror("raw");
    return 1;
  }
  return 0;
}
