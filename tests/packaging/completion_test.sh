#!/usr/bin/env bash
# Checks the bash completion of tapestamp: option names, file names for the operands and the
# two output files, nothing for the free-text values. Each case runs twice, once inside the
# bash-completion framework and once with the completion file alone in plain bash.
#
# Usage: completion_test.sh COMPLETION_FILE TAPESTAMP_BINARY
set -uo pipefail
export LC_ALL=C

completion_file=$(realpath "$1")
binary=$(realpath "$2")
framework=/usr/share/bash-completion/bash_completion

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir tapes
touch tape.dv tape.sub notes.txt tapes/one.dv -- -odd.dv

# Every option the usage text lists, short and long, sorted: what "-" must complete to.
expected_options=$("$binary" -h |
  sed -nE 's/^ (-[a-zA-Z]), (--[a-z0-9-]+) .*/\1\n\2/p; s/^     (--[a-z0-9-]+) .*/\1/p' | sort)

failures=0

# complete_case MODE EXPECTED LINE: completes the end of the command line "tapestamp LINE",
# split into words as bash splits it (at blanks, and around "="), and compares the sorted
# replies, one a line, with EXPECTED.
complete_case() {
  local mode=$1 expected=$2 line=$3
  local got
  got=$(
    MODE=$mode COMPLETION_FILE=$completion_file FRAMEWORK=$framework LINE="tapestamp $line" \
      bash --norc --noprofile -c '
      if [[ $MODE == framework ]]; then
        source "$FRAMEWORK" || exit 3
        declare -F _init_completion >/dev/null || exit 3
      fi
      source "$COMPLETION_FILE" || exit 3
      COMP_WORDS=()
      read -ra blank_split <<<"$LINE"
      for word in "${blank_split[@]}"; do
        while [[ $word == *=* ]]; do
          [[ -n ${word%%=*} ]] && COMP_WORDS+=("${word%%=*}")
          COMP_WORDS+=("=")
          word=${word#*=}
        done
        [[ -n $word ]] && COMP_WORDS+=("$word")
      done
      [[ $LINE == *" " ]] && COMP_WORDS+=("")
      COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))
      COMP_LINE=$LINE
      COMP_POINT=${#COMP_LINE}
      COMPREPLY=()
      _tapestamp tapestamp "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      for reply in "${COMPREPLY[@]}"; do printf "%s\n" "$reply"; done | sort
    '
  )
  local status=$?
  if [[ $status -ne 0 || $got != "$expected" ]]; then
    printf 'FAIL [%s] tapestamp %s|\n  expected: %s\n  got (status %d): %s\n' \
      "$mode" "$line" "${expected//$'\n'/ }" "$status" "${got//$'\n'/ }"
    failures=$((failures + 1))
  else
    printf 'ok   [%s] tapestamp %s|\n' "$mode" "$line"
  fi
}

modes=(plain)
if [[ -r $framework ]]; then
  modes+=(framework)
else
  echo "FAIL: $framework is missing (package bash-completion)"
  failures=$((failures + 1))
fi

all_files=$'-odd.dv\nnotes.txt\ntape.dv\ntape.sub\ntapes'
for mode in "${modes[@]}"; do
  complete_case "$mode" "$expected_options" '-'
  complete_case "$mode" $'--subtitles\n--subtitles-format\n--subtitles-out' '--sub'
  complete_case "$mode" $'ass\nmicrodvd\nsrt\nvtt' '--subtitles-format '
  complete_case "$mode" 'srt' '-s --subtitles-format s'
  complete_case "$mode" $'csv\nffmetadata\njson\nmatroska\ntext\nvtt' '--recordings-format '
  complete_case "$mode" 'matroska' '--recordings-format=m'
  complete_case "$mode" $'tape.dv\ntape.sub\ntapes' '--recordings-out tap'
  complete_case "$mode" 'tapes/one.dv' '--split tapes/'
  complete_case "$mode" '' '--clock-offset '
  complete_case "$mode" $'--info\n--info-out' '-s --inf'
  complete_case "$mode" '-V' '-V'
  complete_case "$mode" $'tape.dv\ntape.sub\ntapes' '--info-out tap'
  complete_case "$mode" "$all_files" '--subtitles-out '
  complete_case "$mode" 'tape.sub' '-s --subtitles-out=tape.s'
  complete_case "$mode" "$all_files" '-s --info-out='
  complete_case "$mode" '-odd.dv' '--info-out -'
  complete_case "$mode" '-odd.dv' '-i --subtitles-out -'
  complete_case "$mode" $'tape.dv\ntape.sub\ntapes' '-i tape'
  complete_case "$mode" "$all_files" '-d '
  complete_case "$mode" 'tapes/one.dv' '-s tapes/'
  complete_case "$mode" '' '-n '
  complete_case "$mode" '' '--max-frames 1'
  complete_case "$mode" '' '-f '
  complete_case "$mode" '' '-b 20'
  complete_case "$mode" '' '--boundary '
  complete_case "$mode" '-odd.dv' '-s -- -'
done

if [[ $failures -ne 0 ]]; then
  echo "$failures completion case(s) failed"
  exit 1
fi
