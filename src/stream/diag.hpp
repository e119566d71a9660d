// Diagnostics: every message the tool writes to stderr goes through here.
#ifndef TAPESTAMP_STREAM_DIAG_HPP_
#define TAPESTAMP_STREAM_DIAG_HPP_

namespace tapestamp {

// Writes one printf-style message to stderr. The wording is the caller's, complete with
// its line feed.
[[gnu::format(printf, 1, 2)]] void diag(const char* format, ...);

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_DIAG_HPP_
