// The input format of the stream fuzzer, shared by the fuzz target and the seed generator.
//
// A DV frame is 120000 or 144000 bytes, far more than a byte-level mutator can explore, and
// libdv reads only a few hundred bytes of it. So an input is usually a compact description:
// a few bytes that pick the frames to synthesise, how the stream ends and the run's options,
// then patches of four bytes each, applied to the regions of the frames that libdv reads.
// An input whose first byte is odd is taken as the raw stream itself (after that byte).
//
// Raw layout: byte 0 odd, bytes 1..3 the run's options (see below), then the stream.
//
// Structured layout:
//   byte 0  bit 0 clear
//   byte 1  frame count, modulo max_frames_in_stream + 1
//   byte 2  bit i set: frame i is 625/50, else 525/60
//   byte 3  bit i set: frame i carries a recording date
//   byte 4  bits 0..2: audio of every frame; bits 3..4: aspect; bit 5: progressive;
//           bit 6: the date only in VAUX; bit 7: no time code
//   byte 5-6  bytes cut from the end of the stream, divided by 3 (big endian)
//   byte 7  frame limit: value % 8, where 7 means no limit
//   byte 8  bits 0..3: frame i carries the recording-start mark; bits 4..7: frame i's
//           recorded time jumps an hour from the frame before
//   byte 9  bit 0: frames are a second apart, else in the same second; bit 1: the jumps go
//           back in time
//   bytes 10..12  the run's options, least significant byte first (see the fuzz target)
//   then per patch: [frame (3 bits) | region (5 bits)] [offset high] [offset low] [value]
#ifndef TAPESTAMP_TESTS_FUZZ_FUZZ_INPUT_HPP_
#define TAPESTAMP_TESTS_FUZZ_FUZZ_INPUT_HPP_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dv_synth.hpp"

namespace fuzz_input {

inline constexpr std::size_t header_size = 13;
inline constexpr std::size_t raw_header_size = 4;
inline constexpr std::size_t max_frames_in_stream = 4;

// The byte ranges of a frame that libdv's header and pack parsing reads: header, subcode and
// VAUX blocks of the first sequence, the audio source and control packs of sequence 0, the
// subcode blocks of sequence 6, and the audio packs of sequence 6 in both systems.
struct region {
  std::size_t start;
  std::size_t length;
};
inline constexpr region regions[] = {
    {0, 480},         // seq 0: header, SC0, SC1, VA0..VA2
    {4320, 10},       // seq 0 audio block 3: AAUX source pack
    {5600, 10},       // seq 0 audio block 4: AAUX source control pack
    {72000, 240},     // seq 6: header and subcode blocks
    {76320, 10},      // seq 6 audio source pack, 625/50
    {77600, 10},      // seq 6 audio control pack, 625/50
    {72480, 10},      // seq 6 audio source pack, 525/60
    {73760, 10},      // seq 6 audio control pack, 525/60
    {0, 144000},      // anywhere in the frame
    {119990, 24010},  // around the end of a 525/60 frame
};
// Region 30 patches the subcode and VAUX blocks of any sequence, where the recorded time
// is looked for, in any sequence the offset picks.
inline constexpr std::size_t pack_blocks_region = 30;
inline constexpr std::size_t region_count = sizeof regions / sizeof regions[0];
// Region 31 inserts bytes instead of patching: (offset % 4096) copies of value at the start of
// the frame, which shifts the rest of the stream. At most max_inserts of them count. Other
// region numbers wrap around the table.
inline constexpr std::size_t insert_region = 31;
inline constexpr std::size_t max_inserts = 4;

// What a structured input decodes to.
struct stream_plan {
  std::vector<std::uint8_t> stream;
  std::uint32_t options = 0;                      // the run's options
  std::uint64_t frame_limit = ~std::uint64_t{0};  // frames per stream, all bits: no limit
};

inline std::uint32_t options_of(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16;
}

inline dv_synth::frame_spec frame_spec_of(bool pal, bool dated, std::uint8_t look) {
  dv_synth::frame_spec spec;
  spec.pal = pal;
  if (!dated) {
    spec.recorded.reset();
  }
  static constexpr dv_synth::sampling audio[] = {
      dv_synth::sampling::khz48, dv_synth::sampling::khz44_1, dv_synth::sampling::khz32,
      dv_synth::sampling::khz32_4ch, dv_synth::sampling::none};
  spec.audio = audio[(look & 7) % 5];
  static constexpr dv_synth::aspect aspects[] = {
      dv_synth::aspect::normal_4_3, dv_synth::aspect::wide_16_9, dv_synth::aspect::letterbox,
      dv_synth::aspect::none};
  spec.display = aspects[(look >> 3) & 3];
  spec.progressive = (look & 0x20) != 0;
  spec.date_in_ssyb = (look & 0x40) == 0;
  if ((look & 0x80) != 0) {
    spec.timecode.reset();
  }
  return spec;
}

// Everything a synthesised frame of a structured input depends on, packed into a number.
inline std::uint32_t frame_key(const std::uint8_t* data, std::size_t i, int hours) {
  return static_cast<std::uint32_t>(data[2] >> i & 1) |
         static_cast<std::uint32_t>(data[3] >> i & 1) << 1 |
         static_cast<std::uint32_t>(data[8] >> i & 1) << 2 |
         static_cast<std::uint32_t>(data[9] & 1 ? i : 0) << 3 |
         static_cast<std::uint32_t>(hours + 8) << 6 | static_cast<std::uint32_t>(data[4]) << 10;
}

// Appends the frame `spec` describes, built once per `key`: building a frame costs far more
// than copying it.
inline void append_cached(std::vector<std::uint8_t>& out, const dv_synth::frame_spec& spec,
                          std::uint32_t key) {
  struct cached_frame {
    std::uint32_t key;
    std::vector<std::uint8_t> bytes;
  };
  static std::vector<cached_frame> cache;
  for (const cached_frame& frame : cache) {
    if (frame.key == key) {
      out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
      return;
    }
  }
  // A hundred or so frames (18 MB) at most are kept, the oldest replaced first.
  constexpr std::size_t most = 128;
  static std::size_t next = 0;
  if (cache.size() < most) {
    cache.push_back({key, {}});
    next = cache.size() - 1;
  }
  cached_frame& frame = cache[next];
  next = (next + 1) % most;
  frame.key = key;
  frame.bytes = dv_synth::make_frame(spec);
  out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
}

// Builds the stream a structured input describes into `result`, whose stream's storage is
// reused. `data` holds at least header_size bytes.
inline void plan(const std::uint8_t* data, std::size_t size, stream_plan& result) {
  result.stream.clear();
  result.frame_limit = ~std::uint64_t{0};
  result.options = options_of(data + 10);
  const std::size_t count = data[1] % (max_frames_in_stream + 1);
  std::vector<std::size_t> starts;
  int hours = 0;
  for (std::size_t i = 0; i < count; ++i) {
    starts.push_back(result.stream.size());
    dv_synth::frame_spec spec =
        frame_spec_of((data[2] >> i & 1) != 0, (data[3] >> i & 1) != 0, data[4]);
    spec.rec_start = (data[8] >> i & 1) != 0;
    if ((data[8] >> (4 + i) & 1) != 0) {
      hours += (data[9] & 2) != 0 ? -1 : 1;
    }
    if (spec.recorded) {
      spec.recorded->hour += hours;  // 12 +- 4 stays within the day
      spec.recorded->second += (data[9] & 1) != 0 ? static_cast<int>(i) : 0;
    }
    append_cached(result.stream, spec, frame_key(data, i, hours));
  }
  const std::size_t limit = data[7] % 8;
  if (limit != 7) {
    result.frame_limit = limit;
  }

  std::size_t inserts = 0;
  for (std::size_t at = header_size; at + 4 <= size && !starts.empty(); at += 4) {
    const std::size_t frame = (data[at] >> 5) % starts.size();
    const std::size_t kind = data[at] & 0x1f;
    const std::size_t offset = static_cast<std::size_t>(data[at + 1]) << 8 | data[at + 2];
    const std::uint8_t value = data[at + 3];
    if (kind == insert_region) {
      if (++inserts > max_inserts) {
        continue;
      }
      const auto where = result.stream.begin() + static_cast<std::ptrdiff_t>(starts[frame]);
      result.stream.insert(where, offset % 4096, value);
      for (std::size_t later = frame + 1; later < starts.size(); ++later) {
        starts[later] += offset % 4096;
      }
      continue;
    }
    std::size_t position = 0;
    if (kind == pack_blocks_region) {
      // Sequence offset / 400 % 12, blocks 1 to 5: 400 bytes from byte 80.
      position = starts[frame] + offset / 400 % 12 * dv_synth::sequence_size + 80 + offset % 400;
    } else {
      const region& r = regions[kind % region_count];
      position = starts[frame] + r.start + offset % r.length;
    }
    if (position < result.stream.size()) {
      result.stream[position] = value;
    }
  }

  const std::size_t cut = (static_cast<std::size_t>(data[5]) << 8 | data[6]) * 3;
  result.stream.resize(cut < result.stream.size() ? result.stream.size() - cut : 0);
}

}  // namespace fuzz_input

#endif  // TAPESTAMP_TESTS_FUZZ_FUZZ_INPUT_HPP_
