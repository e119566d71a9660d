#include "cli/cli.hpp"

#include <fcntl.h>
#include <getopt.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <utility>

#include "reports/reports.hpp"
#include "stream/diag.hpp"
#include "stream/frame_reader.hpp"
#include "stream/output_error.hpp"
#include "stream/settings.hpp"
#include "stream/unique_fd.hpp"

namespace tapestamp {
namespace {

constexpr const char* version_text = "0.3";

constexpr const char* usage_text =
    "Usage: tapestamp [options] [<dvfile>]\n"
    "\n"
    "Options:\n"
    " -i, --info                generate textual information about frames\n"
    "     --info-out <fn>       like -i, but write to file <fn>, instead stdout\n"
    "     --ssyb-dump           hex dump of ssyb packets (implies -i)\n"
    "     --vaux-dump           hex dump of vaux packets (implies -i)\n"
    " -s, --subtitles           generate MicroDVD subtitles with rec. date & time\n"
    "     --subtitles-out <fn>  like -s, but write to file <fn>, instead stdout\n"
    " -f, --time-format <fmt>   use the format specification <fmt> in strftime()\n"
    "                           (the format \"%F|%T\" is used otherwise)\n"
    " -b, --boundary <time>\t    don't output subtitles with time above this value\n"
    " -n, --max-frames <n>      max number of frames to process\n"
    " -d, --date1               output one line of rec. date from stream start\n"
    "     --no-mmap             don't use memory mapped input\n"
    " -p, --pass-through        pass input DV stream to stdout (implies --no-mmap)\n"
    " -v, --verbose             be verbose\n"
    " -h, --help                this short usage listing\n"
    " -V, --version             utility version info\n"
    "     --subtitles-format <fmt>  subtitles as microdvd (default), srt, vtt or ass\n"
    "     --clock-offset <offset>  add <offset> (e.g. +1h, -1d2h30m) to rec. times\n"
    "     --recordings          list the recordings of the stream on stdout\n"
    "     --recordings-out <fn>  like --recordings, but write to file <fn>\n"
    "     --recordings-format <fmt>  text (default), csv, json, ffmetadata, matroska\n"
    "                           or vtt\n"
    "     --split <prefix>      write every recording to a file <prefix>NNN_<date>.dv\n"
    "\n"
    "Report bugs to https://tapestamp.org/bugs";

constexpr const char* short_options = "isf:b:pvn:dVh";

const option long_options[] = {
    {"info", no_argument, nullptr, 'i'},
    {"subtitles", no_argument, nullptr, 's'},
    {"ssyb-dump", no_argument, &dump_ssyb, 1},
    {"vaux-dump", no_argument, &dump_vaux, 1},
    {"time-format", required_argument, nullptr, 'f'},
    {"max-frames", required_argument, nullptr, 'n'},
    {"date1", no_argument, &date1, 1},
    {"boundary", required_argument, nullptr, 'b'},
    {"no-mmap", no_argument, &use_mmap, 0},
    {"info-out", required_argument, nullptr, 0},
    {"subtitles-out", required_argument, nullptr, 0},
    {"pass-through", no_argument, nullptr, 'p'},
    {"verbose", no_argument, nullptr, 'v'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'h'},
    {"subtitles-format", required_argument, nullptr, 0},
    {"clock-offset", required_argument, nullptr, 0},
    {"recordings", no_argument, nullptr, 0},
    {"recordings-out", required_argument, nullptr, 0},
    {"recordings-format", required_argument, nullptr, 0},
    {"split", required_argument, nullptr, 0},
    {nullptr, 0, nullptr, 0},
};

// The formats a boundary may be given in, tried in this order.
constexpr const char* boundary_formats[] = {"%F %T", "%F %H:%M", "%F", "%Y-%m", "%Y"};

struct run_options {
  int stream_copy = 0;
  int subs_wanted = 0;
  int info_wanted = 0;
  const char* subs_format = "%F|%T";
  const char* info_file = nullptr;
  const char* subs_file = nullptr;
  int subs_kind = 0;  // index in the subtitle format table
  std::tm boundary{};
  int recordings_wanted = 0;
  const char* recordings_file = nullptr;
  int recordings_kind = 0;  // index in the recordings format table
  const char* split_prefix = nullptr;
};

// Ends the run's use of standard output: whatever it holds is flushed, and text that could
// not be written turns the status into a failure.
int finish_stdout(int status) {
  const int earlier_error = std::ferror(stdout) != 0 ? output_error(stdout, EIO) : 0;
  if (std::fflush(stdout) != 0 || earlier_error != 0) {
    diag("fflush() (stdout) failed: %s\n",
         std::strerror(earlier_error != 0 ? earlier_error : errno));
    return 1;
  }
  return status;
}

void print_usage() { std::puts(usage_text); }

bool parse_boundary(const char* text, std::tm& boundary) {
  for (const char* format : boundary_formats) {
    boundary = std::tm{};
    boundary.tm_mday = 1;
    const char* end = ::strptime(text, format, &boundary);
    if (end != nullptr && *end == '\0') {
      return true;
    }
  }
  return false;
}

// A clock offset: a sign, then one or more of <number>d, <number>h, <number>m and
// <number>s, each at most once and in that order. Returns false for any other text.
bool parse_clock_offset(const char* text, std::int64_t& seconds) {
  if (*text != '+' && *text != '-') {
    return false;
  }
  const bool negative = *text++ == '-';
  constexpr struct {
    char unit;
    std::int64_t seconds;
  } units[] = {{'d', 86400}, {'h', 3600}, {'m', 60}, {'s', 1}};
  // Nine digits a number keep every sum far inside the range of the result.
  constexpr int max_digits = 9;
  std::int64_t total = 0;
  std::size_t next_unit = 0;
  bool any = false;
  while (*text != '\0') {
    std::int64_t number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
      if (++digits > max_digits) {
        return false;
      }
      number = number * 10 + (*text - '0');
    }
    if (digits == 0) {
      return false;
    }
    while (next_unit < std::size(units) && units[next_unit].unit != *text) {
      ++next_unit;
    }
    if (next_unit == std::size(units)) {
      return false;
    }
    total += number * units[next_unit++].seconds;
    ++text;
    any = true;
  }
  if (!any) {
    return false;
  }
  seconds = negative ? -total : total;
  return true;
}

// Handles the long options that have no short form. Returns -1 to go on, or the exit status.
int parse_long_option(const char* name, run_options& options) {
  if (std::strcmp(name, "info-out") == 0) {
    options.info_file = optarg;
  } else if (std::strcmp(name, "subtitles-out") == 0) {
    options.subs_file = optarg;
  } else if (std::strcmp(name, "subtitles-format") == 0) {
    options.subs_kind = subtitle_format_index(optarg);
    if (options.subs_kind < 0) {
      diag("Invalid subtitles-format option argument `%s'\n", optarg);
      return 1;
    }
  } else if (std::strcmp(name, "clock-offset") == 0) {
    if (!parse_clock_offset(optarg, clock_offset)) {
      diag("Invalid clock-offset option argument `%s'\n", optarg);
      return 1;
    }
  } else if (std::strcmp(name, "recordings") == 0) {
    options.recordings_wanted = 1;
  } else if (std::strcmp(name, "recordings-out") == 0) {
    options.recordings_file = optarg;
  } else if (std::strcmp(name, "recordings-format") == 0) {
    options.recordings_kind = recordings_format_index(optarg);
    if (options.recordings_kind < 0) {
      diag("Invalid recordings-format option argument `%s'\n", optarg);
      return 1;
    }
  } else if (std::strcmp(name, "split") == 0) {
    options.split_prefix = optarg;
  }
  return -1;
}

// Reads the options into `options` and the process-wide settings. Returns -1 to go on with
// the run, or the exit status the run ends with.
int parse_options(int argc, char** argv, const char* invocation, run_options& options) {
  for (;;) {
    int index = 0;
    const int result = getopt_long(argc, argv, short_options, long_options, &index);
    switch (result) {
      case -1:
        return -1;
      case 0: {
        // Flag options set their setting themselves; the others are told apart by name.
        if (long_options[index].flag != nullptr) {
          break;
        }
        const int status = parse_long_option(long_options[index].name, options);
        if (status >= 0) {
          return status;
        }
        break;
      }
      case 'i':
        options.info_wanted = 1;
        break;
      case 's':
        options.subs_wanted = 1;
        break;
      case 'f':
        options.subs_format = optarg;
        break;
      case 'n': {
        char* end = nullptr;
        max_frames = std::strtoul(optarg, &end, 0);
        if (*end != '\0') {
          diag("Invalid max-frames option argument `%s'\n", optarg);
          return 1;
        }
        break;
      }
      case 'd':
        date1 = 1;
        break;
      case 'b':
        if (!parse_boundary(optarg, options.boundary)) {
          diag("Invalid boundary option argument `%s'\n", optarg);
          return 1;
        }
        break;
      case 'p':
        options.stream_copy = 1;
        break;
      case 'v':
        verbose = 1;
        break;
      case 'V':
        std::printf("%s %s\n", invocation, version_text);
        return 0;
      case 'h':
        print_usage();
        return 0;
      case '?':
        print_usage();
        return 1;
      default:
        std::abort();
    }
  }
}

// Refuses option combinations that would mix outputs on standard output. Returns false after
// reporting the conflict.
bool check_conflicts(const run_options& options) {
  const int stdout_claims =
      options.stream_copy + (options.info_wanted && options.info_file == nullptr ? 1 : 0) +
      (options.subs_wanted && options.subs_file == nullptr ? 1 : 0) +
      (options.recordings_wanted && options.recordings_file == nullptr ? 1 : 0);
  if (stdout_claims > 1) {
    diag("Conflict options for stdout. You make a mistake probably.\n");
    return false;
  }
  if (options.stream_copy && date1) {
    diag("Conflict options pass-through & date1. You make a mistake probably.\n");
    return false;
  }
  if (options.split_prefix != nullptr && date1) {
    diag("Conflict options split & date1. You make a mistake probably.\n");
    return false;
  }
  return true;
}

bool names_stdout(const char* file) { return file == nullptr || std::strcmp(file, "-") == 0; }

// An output stream of the run: standard output, or a file the run opened and closes.
class output_stream {
 public:
  output_stream() = default;
  output_stream(const output_stream&) = delete;
  output_stream& operator=(const output_stream&) = delete;
  ~output_stream() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
  }

  // Takes standard output when `name` is none or "-", else opens the file with `mode`.
  // Returns false after reporting a failed open.
  bool open(const char* name, const char* mode) {
    if (names_stdout(name)) {
      stream_ = stdout;
      return true;
    }
    file_ = std::fopen(name, mode);
    if (file_ == nullptr) {
      diag("fopen(\"%s\"...) failed: %s\n", name, std::strerror(errno));
      return false;
    }
    name_ = name;
    stream_ = file_;
    return true;
  }

  std::FILE* get() const { return stream_; }

  // Closes an opened file. Returns false after reporting a failure to write it out.
  bool close() {
    if (file_ == nullptr) {
      return true;
    }
    // A write that failed earlier left its reason behind; the flush by fclose may fail anew.
    const int earlier_error = std::ferror(file_) != 0 ? output_error(file_, EIO) : 0;
    const int result = std::fclose(std::exchange(file_, nullptr));
    if (result != 0 || earlier_error != 0) {
      diag("fclose() (file `%s') failed: %s\n", name_,
           std::strerror(earlier_error != 0 ? earlier_error : errno));
      return false;
    }
    return true;
  }

 private:
  std::FILE* file_ = nullptr;
  std::FILE* stream_ = nullptr;
  const char* name_ = nullptr;
};

int run_streams(int argc, char** argv, int first_operand, int stream_copy,
                const handler_chain& chain) {
  if (first_operand >= argc) {
    return process_stream(0, nullptr, stream_copy, chain) != 0 ? 1 : 0;
  }
  int failed = 0;
  for (int i = first_operand; i < argc; ++i) {
    const unique_fd input(::open(argv[i], O_RDONLY | O_CLOEXEC));
    if (!input) {
      // A missing input is reported and skipped, and the run fails in the end.
      diag("open(\"%s\"...) failed: %s\n", argv[i], std::strerror(errno));
      failed = 1;
      continue;
    }
    if (process_stream(input.get(), argv[i], stream_copy, chain) != 0) {
      failed = 1;
    }
  }
  return failed;
}

int run_with_options(int argc, char** argv, const char* invocation) {
  run_options options;
  const int parsed = parse_options(argc, argv, invocation, options);
  if (parsed >= 0) {
    return parsed;
  }
  if (!check_conflicts(options)) {
    return 1;
  }

  output_stream info_stream;
  output_stream subs_stream;
  output_stream recordings_stream;
  handler_chain chain{};
  std::size_t filled = 0;
  if (dump_ssyb || dump_vaux || options.info_file != nullptr || options.info_wanted) {
    if (!info_stream.open(options.info_file, "w")) {
      return 1;
    }
    handler_slot& slot = chain.slots[filled++];
    slot.handler = info_handler;
    slot.context.stream = info_stream.get();
    slot.context.dump_ssyb = dump_ssyb;
    slot.context.dump_vaux = dump_vaux;
  }
  if (options.subs_file != nullptr || options.subs_wanted) {
    if (!subs_stream.open(options.subs_file, "wb")) {
      return 1;
    }
    handler_slot& slot = chain.slots[filled++];
    slot.handler = subtitle_handler;
    slot.context.stream = subs_stream.get();
    slot.context.subs_format = options.subs_format;
    slot.context.boundary = options.boundary;
    slot.context.format = options.subs_kind;
  }
  if (options.recordings_file != nullptr || options.recordings_wanted) {
    if (!recordings_stream.open(options.recordings_file, "wb")) {
      return 1;
    }
    handler_slot& slot = chain.slots[filled++];
    slot.handler = recordings_handler;
    slot.context.stream = recordings_stream.get();
    slot.context.format = options.recordings_kind;
  }
  if (options.split_prefix != nullptr) {
    keep_tail = 1;
    handler_slot& slot = chain.slots[filled++];
    slot.handler = split_handler;
    slot.context.path = options.split_prefix;
  }
  if (date1) {
    handler_slot& slot = chain.slots[filled++];
    slot.handler = date1_handler;
    slot.context.stream = stdout;
  }

  int status = 0;
  if (filled > 0) {
    status = run_streams(argc, argv, optind, options.stream_copy, chain);
    finish_run(chain);
  }
  const bool info_closed = info_stream.close();
  const bool subs_closed = subs_stream.close();
  const bool recordings_closed = recordings_stream.close();
  if (!info_closed || !subs_closed || !recordings_closed) {
    status = 1;
  }
  if (verbose) {
    diag("all done\n");
  }
  return status;
}

// A run started with a standard descriptor closed would hand that number to the first file
// it opens: pass-through frames would be written into a report file, diagnostics into it, or
// standard input read from it. Each closed one is therefore taken by /dev/null, opened for
// the opposite direction, so that using it still fails with "Bad file descriptor" as it
// would have on the closed descriptor.
void hold_standard_descriptors() {
  for (const int fd : {0, 1, 2}) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) {
      continue;
    }
    const int held = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

}  // namespace

int run(int argc, char** argv) {
  hold_standard_descriptors();
  const char* invocation = argv[0];
  if (argc == 1) {
    print_usage();
    return finish_stdout(1);
  }
  // Split files are dated in the user's own zone, so it is kept before the zone is changed.
  save_user_time_zone();
  // A recording time is the camcorder's wall-clock time and carries no zone. libdv hands it
  // over through mktime() in the local zone, which would shift times that fall into a
  // daylight-saving gap; in UTC the conversion keeps every recorded time as it was.
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  return finish_stdout(run_with_options(argc, argv, invocation));
}

}  // namespace tapestamp
