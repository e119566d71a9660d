#include "reports/reports.hpp"
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
  char recorded[40] = {};
  dv_get_timestamp(decoder, timecode);
  dv_get_recording_datetime(decoder, recorded);
  timecode[sizeof timecode - 1] = '\0';
  recorded[sizeof recorded - 1] = '\0';
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
