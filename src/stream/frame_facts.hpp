// What the reader knows of the frame it hands to the chain, worked out once per frame so that
// every output agrees: its recorded time, its time within the stream and the run, and whether
// it starts a new recording. Also the calls besides the per-frame and end calls that handlers
// get, and what the reader knows of the stream during them.
#ifndef TAPESTAMP_STREAM_FRAME_FACTS_HPP_
#define TAPESTAMP_STREAM_FRAME_FACTS_HPP_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace tapestamp {

// Frame numbers below 0 mark the calls that carry no frame.
inline constexpr int end_of_stream_call = -1;  // clean end or frame limit; see process_stream
// Made once to every handler after each stream however it ended, after its end call if it
// had one. The handlers' results are not examined.
inline constexpr int stream_closed_call = -2;
// Made once to every handler by the run control after the last stream.
inline constexpr int run_finished_call = -3;
// Bytes of the input that follow the last frame handled in a stream that failed (the failing
// frame and the rest of the input, in pieces): current_stream().tail holds them.
inline constexpr int stream_tail_call = -4;

// Time within a stream counts in units of 1/30000 s: a 625/50 frame lasts 1200 of them, a
// 525/60 frame 1001.
inline constexpr std::int64_t ticks_per_second = 30000;
inline constexpr std::int64_t ticks_625_50 = 1200;
inline constexpr std::int64_t ticks_525_60 = 1001;

enum class recording_reason {
  none,
  stream_start,
  system_change,
  rec_start,
  time_jump,
  date_appears
};

// "stream-start", "system-change", "rec-start", "time-jump", "date-appears"; "" for none.
const char* reason_name(recording_reason reason);

struct frame_facts {
  std::uint64_t frame = 0;          // number in its stream, from 0
  bool pal = false;                 // 625/50, else 525/60
  std::size_t size = 0;             // bytes of the frame
  std::int64_t stream_ticks = 0;    // start of the frame within its stream
  std::int64_t duration_ticks = 0;  // how long the frame lasts: 1200 for 625/50, 1001 for 525/60
  std::int64_t run_ticks = 0;       // start of the frame, the run's inputs played one after another
  bool dated = false;               // the frame has a recorded time
  std::tm recorded{};               // that time with the clock offset added (when dated)
  std::tm frame_recorded{};         // that time as the frame holds it (when dated)
  recording_reason starts = recording_reason::none;  // the frame starts a recording
  unsigned recording = 0;  // number of the frame's recording in the run, from 1
};

struct stream_facts {
  const char* name = "-";              // the input's name, "-" for standard input
  int fd = -1;                         // the input's descriptor
  bool seekable = false;               // frames are at known offsets of a regular file
  off_t offset = 0;                    // when seekable: the current frame's offset in the file
  std::uint64_t frames = 0;            // frames handed to the chain so far
  std::int64_t ticks = 0;              // time after the last frame handed out, within the stream
  std::int64_t run_ticks_start = 0;    // the run's time at which the stream starts
  bool failed = false;                 // during the closed call: the stream failed
  const std::uint8_t* tail = nullptr;  // during a tail call: the bytes
  std::size_t tail_size = 0;
};

// The facts of the frame being handed to the chain; valid during a call with a frame number
// of 0 or more.
const frame_facts& current_frame();

// The facts of the stream being read; valid during every call of a stream, and during the run
// finished call for the last stream.
const stream_facts& current_stream();

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_FRAME_FACTS_HPP_
