#include "stream/output_error.hpp"

#include <cerrno>

namespace tapestamp {
namespace {

// A run writes to at most three streams: standard output and two files.
struct recorded_error {
  std::FILE* stream;
  int error;
};
recorded_error recorded[4] = {};

}  // namespace

void note_output_error(std::FILE* stream) {
  const int error = errno;
  for (recorded_error& entry : recorded) {
    if (entry.stream == stream) {
      return;
    }
    if (entry.stream == nullptr) {
      entry = {stream, error};
      return;
    }
  }
}

int output_error(std::FILE* stream, int fallback) {
  for (const recorded_error& entry : recorded) {
    if (entry.stream == stream) {
      return entry.error;
    }
  }
  return fallback;
}

}  // namespace tapestamp
