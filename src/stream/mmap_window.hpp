// A read-only shared mapping of part of a file, owned: the mapping is removed when its owner
// goes away or is given another.
#ifndef TAPESTAMP_STREAM_MMAP_WINDOW_HPP_
#define TAPESTAMP_STREAM_MMAP_WINDOW_HPP_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>

namespace tapestamp {

class mmap_window {
 public:
  mmap_window() = default;
  mmap_window(mmap_window&& other) noexcept;
  mmap_window& operator=(mmap_window&& other) noexcept;
  mmap_window(const mmap_window&) = delete;
  mmap_window& operator=(const mmap_window&) = delete;
  ~mmap_window();

  // Maps `length` bytes of the file on `fd` from `offset`, which must be a multiple of the
  // page size. Returns an empty window with errno set when mmap fails.
  static mmap_window map(int fd, off_t offset, std::size_t length);

  bool mapped() const { return base_ != nullptr; }
  // The file offset of the window's first byte, and the window's length.
  off_t offset() const { return offset_; }
  std::size_t length() const { return length_; }
  // The window's bytes; the first is the file's byte at offset(). Bytes of the window's
  // pages that lie past the end of the file must not be read: that faults.
  std::span<const std::uint8_t> bytes() const { return {base_, length_}; }

  // Has the kernel map the `length` bytes of the window from `from`, a multiple of the page
  // size, in one go (clipped to the window and rounded out to whole pages), so that reading
  // them takes no page faults. Only an advice: a kernel that cannot do it leaves the pages to
  // be faulted in as they are read.
  void prefault(std::size_t from, std::size_t length) const;

  // Removes the mapping; the window is empty afterwards whatever the outcome. Returns false
  // with errno set when munmap fails.
  bool unmap();

 private:
  mmap_window(const std::uint8_t* base, off_t offset, std::size_t length)
      : base_(base), offset_(offset), length_(length) {}

  const std::uint8_t* base_ = nullptr;
  off_t offset_ = 0;
  std::size_t length_ = 0;
};

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_MMAP_WINDOW_HPP_
