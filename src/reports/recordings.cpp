#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>
#include <string_view>

#include "reports/reports.hpp"
#include "reports/text_escape.hpp"
#include "reports/time_text.hpp"
#include "stream/frame_facts.hpp"
#include "stream/output_error.hpp"

namespace tapestamp {
namespace {

// One recording, as far as its frames have been seen. Times are ticks of 1/30000 s.
struct recording_entry {
  unsigned number = 0;  // in the run, from 1
  std::uint64_t first_frame = 0;
  std::uint64_t last_frame = 0;
  std::int64_t start_ticks = 0;  // start of the first frame within its stream
  std::int64_t end_ticks = 0;    // time after the last frame within its stream
  std::int64_t run_start_ticks = 0;
  std::int64_t run_end_ticks = 0;
  bool dated = false;  // some frame of it has a recorded time
  std::tm first_recorded{};
  std::tm last_recorded{};
  recording_reason reason = recording_reason::none;
  bool pal = true;
};

// What a format writes: its head once before anything else, one entry per recording as it
// ends, and its tail once the run is over. `written` counts the recordings written before.
struct recordings_format {
  const char* name;
  void (*begin)(std::string& out);
  void (*recording)(std::string& out, const char* file, const recording_entry& entry,
                    std::uint64_t written);
  void (*end)(std::string& out, std::uint64_t written);
};

// One for the whole process: a recording is open from its first frame to its stream's closed
// call or the next recording's first frame.
struct recordings_state {
  bool head_written = false;
  std::uint64_t written = 0;
  bool open = false;
  recording_entry current;
};
recordings_state state;

// printf into the end of `out`, however long the result.
[[gnu::format(printf, 2, 3)]] void append_format(std::string& out, const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof text) {
    out.append(text, static_cast<std::size_t>(length));
  } else if (length > 0) {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length) + 1);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(length) + 1, format, again);
    out.resize(at + static_cast<std::size_t>(length));
  }
  va_end(again);
}

std::int64_t milliseconds(std::int64_t ticks) { return ticks * 1000 / ticks_per_second; }

// Seconds with three decimals, rounded down to the millisecond.
std::string seconds_text(std::int64_t ticks) {
  const std::int64_t ms = milliseconds(ticks);
  std::string out;
  append_format(out, "%" PRId64 ".%03" PRId64, ms / 1000, ms % 1000);
  return out;
}

// "HH:MM:SS.mmm", the form of WebVTT cues; with `nanoseconds` nine decimals instead.
std::string clock_text(std::int64_t ticks, bool nanoseconds) {
  std::string out;
  append_clock_time(out, ticks, ticks_per_second / 1000, 3, '.', 2);
  if (nanoseconds) {
    out += "000000";
  }
  return out;
}

// The recorded time as "YYYY-MM-DD<separator>HH:MM:SS".
std::string recorded_text(const std::tm& time, char separator) {
  std::string out;
  append_format(out, "%04d-%02d-%02d%c%02d:%02d:%02d", time.tm_year + 1900, time.tm_mon + 1,
                time.tm_mday, separator, time.tm_hour, time.tm_min, time.tm_sec);
  return out;
}

const char* system_name(const recording_entry& entry) { return entry.pal ? "pal" : "ntsc"; }

std::string chapter_title(const recording_entry& entry) {
  return entry.dated ? recorded_text(entry.first_recorded, ' ') : "no recording date";
}

void no_tail(std::string& /*out*/, std::uint64_t /*written*/) {}

// text: a table for the terminal. The columns have fixed widths so that each line can be
// written as its recording ends; a longer value pushes the rest of its line to the right.
// The name comes last, where its length disturbs nothing.
constexpr const char* text_row = "%4s  %7s  %7s  %7s  %9s  %9s  %-19s  %-19s  %-13s  %-6s  %s";

void text_begin(std::string& out) {
  std::string line;
  append_format(line, text_row, "rec", "first", "last", "frames", "start", "end", "recorded start",
                "recorded end", "reason", "system", "file");
  out += line;
  out += '\n';
}

void text_recording(std::string& out, const char* file, const recording_entry& entry,
                    std::uint64_t /*written*/) {
  const auto number = [](std::uint64_t value) { return std::to_string(value); };
  const std::string none = "-";
  append_format(out, text_row, number(entry.number).c_str(), number(entry.first_frame).c_str(),
                number(entry.last_frame).c_str(),
                number(entry.last_frame - entry.first_frame + 1).c_str(),
                seconds_text(entry.start_ticks).c_str(), seconds_text(entry.end_ticks).c_str(),
                (entry.dated ? recorded_text(entry.first_recorded, ' ') : none).c_str(),
                (entry.dated ? recorded_text(entry.last_recorded, ' ') : none).c_str(),
                reason_name(entry.reason), system_name(entry), "");
  out += file;
  out += '\n';
}

// csv: RFC 4180, lines ending in CR LF.
void csv_begin(std::string& out) {
  out +=
      "file,recording,first_frame,last_frame,frames,start,end,recorded_start,recorded_end,"
      "reason,system\r\n";
}

void csv_recording(std::string& out, const char* file, const recording_entry& entry,
                   std::uint64_t /*written*/) {
  append_csv_field(out, file);
  append_format(out, ",%u,%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%s,%s,", entry.number,
                entry.first_frame, entry.last_frame, entry.last_frame - entry.first_frame + 1,
                seconds_text(entry.start_ticks).c_str(), seconds_text(entry.end_ticks).c_str());
  if (entry.dated) {
    out += recorded_text(entry.first_recorded, 'T');
    out += ',';
    out += recorded_text(entry.last_recorded, 'T');
  } else {
    out += ',';
  }
  append_format(out, ",%s,%s\r\n", reason_name(entry.reason), system_name(entry));
}

// json: one array, an object a line.
void json_begin(std::string& out) { out += '['; }

void json_recording(std::string& out, const char* file, const recording_entry& entry,
                    std::uint64_t written) {
  out += written == 0 ? "\n  {\"file\": " : ",\n  {\"file\": ";
  append_json_string(out, file);
  append_format(out,
                ", \"recording\": %u, \"first_frame\": %" PRIu64 ", \"last_frame\": %" PRIu64
                ", \"frames\": %" PRIu64 ", \"start\": %s, \"end\": %s",
                entry.number, entry.first_frame, entry.last_frame,
                entry.last_frame - entry.first_frame + 1, seconds_text(entry.start_ticks).c_str(),
                seconds_text(entry.end_ticks).c_str());
  if (entry.dated) {
    out += ", \"recorded_start\": \"" + recorded_text(entry.first_recorded, 'T') +
           "\", \"recorded_end\": \"" + recorded_text(entry.last_recorded, 'T') + "\"";
  } else {
    out += ", \"recorded_start\": null, \"recorded_end\": null";
  }
  append_format(out, ", \"reason\": \"%s\", \"system\": \"%s\"}", reason_name(entry.reason),
                system_name(entry));
}

void json_end(std::string& out, std::uint64_t written) { out += written == 0 ? "]\n" : "\n]\n"; }

// ffmetadata: the chapters of an ffmpeg metadata file, in milliseconds of the run.
void ffmetadata_begin(std::string& out) { out += ";FFMETADATA1\n"; }

void ffmetadata_recording(std::string& out, const char* /*file*/, const recording_entry& entry,
                          std::uint64_t /*written*/) {
  append_format(out, "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=%" PRId64 "\nEND=%" PRId64 "\ntitle=",
                milliseconds(entry.run_start_ticks), milliseconds(entry.run_end_ticks));
  append_ffmetadata_value(out, chapter_title(entry));
  out += '\n';
}

// matroska: the XML chapter file, one edition. Its opening tags come with the first chapter,
// since a file without chapters is an empty <Chapters/>.
void matroska_begin(std::string& out) {
  out +=
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n";
}

void matroska_recording(std::string& out, const char* /*file*/, const recording_entry& entry,
                        std::uint64_t written) {
  if (written == 0) {
    out += "<Chapters>\n  <EditionEntry>\n";
  }
  out += "    <ChapterAtom>\n      <ChapterTimeStart>" + clock_text(entry.run_start_ticks, true) +
         "</ChapterTimeStart>\n      <ChapterTimeEnd>" + clock_text(entry.run_end_ticks, true) +
         "</ChapterTimeEnd>\n      <ChapterDisplay>\n        <ChapterString>";
  append_xml_text(out, chapter_title(entry));
  out +=
      "</ChapterString>\n        <ChapterLanguage>und</ChapterLanguage>\n"
      "      </ChapterDisplay>\n    </ChapterAtom>\n";
}

void matroska_end(std::string& out, std::uint64_t written) {
  out += written == 0 ? "<Chapters/>\n" : "  </EditionEntry>\n</Chapters>\n";
}

// vtt: WebVTT chapter cues, numbered by recording.
void vtt_begin(std::string& out) { out += "WEBVTT\n\n"; }

void vtt_recording(std::string& out, const char* /*file*/, const recording_entry& entry,
                   std::uint64_t /*written*/) {
  append_format(out, "%u\n%s --> %s\n", entry.number,
                clock_text(entry.run_start_ticks, false).c_str(),
                clock_text(entry.run_end_ticks, false).c_str());
  out += chapter_title(entry);
  out += "\n\n";
}

constexpr recordings_format recordings_formats[] = {
    {"text", text_begin, text_recording, no_tail},
    {"csv", csv_begin, csv_recording, no_tail},
    {"json", json_begin, json_recording, json_end},
    {"ffmetadata", ffmetadata_begin, ffmetadata_recording, no_tail},
    {"matroska", matroska_begin, matroska_recording, matroska_end},
    {"vtt", vtt_begin, vtt_recording, no_tail},
};

// Writes what a call produced and hands it on at once, so that a reader at the other end of
// a pipe sees each recording when it is over rather than when a buffer fills.
void flush(std::FILE* stream, const std::string& text) {
  if (text.empty()) {
    return;
  }
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0) {
    note_output_error(stream);
  }
}

// Writes the open recording, if any, and closes it.
void write_open(const recordings_format& format, std::string& out) {
  if (!state.open) {
    return;
  }
  format.recording(out, current_stream().name, state.current, state.written);
  ++state.written;
  state.open = false;
}

void take_frame(const frame_facts& facts) {
  recording_entry& entry = state.current;
  if (!state.open) {
    state.open = true;
    entry = recording_entry{};
    entry.number = facts.recording;
    entry.first_frame = facts.frame;
    entry.start_ticks = facts.stream_ticks;
    entry.run_start_ticks = facts.run_ticks;
    entry.reason = facts.starts;
    entry.pal = facts.pal;
  }
  const std::int64_t duration = facts.duration_ticks;
  entry.last_frame = facts.frame;
  entry.end_ticks = facts.stream_ticks + duration;
  entry.run_end_ticks = facts.run_ticks + duration;
  if (facts.dated) {
    if (!entry.dated) {
      entry.dated = true;
      entry.first_recorded = facts.recorded;
    }
    entry.last_recorded = facts.recorded;
  }
}

}  // namespace

int recordings_format_index(const char* name) {
  for (std::size_t i = 0; i < std::size(recordings_formats); ++i) {
    if (std::strcmp(name, recordings_formats[i].name) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int recordings_handler(int frame, dv_decoder_t* /*decoder*/, const std::uint8_t* /*bytes*/,
                       const handler_context* context) {
  const recordings_format& format = recordings_formats[context->format];
  std::string out;
  if (!state.head_written) {
    state.head_written = true;
    format.begin(out);
  }
  if (frame >= 0) {
    const frame_facts& facts = current_frame();
    if (facts.starts != recording_reason::none) {
      write_open(format, out);
    }
    take_frame(facts);
  } else if (frame == stream_closed_call) {
    write_open(format, out);
  } else if (frame == run_finished_call) {
    format.end(out, state.written);
  }
  flush(context->stream, out);
  return 1;
}

}  // namespace tapestamp
