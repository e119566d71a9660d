// The pass-through copy of a stream: reads the input into memory for the handlers and copies
// the bytes handed out to the output, letting the kernel move them where the two descriptors
// allow it. Internal to src/stream.
#ifndef TAPESTAMP_STREAM_PASS_THROUGH_HPP_
#define TAPESTAMP_STREAM_PASS_THROUGH_HPP_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "stream/unique_fd.hpp"

namespace tapestamp {

class pass_through {
 public:
  // How the bytes reach the output.
  enum class method {
    plain,        // write() from memory; also a reader that copies nothing
    file_splice,  // regular file to a pipe: splice() from the file at the bytes' offset
    file_range,   // regular file to a regular file: copy_file_range() at the bytes' offset
    pipe_tee,     // pipe to a pipe or a regular file: tee() into a pipe of our own before
                  // each read(), splice() from it once the bytes are to be copied
  };

  // Reads `in` and copies to `out` (both borrowed, left open); `out` < 0 copies nothing. The
  // method is chosen here from the kinds of the two descriptors. At most `most_held` bytes are
  // ever read and not yet copied. Any kernel call that refuses later makes the copy fall back
  // to plain for the rest of the stream, without losing or repeating a byte: memory always
  // holds the bytes that are copied.
  pass_through(int in, int out, std::size_t most_held);
  pass_through(const pass_through&) = delete;
  pass_through& operator=(const pass_through&) = delete;

  // As read(): up to `size` bytes of the input at `at`; 0 at its end, -1 with errno set.
  ssize_t read(std::uint8_t* at, std::size_t size);

  // Copies the next `size` bytes read and not yet copied, which are at `bytes`, to the
  // output. The bytes read must be copied in order, none skipped. Returns false with errno
  // set when the output failed; the copy is plain from then on.
  bool copy(const std::uint8_t* bytes, std::size_t size);

  method how() const { return method_; }

 private:
  void fall_back();
  ssize_t read_teed(std::uint8_t* at, std::size_t teed);

  int in_;
  int out_;
  method method_ = method::plain;
  off_t offset_ = 0;     // file methods: the input offset of the first byte not yet copied
  unique_fd hold_read_;  // pipe_tee: our pipe, holding the bytes read and not yet copied
  unique_fd hold_write_;
  std::size_t held_ = 0;  // pipe_tee: bytes in that pipe
  std::size_t hold_capacity_ = 0;
};

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_PASS_THROUGH_HPP_
