#include "stream/settings.hpp"

#include <cstdlib>
#include <limits>
#include <string>

namespace tapestamp {

int verbose = 0;
int date1 = 0;
int dump_ssyb = 0;
int dump_vaux = 0;
int use_mmap = 1;
int keep_tail = 0;
std::uint64_t max_frames = std::numeric_limits<std::uint64_t>::max();
std::int64_t clock_offset = 0;
const char* user_time_zone = nullptr;

void save_user_time_zone() {
  static std::string saved;
  const char* zone = std::getenv("TZ");
  if (zone == nullptr) {
    user_time_zone = nullptr;
    return;
  }
  saved = zone;
  user_time_zone = saved.c_str();
}

}  // namespace tapestamp
