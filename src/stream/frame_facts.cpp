#include "stream/frame_facts.hpp"

#include "stream/frame_state.hpp"

namespace tapestamp {

const char* reason_name(recording_reason reason) {
  switch (reason) {
    case recording_reason::stream_start:
      return "stream-start";
    case recording_reason::system_change:
      return "system-change";
    case recording_reason::rec_start:
      return "rec-start";
    case recording_reason::time_jump:
      return "time-jump";
    case recording_reason::date_appears:
      return "date-appears";
    case recording_reason::none:
      break;
  }
  return "";
}

frame_facts facts_of_frame;
stream_facts facts_of_stream;

const frame_facts& current_frame() { return facts_of_frame; }
const stream_facts& current_stream() { return facts_of_stream; }

}  // namespace tapestamp
