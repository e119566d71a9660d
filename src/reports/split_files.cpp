// One file per recording: every frame goes, as read, into the file of its recording, and the
// bytes that follow the last frame of a failed stream into the file of the recording they
// follow, so that the files of an input joined in order give back the input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "reports/reports.hpp"
#include "stream/diag.hpp"
#include "stream/settings.hpp"
#include "stream/unique_fd.hpp"

namespace tapestamp {
namespace {

// Copies ranges of a seekable input to the end of a file on a thread of its own, so that the
// kernel copies one recording while the reader goes on through the next frames. The copies
// are made in order; a failure drops what is queued after it until it has been collected.
class background_copy {
 public:
  background_copy() = default;
  background_copy(const background_copy&) = delete;
  background_copy& operator=(const background_copy&) = delete;
  ~background_copy() { stop(); }

  // Queues `size` bytes at `offset` of `input` for the end of `output`, waiting while much is
  // queued already. Both descriptors must stay open until wait() returns.
  void submit(int input, off_t offset, std::size_t size, int output) {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable() && !without_thread_) {
      try {
        thread_ = std::thread([this] { run(); });
      } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): the copies are made here.
        without_thread_ = true;
      }
    }
    if (without_thread_) {
      if (error_ == 0) {
        bool reading = false;
        error_ = copy({input, offset, size, output}, reading);
        error_reading_ = reading;
        failed_.store(error_ != 0, std::memory_order_relaxed);
      }
      return;
    }
    changed_.wait(lock, [this] { return jobs_.size() < jobs_most; });
    jobs_.push_back({input, offset, size, output});
    changed_.notify_all();
  }

  // A failure has happened that wait() has not collected yet.
  bool failed() const { return failed_.load(std::memory_order_relaxed); }

  // Waits until everything queued is copied. Returns 0, or the errno of the first failure
  // since the last call, with `reading` telling whether the input could not be read.
  int wait(bool& reading) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.empty() && !busy_; });
    const int error = error_;
    reading = error_reading_;
    error_ = 0;
    failed_.store(false, std::memory_order_relaxed);
    return error;
  }

  void stop() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
      changed_.notify_all();
    }
    if (thread_.joinable()) {
      thread_.join();
    }
    // A later submit starts a new thread, which must not find the old one's stop.
    const std::lock_guard lock(mutex_);
    stopping_ = false;
  }

 private:
  struct job {
    int input;
    off_t offset;
    std::size_t size;
    int output;
  };
  static constexpr std::size_t jobs_most = 4;

  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) {
        return;
      }
      const job next = jobs_.front();
      jobs_.pop_front();
      const bool skip = error_ != 0;
      busy_ = true;
      changed_.notify_all();
      lock.unlock();
      bool reading = false;
      const int error = skip ? 0 : copy(next, reading);
      lock.lock();
      busy_ = false;
      if (error != 0) {
        error_ = error;
        error_reading_ = reading;
        failed_.store(true, std::memory_order_relaxed);
      }
      changed_.notify_all();
    }
  }

  // Copies one range within the kernel, its data never passing through user space, or by
  // reading and writing where the kernel cannot copy between the two files. Returns 0 or the
  // errno of the failure.
  int copy(const job& j, bool& reading) {
    off_t from = j.offset;
    std::size_t left = j.size;
    while (left > 0) {
      const ssize_t n = ::copy_file_range(j.input, &from, j.output, nullptr, left, 0);
      if (n > 0) {
        left -= static_cast<std::size_t>(n);
        continue;
      }
      if (n == 0) {
        return 0;  // the file was cut short while it was read; the reader ends there too
      }
      if (errno == EINTR) {
        continue;
      }
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
      }
      break;
    }
    if (left > 0 && buffer_.empty()) {
      buffer_.resize(FRAME_SIZE_625_50);
    }
    while (left > 0) {
      const std::size_t want = left < buffer_.size() ? left : buffer_.size();
      const ssize_t n = ::pread(j.input, buffer_.data(), want, from);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        reading = n < 0;
        return n < 0 ? errno : 0;
      }
      for (ssize_t done = 0; done < n;) {
        const ssize_t w =
            ::write(j.output, buffer_.data() + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno != EINTR) {
          return errno;
        }
        done += w > 0 ? w : 0;
      }
      from += n;
      left -= static_cast<std::size_t>(n);
    }
    return 0;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<job> jobs_;
  bool busy_ = false;
  bool stopping_ = false;
  bool without_thread_ = false;
  int error_ = 0;
  bool error_reading_ = false;
  std::atomic<bool> failed_{false};
  std::vector<std::uint8_t> buffer_;  // the copying thread's, for reading and writing
  std::thread thread_;
};

// The file being written and what is known of the stream's writing.
struct split_state {
  unique_fd file;
  std::string name;
  bool dated = false;   // the recording has a first recorded time
  std::tm first{};      // that time, the camcorder's wall-clock time
  bool failed = false;  // writing this stream failed: nothing more is written for it
  // Frames of a seekable input not yet handed to the copy: the range of the input they
  // cover. The kernel copies long ranges much faster than one frame at a time.
  int input = -1;
  off_t pending_offset = 0;
  std::size_t pending_size = 0;
  background_copy copier;
};
split_state state;

// The file name of the recording `facts` starts: the prefix, the recording's number in at
// least three digits, and its first recorded time or "undated".
std::string file_name(const char* prefix, const frame_facts& facts) {
  char tail[64];
  if (facts.dated) {
    const std::tm& t = facts.recorded;
    std::snprintf(tail, sizeof tail, "%03u_%04d-%02d-%02d_%02d-%02d-%02d.dv", facts.recording,
                  t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  } else {
    std::snprintf(tail, sizeof tail, "%03u_undated.dv", facts.recording);
  }
  return std::string(prefix != nullptr ? prefix : "") + tail;
}

// Restores the environment's TZ, and the zone the C library works in, at the end of a scope.
class zone_restore {
 public:
  zone_restore() {
    const char* zone = std::getenv("TZ");
    had_ = zone != nullptr;
    if (had_) {
      saved_ = zone;
    }
  }
  zone_restore(const zone_restore&) = delete;
  zone_restore& operator=(const zone_restore&) = delete;
  ~zone_restore() {
    if (had_) {
      ::setenv("TZ", saved_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string saved_;
};

// The instant at which the user's clock showed `wall`, in the user's own zone (the system's
// default zone when TZ was unset). The run works in UTC, so the user's TZ is put back for
// this one conversion. A wall time that occurs twice, when the clocks go back, is taken in
// whichever offset mktime() settles on. Returns false when it cannot be represented.
bool user_local_instant(const std::tm& wall, std::time_t& instant) {
  const zone_restore restore;
  if (user_time_zone != nullptr) {
    ::setenv("TZ", user_time_zone, 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  std::tm t{};
  t.tm_year = wall.tm_year;
  t.tm_mon = wall.tm_mon;
  t.tm_mday = wall.tm_mday;
  t.tm_hour = wall.tm_hour;
  t.tm_min = wall.tm_min;
  t.tm_sec = wall.tm_sec;
  t.tm_isdst = -1;
  // mktime() leaves tm_wday alone only when it fails; -1 is a valid result.
  t.tm_wday = -1;
  instant = std::mktime(&t);
  return t.tm_wday != -1;
}

void report_write_error() {
  diag("write() (file `%s') failed: %s\n", state.name.c_str(), std::strerror(errno));
}

// Writes all of `size` bytes to the file. Returns false after reporting an error.
bool write_bytes(const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(state.file.get(), bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      report_write_error();
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Ranges of the input are handed to the copy once they reach this size, cut where the
// input's offset is a multiple of copy_alignment: the kernel copies long ranges that start and
// end on page boundaries much faster than short or unaligned ones.
constexpr std::size_t pending_most = 64 * 1024 * 1024;
constexpr off_t copy_alignment = 64 * 1024;

// Reports a failure of the background copy into the file held.
void report_copy_error(int error, bool reading) {
  if (reading) {
    diag("read() failed: %s\n", std::strerror(error));
  } else {
    diag("write() (file `%s') failed: %s\n", state.name.c_str(), std::strerror(error));
  }
}

// Hands the pending range to the copy.
void submit_pending() {
  if (state.pending_size > 0) {
    state.copier.submit(state.input, state.pending_offset, state.pending_size, state.file.get());
    state.pending_size = 0;
  }
}

// Hands the pending range up to its last aligned offset to the copy.
void submit_aligned() {
  const off_t end = state.pending_offset + static_cast<off_t>(state.pending_size);
  const off_t cut = end / copy_alignment * copy_alignment;
  if (cut <= state.pending_offset) {
    submit_pending();
    return;
  }
  const auto size = static_cast<std::size_t>(cut - state.pending_offset);
  state.copier.submit(state.input, state.pending_offset, size, state.file.get());
  state.pending_offset = cut;
  state.pending_size -= size;
}

// Copies everything pending into the file and waits for it. Returns false after reporting
// an error.
bool copy_pending() {
  submit_pending();
  bool reading = false;
  const int error = state.copier.wait(reading);
  if (error != 0) {
    report_copy_error(error, reading);
    return false;
  }
  return true;
}

// Adds the frame at `offset` of the seekable input to the pending range. Returns false
// after reporting an error of the copies made so far.
bool copy_later(int input, off_t offset, std::size_t size) {
  if (state.copier.failed()) {
    return copy_pending();
  }
  if (state.pending_size > 0 &&
      (input != state.input ||
       offset != state.pending_offset + static_cast<off_t>(state.pending_size))) {
    submit_pending();
  }
  if (state.pending_size == 0) {
    state.input = input;
    state.pending_offset = offset;
  }
  state.pending_size += size;
  if (state.pending_size >= pending_most) {
    submit_aligned();
  }
  return true;
}

// Ends the writing of the stream after an error; the file keeps what was written.
int fail_stream() {
  bool reading = false;
  state.pending_size = 0;
  state.copier.wait(reading);  // what it held was told already, or is lost with the file
  state.file.reset();
  state.failed = true;
  return -1;
}

// Dates the file held and closes it. Returns false after reporting an error.
bool finish_file() {
  if (!state.file) {
    return true;
  }
  if (!copy_pending()) {
    state.file.reset();
    return false;
  }
  bool ok = true;
  std::time_t instant = 0;
  if (state.dated && user_local_instant(state.first, instant)) {
    // The access time is left alone; only the modification time tells when it was recorded.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {instant, 0}};
    if (::futimens(state.file.get(), times) != 0) {
      diag("futimens() (file `%s') failed: %s\n", state.name.c_str(), std::strerror(errno));
      ok = false;
    }
  }
  // close() is where a file system that writes late reports the data it could not store.
  const int fd = state.file.release();
  if (::close(fd) != 0) {
    diag("close() (file `%s') failed: %s\n", state.name.c_str(), std::strerror(errno));
    ok = false;
  }
  return ok;
}

// Finishes the file of the recording before, then creates the file of the one that `facts`
// starts. Returns false after reporting an error.
bool start_file(const char* prefix, const frame_facts& facts) {
  if (!finish_file()) {
    return false;
  }
  state.name = file_name(prefix, facts);
  state.dated = facts.dated;
  state.first = facts.recorded;
  state.file = unique_fd(::open(state.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (!state.file) {
    diag("open(\"%s\"...) failed: %s\n", state.name.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int split_handler(int frame, dv_decoder_t* /*decoder*/, const std::uint8_t* bytes,
                  const handler_context* context) {
  switch (frame) {
    case end_of_stream_call:
      return state.failed || finish_file() ? 1 : fail_stream();
    case stream_closed_call:
      // A failed stream's last file has had its tail by now; its errors are already told.
      finish_file();
      state.failed = false;
      return 1;
    case stream_tail_call: {
      const stream_facts& stream = current_stream();
      if (!state.failed && state.file &&
          (!copy_pending() || !write_bytes(stream.tail, stream.tail_size))) {
        fail_stream();
      }
      return 1;
    }
    case run_finished_call:
      state.copier.stop();
      return 1;
    default:
      break;
  }
  if (state.failed) {
    return -1;
  }
  const frame_facts& facts = current_frame();
  if (facts.starts != recording_reason::none && !start_file(context->path, facts)) {
    return fail_stream();
  }
  if (!state.file) {
    return 1;
  }
  const stream_facts& stream = current_stream();
  const bool written = stream.seekable ? copy_later(stream.fd, stream.offset, facts.size)
                                       : write_bytes(bytes, facts.size);
  return written ? 1 : fail_stream();
}

}  // namespace tapestamp
