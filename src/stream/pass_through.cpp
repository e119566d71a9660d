#include "stream/pass_through.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tapestamp {

namespace {

// Widens a pipe to `size` bytes when it is narrower and the system lets us: the processes on
// its two ends then take turns far less often, which costs more than the bytes moved. What
// the pipe carries is untouched; a refusal (a per-user limit) leaves it as it was.
void widen_pipe(int fd, int size) {
  const int now = ::fcntl(fd, F_GETPIPE_SZ);
  if (now >= 0 && now < size) {
    ::fcntl(fd, F_SETPIPE_SZ, size);
  }
}

constexpr int wide_pipe = 1 << 20;

}  // namespace

pass_through::pass_through(int in, int out, std::size_t most_held) : in_(in), out_(out) {
  if (out < 0) {
    return;
  }
  struct stat in_status {};
  struct stat out_status {};
  if (::fstat(in, &in_status) != 0 || ::fstat(out, &out_status) != 0) {
    return;  // the plain path meets the same failure and reports it where it occurs
  }
  const bool out_pipe = S_ISFIFO(out_status.st_mode);
  const bool out_file = S_ISREG(out_status.st_mode);
  if (S_ISREG(in_status.st_mode) && (out_pipe || out_file)) {
    // Reading goes on from where the descriptor stands, so the copy starts there too.
    offset_ = ::lseek(in, 0, SEEK_CUR);
    if (offset_ >= 0) {
      method_ = out_pipe ? method::file_splice : method::file_range;
      if (out_pipe) {
        widen_pipe(out, wide_pipe);
      }
    }
    return;
  }
  // A non-blocking input keeps read()'s answer when it is empty.
  const int in_flags = ::fcntl(in, F_GETFL);
  if (!S_ISFIFO(in_status.st_mode) || !(out_pipe || out_file) || in_flags < 0 ||
      (in_flags & O_NONBLOCK) != 0) {
    return;
  }
  // The bytes read from a pipe are gone from it, so each read is preceded by a tee() of the
  // same bytes into a pipe of our own, big enough for everything read ahead of the copy.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return;
  }
  hold_read_.reset(ends[0]);
  hold_write_.reset(ends[1]);
  // Room to spare, for the pieces a writer leaves part-filled; the bare need if not allowed.
  int capacity = ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(4 * most_held));
  if (capacity < 0) {
    capacity = ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(most_held));
  }
  if (capacity < 0 || static_cast<std::size_t>(capacity) < most_held) {
    fall_back();
    return;
  }
  hold_capacity_ = static_cast<std::size_t>(capacity);
  method_ = method::pipe_tee;
  widen_pipe(in, wide_pipe);
  if (out_pipe) {
    widen_pipe(out, wide_pipe);
  }
}

void pass_through::fall_back() {
  method_ = method::plain;
  hold_read_.reset();
  hold_write_.reset();
  held_ = 0;
}

ssize_t pass_through::read(std::uint8_t* at, std::size_t size) {
  if (method_ == method::pipe_tee && held_ + size > hold_capacity_) {
    fall_back();  // more than our pipe holds
  }
  while (method_ == method::pipe_tee) {
    // Non-blocking, because our pipe may be full before it holds `hold_capacity_` bytes: it
    // counts pieces, and a writer that writes little at a time fills a piece with little.
    const ssize_t teed = ::tee(in_, hold_write_.get(), size, SPLICE_F_NONBLOCK);
    if (teed > 0) {
      return read_teed(at, static_cast<std::size_t>(teed));
    }
    if (teed == 0) {
      return 0;  // no writer left and nothing in the pipe
    }
    if (errno == EINTR) {
      return -1;
    }
    if (errno == EAGAIN) {
      // Either the input is empty or our pipe is full; only we write to ours, so its state
      // holds still while we look.
      pollfd room{hold_write_.get(), POLLOUT, 0};
      if (::poll(&room, 1, 0) == 1 && (room.revents & POLLOUT) != 0) {
        pollfd input{in_, POLLIN, 0};
        if (::poll(&input, 1, -1) < 0 && errno != EINTR) {
          return -1;
        }
        continue;  // input, or the writer's end (tee() then gives 0)
      }
    }
    // Our pipe is full, or tee() refused: nothing was taken from the input yet, so read()
    // sees the same bytes, or meets the same error.
    fall_back();
  }
  return ::read(in_, at, size);
}

ssize_t pass_through::read_teed(std::uint8_t* at, std::size_t teed) {
  // The bytes duplicated are at the front of the input: read exactly those.
  std::size_t got = 0;
  while (got < teed) {
    const ssize_t n = ::read(in_, at + got, teed - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // Someone else read them: our pipe no longer matches what memory holds.
      const int saved = errno;
      fall_back();
      if (got > 0) {
        return static_cast<ssize_t>(got);
      }
      errno = saved;
      return n;
    }
    got += static_cast<std::size_t>(n);
  }
  held_ += got;
  return static_cast<ssize_t>(got);
}

bool pass_through::copy(const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (done < size && method_ != method::plain) {
    const std::size_t left = size - done;
    ssize_t n = -1;
    switch (method_) {
      case method::file_splice:
        n = ::splice(in_, &offset_, out_, nullptr, left, SPLICE_F_MOVE);
        break;
      case method::file_range:
        n = ::copy_file_range(in_, &offset_, out_, nullptr, left, 0);
        break;
      case method::pipe_tee:
        n = ::splice(hold_read_.get(), nullptr, out_, nullptr, left, SPLICE_F_MOVE);
        if (n > 0) {
          held_ -= static_cast<std::size_t>(n);
        }
        break;
      case method::plain:
        break;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // Refused (an output that takes no splice, an appending file, a file cut short) or a
      // failed output: write() takes over from the first byte not copied, and meets the
      // same failure if there is one.
      fall_back();
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  while (done < size) {
    const ssize_t n = ::write(out_, bytes + done, size - done);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace tapestamp
