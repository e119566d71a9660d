// Steps that both reading paths of the frame reader share: decoder set-up, frame parsing,
// the handler walk and the end call. Internal to src/stream.
#ifndef TAPESTAMP_STREAM_FRAME_STEPS_HPP_
#define TAPESTAMP_STREAM_FRAME_STEPS_HPP_

#include <cstddef>
#include <cstdint>

#include "stream/dv_decoder.hpp"
#include "stream/frame_reader.hpp"

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

// The end call: every handler gets frame number -1 until one stops. Returns the stream's
// result, 0 or -1.
int end_call(const handler_chain& chain);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_FRAME_STEPS_HPP_
