#include "stream/frame_reader.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "stream/diag.hpp"
#include "stream/frame_state.hpp"
#include "stream/frame_steps.hpp"
#include "stream/pass_through.hpp"
#include "stream/read_mapped.hpp"
#include "stream/recorded_time.hpp"
#include "stream/settings.hpp"

namespace tapestamp {

dv_decoder_ptr new_decoder() {
  dv_decoder_ptr decoder(dv_decoder_new(0, 0, 0));
  if (!decoder) {
    diag("dv_decoder_new() returns NULL\n");
  }
  return decoder;
}

void report_premature_end(std::size_t remaining) {
  diag("remains only %zu bytes, premature EOF?\n", remaining);
}

std::size_t parse_frame(dv_decoder_t* decoder, const std::uint8_t* bytes, std::size_t available) {
  if (dv_parse_header(decoder, bytes) < 0) {
    diag("dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n");
    return 0;
  }
  const std::size_t size = dv_is_PAL(decoder) ? FRAME_SIZE_625_50 : FRAME_SIZE_525_60;
  if (available < size) {
    report_premature_end(available);
    return 0;
  }
  dv_parse_packs(decoder, bytes);
  return size;
}

int call_handlers(const handler_chain& chain, std::uint64_t frame, dv_decoder_t* decoder,
                  const std::uint8_t* bytes) {
  for (const handler_slot& slot : chain.slots) {
    if (slot.handler == nullptr) {
      break;
    }
    const int result = slot.handler(static_cast<int>(frame), decoder, bytes, &slot.context);
    if (result != 1) {
      return result == -1 ? -1 : 0;
    }
  }
  return 1;
}

int end_call(const handler_chain& chain) {
  for (const handler_slot& slot : chain.slots) {
    if (slot.handler == nullptr) {
      break;
    }
    const int result = slot.handler(end_of_stream_call, nullptr, nullptr, &slot.context);
    if (result != 1) {
      return result == -1 ? -1 : 0;
    }
  }
  return 0;
}

namespace {

// Makes a call that carries no frame to every handler; their results are not examined.
void notify_all(const handler_chain& chain, int call) {
  for (const handler_slot& slot : chain.slots) {
    if (slot.handler == nullptr) {
      break;
    }
    slot.handler(call, nullptr, nullptr, &slot.context);
  }
}

// The run's time at which the next stream starts, and the recordings found so far.
std::int64_t run_ticks_next = 0;
unsigned recordings_in_run = 0;

// What the recording-start rules remember of the frames before the current one.
struct recording_state {
  bool pal = false;
  bool new_recording_mark = false;
  bool dated = false;              // some frame of the current recording has a recorded time
  std::int64_t dated_ticks = 0;    // the last such frame's start within the stream
  std::int64_t dated_seconds = 0;  // and its recorded time
};
recording_state recording;

// Whether frame `facts` starts a recording, and why: the first rule that holds.
recording_reason recording_start(const frame_facts& facts, bool new_recording_mark,
                                 std::int64_t seconds) {
  if (facts.frame == 0) {
    return recording_reason::stream_start;
  }
  if (facts.pal != recording.pal) {
    return recording_reason::system_change;
  }
  if (new_recording_mark && !recording.new_recording_mark) {
    return recording_reason::rec_start;
  }
  if (!facts.dated) {
    return recording_reason::none;
  }
  if (recording.dated) {
    // Recorded times step by whole seconds, so a frame may be up to a second further on
    // than the time between the two frames says.
    const std::int64_t elapsed = facts.stream_ticks - recording.dated_ticks;
    const std::int64_t step = seconds - recording.dated_seconds;
    if (step < 0 || step * ticks_per_second > elapsed + ticks_per_second) {
      return recording_reason::time_jump;
    }
    return recording_reason::none;
  }
  return recording_reason::date_appears;
}

}  // namespace

void begin_stream(int fd, const char* name, bool seekable) {
  facts_of_stream = stream_facts{};
  facts_of_stream.name = name != nullptr ? name : "-";
  facts_of_stream.fd = fd;
  facts_of_stream.seekable = seekable;
  facts_of_stream.run_ticks_start = run_ticks_next;
  recording = recording_state{};
}

int hand_out(const handler_chain& chain, std::uint64_t frame, dv_decoder_t* decoder,
             const std::uint8_t* bytes, std::size_t size, off_t offset) {
  frame_facts& facts = facts_of_frame;
  facts.frame = frame;
  facts.pal = size == FRAME_SIZE_625_50;
  facts.size = size;
  facts.stream_ticks = facts_of_stream.ticks;
  facts.duration_ticks = facts.pal ? ticks_625_50 : ticks_525_60;
  facts.run_ticks = facts_of_stream.run_ticks_start + facts_of_stream.ticks;
  facts.dated = find_recorded_time(bytes, size, facts.frame_recorded);
  std::int64_t seconds = 0;
  if (facts.dated) {
    seconds = wall_seconds(facts.frame_recorded) + clock_offset;
    facts.recorded = clock_offset == 0 ? facts.frame_recorded : wall_time(seconds);
  }
  const bool mark = dv_is_new_recording(decoder, bytes) != 0;
  facts.starts = recording_start(facts, mark, seconds);
  if (facts.starts != recording_reason::none) {
    facts.recording = ++recordings_in_run;
    recording.dated = false;
  }
  if (facts.dated) {
    recording.dated = true;
    recording.dated_ticks = facts.stream_ticks;
    recording.dated_seconds = seconds;
  }
  recording.pal = facts.pal;
  recording.new_recording_mark = mark;

  facts_of_stream.offset = offset;
  facts_of_stream.frames = frame + 1;
  facts_of_stream.ticks += facts.duration_ticks;
  return call_handlers(chain, frame, decoder, bytes);
}

void tail_copy::put(const std::uint8_t* bytes, std::size_t size) {
  facts_of_stream.tail = bytes;
  facts_of_stream.tail_size = size;
  notify_all(chain_, stream_tail_call);
  facts_of_stream.tail = nullptr;
  facts_of_stream.tail_size = 0;
  // After a failed write the rest cannot follow in order, so nothing more is tried.
  if (to_stdout_ != nullptr && !copy_out(*to_stdout_, bytes, size)) {
    to_stdout_ = nullptr;
  }
}

void close_stream(const handler_chain& chain, bool failed) {
  facts_of_stream.failed = failed;
  notify_all(chain, stream_closed_call);
  run_ticks_next = facts_of_stream.run_ticks_start + facts_of_stream.ticks;
}

void finish_run(const handler_chain& chain) { notify_all(chain, run_finished_call); }

bool copy_out(pass_through& copy, const std::uint8_t* bytes, std::size_t size) {
  if (!copy.copy(bytes, size)) {
    diag("write() failed: %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

namespace {

// Reads until the buffer holds `capacity` bytes or the input ends. Returns false after
// reporting a read error.
bool fill(pass_through& input, std::uint8_t* buffer, std::size_t capacity, std::size_t& held,
          bool& at_end) {
  while (held < capacity && !at_end) {
    const ssize_t n = input.read(buffer + held, capacity - held);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      diag("read() failed: %s\n", std::strerror(errno));
      return false;
    }
    if (n == 0) {
      at_end = true;
    }
    held += static_cast<std::size_t>(n);
  }
  return true;
}

// After a failure: hands the `held` bytes at the buffer's front and then, while `can_read`,
// the rest of the input to `tail`.
void drain_tail(pass_through& input, std::uint8_t* buffer, std::size_t held, bool can_read,
                tail_copy& tail) {
  if (held > 0) {
    tail.put(buffer, held);
  }
  while (can_read) {
    const ssize_t n = input.read(buffer, FRAME_SIZE_625_50);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      diag("read() failed: %s\n", std::strerror(errno));
      return;
    }
    if (n == 0) {
      return;
    }
    tail.put(buffer, static_cast<std::size_t>(n));
  }
}

// The buffered path: frames are read into one buffer that holds a 625/50 frame, handed out
// in place, and the bytes read past a frame are moved to the buffer's front. In pass-through
// mode the input is read and copied to descriptor 1 through `input`.
int read_buffered(int fd, int stream_copy, const handler_chain& chain) {
  const dv_decoder_ptr decoder = new_decoder();
  if (!decoder) {
    return -1;
  }
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[FRAME_SIZE_625_50]);
  if (!buffer) {
    diag("malloc() failed: %s\n", std::strerror(ENOMEM));
    return -1;
  }
  // Nothing of a failed stream is lost: what follows the last frame handled still reaches
  // the pass-through copy and the handlers that keep the stream's bytes.
  pass_through input(fd, stream_copy != 0 ? 1 : -1, FRAME_SIZE_625_50);
  tail_copy tail(chain, stream_copy != 0 ? &input : nullptr);
  const bool tail_wanted = stream_copy != 0 || keep_tail != 0;
  std::size_t held = 0;
  bool at_end = false;
  for (std::uint64_t frame = 0; frame < max_frames; ++frame) {
    if (!fill(input, buffer.get(), FRAME_SIZE_625_50, held, at_end)) {
      if (tail_wanted) {
        drain_tail(input, buffer.get(), held, false, tail);
      }
      return -1;
    }
    if (held == 0) {
      break;
    }
    if (held < FRAME_SIZE_525_60) {
      report_premature_end(held);
      if (tail_wanted) {
        drain_tail(input, buffer.get(), held, false, tail);
      }
      return -1;
    }
    const std::size_t size = parse_frame(decoder.get(), buffer.get(), held);
    if (size == 0) {
      if (tail_wanted) {
        drain_tail(input, buffer.get(), held, !at_end, tail);
      }
      return -1;
    }
    const int result = hand_out(chain, frame, decoder.get(), buffer.get(), size, -1);
    if (result == -1 && tail_wanted) {
      drain_tail(input, buffer.get(), held, !at_end, tail);
    }
    if (result != 1) {
      return result;
    }
    if (stream_copy && !copy_out(input, buffer.get(), size)) {
      // Standard output is gone; the handlers that keep the stream still get the rest.
      if (keep_tail != 0) {
        tail_copy handlers_only(chain, nullptr);
        drain_tail(input, buffer.get() + size, held - size, !at_end, handlers_only);
      }
      return -1;
    }
    held -= size;
    std::memmove(buffer.get(), buffer.get() + size, held);
  }
  return end_call(chain);
}

}  // namespace

int process_stream(int fd, const char* name, int stream_copy, const handler_chain& chain) {
  if (verbose) {
    if (name != nullptr) {
      diag("processing file `%s'...\n", name);
    } else {
      diag("processing stdin...\n");
    }
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    if (name != nullptr) {
      diag("fstat(%d) failed (file `%s'): %s\n", fd, name, std::strerror(errno));
    } else {
      diag("fstat(0) failed: %s\n", std::strerror(errno));
    }
    return -1;
  }
  const bool mapped = S_ISREG(status.st_mode) && use_mmap && !stream_copy;
  begin_stream(fd, name, mapped);
  const int result = mapped ? read_mapped(fd, chain) : read_buffered(fd, stream_copy, chain);
  close_stream(chain, result != 0);
  return result;
}

}  // namespace tapestamp
