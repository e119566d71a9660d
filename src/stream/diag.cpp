#include "stream/diag.hpp"

#include <cstdarg>
#include <cstdio>

namespace tapestamp {

void diag(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

}  // namespace tapestamp
