// Streams of synthesised frames, and the usage text, shared by the end-to-end tests.
#ifndef TAPESTAMP_TESTS_SUPPORT_FIXTURES_HPP_
#define TAPESTAMP_TESTS_SUPPORT_FIXTURES_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include "dv_synth.hpp"

namespace test_support {

using bytes = std::vector<std::uint8_t>;

// `count` frames after `spec`, their recording time moving on one second every
// `per_second` frames from spec.recorded (undated frames stay undated).
inline bytes frames(int count, dv_synth::frame_spec spec = {}, int per_second = 25) {
  bytes out;
  const auto start = spec.recorded;
  for (int n = 0; n < count; ++n) {
    if (start) {
      spec.recorded = dv_synth::add_seconds(*start, n / per_second);
    }
    dv_synth::append_frame(out, spec);
  }
  return out;
}

inline dv_synth::frame_spec ntsc() {
  dv_synth::frame_spec spec;
  spec.pal = false;
  return spec;
}

inline dv_synth::frame_spec undated(dv_synth::frame_spec spec = {}) {
  spec.recorded.reset();
  return spec;
}

inline dv_synth::frame_spec dated(const dv_synth::date_time& when, dv_synth::frame_spec spec = {}) {
  spec.recorded = when;
  return spec;
}

inline bytes operator+(bytes a, const bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline bytes filler(std::size_t size, std::uint8_t value = 0x5a) { return bytes(size, value); }

// How often `what` occurs in `text`.
inline std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// One run of the tool in a table of cases: its arguments and what it must print and return.
struct tool_case {
  const char* name;
  std::vector<std::string> args;
  std::string out;
  std::string err;
  int status = 0;
};

inline const std::string usage_text =
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
    "Report bugs to https://tapestamp.org/bugs\n";

}  // namespace test_support

#endif  // TAPESTAMP_TESTS_SUPPORT_FIXTURES_HPP_
