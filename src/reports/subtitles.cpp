#include <cstring>
#include <ctime>
#include <iterator>

#include "reports/reports.hpp"
#include "reports/subtitle_formats.hpp"
#include "stream/frame_facts.hpp"
#include "stream/output_error.hpp"

namespace tapestamp {
namespace {

// The subtitle being extended. One for the whole process: in the frame-numbered format a
// stream that ends without its end call (a failure, or a stop asked by another handler)
// leaves it to the next stream.
struct pending_subtitle_record {
  char caption[128];  // empty: none pending
  int first_frame;
  int last_frame;
  std::int64_t start_ticks;  // the run's time at the first frame
  std::int64_t end_ticks;    // the run's time after the last frame
};
pending_subtitle_record pending_subtitle{};

// What the run has written so far.
bool header_written = false;
unsigned cues_written = 0;

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

// Writes the pending subtitle, if any, and empties it.
void write_subtitle(const subtitle_format& format, std::FILE* stream) {
  pending_subtitle_record& pending = pending_subtitle;
  if (pending.caption[0] == '\0') {
    return;
  }
  const subtitle_cue cue = {.text = pending.caption,
                            .first_frame = pending.first_frame,
                            .last_frame = pending.last_frame,
                            .start_ticks = pending.start_ticks,
                            .end_ticks = pending.end_ticks,
                            .number = cues_written + 1};
  if (format.write_cue(stream, cue)) {
    ++cues_written;
  }
  pending.caption[0] = '\0';
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

}  // namespace

int subtitle_format_index(const char* name) {
  for (std::size_t i = 0; i < subtitle_format_count; ++i) {
    if (std::strcmp(name, subtitle_formats[i].name) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int subtitle_handler(int frame, dv_decoder_t* /*decoder*/, const std::uint8_t* /*bytes*/,
                     const handler_context* context) {
  pending_subtitle_record& pending = pending_subtitle;
  const subtitle_format& format = subtitle_formats[context->format];
  // The header goes out at the handler's first call, which at the latest is the end of the
  // run: a run without a readable input still leaves a valid file.
  if (!header_written) {
    header_written = true;
    if (format.write_header != nullptr) {
      format.write_header(context->stream);
    }
  }
  // In the frame-numbered format a subtitle still pending when its stream failed is carried
  // into the next stream, and written at the end of the run if none takes it on. The timed
  // formats end every cue with its stream, however the stream ended.
  if (frame == run_finished_call ||
      (frame == end_of_stream_call && format.carried_across_streams) ||
      (frame == stream_closed_call && !format.carried_across_streams)) {
    write_subtitle(format, context->stream);
    return 1;
  }
  if (frame < 0) {
    return 1;
  }
  char text[sizeof pending.caption];
  frame_text(*context, text);
  const frame_facts& facts = current_frame();
  if (pending.caption[0] == '\0') {
    std::strcpy(pending.caption, text);
    pending.first_frame = frame;
    pending.start_ticks = facts.run_ticks;
  } else if (std::strcmp(text, pending.caption) != 0) {
    write_subtitle(format, context->stream);
    std::strcpy(pending.caption, text);
    pending.first_frame = frame;
    pending.start_ticks = facts.run_ticks;
  }
  pending.last_frame = frame;
  pending.end_ticks = facts.run_ticks + facts.duration_ticks;
  return 1;
}

}  // namespace tapestamp
