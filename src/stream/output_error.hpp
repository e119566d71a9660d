// Write failures on the report streams. stdio drops buffered text whose write failed and
// keeps only an error flag, so the reason is taken down when a write fails and read back
// when the stream is closed.
#ifndef TAPESTAMP_STREAM_OUTPUT_ERROR_HPP_
#define TAPESTAMP_STREAM_OUTPUT_ERROR_HPP_

#include <cstdio>

namespace tapestamp {

// Records errno as the reason writes to `stream` fail, unless one is recorded already.
void note_output_error(std::FILE* stream);

// The reason recorded for `stream`, or `fallback` when there is none.
int output_error(std::FILE* stream, int fallback);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_OUTPUT_ERROR_HPP_
