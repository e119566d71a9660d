// The frame handlers that turn each frame's decoded information into text.
#ifndef TAPESTAMP_REPORTS_REPORTS_HPP_
#define TAPESTAMP_REPORTS_REPORTS_HPP_

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "stream/frame_facts.hpp"
#include "stream/frame_reader.hpp"

namespace tapestamp {

// Per frame, a four-line block on context->stream describing the frame, followed by the
// ssyb and vaux pack listings the context asks for. Writes nothing on the end call.
// Always returns 1.
int info_handler(int frame, dv_decoder_t* decoder, const std::uint8_t* bytes,
                 const handler_context* context);

// Subtitles with the recording time on context->stream, in the format context->format of the
// subtitle format table: runs of frames with the same text become one cue. In MicroDVD the
// pending subtitle carries across streams; in the timed formats it ends with its stream.
// Always returns 1.
int subtitle_handler(int frame, dv_decoder_t* decoder, const std::uint8_t* bytes,
                     const handler_context* context);

// Index of the subtitle format called `name` in the subtitle handler's table, or -1.
int subtitle_format_index(const char* name);

// The recordings of the run, one entry per recording as it ends, on context->stream in the
// format context->format. Always returns 1.
int recordings_handler(int frame, dv_decoder_t* decoder, const std::uint8_t* bytes,
                       const handler_context* context);

// Index of the recordings format called `name` in the recordings handler's table, or -1.
int recordings_format_index(const char* name);

// Writes every recording to a new file named after context->path, its number in the run and
// its first recorded time. Returns -1 when a file cannot be created or written, else 1.
int split_handler(int frame, dv_decoder_t* decoder, const std::uint8_t* bytes,
                  const handler_context* context);

// Writes the recording time of the stream's third frame on context->stream, then returns 0
// to stop the stream. Returns 1 before that and on the end call.
int date1_handler(int frame, dv_decoder_t* decoder, const std::uint8_t* bytes,
                  const handler_context* context);

// "YYYY-MM-DD HH:MM:SS": the frame's recorded time, with the clock offset added when
// `with_offset` is set, or "0000-00-00 00:00:00" when the frame has none.
inline constexpr std::size_t recorded_text_size = 80;
void format_recorded(const frame_facts& facts, bool with_offset, char (&text)[recorded_text_size]);

enum class pack_kind { ssyb, vaux };

// Lists every pack of one kind the decoder holds, one line per id in ascending order, each
// line starting with prefix (null counts as empty).
void dump_packs(std::FILE* stream, const char* prefix, dv_decoder_t* decoder, pack_kind kind);

}  // namespace tapestamp

#endif  // TAPESTAMP_REPORTS_REPORTS_HPP_
