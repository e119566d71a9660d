#!/usr/bin/env bash
# Checks the manual page: it formats without a warning from groff or mandoc, and it keeps up
# with the program: the version, every option of the usage text, every message the sources
# print on standard error, and the bug address.
#
# Usage: manpage_test.sh MANPAGE TAPESTAMP_BINARY SOURCE_DIR
set -uo pipefail
export LC_ALL=C

manpage=$1
binary=$2
sources=$3
failures=0

fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# Formatting: both formatters stay silent at their strictest.
warnings=$(groff -man -Tutf8 -ww -z "$manpage" 2>&1) || fail "groff exits with an error"
[[ -z $warnings ]] || fail "groff warns:"$'\n'"$warnings"
warnings=$(mandoc -Tlint -W style "$manpage" 2>&1) || fail "mandoc -Tlint:"$'\n'"$warnings"
[[ -z $warnings ]] || fail "mandoc warns:"$'\n'"$warnings"

# The text as a reader sees it, in ASCII, unwrapped, without overstriking.
text=$(groff -man -Tascii -rLL=400n -P-cbou "$manpage" 2>/dev/null)
[[ -n $text ]] || fail "the page renders to nothing"

version=$("$binary" -V | awk '{print $2}')
grep -qE "^tapestamp $version +[0-9-]+ +TAPESTAMP\(1\)$" <<<"$text" ||
  fail "the footer does not show tapestamp $version"

# Every option of the usage text, as a heading of its own description.
options=$("$binary" -h |
  sed -nE 's/^ (-[a-zA-Z]), (--[a-z0-9-]+) .*/\1\n\2/p; s/^     (--[a-z0-9-]+) .*/\1/p')
[[ $(wc -l <<<"$options") -ge 10 ]] || fail "too few options read from the usage text"
while IFS= read -r option; do
  grep -qE "^       (-[a-zA-Z] [a-z]+, )?(-[a-zA-Z], )?$option( [a-z]+)?(, --[a-z0-9-]+( [a-z]+)?)?$" \
    <<<"$text" || fail "no description of $option"
done <<<"$options"

# Every message the sources write with diag(), line by line, verbatim.
messages=$(grep -rhoE 'diag\("([^"\\]|\\.)*"' "$sources" |
  sed -E 's/^diag\("//; s/"$//; s/\\"/"/g; s/\\n/\n/g' | grep -v '^$' | sort -u)
[[ $(wc -l <<<"$messages") -ge 15 ]] || fail "too few messages read from the sources"
while IFS= read -r message; do
  grep -qxF "       $message" <<<"$text" || fail "message not listed: $message"
done <<<"$messages"

address=$("$binary" -h | sed -n 's/^Report bugs to //p')
[[ -n $address ]] && grep -qF "$address" <<<"$text" || fail "bug address '$address' missing"

if [[ $failures -ne 0 ]]; then
  echo "$failures manual page check(s) failed"
  exit 1
fi
echo "manual page: formats cleanly; version, $(wc -l <<<"$options") options and" \
  "$(wc -l <<<"$messages") messages listed"
