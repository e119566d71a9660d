// Process-wide settings taken from the command line. The command line writes them once,
// before any stream is read; the frame reader and the run control only read them.
#ifndef TAPESTAMP_STREAM_SETTINGS_HPP_
#define TAPESTAMP_STREAM_SETTINGS_HPP_

#include <cstdint>

namespace tapestamp {

extern int verbose;    // progress lines on stderr
extern int date1;      // first-date line selected
extern int dump_ssyb;  // info report lists ssyb packs
extern int dump_vaux;  // info report lists vaux packs
extern int use_mmap;   // regular files may be read through a mapping
// A handler keeps the stream's bytes (split files): a failed stream's remaining bytes are
// read and handed to the chain.
extern int keep_tail;
// Frames handled per stream at most; all bits set means no limit.
extern std::uint64_t max_frames;
// Seconds added to every frame's recorded time (--clock-offset).
extern std::int64_t clock_offset;
// TZ as the user's environment set it, before the run replaced it; null when it was unset.
extern const char* user_time_zone;

// Keeps the environment's TZ in user_time_zone. Called once, before TZ is changed.
void save_user_time_zone();

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_SETTINGS_HPP_
