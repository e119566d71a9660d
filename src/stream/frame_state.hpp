// The reader's side of the frame and stream facts: the records it fills. Internal to
// src/stream.
#ifndef TAPESTAMP_STREAM_FRAME_STATE_HPP_
#define TAPESTAMP_STREAM_FRAME_STATE_HPP_

#include "stream/frame_facts.hpp"

namespace tapestamp {

extern frame_facts facts_of_frame;
extern stream_facts facts_of_stream;

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_FRAME_STATE_HPP_
