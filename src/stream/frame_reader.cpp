#include "stream/frame_reader.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "stream/diag.hpp"
#include "stream/frame_steps.hpp"
#include "stream/read_mapped.hpp"
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
    const int result = slot.handler(-1, nullptr, nullptr, &slot.context);
    if (result != 1) {
      return result == -1 ? -1 : 0;
    }
  }
  return 0;
}

namespace {

// Reads until the buffer holds `capacity` bytes or the input ends. Returns false after
// reporting a read error.
bool fill(int fd, std::uint8_t* buffer, std::size_t capacity, std::size_t& held, bool& at_end) {
  while (held < capacity && !at_end) {
    const ssize_t n = ::read(fd, buffer + held, capacity - held);
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

// Writes all `size` bytes to descriptor 1. Returns false after reporting a write error.
bool copy_out(const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(1, bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      diag("write() failed: %s\n", std::strerror(errno));
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The buffered path: frames are read into one buffer that holds a 625/50 frame, handed out
// in place, and the bytes read past a frame are moved to the buffer's front.
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
  std::size_t held = 0;
  bool at_end = false;
  for (std::uint64_t frame = 0; frame < max_frames; ++frame) {
    if (!fill(fd, buffer.get(), FRAME_SIZE_625_50, held, at_end)) {
      return -1;
    }
    if (held == 0) {
      break;
    }
    if (held < FRAME_SIZE_525_60) {
      report_premature_end(held);
      return -1;
    }
    const std::size_t size = parse_frame(decoder.get(), buffer.get(), held);
    if (size == 0) {
      return -1;
    }
    const int result = call_handlers(chain, frame, decoder.get(), buffer.get());
    if (result != 1) {
      return result;
    }
    if (stream_copy && !copy_out(buffer.get(), size)) {
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
  if (S_ISREG(status.st_mode) && use_mmap && !stream_copy) {
    return read_mapped(fd, chain);
  }
  return read_buffered(fd, stream_copy, chain);
}

}  // namespace tapestamp
