// The list of recordings: where each recording starts and why, what it covers, and the six
// formats it is written in, with several inputs, limits, clock offsets and awkward names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fixtures.hpp"
#include "run_tool.hpp"

namespace test_support {
namespace {

using dv_synth::date_time;

const std::string csv_header =
    "file,recording,first_frame,last_frame,frames,start,end,recorded_start,recorded_end,reason,"
    "system\r\n";

const std::string header_error =
    "dv_parse_header() failed\nInput stream is corrupted or isn't raw DV stream!\n";

// One csv line of a recording read from standard input.
std::string row(int number, int first, int last, const std::string& start, const std::string& end,
                const std::string& from, const std::string& to, const std::string& reason,
                const std::string& system = "pal") {
  return "-," + std::to_string(number) + "," + std::to_string(first) + "," + std::to_string(last) +
         "," + std::to_string(last - first + 1) + "," + start + "," + end + "," + from + "," + to +
         "," + reason + "," + system + "\r\n";
}

dv_synth::frame_spec marked(dv_synth::frame_spec spec = {}) {
  spec.rec_start = true;
  return spec;
}

struct rule_case {
  const char* name;
  bytes input;
  std::vector<std::string> args;
  std::string rows;  // csv lines after the header
  std::string err;
  int status = 0;
};

TEST(Recordings, WhereRecordingsStart) {
  const std::string noon = "2008-05-17T12:30:00";
  const std::string noon1 = "2008-05-17T12:30:01";
  const date_time evening = {2008, 5, 17, 18, 5, 58};
  const date_time earlier = {2008, 5, 17, 12, 29, 0};
  dv_synth::frame_spec bad;
  bad.bad_header = true;
  const bytes pal2 = frames(2, dated(evening));
  const std::vector<rule_case> cases = {
      {"one recording",
       frames(50),
       {},
       row(1, 0, 49, "0.000", "2.000", noon, noon1, "stream-start"),
       "",
       0},
      {"no frames at all", {}, {}, "", "", 0},
      {"undated frames only",
       frames(5, undated()),
       {},
       row(1, 0, 4, "0.000", "0.200", "", "", "stream-start"),
       "",
       0},
      {"a dropout inside a recording makes no break",
       frames(10) + frames(5, undated()) + frames(10, dated({2008, 5, 17, 12, 30, 0})),
       {},
       row(1, 0, 24, "0.000", "1.000", noon, noon, "stream-start"),
       "",
       0},
      {"blank tape between two recordings belongs to the first",
       frames(25) + frames(25, undated()) + frames(25, dated(evening)),
       {},
       row(1, 0, 49, "0.000", "2.000", noon, noon, "stream-start") +
           row(2, 50, 74, "2.000", "3.000", "2008-05-17T18:05:58", "2008-05-17T18:05:58",
               "time-jump"),
       "",
       0},
      {"a jump back",
       frames(25) + frames(25, dated(earlier)),
       {},
       row(1, 0, 24, "0.000", "1.000", noon, noon, "stream-start") +
           row(2, 25, 49, "1.000", "2.000", "2008-05-17T12:29:00", "2008-05-17T12:29:00",
               "time-jump"),
       "",
       0},
      {"two seconds on a frame later is a jump",
       frames(1) + frames(1, dated({2008, 5, 17, 12, 30, 2})),
       {},
       row(1, 0, 0, "0.000", "0.040", noon, noon, "stream-start") +
           row(2, 1, 1, "0.040", "0.080", "2008-05-17T12:30:02", "2008-05-17T12:30:02",
               "time-jump"),
       "",
       0},
      {"the next second a frame later is no jump",
       frames(1) + frames(1, dated({2008, 5, 17, 12, 30, 1})),
       {},
       row(1, 0, 1, "0.000", "0.080", noon, noon1, "stream-start"),
       "",
       0},
      {"the time of a dropout counts",
       frames(1) + frames(25, undated()) + frames(1, dated({2008, 5, 17, 12, 30, 2})),
       {},
       row(1, 0, 26, "0.000", "1.080", noon, "2008-05-17T12:30:02", "stream-start"),
       "",
       0},
      {"a 625/50 to 525/60 switch",
       frames(25) + frames(30, dated({2008, 5, 17, 12, 30, 1}, ntsc()), 30),
       {},
       row(1, 0, 24, "0.000", "1.000", noon, noon, "stream-start") +
           row(2, 25, 54, "1.000", "2.001", noon1, noon1, "system-change", "ntsc"),
       "",
       0},
      {"the recording-start mark counts where the frame before has none",
       frames(3) + frames(2, marked()) + frames(2) + frames(1, marked()),
       {},
       row(1, 0, 2, "0.000", "0.120", noon, noon, "stream-start") +
           row(2, 3, 6, "0.120", "0.280", noon, noon, "rec-start") +
           row(3, 7, 7, "0.280", "0.320", noon, noon, "rec-start"),
       "",
       0},
      {"a marked first frame starts the stream",
       frames(2, marked()),
       {},
       row(1, 0, 1, "0.000", "0.080", noon, noon, "stream-start"),
       "",
       0},
      {"a date appearing",
       frames(10, undated()) + frames(10),
       {},
       row(1, 0, 9, "0.000", "0.400", "", "", "stream-start") +
           row(2, 10, 19, "0.400", "0.800", noon, noon, "date-appears"),
       "",
       0},
      {"every reason in one stream",
       frames(10, undated()) + frames(10) + frames(10, dated(earlier)) +
           frames(10, dated(earlier, ntsc())) + frames(10, dated(earlier, marked(ntsc()))),
       {},
       row(1, 0, 9, "0.000", "0.400", "", "", "stream-start") +
           row(2, 10, 19, "0.400", "0.800", noon, noon, "date-appears") +
           row(3, 20, 29, "0.800", "1.200", "2008-05-17T12:29:00", "2008-05-17T12:29:00",
               "time-jump") +
           row(4, 30, 39, "1.200", "1.533", "2008-05-17T12:29:00", "2008-05-17T12:29:00",
               "system-change", "ntsc") +
           row(5, 40, 49, "1.533", "1.867", "2008-05-17T12:29:00", "2008-05-17T12:29:00",
               "rec-start", "ntsc"),
       "",
       0},
      {"the first rule that holds gives the reason",
       frames(2) + frames(1, dated(evening, ntsc())) + frames(1, dated(earlier, marked(ntsc()))),
       {},
       row(1, 0, 1, "0.000", "0.080", noon, noon, "stream-start") +
           row(2, 2, 2, "0.080", "0.113", "2008-05-17T18:05:58", "2008-05-17T18:05:58",
               "system-change", "ntsc") +
           row(3, 3, 3, "0.113", "0.146", "2008-05-17T12:29:00", "2008-05-17T12:29:00", "rec-start",
               "ntsc"),
       "",
       0},
      {"a stream cut inside its last frame",
       frames(10) + frames(10, dated(evening)) + bytes(pal2.begin(), pal2.end() - 1),
       {},
       row(1, 0, 9, "0.000", "0.400", noon, noon, "stream-start") +
           row(2, 10, 20, "0.400", "0.840", "2008-05-17T18:05:58", "2008-05-17T18:05:58",
               "time-jump"),
       "remains only 143999 bytes, premature EOF?\n",
       1},
      {"a rejected header mid-stream",
       frames(10) + frames(10, dated(evening)) + frames(1, bad) + frames(10),
       {},
       row(1, 0, 9, "0.000", "0.400", noon, noon, "stream-start") +
           row(2, 10, 19, "0.400", "0.800", "2008-05-17T18:05:58", "2008-05-17T18:05:58",
               "time-jump"),
       header_error,
       1},
      {"a frame limit ends the recording it falls in",
       frames(25) + frames(25, dated(evening)),
       {"-n", "30"},
       row(1, 0, 24, "0.000", "1.000", noon, noon, "stream-start") +
           row(2, 25, 29, "1.000", "1.200", "2008-05-17T18:05:58", "2008-05-17T18:05:58",
               "time-jump"),
       "",
       0},
      {"the clock offset moves the recorded times",
       frames(26, {}, 1),
       {"--clock-offset", "-1d2h30m"},
       row(1, 0, 25, "0.000", "1.040", "2008-05-16T10:00:00", "2008-05-16T10:00:25",
           "stream-start"),
       "",
       0},
  };
  temp_dir dir;
  for (const rule_case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("in.dv"), c.input);
    std::vector<std::string> args = {"--recordings", "--recordings-format", "csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    run_input input;
    input.stdin_file = dir.file("in.dv");
    const run_result r = run_tool(args, input);
    EXPECT_EQ(r.out, csv_header + c.rows);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
    // A pipe gives the same list.
    input.stdin_file.reset();
    input.stdin_pipe = as_string(c.input);
    const run_result piped = run_tool(args, input);
    EXPECT_EQ(piped.out, r.out);
    EXPECT_EQ(piped.err, c.err);
    EXPECT_EQ(piped.status, c.status);
  }
}

struct format_case {
  const char* format;
  std::string out;
};

// Three inputs played one after the other, one of them empty: two recordings in a.dv, none in
// empty.dv, one in b.dv (525/60) and an undated one in c.dv. Numbers run on through the run,
// frames and stream seconds start again in each input, chapter times run on.
TEST(Recordings, EveryFormatWithSeveralInputs) {
  temp_dir dir;
  write_file(dir.file("a.dv"), frames(25) + frames(25, dated({2008, 5, 17, 18, 5, 58})));
  write_file(dir.file("empty.dv"), bytes());
  write_file(dir.file("b.dv"), frames(30, dated({2008, 5, 18, 9, 0, 0}, ntsc()), 30));
  write_file(dir.file("c.dv"), frames(10, undated()));
  const std::string a = dir.file("a.dv");
  const std::string b = dir.file("b.dv");
  const std::string c = dir.file("c.dv");
  const std::vector<format_case> cases = {
      {"text",
       " rec    first     last   frames      start        end  recorded start       recorded end "
       "        reason         system  file\n"
       "   1        0       24       25      0.000      1.000  2008-05-17 12:30:00  2008-05-17 "
       "12:30:00  stream-start   pal     " +
           a +
           "\n"
           "   2       25       49       25      1.000      2.000  2008-05-17 18:05:58  "
           "2008-05-17 18:05:58  time-jump      pal     " +
           a +
           "\n"
           "   3        0       29       30      0.000      1.001  2008-05-18 09:00:00  "
           "2008-05-18 09:00:00  stream-start   ntsc    " +
           b +
           "\n"
           "   4        0        9       10      0.000      0.400  -                    -      "
           "              stream-start   pal     " +
           c + "\n"},
      {"csv",
       csv_header + a +
           ",1,0,24,25,0.000,1.000,2008-05-17T12:30:00,2008-05-17T12:30:00,stream-start,pal\r\n" +
           a + ",2,25,49,25,1.000,2.000,2008-05-17T18:05:58,2008-05-17T18:05:58,time-jump,pal\r\n" +
           b +
           ",3,0,29,30,0.000,1.001,2008-05-18T09:00:00,2008-05-18T09:00:00,stream-start,ntsc\r\n" +
           c + ",4,0,9,10,0.000,0.400,,,stream-start,pal\r\n"},
      {"json",
       "[\n  {\"file\": \"" + a +
           "\", \"recording\": 1, \"first_frame\": 0, \"last_frame\": 24, \"frames\": 25, "
           "\"start\": 0.000, \"end\": 1.000, \"recorded_start\": \"2008-05-17T12:30:00\", "
           "\"recorded_end\": \"2008-05-17T12:30:00\", \"reason\": \"stream-start\", "
           "\"system\": \"pal\"},\n"
           "  {\"file\": \"" +
           a +
           "\", \"recording\": 2, \"first_frame\": 25, \"last_frame\": 49, \"frames\": 25, "
           "\"start\": 1.000, \"end\": 2.000, \"recorded_start\": \"2008-05-17T18:05:58\", "
           "\"recorded_end\": \"2008-05-17T18:05:58\", \"reason\": \"time-jump\", "
           "\"system\": \"pal\"},\n"
           "  {\"file\": \"" +
           b +
           "\", \"recording\": 3, \"first_frame\": 0, \"last_frame\": 29, \"frames\": 30, "
           "\"start\": 0.000, \"end\": 1.001, \"recorded_start\": \"2008-05-18T09:00:00\", "
           "\"recorded_end\": \"2008-05-18T09:00:00\", \"reason\": \"stream-start\", "
           "\"system\": \"ntsc\"},\n"
           "  {\"file\": \"" +
           c +
           "\", \"recording\": 4, \"first_frame\": 0, \"last_frame\": 9, \"frames\": 10, "
           "\"start\": 0.000, \"end\": 0.400, \"recorded_start\": null, \"recorded_end\": null, "
           "\"reason\": \"stream-start\", \"system\": \"pal\"}\n]\n"},
      {"ffmetadata",
       ";FFMETADATA1\n"
       "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=2008-05-17 12:30:00\n"
       "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=2008-05-17 18:05:58\n"
       "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=3001\ntitle=2008-05-18 09:00:00\n"
       "\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=3001\nEND=3401\ntitle=no recording date\n"},
      {"matroska",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n"
       "<Chapters>\n  <EditionEntry>\n"
       "    <ChapterAtom>\n"
       "      <ChapterTimeStart>00:00:00.000000000</ChapterTimeStart>\n"
       "      <ChapterTimeEnd>00:00:01.000000000</ChapterTimeEnd>\n"
       "      <ChapterDisplay>\n"
       "        <ChapterString>2008-05-17 12:30:00</ChapterString>\n"
       "        <ChapterLanguage>und</ChapterLanguage>\n"
       "      </ChapterDisplay>\n"
       "    </ChapterAtom>\n"
       "    <ChapterAtom>\n"
       "      <ChapterTimeStart>00:00:01.000000000</ChapterTimeStart>\n"
       "      <ChapterTimeEnd>00:00:02.000000000</ChapterTimeEnd>\n"
       "      <ChapterDisplay>\n"
       "        <ChapterString>2008-05-17 18:05:58</ChapterString>\n"
       "        <ChapterLanguage>und</ChapterLanguage>\n"
       "      </ChapterDisplay>\n"
       "    </ChapterAtom>\n"
       "    <ChapterAtom>\n"
       "      <ChapterTimeStart>00:00:02.000000000</ChapterTimeStart>\n"
       "      <ChapterTimeEnd>00:00:03.001000000</ChapterTimeEnd>\n"
       "      <ChapterDisplay>\n"
       "        <ChapterString>2008-05-18 09:00:00</ChapterString>\n"
       "        <ChapterLanguage>und</ChapterLanguage>\n"
       "      </ChapterDisplay>\n"
       "    </ChapterAtom>\n"
       "    <ChapterAtom>\n"
       "      <ChapterTimeStart>00:00:03.001000000</ChapterTimeStart>\n"
       "      <ChapterTimeEnd>00:00:03.401000000</ChapterTimeEnd>\n"
       "      <ChapterDisplay>\n"
       "        <ChapterString>no recording date</ChapterString>\n"
       "        <ChapterLanguage>und</ChapterLanguage>\n"
       "      </ChapterDisplay>\n"
       "    </ChapterAtom>\n"
       "  </EditionEntry>\n</Chapters>\n"},
      {"vtt",
       "WEBVTT\n\n"
       "1\n00:00:00.000 --> 00:00:01.000\n2008-05-17 12:30:00\n\n"
       "2\n00:00:01.000 --> 00:00:02.000\n2008-05-17 18:05:58\n\n"
       "3\n00:00:02.000 --> 00:00:03.001\n2008-05-18 09:00:00\n\n"
       "4\n00:00:03.001 --> 00:00:03.401\nno recording date\n\n"},
  };
  for (const format_case& fc : cases) {
    SCOPED_TRACE(fc.format);
    const run_result r =
        run_tool({"--recordings", "--recordings-format", fc.format, a, dir.file("empty.dv"), b, c});
    EXPECT_EQ(r.out, fc.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    // The same into a file, and into "-".
    const run_result to_file =
        run_tool({"--recordings-out", dir.file("list"), "--recordings-format", fc.format, a,
                  dir.file("empty.dv"), b, c});
    EXPECT_EQ(to_file.out, "");
    EXPECT_EQ(to_file.status, 0);
    EXPECT_EQ(read_file(dir.file("list")), fc.out);
    const run_result dash = run_tool(
        {"--recordings-out", "-", "--recordings-format", fc.format, a, dir.file("empty.dv"), b, c});
    EXPECT_EQ(dash.out, fc.out);
  }
}

// With no recording at all each format still gives a valid file: its empty form.
TEST(Recordings, EmptyForms) {
  const std::string text_header =
      " rec    first     last   frames      start        end  recorded start       recorded end "
      "        reason         system  file\n";
  const std::string xml_head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE Chapters SYSTEM \"matroskachapters.dtd\">\n";
  const std::vector<format_case> cases = {
      {"text", text_header},
      {"csv", csv_header},
      {"json", "[]\n"},
      {"ffmetadata", ";FFMETADATA1\n"},
      {"matroska", xml_head + "<Chapters/>\n"},
      {"vtt", "WEBVTT\n\n"},
  };
  temp_dir dir;
  write_file(dir.file("empty.dv"), bytes());
  write_file(dir.file("bad.dv"), filler(100));
  for (const format_case& fc : cases) {
    SCOPED_TRACE(fc.format);
    const run_result empty =
        run_tool({"--recordings", "--recordings-format", fc.format, dir.file("empty.dv")});
    EXPECT_EQ(empty.out, fc.out);
    EXPECT_EQ(empty.err, "");
    EXPECT_EQ(empty.status, 0);
    // Inputs that fail before their first frame, or cannot be opened, give it too.
    const run_result failed = run_tool({"--recordings", "--recordings-format", fc.format,
                                        dir.file("bad.dv"), dir.file("missing.dv")});
    EXPECT_EQ(failed.out, fc.out);
    EXPECT_EQ(failed.err, "remains only 100 bytes, premature EOF?\nopen(\"" +
                              dir.file("missing.dv") +
                              "\"...) failed: No such file or directory\n");
    EXPECT_EQ(failed.status, 1);
  }
}

struct name_case {
  const char* name;  // the input's file name
  std::string csv;   // its csv field
  std::string json;  // its json string
};

// File names are bytes: csv quotes them as RFC 4180 says, json escapes them and gives
// bytes that are not UTF-8 as the Latin-1 characters of their values.
TEST(Recordings, AwkwardNames) {
  const std::vector<name_case> cases = {
      {"plain.dv", "plain.dv", "\"plain.dv\""},
      {"a,b.dv", "\"a,b.dv\"", "\"a,b.dv\""},
      {"say \"hi\".dv", "\"say \"\"hi\"\".dv\"", "\"say \\\"hi\\\".dv\""},
      {"back\\slash.dv", "back\\slash.dv", "\"back\\\\slash.dv\""},
      {"new\nline.dv", "\"new\nline.dv\"", "\"new\\nline.dv\""},
      {"cr\r.dv", "\"cr\r.dv\"", "\"cr\\r.dv\""},
      {"tab\t\x01\x1f.dv", "tab\t\x01\x1f.dv", "\"tab\\t\\u0001\\u001f.dv\""},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa5.dv",
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa5.dv",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xa5.dv\""},
      {"caf\xe9.dv", "caf\xe9.dv", "\"caf\\u00e9.dv\""},
      // A cut sequence, an overlong form, a surrogate and a code point past U+10FFFF.
      {"\xc3.\xe2\x82.\xc0\xaf.\xed\xa0\x80.\xf4\x90\x80\x80",
       "\xc3.\xe2\x82.\xc0\xaf.\xed\xa0\x80.\xf4\x90\x80\x80",
       "\"\\u00c3.\\u00e2\\u0082.\\u00c0\\u00af.\\u00ed\\u00a0\\u0080."
       "\\u00f4\\u0090\\u0080\\u0080\""},
  };
  temp_dir dir;
  for (const name_case& c : cases) {
    SCOPED_TRACE(c.name);
    // Run in the folder, so the name is the input's whole name.
    const std::string path = dir.file(c.name);
    write_file(path, frames(1));
    run_input in_dir;
    in_dir.prefix = {"/usr/bin/env", "-C", dir.path().string()};
    const run_result csv = run_tool({"--recordings", "--recordings-format", "csv", c.name}, in_dir);
    EXPECT_EQ(csv.out, csv_header + c.csv +
                           ",1,0,0,1,0.000,0.040,2008-05-17T12:30:00,2008-05-17T12:30:00,"
                           "stream-start,pal\r\n");
    EXPECT_EQ(csv.status, 0);
    const run_result json =
        run_tool({"--recordings", "--recordings-format", "json", c.name}, in_dir);
    EXPECT_EQ(json.out, "[\n  {\"file\": " + c.json +
                            ", \"recording\": 1, \"first_frame\": 0, \"last_frame\": 0, "
                            "\"frames\": 1, \"start\": 0.000, \"end\": 0.040, "
                            "\"recorded_start\": \"2008-05-17T12:30:00\", \"recorded_end\": "
                            "\"2008-05-17T12:30:00\", \"reason\": \"stream-start\", "
                            "\"system\": \"pal\"}\n]\n");
    EXPECT_EQ(json.status, 0);
    std::remove(path.c_str());
  }
}

// Each recording is written as soon as the next one starts, while the input is still coming.
TEST(Recordings, WrittenAsTheyEnd) {
  temp_dir dir;
  const std::string fifo = dir.file("capture");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string list = dir.file("list.csv");
  run_result result;
  std::thread tool([&] {
    result = run_tool({"--recordings-out", list, "--recordings-format", "csv", fifo});
  });
  const int fd = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const auto put = [fd](const bytes& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = write(fd, data.data() + done, data.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
  };
  const std::string first =
      "-,1,0,4,5,0.000,0.200,2008-05-17T12:30:00,2008-05-17T12:30:00,stream-start,pal\r\n";
  put(frames(5) + frames(1, dated({2008, 5, 17, 18, 0, 0})));
  // Wait (up to a minute on a slow machine) for the first recording to show.
  std::string seen;
  for (int i = 0; i < 600 && seen.find("stream-start") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (std::filesystem::exists(list)) {
      seen = read_file(list);
    }
  }
  EXPECT_EQ(seen, csv_header + fifo + first.substr(1));
  put(frames(1, dated({2008, 5, 17, 18, 0, 0})));
  close(fd);
  tool.join();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(list), csv_header + fifo + first.substr(1) + fifo +
                                 ",2,5,6,2,0.200,0.280,2008-05-17T18:00:00,2008-05-17T18:00:00,"
                                 "time-jump,pal\r\n");
}

// A list that cannot be written ends the run with status 1, with or without recordings.
TEST(Recordings, WriteErrors) {
  temp_dir dir;
  write_file(dir.file("tape.dv"), frames(25) + frames(25, dated({2008, 5, 17, 18, 5, 58})));
  write_file(dir.file("empty.dv"), bytes());
  for (const char* input : {"tape.dv", "empty.dv"}) {
    for (const char* format : {"text", "json", "matroska"}) {
      SCOPED_TRACE(std::string(input) + " " + format);
      const run_result file = run_tool(
          {"--recordings-out", "/dev/full", "--recordings-format", format, dir.file(input)});
      EXPECT_EQ(file.err, "fclose() (file `/dev/full') failed: No space left on device\n");
      EXPECT_EQ(file.status, 1);
      run_input full;
      full.stdout_file = "/dev/full";
      const run_result out =
          run_tool({"--recordings", "--recordings-format", format, dir.file(input)}, full);
      EXPECT_EQ(out.err, "fflush() (stdout) failed: No space left on device\n");
      EXPECT_EQ(out.status, 1);
    }
  }
}

}  // namespace
}  // namespace test_support
