#include "reports/reports.hpp"
#include "stream/frame_facts.hpp"
#include "stream/output_error.hpp"

namespace tapestamp {

int date1_handler(int frame, dv_decoder_t* /*decoder*/, const std::uint8_t* /*bytes*/,
                  const handler_context* context) {
  // Frames 0 and 1 and the end call pass; the third frame is the one reported.
  if (frame <= 1) {
    return 1;
  }
  char recorded[recorded_text_size];
  format_recorded(current_frame(), true, recorded);
  if (std::fprintf(context->stream, "recording date & time: %s\n", recorded) < 0) {
    note_output_error(context->stream);
  }
  return 0;
}

}  // namespace tapestamp
