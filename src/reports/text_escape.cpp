#include "reports/text_escape.hpp"

#include <cstddef>
#include <cstdint>

namespace tapestamp {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void append_u00(std::string& out, unsigned byte) {
  out += "\\u00";
  out += hex_digits[byte >> 4];
  out += hex_digits[byte & 0xf];
}

// Length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none: no
// overlong forms, no surrogates, nothing above U+10FFFF.
std::size_t utf8_length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(at);
  std::size_t length = 0;
  std::uint8_t low = 0x80;  // bounds of the second byte
  std::uint8_t high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) {
      low = 0xa0;
    } else if (lead == 0xed) {
      high = 0x9f;
    }
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) {
      low = 0x90;
    } else if (lead == 0xf4) {
      high = 0x8f;
    }
  } else {
    return 0;
  }
  if (text.size() - at < length || byte(at + 1) < low || byte(at + 1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xbf) {
      return 0;
    }
  }
  return length;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  std::size_t at = 0;
  while (at < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[at]);
    if (byte >= 0x80) {
      const std::size_t length = utf8_length(text, at);
      if (length == 0) {
        append_u00(out, byte);
        ++at;
      } else {
        out.append(text, at, length);
        at += length;
      }
      continue;
    }
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          append_u00(out, byte);
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++at;
  }
  out += '"';
}

void append_csv_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') {
      out += '"';
    }
    out += c;
  }
  out += '"';
}

void append_markup_char(std::string& out, char c) {
  switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    default:
      out += c;
  }
}

void append_xml_text(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c == '"') {
      out += "&quot;";
    } else {
      append_markup_char(out, c);
    }
  }
}

void append_ffmetadata_value(std::string& out, std::string_view text) {
  for (const char c : text) {
    if (c == '=' || c == ';' || c == '#' || c == '\\' || c == '\n') {
      out += '\\';
    }
    out += c;
  }
}

}  // namespace tapestamp
