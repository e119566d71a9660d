#include "reports/subtitle_formats.hpp"

#include <cstring>
#include <iterator>
#include <string>

#include "reports/text_escape.hpp"
#include "reports/time_text.hpp"
#include "stream/frame_facts.hpp"
#include "stream/output_error.hpp"

namespace tapestamp {
namespace {

void put(std::FILE* stream, const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
    note_output_error(stream);
  }
}

bool is_line_break(char c) { return c == '|' || c == '\n' || c == '\r'; }

// Appends the cue's text to `out`: its lines (split at `|`, and at any CR or LF a time
// format may hold) with `line_break` between them and each byte written by `escape`. Empty
// lines are left out, so that no text can end a cue early in the formats where an empty line
// ends it. Returns false when no line is left: such a cue shows nothing and is not written.
template <typename escape_function>
bool append_lines(std::string& out, const char* text, const char* line_break,
                  escape_function escape) {
  bool any = false;
  for (const char* p = text; *p != '\0';) {
    const char* end = p;
    while (*end != '\0' && !is_line_break(*end)) {
      ++end;
    }
    if (end != p) {
      if (any) {
        out += line_break;
      }
      any = true;
      for (const char* c = p; c != end; ++c) {
        escape(out, c);
      }
    }
    p = *end == '\0' ? end : end + 1;
  }
  return any;
}

void as_typed(std::string& out, const char* c) { out += *c; }

// MicroDVD: frame numbers within the stream, the text as it is.
bool write_microdvd_cue(std::FILE* stream, const subtitle_cue& cue) {
  if (std::fprintf(stream, "{%d}{%d}%s\r\n", cue.first_frame, cue.last_frame, cue.text) < 0) {
    note_output_error(stream);
  }
  return true;
}

// The cue block SubRip and WebVTT share: after `head`, the times to the millisecond with
// `separator` before the fraction, the lines written by `escape`, an empty line.
template <typename escape_function>
bool write_text_cue(std::FILE* stream, const subtitle_cue& cue, std::string head, char separator,
                    escape_function escape) {
  std::string lines;
  if (!append_lines(lines, cue.text, "\n", escape)) {
    return false;
  }
  std::string& out = head;
  append_clock_time(out, cue.start_ticks, 30, 3, separator, 2);
  out += " --> ";
  append_clock_time(out, cue.end_ticks, 30, 3, separator, 2);
  out += '\n';
  out += lines;
  out += "\n\n";
  put(stream, out);
  return true;
}

// SubRip: a number, then the block with a comma before the milliseconds.
bool write_srt_cue(std::FILE* stream, const subtitle_cue& cue) {
  return write_text_cue(stream, cue, std::to_string(cue.number) + '\n', ',', as_typed);
}

void write_vtt_header(std::FILE* stream) { put(stream, "WEBVTT\n\n"); }

// The characters that would start a tag or an entity are written as entities; that also
// keeps "-->", which would end the cue, out of its text.
void vtt_escape(std::string& out, const char* c) { append_markup_char(out, *c); }

// WebVTT: no cue identifier, a point before the milliseconds.
bool write_vtt_cue(std::FILE* stream, const subtitle_cue& cue) {
  return write_text_cue(stream, cue, std::string(), '.', vtt_escape);
}

// Bottom right, white with a dark outline and a soft shadow, sized for a 720x576 picture
// (renderers scale it to the picture's height, so 720x480 gets the same look).
constexpr const char ass_header[] =
    "[Script Info]\n"
    "ScriptType: v4.00+\n"
    "PlayResX: 720\n"
    "PlayResY: 576\n"
    "WrapStyle: 2\n"
    "ScaledBorderAndShadow: yes\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
    "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
    "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Sans,30,&H00FFFFFF,&H000000FF,&H00202020,&H80000000,-1,0,0,0,100,100,0,0,"
    "1,2,1,3,40,40,32,1\n"
    "\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

void write_ass_header(std::FILE* stream) { put(stream, ass_header); }

// A brace would open or close an override block: renderers show `\{` and `\}` as the brace
// itself. A backslash that would form an escape with the next byte (`\N`, `\n`, `\h`, or one
// of the brace escapes) is followed by a word joiner (U+2060), which shows nothing.
void ass_escape(std::string& out, const char* c) {
  switch (*c) {
    case '{':
    case '}':
      out += '\\';
      out += *c;
      break;
    case '\\':
      out += '\\';
      if (std::strchr("Nnh{}", c[1]) != nullptr && c[1] != '\0') {
        out += "\xE2\x81\xA0";
      }
      break;
    default:
      out += *c;
  }
}

bool write_ass_cue(std::FILE* stream, const subtitle_cue& cue) {
  std::string lines;
  if (!append_lines(lines, cue.text, "\\N", ass_escape)) {
    return false;
  }
  std::string out = "Dialogue: 0,";
  append_clock_time(out, cue.start_ticks, 300, 2, '.', 1);
  out += ',';
  append_clock_time(out, cue.end_ticks, 300, 2, '.', 1);
  out += ",Default,,0,0,0,,";
  out += lines;
  out += '\n';
  put(stream, out);
  return true;
}

}  // namespace

const subtitle_format subtitle_formats[] = {
    {.name = "microdvd",
     .write_header = nullptr,
     .write_cue = write_microdvd_cue,
     .carried_across_streams = true},
    {.name = "srt",
     .write_header = nullptr,
     .write_cue = write_srt_cue,
     .carried_across_streams = false},
    {.name = "vtt",
     .write_header = write_vtt_header,
     .write_cue = write_vtt_cue,
     .carried_across_streams = false},
    {.name = "ass",
     .write_header = write_ass_header,
     .write_cue = write_ass_cue,
     .carried_across_streams = false},
};
const std::size_t subtitle_format_count = std::size(subtitle_formats);

}  // namespace tapestamp
