// Builds raw DV (DIF) frames byte by byte, for the tests, the sample stream and the
// benchmark files. The layout follows IEC 61834 as camcorders write it: per sequence a
// header block, two subcode blocks, three VAUX blocks, and nine audio blocks each followed
// by fifteen video blocks. Video is flat grey; audio is silence.
#ifndef TAPESTAMP_TESTS_SUPPORT_DV_SYNTH_HPP_
#define TAPESTAMP_TESTS_SUPPORT_DV_SYNTH_HPP_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace dv_synth {

inline constexpr std::size_t block_size = 80;
inline constexpr std::size_t sequence_size = 150 * block_size;

struct date_time {
  int year = 2008;  // 1925..2024: the pack holds two BCD digits, read with a pivot at 25
  int month = 5;
  int day = 17;
  int hour = 12;
  int minute = 30;
  int second = 0;
};

struct time_code {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  int frames = 0;
};

enum class aspect { normal_4_3, wide_16_9, letterbox, none };    // none: no VAUX control pack
enum class sampling { khz48, khz44_1, khz32, khz32_4ch, none };  // none: no AAUX packs

struct pack {
  std::uint8_t id;
  std::array<std::uint8_t, 4> data;
};

struct frame_spec {
  bool pal = true;
  std::optional<date_time> recorded = date_time{};
  bool date_in_ssyb = true;  // recording date and time packs in the subcode
  bool date_in_vaux = true;  // ... and in the VAUX blocks
  std::optional<time_code> timecode = time_code{};
  aspect display = aspect::normal_4_3;
  bool progressive = false;
  sampling audio = sampling::khz48;
  int samples = 0;          // samples in this frame; 0: the usual count for the system and rate
  bool bad_header = false;  // a header block that no DV reader accepts
  bool rec_start = false;   // the camcorder's recording-start mark (REC ST of the AAUX control)
  std::vector<pack> extra_ssyb;  // written into the first sequence's second subcode block
  std::vector<pack> extra_vaux;  // written into free slots of the first VAUX block
};

inline std::size_t frame_size(bool pal) { return (pal ? 12 : 10) * sequence_size; }

inline std::uint8_t bcd(int value) {
  return static_cast<std::uint8_t>((value / 10) << 4 | value % 10);
}

namespace detail {

inline void put_pack(std::uint8_t* at, const pack& p) {
  at[0] = p.id;
  for (std::size_t i = 0; i < 4; ++i) {
    at[1 + i] = p.data[i];
  }
}

inline pack date_pack(const date_time& t) {
  return {0x62,
          {0xff, static_cast<std::uint8_t>(0xc0 | bcd(t.day)), bcd(t.month), bcd(t.year % 100)}};
}

inline pack time_pack(const date_time& t) {
  return {0x63,
          {0xff, static_cast<std::uint8_t>(0x80 | bcd(t.second)),
           static_cast<std::uint8_t>(0x80 | bcd(t.minute)),
           static_cast<std::uint8_t>(0xc0 | bcd(t.hour))}};
}

inline pack timecode_pack(const time_code& t) {
  return {0x13,
          {bcd(t.frames), static_cast<std::uint8_t>(0x80 | bcd(t.seconds)),
           static_cast<std::uint8_t>(0x80 | bcd(t.minutes)),
           static_cast<std::uint8_t>(0xc0 | bcd(t.hours))}};
}

inline constexpr pack no_pack = {0xff, {0xff, 0xff, 0xff, 0xff}};

inline int usual_samples(bool pal, sampling s) {
  switch (s) {
    case sampling::khz48:
      return pal ? 1920 : 1602;
    case sampling::khz44_1:
      return pal ? 1764 : 1471;
    case sampling::khz32:
    case sampling::khz32_4ch:
      return pal ? 1280 : 1068;
    case sampling::none:
      break;
  }
  return 0;
}

inline int minimum_samples(bool pal, sampling s) {
  switch (s) {
    case sampling::khz48:
      return pal ? 1896 : 1580;
    case sampling::khz44_1:
      return pal ? 1742 : 1452;
    default:
      return pal ? 1264 : 1053;
  }
}

// The AAUX source pack (0x50) and source control pack (0x51).
inline pack audio_source(const frame_spec& spec) {
  const int samples = spec.samples != 0 ? spec.samples : usual_samples(spec.pal, spec.audio);
  const int af_size = samples - minimum_samples(spec.pal, spec.audio);
  int smp = 0;
  int qu = 0;
  int chn = 0;
  switch (spec.audio) {
    case sampling::khz44_1:
      smp = 1;
      break;
    case sampling::khz32:
      smp = 2;
      break;
    case sampling::khz32_4ch:
      smp = 2;
      qu = 1;
      chn = 1;
      break;
    default:
      break;
  }
  return {0x50,
          {static_cast<std::uint8_t>(0xc0 | (af_size & 0x3f)), static_cast<std::uint8_t>(chn << 5),
           static_cast<std::uint8_t>(spec.pal ? 0xe0 : 0xc0),
           static_cast<std::uint8_t>(0x80 | smp << 3 | qu)}};
}

inline pack audio_control(const frame_spec& spec) {
  // PC2 bit 7 is REC ST: 0 marks the first frames of a recording.
  const std::uint8_t pc2 = spec.rec_start ? 0x4f : 0xcf;
  return {0x51, {0x1c, pc2, static_cast<std::uint8_t>(spec.pal ? 0xa0 : 0xf8), 0xff}};
}

inline void block_id(std::uint8_t* block, std::uint8_t type_id, std::size_t sequence,
                     std::size_t number) {
  block[0] = type_id;
  block[1] = static_cast<std::uint8_t>(sequence << 4 | 0x07);
  block[2] = static_cast<std::uint8_t>(number);
}

}  // namespace detail

// Appends one frame built after `spec` to `out`.
inline void append_frame(std::vector<std::uint8_t>& out, const frame_spec& spec) {
  using namespace detail;
  const std::size_t sequences = spec.pal ? 12 : 10;
  const std::size_t start = out.size();
  out.resize(start + sequences * sequence_size, 0xff);
  std::uint8_t* frame = out.data() + start;

  for (std::size_t seq = 0; seq < sequences; ++seq) {
    std::uint8_t* s = frame + seq * sequence_size;
    const bool second_half = seq >= sequences / 2;

    // Header block.
    std::uint8_t* h = s;
    block_id(h, 0x1f, seq, 0);
    h[3] = spec.pal ? 0xbf : 0x3f;
    h[4] = spec.pal ? 0xf8 : 0xf9;
    h[5] = h[6] = h[7] = spec.pal ? 0x78 : 0x79;
    if (spec.bad_header) {
      h[0] = 0xff;
    }

    // Subcode blocks: time code in every slot of the first half; in the second half slots
    // 0 and 3 keep the time code, 1 and 4 carry the date, 2 and 5 the time.
    for (std::size_t sc = 0; sc < 2; ++sc) {
      std::uint8_t* b = s + (1 + sc) * block_size;
      block_id(b, 0x3f, seq, sc);
      for (std::size_t j = 0; j < 6; ++j) {
        std::uint8_t* ssyb = b + 3 + 8 * j;
        ssyb[0] = static_cast<std::uint8_t>(sc == 0 ? 0x80 | j : 0x80 | (6 + j));
        ssyb[1] = 0x00;
        ssyb[2] = 0xff;
        pack p = no_pack;
        const std::size_t role = second_half ? j % 3 : 0;
        if (role == 0 && spec.timecode) {
          p = timecode_pack(*spec.timecode);
        } else if (role == 1 && spec.recorded && spec.date_in_ssyb) {
          p = date_pack(*spec.recorded);
        } else if (role == 2 && spec.recorded && spec.date_in_ssyb) {
          p = time_pack(*spec.recorded);
        }
        put_pack(ssyb + 3, p);
      }
    }

    // VAUX blocks: source, control, date and time in slots 0-3 and again in 9-12.
    for (std::size_t va = 0; va < 3; ++va) {
      std::uint8_t* b = s + (3 + va) * block_size;
      block_id(b, 0x56, seq, va);
      for (std::size_t j = 0; j < 15; ++j) {
        pack p = no_pack;
        switch (j % 9) {
          case 0:
            p = {0x60, {0xff, 0xff, static_cast<std::uint8_t>(spec.pal ? 0xe0 : 0xc0), 0xff}};
            break;
          case 1:
            if (spec.display != aspect::none) {
              const std::uint8_t disp = spec.display == aspect::wide_16_9   ? 2
                                        : spec.display == aspect::letterbox ? 3
                                                                            : 0;
              p = {0x61,
                   {0x3f, static_cast<std::uint8_t>(0xc8 | disp),
                    static_cast<std::uint8_t>(spec.progressive ? 0xe4 : 0xfc), 0xff}};
            }
            break;
          case 2:
            if (spec.recorded && spec.date_in_vaux) {
              p = date_pack(*spec.recorded);
            }
            break;
          case 3:
            if (spec.recorded && spec.date_in_vaux) {
              p = time_pack(*spec.recorded);
            }
            break;
          default:
            break;
        }
        if (j >= 13) {
          p = no_pack;
        }
        put_pack(b + 3 + 5 * j, p);
      }
    }

    // Audio and video blocks.
    std::size_t video_number = 0;
    for (std::size_t n = 0; n < 9; ++n) {
      std::uint8_t* a = s + (6 + 16 * n) * block_size;
      block_id(a, 0x76, seq, n);
      pack p = no_pack;
      if (spec.audio != sampling::none) {
        const std::size_t source_block = seq % 2 == 0 ? 3 : 0;
        if (n == source_block) {
          p = audio_source(spec);
        } else if (n == source_block + 1) {
          p = audio_control(spec);
        }
      }
      put_pack(a + 3, p);
      std::fill(a + 8, a + block_size, std::uint8_t{0});
      for (std::size_t v = 1; v <= 15; ++v) {
        std::uint8_t* vb = a + v * block_size;
        block_id(vb, 0x96, seq, video_number++);
        vb[3] = 0x0f;
        std::fill(vb + 4, vb + block_size, std::uint8_t{0});
        for (const std::size_t dct : {4u, 18u, 32u, 46u, 60u, 70u}) {
          vb[dct + 1] = 0x06;
        }
      }
    }
  }

  // Extra packs: the first sequence's second subcode block, and the free VAUX slots 4-8.
  for (std::size_t i = 0; i < spec.extra_ssyb.size() && i < 6; ++i) {
    put_pack(frame + 2 * block_size + 3 + 8 * i + 3, spec.extra_ssyb[i]);
  }
  for (std::size_t i = 0; i < spec.extra_vaux.size() && i < 5; ++i) {
    put_pack(frame + 3 * block_size + 3 + 5 * (4 + i), spec.extra_vaux[i]);
  }
}

inline std::vector<std::uint8_t> make_frame(const frame_spec& spec) {
  std::vector<std::uint8_t> out;
  append_frame(out, spec);
  return out;
}

// Moves a recording time on by whole seconds (calendar arithmetic, no zones).
inline date_time add_seconds(date_time t, int seconds) {
  static constexpr int days_in[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  t.second += seconds;
  while (t.second >= 60) {
    t.second -= 60;
    if (++t.minute == 60) {
      t.minute = 0;
      if (++t.hour == 24) {
        t.hour = 0;
        const bool leap = t.year % 4 == 0 && (t.year % 100 != 0 || t.year % 400 == 0);
        const int days = days_in[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
        if (++t.day > days) {
          t.day = 1;
          if (++t.month == 13) {
            t.month = 1;
            ++t.year;
          }
        }
      }
    }
  }
  return t;
}

}  // namespace dv_synth

#endif  // TAPESTAMP_TESTS_SUPPORT_DV_SYNTH_HPP_
