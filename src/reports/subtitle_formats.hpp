// The file formats the subtitle handler writes: one record per format with the functions
// that write the file's header and its cues. The handler decides what a cue is; the format
// only decides how it looks.
#ifndef TAPESTAMP_REPORTS_SUBTITLE_FORMATS_HPP_
#define TAPESTAMP_REPORTS_SUBTITLE_FORMATS_HPP_

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tapestamp {

// One subtitle ready to be written.
struct subtitle_cue {
  const char* text;  // as strftime gave it; `|` marks a line break
  int first_frame;   // first and last frame, numbered within the stream
  int last_frame;
  std::int64_t start_ticks;  // the run's time at the first frame, in 1/30000 s
  std::int64_t end_ticks;    // the run's time after the last frame
  unsigned number;           // the cue's number in the run, from 1
};

struct subtitle_format {
  const char* name;
  // Writes what comes before the first cue; null when the format has nothing there.
  void (*write_header)(std::FILE* stream);
  // Writes the cue; returns false when it has nothing to show and was left out.
  bool (*write_cue)(std::FILE* stream, const subtitle_cue& cue);
  // Frame-numbered formats let a cue still pending when its stream failed go on in the next
  // stream and write it at the end of the run; timed ones end it with its stream.
  bool carried_across_streams;
};

// Indexed by handler_context::format; the first is the default.
extern const subtitle_format subtitle_formats[];
extern const std::size_t subtitle_format_count;

}  // namespace tapestamp

#endif  // TAPESTAMP_REPORTS_SUBTITLE_FORMATS_HPP_
