// One file per recording: every frame goes, as read, into the file of its recording, and the
// bytes that follow the last frame of a failed stream into the file of the recording they
// follow, so that the files of an input joined in order give back the input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "reports/reports.hpp"
#include "stream/diag.hpp"
#include "stream/settings.hpp"
#include "stream/unique_fd.hpp"

namespace tapestamp {
namespace {

// The file being written and what is known of the stream's writing.
struct split_state {
  unique_fd file;
  std::string name;
  bool dated = false;   // the recording has a first recorded time
  std::tm first{};      // that time, the camcorder's wall-clock time
  bool failed = false;  // writing this stream failed: nothing more is written for it
  // copy_file_range() has worked so far; once the kernel refuses it, write() is used.
  bool kernel_copy = true;
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

// Copies the frame at `offset` of the seekable input to the file within the kernel, its data
// never passing through here; `bytes` holds the same bytes for when the kernel cannot.
bool copy_bytes(int input, off_t offset, const std::uint8_t* bytes, std::size_t size) {
  std::size_t done = 0;
  while (state.kernel_copy && done < size) {
    off_t from = offset + static_cast<off_t>(done);
    const ssize_t n = ::copy_file_range(input, &from, state.file.get(), nullptr, size - done, 0);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
      report_write_error();
      return false;
    }
    // Refused for these two files (or the input ended early): write() does the rest.
    state.kernel_copy = false;
  }
  return write_bytes(bytes + done, size - done);
}

// Ends the writing of the stream after an error; the file keeps what was written.
int fail_stream() {
  state.file.reset();
  state.failed = true;
  return -1;
}

// Dates the file held and closes it. Returns false after reporting an error.
bool finish_file() {
  if (!state.file) {
    return true;
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
      state.kernel_copy = true;
      return 1;
    case stream_tail_call: {
      const stream_facts& stream = current_stream();
      if (!state.failed && state.file && !write_bytes(stream.tail, stream.tail_size)) {
        fail_stream();
      }
      return 1;
    }
    case run_finished_call:
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
  const bool written = stream.seekable ? copy_bytes(stream.fd, stream.offset, bytes, facts.size)
                                       : write_bytes(bytes, facts.size);
  return written ? 1 : fail_stream();
}

}  // namespace tapestamp
