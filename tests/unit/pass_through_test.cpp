// The pass-through copy engine on every pair of descriptor kinds: the bytes that arrive are
// the bytes read, in order, whatever method moved them, also when the kernel refuses a method
// half-way through the stream.
#include "stream/pass_through.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "run_tool.hpp"
#include "stream/unique_fd.hpp"

namespace test_support {
namespace {

using tapestamp::pass_through;
using tapestamp::unique_fd;
using method = pass_through::method;

constexpr std::size_t most_held = 144000;

std::size_t checksum(const std::string& data) { return std::hash<std::string>{}(data); }

// Bytes that differ everywhere, so that a byte lost, repeated or moved shows.
std::string pattern(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t state = 12345;
  for (char& c : data) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  return data;
}

struct pipe_ends {
  unique_fd read;
  unique_fd write;
};

pipe_ends make_pipe(int flags = 0) {
  int ends[2] = {-1, -1};
  EXPECT_EQ(::pipe2(ends, O_CLOEXEC | flags), 0);
  return {unique_fd(ends[0]), unique_fd(ends[1])};
}

// Writes `data` to fd in pieces of `piece` bytes, then closes fd.
std::thread writer(unique_fd fd, const std::string& data, std::size_t piece) {
  return std::thread([fd = std::move(fd), &data, piece] {
    std::size_t at = 0;
    while (at < data.size()) {
      const ssize_t n = ::write(fd.get(), data.data() + at, std::min(piece, data.size() - at));
      if (n <= 0) {
        return;
      }
      at += static_cast<std::size_t>(n);
    }
  });
}

// Reads fd to its end into `out` in pieces of `piece` bytes, pausing before each read.
std::thread reader(unique_fd fd, std::string& out, std::size_t piece, int pause_us) {
  return std::thread([fd = std::move(fd), &out, piece, pause_us] {
    std::vector<char> chunk(piece);
    for (;;) {
      if (pause_us > 0) {
        ::usleep(static_cast<useconds_t>(pause_us));
      }
      const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
      if (n <= 0) {
        return;
      }
      out.append(chunk.data(), static_cast<std::size_t>(n));
    }
  });
}

// SIGPIPE ignored for the scope: a writer left with no reader sees EPIPE instead of ending the
// test run.
class sigpipe_ignored {
 public:
  sigpipe_ignored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &before_);
  }
  ~sigpipe_ignored() { ::sigaction(SIGPIPE, &before_, nullptr); }
  sigpipe_ignored(const sigpipe_ignored&) = delete;
  sigpipe_ignored& operator=(const sigpipe_ignored&) = delete;

 private:
  struct sigaction before_ {};
};

// Drives the engine as the frame reader does: fills a buffer of `most_held` bytes, copies
// pieces of odd sizes from its front and moves the rest down. Returns the bytes read, or
// stops at the first failed copy (copy_failed set, errno kept in copy_errno).
struct drive_result {
  std::string read;
  method first = method::plain;  // the method chosen
  method last = method::plain;   // the method at the end
  bool copy_failed = false;
  int copy_errno = 0;
};

// Pieces of odd sizes, and pieces that are all multiples of the 16-byte packets below (a read
// shorter than a packet would drop the packet's rest).
const std::vector<std::size_t> odd_pieces = {120000, 144000, 77777, 1, 143999, 4099};
const std::vector<std::size_t> packet_pieces = {120000, 144000, 16, 4096};
constexpr std::size_t packet_size = 16;

drive_result drive(int in, int out, const std::vector<std::size_t>& pieces = odd_pieces) {
  drive_result result;
  pass_through engine(in, out, most_held);
  result.first = engine.how();
  std::vector<std::uint8_t> buffer(most_held);
  std::size_t held = 0;
  bool at_end = false;
  for (std::size_t turn = 0; !at_end || held > 0; ++turn) {
    while (held < buffer.size() && !at_end) {
      const ssize_t n = engine.read(buffer.data() + held, buffer.size() - held);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      EXPECT_GE(n, 0) << std::strerror(errno);
      if (n <= 0) {
        at_end = true;
        break;
      }
      result.read.append(reinterpret_cast<const char*>(buffer.data() + held),
                         static_cast<std::size_t>(n));
      held += static_cast<std::size_t>(n);
    }
    const std::size_t piece = std::min(pieces[turn % pieces.size()], held);
    if (!engine.copy(buffer.data(), piece)) {
      result.copy_failed = true;
      result.copy_errno = errno;
      break;
    }
    held -= piece;
    std::memmove(buffer.data(), buffer.data() + piece, held);
  }
  result.last = engine.how();
  return result;
}

// What a case feeds the engine from and copies it into.
// packets: a pipe in packet mode, written in small pieces, each of which keeps a slot of the
// pipe to itself: they fill the engine's own pipe long before it holds a frame.
enum class source { file, pipe, packets };

// The input of a case: the file at `path`, or a pipe (in packet mode for source::packets)
// that a thread feeds with `data` in pieces of `piece` bytes.
struct test_input {
  unique_fd fd;
  std::thread feed;

  // Closes the input, then waits for the feeder, which a closed pipe stops.
  void close() {
    fd.reset();
    if (feed.joinable()) {
      feed.join();
    }
  }
};

test_input open_input(source from, const std::string& path, const std::string& data,
                      std::size_t piece) {
  test_input input;
  if (from == source::file) {
    input.fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  } else {
    pipe_ends p = make_pipe(from == source::packets ? O_DIRECT : 0);
    input.fd = std::move(p.read);
    input.feed = writer(std::move(p.write), data, piece);
  }
  return input;
}

enum class sink { pipe, slow_pipe, file, appending_file, dev_null, socket };

struct pair_case {
  const char* name;
  source from;
  sink to;
  method first;  // chosen from the kinds of the two descriptors
  method last;   // after the stream: a refused method falls back to write()
};

TEST(PassThrough, EveryDescriptorPair) {
  const std::vector<pair_case> cases = {
      {"file to pipe", source::file, sink::pipe, method::file_splice, method::file_splice},
      {"file to slow pipe", source::file, sink::slow_pipe, method::file_splice,
       method::file_splice},
      {"pipe to pipe", source::pipe, sink::pipe, method::pipe_tee, method::pipe_tee},
      {"small packets to pipe", source::packets, sink::pipe, method::pipe_tee, method::plain},
      {"pipe to slow pipe", source::pipe, sink::slow_pipe, method::pipe_tee, method::pipe_tee},
      {"file to file", source::file, sink::file, method::file_range, method::file_range},
      {"pipe to file", source::pipe, sink::file, method::pipe_tee, method::pipe_tee},
      // copy_file_range() refuses an appending file (EBADF), splice() too (EINVAL).
      {"file to appending file", source::file, sink::appending_file, method::file_range,
       method::plain},
      {"pipe to appending file", source::pipe, sink::appending_file, method::pipe_tee,
       method::plain},
      {"file to /dev/null", source::file, sink::dev_null, method::plain, method::plain},
      {"pipe to /dev/null", source::pipe, sink::dev_null, method::plain, method::plain},
      {"file to socket", source::file, sink::socket, method::plain, method::plain},
      {"pipe to socket", source::pipe, sink::socket, method::plain, method::plain},
  };
  // Not a multiple of any piece or pipe size.
  const std::string data = pattern(3 * 1024 * 1024 + 12345);
  temp_dir dir;
  write_file(dir.file("in"), data);
  for (const pair_case& c : cases) {
    SCOPED_TRACE(c.name);
    test_input input =
        open_input(c.from, dir.file("in"), data, c.from == source::packets ? packet_size : 7919);
    const unique_fd& in = input.fd;
    ASSERT_TRUE(in);

    std::string arrived;
    std::thread drain;
    unique_fd out;
    const std::string out_path = dir.file("out");
    switch (c.to) {
      case sink::pipe:
      case sink::slow_pipe: {
        pipe_ends p = make_pipe();
        out = std::move(p.write);
        drain = c.to == sink::pipe ? reader(std::move(p.read), arrived, 65536, 0)
                                   : reader(std::move(p.read), arrived, 4093, 20);
        break;
      }
      case sink::socket: {
        int ends[2] = {-1, -1};
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        out.reset(ends[0]);
        drain = reader(unique_fd(ends[1]), arrived, 65536, 0);
        break;
      }
      case sink::file:
        out.reset(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        break;
      case sink::appending_file:
        write_file(out_path, std::string("kept"));
        out.reset(::open(out_path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
        break;
      case sink::dev_null:
        out.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
        break;
    }
    ASSERT_TRUE(out);

    const drive_result r =
        drive(in.get(), out.get(), c.from == source::packets ? packet_pieces : odd_pieces);
    out.reset();  // the reader sees the end
    if (drain.joinable()) {
      drain.join();
    }
    input.close();
    if (c.to == sink::file) {
      arrived = read_file(out_path);
    } else if (c.to == sink::appending_file) {
      arrived = read_file(out_path);
      ASSERT_EQ(arrived.substr(0, 4), "kept");
      arrived.erase(0, 4);
    }
    EXPECT_EQ(r.first, c.first);
    EXPECT_EQ(r.last, c.last);
    EXPECT_FALSE(r.copy_failed) << std::strerror(r.copy_errno);
    EXPECT_EQ(r.read.size(), data.size());
    EXPECT_EQ(checksum(r.read), checksum(data));
    if (c.to != sink::dev_null) {
      EXPECT_EQ(arrived.size(), data.size());
      EXPECT_EQ(checksum(arrived), checksum(data));
    }
  }
}

// Reading goes on from where the input descriptor stands, and so does the copy.
TEST(PassThrough, FileReadFromItsOffset) {
  const std::string data = pattern(500000);
  temp_dir dir;
  write_file(dir.file("in"), data);
  const unique_fd in(::open(dir.file("in").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::lseek(in.get(), 1001, SEEK_SET), 1001);
  pipe_ends p = make_pipe();
  std::string arrived;
  std::thread drain = reader(std::move(p.read), arrived, 65536, 0);
  const drive_result r = drive(in.get(), p.write.get());
  p.write.reset();
  drain.join();
  EXPECT_EQ(r.first, method::file_splice);
  EXPECT_EQ(r.read, data.substr(1001));
  EXPECT_EQ(arrived, data.substr(1001));
}

// Bytes read but never copied (the read-ahead of a stream whose handling stops) do not reach
// the output: only what copy() was given arrives.
TEST(PassThrough, ReadAheadStaysBehind) {
  const sigpipe_ignored quiet;  // the writer may still be writing when the input is closed
  const std::string data = pattern(300000);
  temp_dir dir;
  write_file(dir.file("in"), data);
  for (const source from : {source::file, source::pipe}) {
    SCOPED_TRACE(from == source::file ? "file" : "pipe");
    test_input input = open_input(from, dir.file("in"), data, 65536);
    const unique_fd& in = input.fd;
    pipe_ends out = make_pipe();
    std::string arrived;
    std::thread drain = reader(std::move(out.read), arrived, 65536, 0);
    {
      pass_through engine(in.get(), out.write.get(), most_held);
      EXPECT_NE(engine.how(), method::plain);
      std::vector<std::uint8_t> buffer(most_held);
      std::size_t held = 0;
      while (held < buffer.size()) {
        const ssize_t n = engine.read(buffer.data() + held, buffer.size() - held);
        ASSERT_GT(n, 0);
        held += static_cast<std::size_t>(n);
      }
      EXPECT_TRUE(engine.copy(buffer.data(), 120000));
    }
    out.write.reset();
    drain.join();
    input.close();
    EXPECT_TRUE(arrived == data.substr(0, 120000));
  }
}

// An output whose reader left: every method fails the copy with EPIPE (SIGPIPE ignored here,
// as the tool's own run leaves it to the parent).
TEST(PassThrough, ReaderGone) {
  const sigpipe_ignored quiet;
  const std::string data = pattern(400000);
  temp_dir dir;
  write_file(dir.file("in"), data);
  for (const source from : {source::file, source::pipe}) {
    SCOPED_TRACE(from == source::file ? "file" : "pipe");
    test_input input = open_input(from, dir.file("in"), data, 7919);
    const unique_fd& in = input.fd;
    pipe_ends out = make_pipe();
    out.read.reset();
    const drive_result r = drive(in.get(), out.write.get());
    input.close();  // a writer still blocked sees its reader go
    EXPECT_TRUE(r.copy_failed);
    EXPECT_EQ(r.copy_errno, EPIPE);
    EXPECT_EQ(r.last, method::plain);
  }
}

}  // namespace
}  // namespace test_support
