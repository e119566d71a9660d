// Steps that both reading paths of the frame reader share: decoder set-up, frame parsing,
// the handler walk and the end call. Internal to src/stream.
#ifndef TAPESTAMP_STREAM_FRAME_STEPS_HPP_
#define TAPESTAMP_STREAM_FRAME_STEPS_HPP_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "stream/dv_decoder.hpp"
#include "stream/frame_reader.hpp"
#include "stream/pass_through.hpp"

namespace tapestamp {

// A new decoder, or null after reporting the failure.
dv_decoder_ptr new_decoder();

// Reports that a stream ends with `remaining` bytes, too few for a frame.
void report_premature_end(std::size_t remaining);

// Has libdv parse the header and packs of the frame at bytes, of which `available` bytes
// (at least FRAME_SIZE_525_60) may be read. Returns the frame's size, or 0 after reporting
// the failure: an unrecognised header, or a 625/50 frame cut short by the end of the data,
// which is a premature end with `available` bytes left. libdv reads no further than 77607
// bytes into a frame, so parsing a cut 625/50 frame stays inside the data.
std::size_t parse_frame(dv_decoder_t* decoder, const std::uint8_t* bytes, std::size_t available);

// Hands one frame to every handler of the chain in order. Returns 1 when all of them asked
// to go on; otherwise 0 (stop, success) or -1 (stop, failure).
int call_handlers(const handler_chain& chain, std::uint64_t frame, dv_decoder_t* decoder,
                  const std::uint8_t* bytes);

// Starts the stream facts of a new stream on fd. seekable: its frames are read at known
// offsets of a regular file.
void begin_stream(int fd, const char* name, bool seekable);

// Works out the facts of a parsed frame of `size` bytes (at file offset `offset` when the
// stream is seekable) and hands the frame to the chain. Returns as call_handlers does.
int hand_out(const handler_chain& chain, std::uint64_t frame, dv_decoder_t* decoder,
             const std::uint8_t* bytes, std::size_t size, off_t offset);

// Where the bytes of a failed stream that follow its last handled frame go: every handler's
// tail call and, in pass-through mode, the copy to descriptor 1 (borrowed; null: no copy).
class tail_copy {
 public:
  tail_copy(const handler_chain& chain, pass_through* to_stdout)
      : chain_(chain), to_stdout_(to_stdout) {}
  void put(const std::uint8_t* bytes, std::size_t size);

 private:
  const handler_chain& chain_;
  pass_through* to_stdout_;
};

// Copies the next `size` bytes read through `copy`, which are at `bytes`, to its output.
// Returns false after reporting a write error.
bool copy_out(pass_through& copy, const std::uint8_t* bytes, std::size_t size);

// The call every handler gets once a stream is over, however it ended.
void close_stream(const handler_chain& chain, bool failed);

// The end call: every handler gets frame number -1 until one stops. Returns the stream's
// result, 0 or -1.
int end_call(const handler_chain& chain);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_FRAME_STEPS_HPP_
