// Fuzz target: feeds a stream through process_stream with every handler in the chain, once
// from a regular file (the path regular files take), once more with the first-date line,
// which stops a stream after its third frame, and once from a pipe (the buffered path,
// with pass-through on for some inputs). Reports and pass-through output go to /dev/null.
// Before that, libdv parses the stream's first 120000 bytes placed right before an
// inaccessible page: the frame reader relies on libdv reading no further into a frame than
// that, whatever the frame holds. See fuzz_input.hpp for the input format.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.hpp"
#include "reports/reports.hpp"
#include "stream/dv_decoder.hpp"
#include "stream/frame_reader.hpp"
#include "stream/settings.hpp"
#include "stream/unique_fd.hpp"

namespace {

std::FILE* sink = nullptr;
// Kept from one input to the next: allocating and faulting in a megabyte per input would
// cost more than the run itself.
int regular_file = -1;
fuzz_input::stream_plan plan;

// A stream longer than this is cut for the pipe run, so that it fits into the pipe at once.
constexpr std::size_t pipe_capacity = 1 << 20;

void write_all(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;  // a full pipe: the rest is cut off
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

// FRAME_SIZE_525_60 bytes that end where an inaccessible page begins.
std::uint8_t* guarded_frame = nullptr;

void make_guarded_frame() {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t pages = (tapestamp::FRAME_SIZE_525_60 + page - 1) / page;
  void* area = ::mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) {
    std::abort();
  }
  auto* bytes = static_cast<std::uint8_t*>(area);
  if (::mprotect(bytes + pages * page, page, PROT_NONE) != 0) {
    std::abort();
  }
  guarded_frame = bytes + pages * page - tapestamp::FRAME_SIZE_525_60;
}

// Parses the smallest whole frame at the start of the stream, with every query the
// handlers make; reading past its end faults.
void parse_guarded(const std::vector<std::uint8_t>& stream) {
  if (stream.size() < tapestamp::FRAME_SIZE_525_60) {
    return;
  }
  std::memcpy(guarded_frame, stream.data(), tapestamp::FRAME_SIZE_525_60);
  const tapestamp::dv_decoder_ptr decoder(dv_decoder_new(0, 0, 0));
  if (!decoder || dv_parse_header(decoder.get(), guarded_frame) < 0) {
    return;
  }
  dv_parse_packs(decoder.get(), guarded_frame);
  tapestamp::handler_context context{};
  context.stream = sink;
  context.dump_ssyb = 1;
  context.dump_vaux = 1;
  tapestamp::info_handler(0, decoder.get(), guarded_frame, &context);
}

tapestamp::handler_chain make_chain(int option_bits, bool with_date1) {
  tapestamp::handler_chain chain{};
  std::size_t filled = 0;
  tapestamp::handler_slot& info = chain.slots[filled++];
  info.handler = tapestamp::info_handler;
  info.context.stream = sink;
  info.context.dump_ssyb = 1;
  info.context.dump_vaux = 1;

  tapestamp::handler_slot& subtitles = chain.slots[filled++];
  subtitles.handler = tapestamp::subtitle_handler;
  subtitles.context.stream = sink;
  // A format near the 128-byte limit of the subtitle text, or the default one.
  subtitles.context.subs_format =
      (option_bits & 1) != 0
          ? "%A %d %B %Y, %H:%M:%S %Z %j %U %W %a %b %c %x %X %p %%|%F|%T|%D|%e|%G-%V-%u|%s|%n"
          : "%F|%T";
  if ((option_bits & 2) != 0) {
    // 2008-05-17 12:30:00, the time the synthesised frames carry.
    subtitles.context.boundary.tm_year = 108;
    subtitles.context.boundary.tm_mon = 4;
    subtitles.context.boundary.tm_mday = 17;
    subtitles.context.boundary.tm_hour = 12;
    subtitles.context.boundary.tm_min = 30;
  }

  if (with_date1) {
    tapestamp::handler_slot& date = chain.slots[filled++];
    date.handler = tapestamp::date1_handler;
    date.context.stream = sink;
  }
  return chain;
}

void check_result(int result) {
  if (result != 0 && result != -1) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  sink = std::fopen("/dev/null", "w");
  // Pass-through writes to descriptor 1.
  const tapestamp::unique_fd null_out(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (sink == nullptr || !null_out || ::dup2(null_out.get(), 1) < 0) {
    std::abort();
  }
  regular_file = ::memfd_create("fuzz-stream", MFD_CLOEXEC);
  if (regular_file < 0) {
    std::abort();
  }
  make_guarded_frame();
  plan.stream.reserve(fuzz_input::max_frames_in_stream * tapestamp::FRAME_SIZE_625_50 + 65536);
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  if ((data[0] & 1) != 0) {
    plan.stream.assign(data + 1, data + size);
    plan.option_bits = (data[0] >> 1) & 7;
    plan.frame_limit = ~std::uint64_t{0};
  } else if (size >= fuzz_input::header_size) {
    fuzz_input::plan(data, size, plan);
  } else {
    return 0;
  }
  const std::vector<std::uint8_t>& stream = plan.stream;
  parse_guarded(stream);
  tapestamp::max_frames = plan.frame_limit;
  tapestamp::use_mmap = 1;

  // A regular file: the mapped path where it exists, else the buffered one.
  ::lseek(regular_file, 0, SEEK_SET);
  write_all(regular_file, stream.data(), stream.size());
  if (::ftruncate(regular_file, static_cast<off_t>(stream.size())) != 0) {
    std::abort();
  }
  const tapestamp::handler_chain walk = make_chain(plan.option_bits, false);
  const tapestamp::handler_chain date = make_chain(plan.option_bits, true);
  ::lseek(regular_file, 0, SEEK_SET);
  check_result(tapestamp::process_stream(regular_file, "fuzz", 0, walk));
  ::lseek(regular_file, 0, SEEK_SET);
  check_result(tapestamp::process_stream(regular_file, "fuzz", 0, date));

  // A pipe, filled beforehand and closed, read by the buffered path.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    std::abort();
  }
  const tapestamp::unique_fd reader(ends[0]);
  tapestamp::unique_fd writer(ends[1]);
  ::fcntl(writer.get(), F_SETPIPE_SZ, static_cast<int>(pipe_capacity));
  ::fcntl(writer.get(), F_SETFL, O_NONBLOCK);
  write_all(writer.get(), stream.data(), stream.size());
  writer.reset();
  const int stream_copy = (plan.option_bits & 4) != 0 ? 1 : 0;
  check_result(tapestamp::process_stream(reader.get(), nullptr, stream_copy, walk));
  return 0;
}
