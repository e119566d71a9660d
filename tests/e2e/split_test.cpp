// Split files: one file per recording, named after its number and first recorded time,
// holding its frames as read so that the files of an input join back into the input, dated
// in the user's zone; and what happens when a file cannot be created or written.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::date_time;

const date_time noon = {2008, 5, 17, 12, 30, 0};
const date_time evening = {2008, 5, 17, 18, 5, 58};

const std::string bad_header_message =
    "dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n";

std::string premature(std::size_t remaining) {
  return "remains only " + std::to_string(remaining) + " bytes, premature EOF?\n";
}

dv_synth::frame_spec bad_header() {
  dv_synth::frame_spec spec;
  spec.bad_header = true;
  return spec;
}

dv_synth::frame_spec rec_start(dv_synth::frame_spec spec = {}) {
  spec.rec_start = true;
  return spec;
}

bytes first_bytes(bytes b, std::size_t size) {
  b.resize(size);
  return b;
}

// Every file in `dir` by name, with its contents.
std::map<std::string, std::string> files_in(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    files[entry.path().filename().string()] = read_file(entry.path().string());
  }
  return files;
}

std::string joined(const std::map<std::string, std::string>& files) {
  std::string all;
  for (const auto& [name, contents] : files) {
    all += contents;
  }
  return all;
}

std::time_t mtime_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_mtim.tv_sec;
}

// How the input reaches the tool.
enum class feed { mapped, no_mmap, pipe };
const feed every_feed[] = {feed::mapped, feed::no_mmap, feed::pipe};

const char* feed_name(feed how) {
  switch (how) {
    case feed::mapped:
      return "mapped file";
    case feed::no_mmap:
      return "file read with --no-mmap";
    case feed::pipe:
      break;
  }
  return "stdin piped in pieces of 7777 bytes";
}

// Runs the tool on `input` fed as `how`, with `args` before the input.
run_result run_fed(const temp_dir& dir, const bytes& input, std::vector<std::string> args, feed how,
                   run_input options = {}) {
  if (how == feed::pipe) {
    options.stdin_pipe = as_string(input);
    options.pipe_chunk = 7777;
    return run_tool(args, options);
  }
  if (how == feed::no_mmap) {
    args.insert(args.begin(), "--no-mmap");
  }
  return run_on_file(dir, input, args, options);
}

// A directory of its own for the files, so that nothing else is listed with them.
struct split_dir {
  temp_dir dir;
  std::filesystem::path out = dir.path() / "out";
  split_dir() { std::filesystem::create_directory(out); }
  std::string prefix() const { return (out / "t-").string(); }
  std::string file(const std::string& name) const { return (out / name).string(); }
};

// `args`, after -p when `copy` is set.
std::vector<std::string> with_copy(bool copy, std::vector<std::string> args) {
  if (copy) {
    args.insert(args.begin(), "-p");
  }
  return args;
}

struct named_part {
  std::string name;
  bytes contents;
};

struct names_case {
  const char* name;
  std::vector<named_part> parts;  // the input is these joined
};

TEST(Split, OneFilePerRecordingNamedByNumberAndFirstTime) {
  const std::vector<names_case> cases = {
      {"stream-start, dated", {{"t-001_2008-05-17_12-30-00.dv", frames(30)}}},
      {"stream-start, undated", {{"t-001_undated.dv", frames(3, undated())}}},
      {"system-change",
       {{"t-001_2008-05-17_12-30-00.dv", frames(3)},
        {"t-002_2008-05-17_12-30-00.dv", frames(3, dated(noon, ntsc()))},
        {"t-003_undated.dv", frames(2, undated())}}},
      {"rec-start",
       {{"t-001_2008-05-17_12-30-00.dv", frames(3)},
        {"t-002_2008-05-17_12-30-00.dv", frames(3, rec_start())}}},
      {"time-jump",
       {{"t-001_2008-05-17_12-30-00.dv", frames(3)},
        {"t-002_2008-05-17_18-05-58.dv", frames(3, dated(evening))},
        {"t-003_2008-05-17_12-30-00.dv", frames(2, dated(noon))}}},
      {"date-appears",
       {{"t-001_undated.dv", frames(3, undated())},
        {"t-002_2008-05-17_18-05-58.dv", frames(3, dated(evening)) + frames(2, undated())}}},
      {"recorded time with seconds, minutes, a new year",
       {{"t-001_1999-12-31_23-59-59.dv", frames(2, dated({1999, 12, 31, 23, 59, 59}), 1)}}},
  };
  for (const names_case& c : cases) {
    SCOPED_TRACE(c.name);
    split_dir d;
    bytes input;
    std::map<std::string, std::string> expected;
    for (const named_part& part : c.parts) {
      input = input + part.contents;
      expected[part.name] = as_string(part.contents);
    }
    const run_result r = run_on_file(d.dir, input, {"--split", d.prefix()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(files_in(d.out), expected);
  }
}

struct join_case {
  const char* name;
  bytes input;
  std::vector<std::string> args;   // besides --split
  std::vector<std::size_t> sizes;  // of the files in name order; empty: no file
  std::string err;
  int status = 0;
};

// The files of an input joined give back the input, however it is read: from a mapping,
// with read(), or from a pipe that delivers odd-sized pieces.
TEST(Split, FilesJoinBackIntoTheInput) {
  const std::size_t pal = dv_synth::frame_size(true);
  const bytes two = frames(10) + frames(7, dated(evening));
  const std::vector<join_case> cases = {
      {"two recordings", two, {}, {10 * pal, 7 * pal}, ""},
      {"a cut last frame",
       two + first_bytes(frames(1, dated(evening)), 100000),
       {},
       {10 * pal, 7 * pal + 100000},
       premature(100000),
       1},
      {"fewer bytes than a frame after the last frame",
       two + filler(999),
       {},
       {10 * pal, 7 * pal + 999},
       premature(999),
       1},
      {"a rejected header mid-stream: the rest joins the recording before",
       two + frames(1, bad_header()) + frames(4),
       {},
       {10 * pal, 12 * pal},
       bad_header_message,
       1},
      {"junk after the first recording",
       frames(3) + filler(5000) + frames(2, dated(evening)),
       {},
       {3 * pal + 5000 + 2 * pal},
       bad_header_message,
       1},
      {"a header rejected at once makes no file",
       frames(1, bad_header()) + frames(2),
       {},
       {},
       bad_header_message,
       1},
      {"fewer bytes than a frame make no file", filler(5000), {}, {}, premature(5000), 1},
      {"an empty input makes no file", {}, {}, {}, ""},
      {"-n: only the frames handled", two, {"-n", "5"}, {5 * pal}, ""},
      {"-n past the first recording", two, {"-n", "12"}, {10 * pal, 2 * pal}, ""},
      {"-n ends the stream before a damaged frame: nothing after it is written",
       two + frames(1, bad_header()),
       {"-n", "17"},
       {10 * pal, 7 * pal},
       ""},
  };
  for (const join_case& c : cases) {
    for (const feed how : every_feed) {
      SCOPED_TRACE(std::string(c.name) + ", " + feed_name(how));
      split_dir d;
      std::vector<std::string> args = c.args;
      args.insert(args.end(), {"--split", d.prefix()});
      const run_result r = run_fed(d.dir, c.input, args, how);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.err, c.err);
      EXPECT_EQ(r.out, "");
      const std::map<std::string, std::string> files = files_in(d.out);
      std::vector<std::size_t> sizes;
      for (const auto& [name, contents] : files) {
        sizes.push_back(contents.size());
      }
      EXPECT_EQ(sizes, c.sizes);
      std::size_t total = 0;
      for (const std::size_t size : c.sizes) {
        total += size;
      }
      EXPECT_EQ(joined(files), as_string(c.input).substr(0, total));
    }
  }
}

// The instant the local clock of `zone` (null: no TZ, the system's default) shows `when`.
std::time_t local_instant(const char* zone, const date_time& when) {
  const char* saved = std::getenv("TZ");
  const std::string kept = saved != nullptr ? saved : "";
  if (zone != nullptr) {
    ::setenv("TZ", zone, 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  std::tm t{};
  t.tm_year = when.year - 1900;
  t.tm_mon = when.month - 1;
  t.tm_mday = when.day;
  t.tm_hour = when.hour;
  t.tm_min = when.minute;
  t.tm_sec = when.second;
  t.tm_isdst = -1;
  const std::time_t instant = std::mktime(&t);
  if (saved != nullptr) {
    ::setenv("TZ", kept.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  return instant;
}

TEST(Split, DatedFilesTakeTheirFirstRecordedTimeInTheUsersZone) {
  struct zone_case {
    const char* name;
    run_input options;
    std::vector<std::string> args;  // besides --split
    std::string file;
    std::vector<std::time_t> mtimes;  // any of these
  };
  run_input new_york;
  new_york.env = {"TZ=America/New_York"};
  run_input tokyo;
  tokyo.env = {"TZ=Asia/Tokyo"};
  run_input no_zone;
  no_zone.prefix = {"/usr/bin/env", "-u", "TZ"};
  const std::vector<zone_case> cases = {
      {"TZ=UTC", {}, {}, "t-001_2008-05-17_12-30-00.dv", {1211027400}},
      {"TZ=America/New_York, summer time",
       new_york,
       {},
       "t-001_2008-05-17_12-30-00.dv",
       {1211041800}},
      {"TZ=Asia/Tokyo", tokyo, {}, "t-001_2008-05-17_12-30-00.dv", {1211027400 - 9 * 3600}},
      {"TZ unset: the system's default zone",
       no_zone,
       {},
       "t-001_2008-05-17_12-30-00.dv",
       {local_instant(nullptr, noon)}},
      {"clock offset: the name and the time shifted",
       new_york,
       {"--clock-offset", "+1h"},
       "t-001_2008-05-17_13-30-00.dv",
       {1211041800 + 3600}},
  };
  for (const zone_case& c : cases) {
    SCOPED_TRACE(c.name);
    split_dir d;
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--split", d.prefix()});
    const run_result r = run_on_file(d.dir, frames(3, dated(noon)), args, c.options);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::time_t mtime = mtime_of(d.file(c.file));
    EXPECT_NE(std::find(c.mtimes.begin(), c.mtimes.end(), mtime), c.mtimes.end()) << mtime;
  }
}

TEST(Split, WallTimeThatOccursTwiceTakesOneOfItsInstants) {
  // 01:30 on 2 November 2008 came twice in New York: in summer time, then in standard time.
  split_dir d;
  run_input new_york;
  new_york.env = {"TZ=America/New_York"};
  const run_result r = run_on_file(d.dir, frames(3, dated({2008, 11, 2, 1, 30, 0})),
                                   {"--split", d.prefix()}, new_york);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::time_t mtime = mtime_of(d.file("t-001_2008-11-02_01-30-00.dv"));
  EXPECT_TRUE(mtime == 1225603800 || mtime == 1225607400) << mtime;
}

TEST(Split, UndatedFilesKeepTheirWriteTime) {
  split_dir d;
  const std::time_t before = std::time(nullptr);
  const run_result r =
      run_on_file(d.dir, frames(3) + frames(2, undated(ntsc())), {"--split", d.prefix()});
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(mtime_of(d.file("t-001_2008-05-17_12-30-00.dv")), 1211027400);
  const std::time_t mtime = mtime_of(d.file("t-002_undated.dv"));
  EXPECT_GE(mtime, before - 1);
  EXPECT_LE(mtime, after + 1);
}

TEST(Split, RecordingsAreNumberedOnAcrossInputs) {
  split_dir d;
  const std::string one = d.dir.file("one.dv");
  const std::string two = d.dir.file("two.dv");
  const std::string three = d.dir.file("three.dv");
  const std::string four = d.dir.file("four.dv");
  write_file(one, frames(3) + frames(2, dated(evening)));
  write_file(two, frames(2, undated()));
  write_file(three, frames(1, bad_header()) + frames(1));
  write_file(four, frames(4, dated({2009, 1, 2, 3, 4, 5})));
  const run_result r = run_tool({"--split", d.prefix(), one, two, three, four});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, bad_header_message);
  const std::map<std::string, std::string> expected = {
      {"t-001_2008-05-17_12-30-00.dv", as_string(frames(3))},
      {"t-002_2008-05-17_18-05-58.dv", as_string(frames(2, dated(evening)))},
      {"t-003_undated.dv", as_string(frames(2, undated()))},
      {"t-004_2009-01-02_03-04-05.dv", as_string(frames(4, dated({2009, 1, 2, 3, 4, 5})))},
  };
  EXPECT_EQ(files_in(d.out), expected);
}

TEST(Split, NumbersPast999TakeMoreDigits) {
  // 625/50 and 525/60 frames by turns: each starts a recording.
  const bytes pal = frames(1, undated());
  const bytes ntsc_frame = frames(1, undated(ntsc()));
  bytes input;
  for (int n = 0; n < 1001; ++n) {
    const bytes& frame = n % 2 == 0 ? pal : ntsc_frame;
    input.insert(input.end(), frame.begin(), frame.end());
  }
  split_dir d;
  const run_result r = run_on_file(d.dir, input, {"--split", d.prefix()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::size_t count = 0;
  std::uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(d.out)) {
    ++count;
    total += entry.file_size();
  }
  EXPECT_EQ(count, 1001U);
  EXPECT_EQ(total, input.size());
  for (const char* name :
       {"t-001_undated.dv", "t-999_undated.dv", "t-1000_undated.dv", "t-1001_undated.dv"}) {
    EXPECT_TRUE(std::filesystem::exists(d.file(name))) << name;
  }
  EXPECT_EQ(read_file(d.file("t-1000_undated.dv")), as_string(ntsc_frame));
}

// A file that exists is never overwritten: the stream that would write it fails there, and
// the next input goes on with the numbering.
TEST(Split, ExistingNameFailsTheStream) {
  for (const feed how : every_feed) {
    SCOPED_TRACE(feed_name(how));
    split_dir d;
    const std::string taken = "t-002_2008-05-17_18-05-58.dv";
    write_file(d.file(taken), std::string("keep me"));
    const bytes input = frames(3) + frames(2, dated(evening)) + frames(2, dated(noon));
    // A mapped input is read so only without the pass-through copy.
    const bool copy = how != feed::mapped;
    const run_result r = run_fed(d.dir, input, with_copy(copy, {"--split", d.prefix()}), how);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "open(\"" + d.file(taken) + "\"...) failed: File exists\n");
    EXPECT_EQ(r.out, copy ? as_string(input) : "") << "the pass-through copy has the whole stream";
    const std::map<std::string, std::string> expected = {
        {"t-001_2008-05-17_12-30-00.dv", as_string(frames(3))},
        {taken, "keep me"},
    };
    EXPECT_EQ(files_in(d.out), expected);
  }
}

TEST(Split, NextInputGoesOnAfterAFailedFile) {
  split_dir d;
  const std::string one = d.dir.file("one.dv");
  const std::string two = d.dir.file("two.dv");
  write_file(one, frames(3) + frames(2, dated(evening)));
  write_file(two, frames(2, undated()));
  write_file(d.file("t-001_2008-05-17_12-30-00.dv"), std::string("taken"));
  const run_result r = run_tool({"--split", d.prefix(), one, two});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "open(\"" + d.file("t-001_2008-05-17_12-30-00.dv") + "\"...) failed: File exists\n");
  const std::map<std::string, std::string> expected = {
      {"t-001_2008-05-17_12-30-00.dv", "taken"},
      // The first input's stream stopped at its first frame: its second recording was never
      // reached, so the next input's recording is the second of the run.
      {"t-002_undated.dv", as_string(frames(2, undated()))},
  };
  EXPECT_EQ(files_in(d.out), expected);
}

TEST(Split, MissingDirectory) {
  for (const feed how : every_feed) {
    SCOPED_TRACE(feed_name(how));
    split_dir d;
    const std::string prefix = (d.out / "no-such-dir" / "t-").string();
    const bytes input = frames(3) + frames(1, bad_header());
    const run_result r = run_fed(d.dir, input, {"-p", "--split", prefix}, how);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "open(\"" + prefix + "001_2008-05-17_12-30-00.dv\"...) failed: " +
                         std::strerror(ENOENT) + "\n");
    EXPECT_EQ(r.out, as_string(input));
    EXPECT_TRUE(files_in(d.out).empty());
  }
}

// A small tmpfs, unmounted at the end of the scope.
class small_tmpfs {
 public:
  small_tmpfs(const std::filesystem::path& at, const char* size) : at_(at) {
    std::filesystem::create_directory(at_);
    const std::string options = std::string("size=") + size;
    if (::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      error_ = std::strerror(errno);
    }
  }
  ~small_tmpfs() {
    if (mounted_) {
      ::umount2(at_.c_str(), MNT_DETACH);
    }
  }
  small_tmpfs(const small_tmpfs&) = delete;
  small_tmpfs& operator=(const small_tmpfs&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
  std::string error_;
};

// A full disk: the file keeps what fitted, the stream fails, the files before stay whole and
// the pass-through copy still has everything.
TEST(Split, FullDisk) {
  for (const feed how : every_feed) {
    SCOPED_TRACE(feed_name(how));
    temp_dir dir;
    const std::filesystem::path small = dir.path() / "small";
    const small_tmpfs disk(small, "600k");
    if (!disk.mounted()) {
      GTEST_SKIP() << "a full disk needs a small tmpfs, which cannot be mounted here: "
                   << disk.error();
    }
    const std::string prefix = (small / "t-").string();
    // 3 frames fit in 600 KiB, the second recording's 2 frames do not.
    const bytes first = frames(3);
    const bytes second = frames(3, dated(evening));
    const bytes input = first + second + frames(2, dated(noon));
    const bool copy = how != feed::mapped;
    const run_result r = run_fed(dir, input, with_copy(copy, {"--split", prefix}), how);
    const std::string failed = prefix + "002_2008-05-17_18-05-58.dv";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "write() (file `" + failed + "') failed: " + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(r.out, copy ? as_string(input) : "");
    const std::map<std::string, std::string> files = files_in(small);
    ASSERT_EQ(files.size(), 2U);
    EXPECT_EQ(files.at("t-001_2008-05-17_12-30-00.dv"), as_string(first));
    const std::string& rest = files.at("t-002_2008-05-17_18-05-58.dv");
    EXPECT_LT(rest.size(), second.size());
    EXPECT_EQ(rest, as_string(second).substr(0, rest.size())) << "what fitted, as read";
    EXPECT_EQ(mtime_of(prefix + "001_2008-05-17_12-30-00.dv"), 1211027400);
  }
}

// A long recording of a mapped file is copied in long ranges while the frames are read on:
// a full disk in the middle of it is reported once, and the file keeps what fitted.
TEST(Split, FullDiskDuringALongRecording) {
  temp_dir dir;
  const std::filesystem::path small = dir.path() / "small";
  const small_tmpfs disk(small, "8m");
  if (!disk.mounted()) {
    GTEST_SKIP() << "a full disk needs a small tmpfs, which cannot be mounted here: "
                 << disk.error();
  }
  const std::string prefix = (small / "t-").string();
  const bytes input = frames(600) + frames(2, dated(evening));
  const run_result r = run_on_file(dir, input, {"-s", "--split", prefix});
  const std::string name = "t-001_2008-05-17_12-30-00.dv";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "write() (file `" + (small / name).string() +
                       "') failed: " + std::strerror(ENOSPC) + "\n");
  const std::map<std::string, std::string> files = files_in(small);
  ASSERT_EQ(files.size(), 1U);
  const std::string& kept = files.at(name);
  EXPECT_GT(kept.size(), 0U);
  EXPECT_LT(kept.size(), input.size());
  EXPECT_EQ(kept, as_string(input).substr(0, kept.size()));
}

// With the other outputs the files are the same, and so are the outputs.
TEST(Split, WithTheOtherOutputs) {
  const bytes input = frames(30) + frames(5, dated(evening)) + frames(1, bad_header()) + frames(2);
  for (const feed how : every_feed) {
    SCOPED_TRACE(feed_name(how));
    split_dir d;
    const std::string alone_subs = d.dir.file("alone.sub");
    const std::string split_subs = d.dir.file("split.sub");
    const run_result alone = run_fed(
        d.dir, input,
        {"-i", "--subtitles-out", alone_subs, "--recordings-out", d.dir.file("alone.txt")}, how);
    const run_result split = run_fed(d.dir, input,
                                     {"-i", "--subtitles-out", split_subs, "--recordings-out",
                                      d.dir.file("split.txt"), "--split", d.prefix()},
                                     how);
    EXPECT_EQ(split.status, 1);
    EXPECT_EQ(split.err, bad_header_message);
    EXPECT_EQ(split.out, alone.out);
    EXPECT_EQ(count_of(split.out, "Frame # "), 35U);
    EXPECT_EQ(read_file(split_subs), read_file(alone_subs));
    EXPECT_EQ(read_file(d.dir.file("split.txt")), read_file(d.dir.file("alone.txt")));
    const std::map<std::string, std::string> expected = {
        {"t-001_2008-05-17_12-30-00.dv", as_string(frames(30))},
        {"t-002_2008-05-17_18-05-58.dv",
         as_string(frames(5, dated(evening)) + frames(1, bad_header()) + frames(2))},
    };
    EXPECT_EQ(files_in(d.out), expected);
  }
}

TEST(Split, PassThroughCopiesTheWholeStreamAsWell) {
  const bytes input = frames(4) + frames(3, ntsc()) + first_bytes(frames(1, ntsc()), 50000);
  for (const feed how : {feed::no_mmap, feed::pipe}) {
    SCOPED_TRACE(feed_name(how));
    split_dir d;
    const run_result r = run_fed(d.dir, input, {"-p", "--split", d.prefix()}, how);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, premature(50000));
    EXPECT_EQ(r.out, as_string(input));
    const std::map<std::string, std::string> files = files_in(d.out);
    EXPECT_EQ(files.size(), 2U);
    EXPECT_EQ(joined(files), as_string(input));
  }
}

}  // namespace
}  // namespace test_support
