// The mapped reading path of the frame reader, for regular files. Internal to src/stream; the
// window's size cap is a parameter so that tests can cross windows with a few frames.
#ifndef TAPESTAMP_STREAM_READ_MAPPED_HPP_
#define TAPESTAMP_STREAM_READ_MAPPED_HPP_

#include <cstddef>

#include "stream/frame_reader.hpp"

namespace tapestamp {

// The largest mapping window the reader makes.
inline constexpr std::size_t MAP_WINDOW_MAX = 16777216;

// Walks the regular file on fd from its first byte, whatever the descriptor's offset, through
// a read-only window of at most `window_max` bytes that slides forward whenever fewer than
// FRAME_SIZE_625_50 bytes of it lie ahead of the next frame, and hands the chain pointers
// into the window. A cap below one 625/50 frame and a page is raised to that. Leaves the
// descriptor's offset at the end of the file. Returns 0 or -1 as process_stream does.
int read_mapped(int fd, const handler_chain& chain, std::size_t window_max = MAP_WINDOW_MAX);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_READ_MAPPED_HPP_
