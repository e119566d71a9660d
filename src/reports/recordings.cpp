#include <cstring>
#include <iterator>

#include "reports/reports.hpp"

namespace tapestamp {
namespace {

// TODO(recordings): the writers of each format.
constexpr const char* recordings_format_names[] = {"text",       "csv",      "json",
                                                   "ffmetadata", "matroska", "vtt"};

}  // namespace

int recordings_format_index(const char* name) {
  for (std::size_t i = 0; i < std::size(recordings_format_names); ++i) {
    if (std::strcmp(name, recordings_format_names[i]) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int recordings_handler(int /*frame*/, dv_decoder_t* /*decoder*/, const std::uint8_t* /*bytes*/,
                       const handler_context* /*context*/) {
  return 1;
}

}  // namespace tapestamp
