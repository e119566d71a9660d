// Quoting of arbitrary bytes (file names, titles, subtitle text) for the text formats the
// recordings list and the subtitles are written in. Each function appends the quoted form of
// its text to `out`.
#ifndef TAPESTAMP_REPORTS_TEXT_ESCAPE_HPP_
#define TAPESTAMP_REPORTS_TEXT_ESCAPE_HPP_

#include <string>
#include <string_view>

namespace tapestamp {

// A JSON string with its quotes. Valid UTF-8 passes unchanged; quote, backslash and control
// characters are escaped; a byte that is not part of a valid UTF-8 sequence is taken as the
// Latin-1 character of that value and written as \u00XX, so that any name gives valid JSON.
void append_json_string(std::string& out, std::string_view text);

// A CSV field as RFC 4180 has it: in double quotes, with inner quotes doubled, when it holds
// a comma, a quote, a carriage return or a line feed; else as it is.
void append_csv_field(std::string& out, std::string_view text);

// One character of markup text (XML, WebVTT): & < > as entity references, others as they are.
void append_markup_char(std::string& out, char c);

// XML character data or attribute text: & < > " as entity references.
void append_xml_text(std::string& out, std::string_view text);

// A value of an ffmpeg metadata file: = ; # \ and line feed preceded by a backslash.
void append_ffmetadata_value(std::string& out, std::string_view text);

}  // namespace tapestamp

#endif  // TAPESTAMP_REPORTS_TEXT_ESCAPE_HPP_
