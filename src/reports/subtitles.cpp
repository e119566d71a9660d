#include <cstring>
#include <ctime>
#include <iterator>

#include "reports/reports.hpp"
#include "stream/frame_facts.hpp"
#include "stream/output_error.hpp"

namespace tapestamp {
namespace {

// The subtitle being extended. One for the whole process: a stream that ends without its end
// call (a failure, or a stop asked by another handler) leaves it to the next stream.
struct pending_subtitle_record {
  char caption[128];  // empty: none pending
  int first_frame;
  int last_frame;
};
pending_subtitle_record pending_subtitle{};

// True when `time` lies after `boundary`, comparing the six calendar fields in order.
bool is_after(const std::tm& time, const std::tm& boundary) {
  const int time_fields[] = {time.tm_year, time.tm_mon, time.tm_mday,
                             time.tm_hour, time.tm_min, time.tm_sec};
  const int boundary_fields[] = {boundary.tm_year, boundary.tm_mon, boundary.tm_mday,
                                 boundary.tm_hour, boundary.tm_min, boundary.tm_sec};
  for (std::size_t i = 0; i < std::size(time_fields); ++i) {
    if (time_fields[i] != boundary_fields[i]) {
      return time_fields[i] > boundary_fields[i];
    }
  }
  return false;
}

void write_subtitle(std::FILE* stream) {
  if (std::fprintf(stream, "{%d}{%d}%s\r\n", pending_subtitle.first_frame,
                   pending_subtitle.last_frame, pending_subtitle.caption) < 0) {
    note_output_error(stream);
  }
}

// The subtitle text of the frame the decoder holds into `text`, empty when the frame has no
// date, lies after the boundary, or its text does not fit.
void frame_text(const handler_context& context, char (&text)[sizeof pending_subtitle.caption]) {
  text[0] = '\0';
  const frame_facts& facts = current_frame();
  if (!facts.dated) {
    return;
  }
  const std::tm& recorded = facts.recorded;
  if (context.boundary.tm_year != 0 && is_after(recorded, context.boundary)) {
    return;
  }
  // The format is the user's own: strftime's result is bounded by the buffer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  if (std::strftime(text, sizeof text, context.subs_format, &recorded) == 0) {
    text[0] = '\0';
  }
#pragma GCC diagnostic pop
}

constexpr const char* subtitle_format_names[] = {"microdvd"};

}  // namespace

int subtitle_format_index(const char* name) {
  for (std::size_t i = 0; i < std::size(subtitle_format_names); ++i) {
    if (std::strcmp(name, subtitle_format_names[i]) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int subtitle_handler(int frame, dv_decoder_t* /*decoder*/, const std::uint8_t* /*bytes*/,
                     const handler_context* context) {
  pending_subtitle_record& pending = pending_subtitle;
  // A subtitle still pending when its stream failed is carried into the next stream, and
  // written at the end of the run if none takes it on.
  if (frame == end_of_stream_call || frame == run_finished_call) {
    if (pending.caption[0] != '\0') {
      write_subtitle(context->stream);
    }
    pending.caption[0] = '\0';
    return 1;
  }
  if (frame < 0) {
    return 1;
  }
  char text[sizeof pending.caption];
  frame_text(*context, text);
  if (pending.caption[0] == '\0') {
    std::strcpy(pending.caption, text);
    pending.first_frame = frame;
  } else if (std::strcmp(text, pending.caption) != 0) {
    write_subtitle(context->stream);
    std::strcpy(pending.caption, text);
    pending.first_frame = frame;
  }
  pending.last_frame = frame;
  return 1;
}

}  // namespace tapestamp
