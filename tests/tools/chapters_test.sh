#!/usr/bin/env bash
# Reads the chapter files of the recordings list back with the real tools: ffmpeg muxes a tape
# with its ffmetadata chapters into Matroska, mkvpropedit and mkvmerge put the matroska chapter
# file into one, ffmpeg reads the WebVTT chapters; ffprobe must report each recording as a
# chapter with its start, end and title.
#
# Usage: chapters_test.sh TAPESTAMP_BINARY MAKE_DV_BINARY
set -uo pipefail
export LC_ALL=C TZ=UTC

tapestamp=$(realpath "$1")
make_dv=$(realpath "$2")
failures=0

fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

for tool in ffmpeg ffprobe mkvpropedit mkvmerge; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps)"; exit 1; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1

# expect NAME EXPECTED ACTUAL
expect() {
  [[ $2 == "$3" ]] || fail "$1:"$'\n'"expected:"$'\n'"$2"$'\n'"got:"$'\n'"$3"
}

# chapters FILE: start, end and title of every chapter ffprobe finds, one a line.
chapters() {
  ffprobe -v error -show_entries chapter=start_time,end_time:chapter_tags=title -of csv=p=0 "$1"
}

# Two recordings of three seconds in one file, then a second file without any date: the
# chapter times run on from the first input into the second.
"$make_dv" --frames 75 --start '2008-05-17 12:30:00' part1.dv 2>/dev/null &&
  "$make_dv" --frames 75 --start '2008-05-17 18:05:58' part2.dv 2>/dev/null &&
  "$make_dv" --frames 25 --undated blank.dv 2>/dev/null || { echo "FAIL: make-dv"; exit 1; }
cat part1.dv part2.dv >tape.dv
cat tape.dv blank.dv >all.dv
expected='0.000000,3.000000,2008-05-17 12:30:00
3.000000,6.000000,2008-05-17 18:05:58
6.000000,7.000000,no recording date'

# ffmetadata: chapters and the video in one ffmpeg command.
"$tapestamp" --recordings-out chapters.txt --recordings-format ffmetadata tape.dv blank.dv ||
  fail "ffmetadata: tapestamp exits with $?"
if ffmpeg -v error -i all.dv -i chapters.txt -map_metadata 1 -map_chapters 1 -c copy \
  ffmetadata.mkv; then
  expect "ffmetadata chapters in ffmpeg's MKV" "$expected" "$(chapters ffmetadata.mkv)"
else
  fail "ffmpeg does not mux the ffmetadata chapters"
fi

# matroska: mkvpropedit puts them into an existing file, mkvmerge into a new one.
"$tapestamp" --recordings-out chapters.xml --recordings-format matroska tape.dv blank.dv ||
  fail "matroska: tapestamp exits with $?"
ffmpeg -v error -i all.dv -c copy plain.mkv || fail "ffmpeg does not copy the tape into MKV"
cp plain.mkv propedit.mkv
if mkvpropedit -q propedit.mkv --chapters chapters.xml; then
  expect "matroska chapters by mkvpropedit" "$expected" "$(chapters propedit.mkv)"
else
  fail "mkvpropedit refuses the chapter file"
fi
if mkvmerge -q -o merged.mkv --chapters chapters.xml plain.mkv; then
  expect "matroska chapters by mkvmerge" "$expected" "$(chapters merged.mkv)"
else
  fail "mkvmerge refuses the chapter file"
fi

# vtt: ffmpeg reads the cues with their times and titles.
"$tapestamp" --recordings-out chapters.vtt --recordings-format vtt tape.dv blank.dv ||
  fail "vtt: tapestamp exits with $?"
expect "vtt cues read by ffmpeg" "1
00:00:00,000 --> 00:00:03,000
2008-05-17 12:30:00

2
00:00:03,000 --> 00:00:06,000
2008-05-17 18:05:58

3
00:00:06,000 --> 00:00:07,000
no recording date" "$(ffmpeg -v error -i chapters.vtt -f srt -)"

# 525/60: chapter times of a frame rate of 30000/1001, to the millisecond.
"$make_dv" --ntsc --frames 30 --start '2008-05-17 12:30:00' ntsc1.dv 2>/dev/null &&
  "$make_dv" --ntsc --frames 45 --start '2008-05-17 18:05:58' ntsc2.dv 2>/dev/null ||
  fail "make-dv --ntsc"
cat ntsc1.dv ntsc2.dv >ntsc.dv
"$tapestamp" --recordings-out ntsc.txt --recordings-format ffmetadata ntsc.dv
"$tapestamp" --recordings-out ntsc.xml --recordings-format matroska ntsc.dv
ntsc_expected='0.000000,1.001000,2008-05-17 12:30:00
1.001000,2.502000,2008-05-17 18:05:58'
if ffmpeg -v error -i ntsc.dv -i ntsc.txt -map_metadata 1 -map_chapters 1 -c copy ntsc.mkv; then
  expect "525/60 ffmetadata chapters" "$ntsc_expected" "$(chapters ntsc.mkv)"
  mkvpropedit -q ntsc.mkv --chapters ntsc.xml || fail "mkvpropedit refuses the 525/60 chapters"
  expect "525/60 matroska chapters" "$ntsc_expected" "$(chapters ntsc.mkv)"
else
  fail "ffmpeg does not mux the 525/60 tape"
fi

# Nothing to list: the empty forms are valid files without a chapter.
"$tapestamp" --recordings-out none.txt --recordings-format ffmetadata /dev/null
"$tapestamp" --recordings-out none.xml --recordings-format matroska /dev/null
"$tapestamp" --recordings-out none.vtt --recordings-format vtt /dev/null
ffmpeg -v error -i tape.dv -i none.txt -map_metadata 1 -map_chapters 1 -c copy none.mkv ||
  fail "ffmpeg refuses the empty ffmetadata file"
expect "no ffmetadata chapters" "" "$(chapters none.mkv)"
cp propedit.mkv emptied.mkv
mkvpropedit -q emptied.mkv --chapters none.xml || fail "mkvpropedit refuses <Chapters/>"
expect "mkvpropedit with <Chapters/> leaves none" "" "$(chapters emptied.mkv)"
ffmpeg -v error -i none.vtt -f ffmetadata none.meta || fail "ffmpeg refuses the empty WebVTT file"

if [[ $failures -ne 0 ]]; then
  echo "$failures chapter check(s) failed"
  exit 1
fi
echo "chapters: ffmetadata, matroska and vtt read back by ffmpeg and mkvtoolnix"
