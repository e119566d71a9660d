// The frame reader: walks one DV stream frame by frame and hands every frame, parsed by
// libdv, to a fixed chain of handlers.
#ifndef TAPESTAMP_STREAM_FRAME_READER_HPP_
#define TAPESTAMP_STREAM_FRAME_READER_HPP_

#include <libdv/dv.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace tapestamp {

inline constexpr std::size_t FRAME_SIZE_625_50 = 144000;
inline constexpr std::size_t FRAME_SIZE_525_60 = 120000;

// The one context record every slot carries. The run control fills only the fields of the
// handler it installs; each handler reads only its own fields.
struct handler_context {
  std::FILE* stream;        // where the handler writes; borrowed, owned by the run control
  const char* subs_format;  // strftime format of the subtitle text
  std::tm boundary;         // subtitles: no text after this time; year 0 means no boundary
  int dump_ssyb;            // info report: list ssyb packs
  int dump_vaux;            // info report: list vaux packs
  int format;               // index of the output format in the handler's own table
  const char* path;         // a path the handler writes to (the split files' prefix)
};

// Called once per frame with the frame number (from 0 in each stream), the decoder that has
// parsed the frame and the frame's bytes, and once more at the end of the stream with frame
// number -1 and null decoder and bytes. Returns 1 to go on, -1 to stop the stream as failed,
// anything else to stop it as succeeded.
using frame_handler = int (*)(int frame, dv_decoder_t* decoder, const std::uint8_t* bytes,
                              const handler_context* context);

struct handler_slot {
  frame_handler handler;  // null marks an empty slot, which ends the chain
  handler_context context;
};

inline constexpr std::size_t handler_chain_slots = 8;

// Filled from the first slot on without gaps; a value-initialised chain is empty.
struct handler_chain {
  handler_slot slots[handler_chain_slots];
};

// Reads the stream on descriptor fd (left open) and hands its frames to chain. name is the
// file's name for messages, or null for standard input. With stream_copy set every frame
// handed out is then written unchanged to descriptor 1. Regular files are read through a
// mapping unless use_mmap is off or stream_copy is set. Reports its failures on stderr.
// Returns 0 on success (including a stop asked by a handler), -1 on failure.
int process_stream(int fd, const char* name, int stream_copy, const handler_chain& chain);

// The call every handler gets once the run's last stream is over.
void finish_run(const handler_chain& chain);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_FRAME_READER_HPP_
