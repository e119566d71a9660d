// A move-only owner of a file descriptor.
#ifndef TAPESTAMP_STREAM_UNIQUE_FD_HPP_
#define TAPESTAMP_STREAM_UNIQUE_FD_HPP_

#include <unistd.h>

#include <utility>

namespace tapestamp {

class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  unique_fd& operator=(unique_fd&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.fd_, -1));
    }
    return *this;
  }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  ~unique_fd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Gives up the descriptor held, for a caller that closes it itself and checks the result.
  [[nodiscard]] int release() { return std::exchange(fd_, -1); }

  // Closes the descriptor held, if any. close() is not retried on EINTR: on Linux the
  // descriptor is released even then, and a retry could close someone else's.
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_UNIQUE_FD_HPP_
