#include "stream/read_mapped.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "stream/diag.hpp"
#include "stream/frame_steps.hpp"
#include "stream/mmap_window.hpp"
#include "stream/settings.hpp"

namespace tapestamp {
namespace {

// The window's pages are mapped in ahead of the frames in steps of this many bytes: one call
// per step costs far less than a page fault per page touched, and a stream that stops after a
// few frames does not pay for a whole window.
constexpr off_t prefault_step = 2 * 1024 * 1024;

// Removes the window, reporting a failure. Returns false when munmap failed.
bool unmap_reported(mmap_window& window) {
  if (!window.unmap()) {
    diag("munmap() failed: %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

// After a failure: the file from `offset` to `end`, read anew, to the handlers that keep the
// stream's bytes.
void drain_tail(int fd, off_t offset, off_t end, const handler_chain& chain) {
  if (keep_tail == 0 || offset >= end) {
    return;
  }
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[FRAME_SIZE_625_50]);
  if (!buffer) {
    diag("malloc() failed: %s\n", std::strerror(ENOMEM));
    return;
  }
  tail_copy tail(chain, nullptr);
  while (offset < end) {
    const off_t left = end - offset;
    const std::size_t want = left < static_cast<off_t>(FRAME_SIZE_625_50)
                                 ? static_cast<std::size_t>(left)
                                 : FRAME_SIZE_625_50;
    const ssize_t n = ::pread(fd, buffer.get(), want, offset);
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
    tail.put(buffer.get(), static_cast<std::size_t>(n));
    offset += n;
  }
}

}  // namespace

int read_mapped(int fd, const handler_chain& chain, std::size_t window_max) {
  const dv_decoder_ptr decoder = new_decoder();
  if (!decoder) {
    return -1;
  }
  const long page_result = ::sysconf(_SC_PAGESIZE);
  if (page_result == -1) {
    diag("sysconf(_SC_PAGESIZE) returns -1\n");
    return -1;
  }
  const auto page_size = static_cast<off_t>(page_result);
  off_t file_size = ::lseek(fd, 0, SEEK_END);
  if (file_size < 0) {
    diag("lseek() failed: %s\n", std::strerror(errno));
    return -1;
  }
  if (file_size == 0 || max_frames == 0) {
    return end_call(chain);
  }
  // A window must always reach a whole 625/50 frame past the page its frame starts in.
  const auto cap =
      static_cast<off_t>(window_max < FRAME_SIZE_625_50 + static_cast<std::size_t>(page_size)
                             ? FRAME_SIZE_625_50 + static_cast<std::size_t>(page_size)
                             : window_max);

  mmap_window window;
  off_t prefaulted = 0;  // the file offset up to which the window's pages are mapped in
  off_t frame_offset = 0;
  for (std::uint64_t frame = 0;;) {
    // Mapped pages that a truncation has cut off the file fault when read, so a file that
    // shrank since the last frame ends where it ends now, as it would for read().
    struct stat now {};
    if (::fstat(fd, &now) == 0 && now.st_size < file_size) {
      file_size = now.st_size;
      if (frame_offset >= file_size) {
        break;
      }
    }
    // Fewer bytes than the smallest frame, at the start of a short file or after a frame.
    const off_t remaining = file_size - frame_offset;
    if (remaining < static_cast<off_t>(FRAME_SIZE_525_60)) {
      report_premature_end(static_cast<std::size_t>(remaining));
      drain_tail(fd, frame_offset, file_size, chain);
      return -1;
    }
    if (!window.mapped() || frame_offset + static_cast<off_t>(FRAME_SIZE_625_50) >
                                window.offset() + static_cast<off_t>(window.length())) {
      if (!unmap_reported(window)) {
        return -1;
      }
      const off_t window_offset = frame_offset / page_size * page_size;
      const off_t reach = file_size - frame_offset + page_size;
      const auto window_length = static_cast<std::size_t>(reach < cap ? reach : cap);
      window = mmap_window::map(fd, window_offset, window_length);
      if (!window.mapped()) {
        diag("mmap() failed: %s\n", std::strerror(errno));
        drain_tail(fd, frame_offset, file_size, chain);
        return -1;
      }
      prefaulted = window_offset;
    }
    // Pages past the end of the file are left alone: touching them faults.
    const off_t frame_end = frame_offset + static_cast<off_t>(FRAME_SIZE_625_50);
    if (prefaulted < frame_end && prefaulted < file_size) {
      const off_t step_end = prefaulted + prefault_step;
      const off_t end = step_end < file_size ? step_end : file_size;
      window.prefault(static_cast<std::size_t>(prefaulted - window.offset()),
                      static_cast<std::size_t>(end - prefaulted));
      prefaulted = step_end;
    }
    const std::uint8_t* const bytes = window.bytes().data() + (frame_offset - window.offset());
    // A 625/50 frame cut short by the end of the file is a premature end: nothing may read
    // the window past the file's last byte.
    const std::size_t size = parse_frame(decoder.get(), bytes, static_cast<std::size_t>(remaining));
    if (size == 0) {
      drain_tail(fd, frame_offset, file_size, chain);
      return -1;
    }
    const int result = hand_out(chain, frame, decoder.get(), bytes, size, frame_offset);
    if (result == -1) {
      drain_tail(fd, frame_offset, file_size, chain);
    }
    if (result != 1) {
      return unmap_reported(window) ? result : -1;
    }
    frame_offset += static_cast<off_t>(size);
    if (frame_offset >= file_size || ++frame >= max_frames) {
      break;
    }
  }
  const int result = end_call(chain);
  if (!unmap_reported(window)) {
    return -1;
  }
  return result;
}

}  // namespace tapestamp
