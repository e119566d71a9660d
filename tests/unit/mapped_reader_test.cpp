// The mapping window and the mapped reading path with small windows, so that a few frames
// cross many window boundaries.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"
#include "stream/frame_reader.hpp"
#include "stream/mmap_window.hpp"
#include "stream/read_mapped.hpp"
#include "stream/unique_fd.hpp"

namespace test_support {
namespace {

using tapestamp::handler_chain;
using tapestamp::handler_context;
using tapestamp::mmap_window;
using tapestamp::read_mapped;
using tapestamp::unique_fd;

// What the recording handler saw: the frame numbers in call order (-1 for the end call), and
// whether each frame's bytes were those of the file at the frame's offset.
struct seen_record {
  const bytes* file = nullptr;
  std::size_t offset = 0;
  std::vector<int> frames;
  std::vector<bool> intact;
  int stop_at = -1;  // frame on which the handler stops the stream with result 0
};
seen_record seen;

int record_frame(int frame, dv_decoder_t* decoder, const std::uint8_t* frame_bytes,
                 const handler_context* /*context*/) {
  seen.frames.push_back(frame);
  if (frame < 0) {
    return 1;
  }
  // Reads the whole frame, as a handler may: a window that stops short of it faults.
  const std::size_t size = dv_synth::frame_size(dv_is_PAL(decoder) != 0);
  seen.intact.push_back(seen.offset + size <= seen.file->size() &&
                        std::memcmp(frame_bytes, seen.file->data() + seen.offset, size) == 0);
  seen.offset += size;
  return frame == seen.stop_at ? 0 : 1;
}

handler_chain recording_chain() {
  handler_chain chain{};
  chain.slots[0].handler = record_frame;
  return chain;
}

std::vector<int> numbers(int count, bool end_call) {
  std::vector<int> out;
  for (int n = 0; n < count; ++n) {
    out.push_back(n);
  }
  if (end_call) {
    out.push_back(-1);
  }
  return out;
}

// Walks `input` from a file with the given window cap; `seek` moves the descriptor first.
int walk(const bytes& input, std::size_t window_max, off_t seek = 0) {
  temp_dir dir;
  write_file(dir.file("in.dv"), input);
  const unique_fd fd(::open(dir.file("in.dv").c_str(), O_RDONLY | O_CLOEXEC));
  EXPECT_TRUE(fd);
  EXPECT_EQ(::lseek(fd.get(), seek, SEEK_SET), seek);
  seen = seen_record{};
  seen.file = &input;
  return read_mapped(fd.get(), recording_chain(), window_max);
}

TEST(MappedReader, EveryFrameOnceInOrderWhateverTheWindow) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t smallest = tapestamp::FRAME_SIZE_625_50 + page;
  struct stream {
    const char* name;
    bytes input;
    int count;
  };
  const std::vector<stream> streams = {
      {"625/50", frames(12, {}, 1), 12},
      {"525/60", frames(13, ntsc(), 1), 13},
      {"mixed", frames(3) + frames(4, ntsc()) + frames(2) + frames(3, ntsc()), 12},
  };
  const std::size_t caps[] = {
      0, smallest, smallest + 1, 300000, 3 * 144000, 1 << 20, tapestamp::MAP_WINDOW_MAX};
  for (const stream& s : streams) {
    for (const std::size_t cap : caps) {
      SCOPED_TRACE(std::string(s.name) + ", window cap " + std::to_string(cap));
      EXPECT_EQ(walk(s.input, cap), 0);
      EXPECT_EQ(seen.frames, numbers(s.count, true));
      EXPECT_EQ(seen.intact, std::vector<bool>(static_cast<std::size_t>(s.count), true));
    }
  }
}

TEST(MappedReader, StartsAtTheFilesFirstByte) {
  const bytes input = frames(4, ntsc());
  EXPECT_EQ(walk(input, 200000, 130000), 0);
  EXPECT_EQ(seen.frames, numbers(4, true));
}

TEST(MappedReader, CutFrameAcrossWindows) {
  const bytes pal_frame = frames(1);
  const bytes input = frames(5) + bytes(pal_frame.begin(), pal_frame.begin() + 130000);
  testing::internal::CaptureStderr();
  const int result = walk(input, 160000);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "remains only 130000 bytes, premature EOF?\n");
  EXPECT_EQ(result, -1);
  EXPECT_EQ(seen.frames, numbers(5, false));
}

TEST(MappedReader, HandlerStop) {
  const bytes input = frames(6);
  for (const int stop_at : {0, 3, 5}) {
    SCOPED_TRACE(stop_at);
    temp_dir dir;
    write_file(dir.file("in.dv"), input);
    const unique_fd fd(::open(dir.file("in.dv").c_str(), O_RDONLY | O_CLOEXEC));
    seen = seen_record{};
    seen.file = &input;
    seen.stop_at = stop_at;
    EXPECT_EQ(read_mapped(fd.get(), recording_chain(), 200000), 0);
    EXPECT_EQ(seen.frames, numbers(stop_at + 1, false));
  }
}

TEST(MmapWindow, MapsFromAPageAndUnmapsOnce) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  bytes content(3 * page + 100);
  for (std::size_t i = 0; i < content.size(); ++i) {
    content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  }
  temp_dir dir;
  write_file(dir.file("data"), content);
  const unique_fd fd(::open(dir.file("data").c_str(), O_RDONLY | O_CLOEXEC));

  mmap_window window = mmap_window::map(fd.get(), static_cast<off_t>(page), 2 * page + 100);
  ASSERT_TRUE(window.mapped());
  EXPECT_EQ(window.offset(), static_cast<off_t>(page));
  EXPECT_EQ(window.length(), 2 * page + 100);
  window.prefault(page, window.length());  // clipped to the window
  EXPECT_EQ(0, std::memcmp(window.bytes().data(), content.data() + page, 2 * page + 100));

  mmap_window moved = std::move(window);
  EXPECT_FALSE(window.mapped());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_TRUE(moved.mapped());
  EXPECT_EQ(moved.bytes()[0], content[page]);
  EXPECT_TRUE(moved.unmap());
  EXPECT_FALSE(moved.mapped());
  EXPECT_TRUE(moved.unmap());  // nothing left to remove

  errno = 0;
  const mmap_window failed = mmap_window::map(-1, 0, page);
  EXPECT_FALSE(failed.mapped());
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace test_support
