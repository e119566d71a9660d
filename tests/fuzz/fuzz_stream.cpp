// Fuzz target: runs a stream through process_stream, as the tool does, with the outputs and
// the reading path its options pick (see fuzz_input.hpp for the input format):
//   bits 0..1   where the stream comes from: 0 a regular file, mapped; 1 a regular file read
//               with read(); 2 a pipe, filled beforehand
//   bit 2       pass-through to descriptor 1
//   bit 3       descriptor 1 is a regular file, else a pipe
//   bits 4..5   subtitle format; bits 6..8 recordings format (modulo the table's size)
//   bit 9       split files into a scratch directory
//   bits 10..11 clock offset
//   bit 12      the first-date line (not with pass-through or split, as the tool refuses)
//   bit 13      the information report with both pack dumps
//   bit 14      a subtitle text format near the text's size limit
//   bit 15      a subtitle boundary
//   bit 16      the stream is read twice in one run, as two inputs
// Every reading checks that nothing is lost: the pass-through copy and the split files,
// joined, hold exactly the input's bytes up to where the handling ended (all of them when the
// stream failed). Reports go to /dev/null; descriptors are memory-backed.
// Before that, libdv parses the stream's first 120000 bytes placed right before an
// inaccessible page: the frame reader relies on libdv reading no further into a frame than
// that, whatever the frame holds.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.hpp"
#include "reports/reports.hpp"
#include "stream/dv_decoder.hpp"
#include "stream/frame_facts.hpp"
#include "stream/frame_reader.hpp"
#include "stream/settings.hpp"
#include "stream/unique_fd.hpp"

namespace {

std::FILE* sink = nullptr;
// Kept from one input to the next: allocating and faulting in a megabyte per input would
// cost more than the run itself.
int regular_file = -1;
int stdout_file = -1;  // a memfd that stands in for descriptor 1 when it is a regular file
fuzz_input::stream_plan plan;
std::string split_dir;
std::string split_prefix;

// Pipes hold a whole stream, so that filling one never blocks.
constexpr std::size_t pipe_capacity = 1 << 20;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_stream: %s\n", what);
  std::abort();
}

void write_all(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      fail("cannot write the stream");
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Where the copies of a stream are read back: larger than any stream, so that a copy that
// holds more than its stream shows as a difference. Allocated once; growing a vector per
// input would cost more than the run itself.
constexpr std::size_t copy_capacity = 2 << 20;
struct copy_buffer {
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
};
copy_buffer copied;

// Appends everything `fd` holds from its current position, or until the pipe is empty, to
// `copy`, as far as it has room.
void read_all(int fd, copy_buffer& copy) {
  while (copy.size < copy_capacity) {
    const ssize_t n = ::read(fd, copy.bytes + copy.size, copy_capacity - copy.size);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    copy.size += static_cast<std::size_t>(n);
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
    fail("mmap");
  }
  auto* bytes = static_cast<std::uint8_t*>(area);
  if (::mprotect(bytes + pages * page, page, PROT_NONE) != 0) {
    fail("mprotect");
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
  dv_is_new_recording(decoder.get(), guarded_frame);
  tapestamp::handler_context context{};
  context.stream = sink;
  context.dump_ssyb = 1;
  context.dump_vaux = 1;
  tapestamp::info_handler(0, decoder.get(), guarded_frame, &context);
}

// Bytes of the frames the chain took in the stream being read.
std::size_t handled_bytes = 0;

// Last in the chain: counts what the stream's frames add up to.
int count_handler(int frame, dv_decoder_t* /*decoder*/, const std::uint8_t* /*bytes*/,
                  const tapestamp::handler_context* /*context*/) {
  if (frame >= 0) {
    handled_bytes += tapestamp::current_frame().size;
  }
  return 1;
}

bool option(std::uint32_t bit) { return (plan.options >> bit & 1) != 0; }

// 0: a mapped regular file; 1: a regular file read with read(); 2: a pipe.
unsigned source_of_stream() { return (plan.options & 3) % 3; }

tapestamp::handler_chain make_chain() {
  tapestamp::handler_chain chain{};
  std::size_t filled = 0;
  if (option(13)) {
    tapestamp::handler_slot& info = chain.slots[filled++];
    info.handler = tapestamp::info_handler;
    info.context.stream = sink;
    info.context.dump_ssyb = 1;
    info.context.dump_vaux = 1;
  }

  tapestamp::handler_slot& subtitles = chain.slots[filled++];
  subtitles.handler = tapestamp::subtitle_handler;
  subtitles.context.stream = sink;
  subtitles.context.format = static_cast<int>(plan.options >> 4 & 3);
  // A format near the 128-byte limit of the subtitle text, with the characters the text
  // formats escape; or the default one.
  subtitles.context.subs_format =
      option(14) ? "%A %d %B %Y, %H:%M:%S %j %U %W %a %b %x %X %p %%|%F|%T|&<>{\\N}|%e|%s|%n"
                 : "%F|%T";
  if (option(15)) {
    // 2008-05-17 12:30:00, the time the synthesised frames carry.
    subtitles.context.boundary.tm_year = 108;
    subtitles.context.boundary.tm_mon = 4;
    subtitles.context.boundary.tm_mday = 17;
    subtitles.context.boundary.tm_hour = 12;
    subtitles.context.boundary.tm_min = 30;
  }

  tapestamp::handler_slot& recordings = chain.slots[filled++];
  recordings.handler = tapestamp::recordings_handler;
  recordings.context.stream = sink;
  recordings.context.format = static_cast<int>((plan.options >> 6 & 7) % 6);

  if (option(9)) {
    tapestamp::handler_slot& split = chain.slots[filled++];
    split.handler = tapestamp::split_handler;
    split.context.path = split_prefix.c_str();
  } else if (option(12) && !option(2)) {
    tapestamp::handler_slot& date = chain.slots[filled++];
    date.handler = tapestamp::date1_handler;
    date.context.stream = sink;
  }
  chain.slots[filled++].handler = count_handler;
  return chain;
}

// The split files of the scratch directory joined in the order of their numbers into
// `copied`; each is removed.
void take_split_files() {
  std::vector<std::pair<unsigned long, std::string>> files;
  DIR* dir = ::opendir(split_dir.c_str());
  if (dir == nullptr) {
    fail("opendir");
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') {
      continue;
    }
    // "part-" then the number.
    files.emplace_back(std::strtoul(entry->d_name + 5, nullptr, 10), entry->d_name);
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end());
  copied.size = 0;
  for (const auto& [number, name] : files) {
    const std::string path = split_dir + "/" + name;
    const tapestamp::unique_fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
      fail("cannot open a split file");
    }
    read_all(file.get(), copied);
    ::unlink(path.c_str());
  }
}

// What a stream's copies must hold: the bytes of the frames handled, or, when the stream
// failed, every byte of the input.
bool holds_expected(const copy_buffer& copy, const std::vector<std::uint8_t>& input, int result) {
  const std::size_t size = result == -1 ? input.size() : handled_bytes;
  return copy.size == size && std::equal(copy.bytes, copy.bytes + copy.size, input.begin());
}

// Puts a fresh pipe or the stand-in file on descriptor 1. Returns the pipe's read end.
tapestamp::unique_fd prepare_stdout(bool regular) {
  if (regular) {
    if (::ftruncate(stdout_file, 0) != 0 || ::lseek(stdout_file, 0, SEEK_SET) != 0 ||
        ::dup2(stdout_file, 1) < 0) {
      fail("stdout file");
    }
    return tapestamp::unique_fd();
  }
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    fail("pipe2");
  }
  tapestamp::unique_fd reader(ends[0]);
  const tapestamp::unique_fd writer(ends[1]);
  ::fcntl(writer.get(), F_SETPIPE_SZ, static_cast<int>(pipe_capacity));
  ::fcntl(reader.get(), F_SETFL, O_NONBLOCK);
  if (::dup2(writer.get(), 1) < 0) {
    fail("dup2");
  }
  return reader;
}

// Reads the stream once, from the source the options pick, and checks its copies.
int read_once(const tapestamp::handler_chain& chain) {
  const std::vector<std::uint8_t>& stream = plan.stream;
  const unsigned source = source_of_stream();
  const bool stream_copy = option(2);
  tapestamp::use_mmap = source == 0 ? 1 : 0;

  tapestamp::unique_fd pipe_reader;
  tapestamp::unique_fd input;
  int fd = regular_file;
  if (source == 2) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      fail("pipe2");
    }
    input.reset(ends[0]);
    const tapestamp::unique_fd writer(ends[1]);
    ::fcntl(writer.get(), F_SETPIPE_SZ, static_cast<int>(pipe_capacity));
    write_all(writer.get(), stream.data(), stream.size());
    fd = input.get();
  } else {
    ::lseek(regular_file, 0, SEEK_SET);
  }
  if (stream_copy) {
    pipe_reader = prepare_stdout(option(3));
  }

  handled_bytes = 0;
  const int result =
      tapestamp::process_stream(fd, source == 2 ? nullptr : "fuzz", stream_copy ? 1 : 0, chain);
  if (result != 0 && result != -1) {
    fail("process_stream result");
  }
  if (stream_copy) {
    copied.size = 0;
    if (pipe_reader) {
      ::dup2(::fileno(sink), 1);  // the pipe's last writer goes, so reading it ends
      read_all(pipe_reader.get(), copied);
    } else {
      ::lseek(stdout_file, 0, SEEK_SET);
      read_all(stdout_file, copied);
      ::dup2(::fileno(sink), 1);
    }
    if (!holds_expected(copied, stream, result)) {
      fail("the pass-through copy differs from the input");
    }
  }
  if (option(9)) {
    // The stream's files are complete once it is closed.
    take_split_files();
    if (handled_bytes == 0 ? copied.size != 0 : !holds_expected(copied, stream, result)) {
      fail("the split files joined differ from the input");
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  sink = std::fopen("/dev/null", "w");
  if (sink == nullptr || ::dup2(::fileno(sink), 1) < 0) {
    fail("/dev/null");
  }
  regular_file = ::memfd_create("fuzz-stream", MFD_CLOEXEC);
  stdout_file = ::memfd_create("fuzz-stdout", MFD_CLOEXEC);
  if (regular_file < 0 || stdout_file < 0) {
    fail("memfd_create");
  }
  // Split files go to memory too, where /dev/shm is.
  const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/fuzz-split-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    fail("mkdtemp");
  }
  split_dir = pattern;
  split_prefix = split_dir + "/part-";
  make_guarded_frame();
  copied.bytes = new std::uint8_t[copy_capacity];
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
    if (size < fuzz_input::raw_header_size) {
      return 0;
    }
    plan.stream.assign(data + fuzz_input::raw_header_size, data + size);
    plan.options = fuzz_input::options_of(data + 1);
    plan.frame_limit = ~std::uint64_t{0};
  } else if (size >= fuzz_input::header_size) {
    fuzz_input::plan(data, size, plan);
  } else {
    return 0;
  }
  parse_guarded(plan.stream);
  tapestamp::max_frames = plan.frame_limit;
  static constexpr std::int64_t offsets[] = {0, 3600, -86400 * 31 - 1, 86400LL * 366 * 60};
  tapestamp::clock_offset = offsets[plan.options >> 10 & 3];
  tapestamp::keep_tail = option(9) ? 1 : 0;

  if (source_of_stream() != 2) {
    ::lseek(regular_file, 0, SEEK_SET);
    write_all(regular_file, plan.stream.data(), plan.stream.size());
    if (::ftruncate(regular_file, static_cast<off_t>(plan.stream.size())) != 0) {
      fail("ftruncate");
    }
  }
  const tapestamp::handler_chain chain = make_chain();
  read_once(chain);
  if (option(16)) {
    read_once(chain);
  }
  tapestamp::finish_run(chain);
  return 0;
}
