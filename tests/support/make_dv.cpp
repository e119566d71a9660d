// make-dv: writes a raw DV stream of synthesised frames whose recording time advances by one
// second every so many frames, as a camcorder's would.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dv_synth.hpp"

namespace {

void usage() {
  std::fputs(
      "Usage: make-dv [--ntsc] [--frames N] [--per-second N] [--start 'YYYY-MM-DD HH:MM:SS']\n"
      "               [--undated] [--wide] FILE\n"
      "Writes N frames (default 125) of DV to FILE ('-' for standard output), dated from\n"
      "--start (default 2008-05-17 12:30:00), one second later every --per-second frames\n"
      "(default 25 for 625/50, 30 for 525/60).\n",
      stderr);
}

bool parse_count(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && value >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  dv_synth::frame_spec spec;
  long frames = 125;
  long per_second = 0;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--ntsc") {
      spec.pal = false;
    } else if (arg == "--undated") {
      spec.recorded.reset();
    } else if (arg == "--wide") {
      spec.display = dv_synth::aspect::wide_16_9;
    } else if (arg == "--frames" && has_value && parse_count(argv[i + 1], frames)) {
      ++i;
    } else if (arg == "--per-second" && has_value && parse_count(argv[i + 1], per_second) &&
               per_second > 0) {
      ++i;
    } else if (arg == "--start" && has_value) {
      dv_synth::date_time t;
      if (std::sscanf(argv[++i], "%d-%d-%d %d:%d:%d", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                      &t.second) != 6) {
        usage();
        return 2;
      }
      spec.recorded = t;
    } else if (path == nullptr && (arg == "-" || arg[0] != '-')) {
      path = argv[i];
    } else {
      usage();
      return 2;
    }
  }
  if (path == nullptr) {
    usage();
    return 2;
  }
  if (per_second == 0) {
    per_second = spec.pal ? 25 : 30;
  }

  std::FILE* out = std::strcmp(path, "-") == 0 ? stdout : std::fopen(path, "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "make-dv: %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  const dv_synth::date_time start = spec.recorded.value_or(dv_synth::date_time{});
  std::vector<std::uint8_t> frame;
  long built_second = -1;
  for (long n = 0; n < frames; ++n) {
    // Frames of the same second are identical but for the time code, which is rebuilt with
    // them; a new frame is built only when the second changes.
    const long second = n / per_second;
    if (second != built_second) {
      if (spec.recorded) {
        spec.recorded = dv_synth::add_seconds(start, static_cast<int>(second));
      }
      built_second = second;
    }
    spec.timecode = dv_synth::time_code{
        static_cast<int>(second / 3600 % 24), static_cast<int>(second / 60 % 60),
        static_cast<int>(second % 60), static_cast<int>(n % per_second % 100)};
    frame.clear();
    dv_synth::append_frame(frame, spec);
    if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
      std::fprintf(stderr, "make-dv: %s: %s\n", path, std::strerror(errno));
      return 1;
    }
  }
  if ((out == stdout ? std::fflush(out) : std::fclose(out)) != 0) {
    std::fprintf(stderr, "make-dv: %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  return 0;
}
