#include "reports/reports.hpp"
#include "stream/frame_facts.hpp"
#include "stream/output_error.hpp"

namespace tapestamp {
namespace {

const char* aspect_text(dv_decoder_t* decoder) {
  if (dv_format_normal(decoder) > 0) {
    return "normal";
  }
  if (dv_format_wide(decoder) > 0) {
    return "wide";
  }
  if (dv_format_letterbox(decoder) > 0) {
    return "letterbox";
  }
  return "unknown";
}

const char* scan_text(dv_decoder_t* decoder) {
  const int progressive = dv_is_progressive(decoder);
  if (progressive > 0) {
    return " progressive";
  }
  return progressive == 0 ? " interlaced" : "";
}

}  // namespace

void format_recorded(const frame_facts& facts, bool with_offset, char (&text)[recorded_text_size]) {
  if (!facts.dated) {
    std::snprintf(text, sizeof text, "0000-00-00 00:00:00");
    return;
  }
  const std::tm& time = with_offset ? facts.recorded : facts.frame_recorded;
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.tm_year + 1900,
                time.tm_mon + 1, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec);
}

void dump_packs(std::FILE* stream, const char* prefix, dv_decoder_t* decoder, pack_kind kind) {
  if (prefix == nullptr) {
    prefix = "";
  }
  const bool ssyb = kind == pack_kind::ssyb;
  for (unsigned id = 0; id <= 0xff; ++id) {
    std::uint8_t data[4] = {};
    const auto pack_id = static_cast<std::uint8_t>(id);
    const int found =
        ssyb ? dv_get_ssyb_pack(decoder, pack_id, data) : dv_get_vaux_pack(decoder, pack_id, data);
    if (found != 0) {
      continue;
    }
    if (std::fprintf(stream, "%s%s id=0x%02x data=[0x%02x, 0x%02x, 0x%02x, 0x%02x]\n", prefix,
                     ssyb ? "ssyb" : "vaux", id, data[0], data[1], data[2], data[3]) < 0) {
      note_output_error(stream);
    }
  }
}

int info_handler(int frame, dv_decoder_t* decoder, const std::uint8_t* /*bytes*/,
                 const handler_context* context) {
  if (frame < 0) {
    return 1;
  }
  const char* system = dv_is_PAL(decoder) ? "pal" : "ntsc";
  const char* aspect = aspect_text(decoder);
  const char* scan = scan_text(decoder);
  const int samples = dv_get_num_samples(decoder);
  const int channels = dv_get_num_channels(decoder);
  const int frequency = dv_get_frequency(decoder);
  // Cleared first, so that the text printed is only ever what libdv wrote.
  char timecode[32] = {};
  dv_get_timestamp(decoder, timecode);
  timecode[sizeof timecode - 1] = '\0';
  // The report shows the time the frame holds, without the clock offset.
  char recorded[recorded_text_size];
  format_recorded(current_frame(), false, recorded);
  if (std::fprintf(context->stream,
                   "Frame # %d:\n\tvideo: %s %s%s\n\taudio: %d channels, %d Hz, %d samples\n"
                   "\ttimestamp: %s  recording date & time: %s\n",
                   frame, system, aspect, scan, channels, frequency, samples, timecode,
                   recorded) < 0) {
    note_output_error(context->stream);
  }
  if (context->dump_ssyb) {
    dump_packs(context->stream, "\t", decoder, pack_kind::ssyb);
  }
  if (context->dump_vaux) {
    dump_packs(context->stream, "\t", decoder, pack_kind::vaux);
  }
  return 1;
}

}  // namespace tapestamp
