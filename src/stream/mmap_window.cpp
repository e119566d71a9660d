#include "stream/mmap_window.hpp"

#include <sys/mman.h>

#include <cerrno>
#include <utility>

namespace tapestamp {

mmap_window::mmap_window(mmap_window&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      offset_(std::exchange(other.offset_, 0)),
      length_(std::exchange(other.length_, 0)) {}

mmap_window& mmap_window::operator=(mmap_window&& other) noexcept {
  if (this != &other) {
    unmap();
    base_ = std::exchange(other.base_, nullptr);
    offset_ = std::exchange(other.offset_, 0);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

mmap_window::~mmap_window() { unmap(); }

mmap_window mmap_window::map(int fd, off_t offset, std::size_t length) {
  void* const base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, offset);
  if (base == MAP_FAILED) {
    return {};
  }
  return {static_cast<const std::uint8_t*>(base), offset, length};
}

void mmap_window::prefault(std::size_t from, std::size_t length) const {
#ifdef MADV_POPULATE_READ
  if (base_ == nullptr || from >= length_) {
    return;
  }
  if (length > length_ - from) {
    length = length_ - from;
  }
  // Older kernels refuse the advice with EINVAL; the pages are then faulted in as read.
  const int saved = errno;
  ::madvise(const_cast<std::uint8_t*>(base_ + from), length, MADV_POPULATE_READ);
  errno = saved;
#else
  (void)from;
  (void)length;
#endif
}

bool mmap_window::unmap() {
  if (base_ == nullptr) {
    return true;
  }
  // The mapping is forgotten even when munmap fails: there is nothing better to do with it,
  // and it must not be removed twice.
  const int result = ::munmap(const_cast<std::uint8_t*>(base_), length_);
  base_ = nullptr;
  offset_ = 0;
  length_ = 0;
  return result == 0;
}

}  // namespace tapestamp
