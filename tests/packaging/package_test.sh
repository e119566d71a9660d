#!/usr/bin/env bash
# Checks both ways of installing tapestamp from a build folder: the Debian package that
# `cpack -G DEB` makes, installed with dpkg into a scratch root, and `cmake --install` into a
# scratch prefix. Both must lay out the same files, the package's fields and dependencies
# must hold on this system, and the installed program must run.
#
# Usage: package_test.sh BUILD_DIR CPACK CMAKE MAKE_DV SOURCE_DIR
set -uo pipefail
export LC_ALL=C

build=$1
cpack=$2
cmake=$3
make_dv=$4
sources=$5

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
  printf 'FAIL: %s\n' "$*"
  failures=$((failures + 1))
}

# The files below ROOT, one relative path a line, sorted.
files_below() {
  (cd "$1" && find . -type f -printf '%P\n' | sort)
}

expected_files=$'bin/tapestamp\nshare/bash-completion/completions/tapestamp\nshare/doc/tapestamp/copyright\nshare/man/man1/tapestamp.1.gz'

# check_installed ROOT LABEL: the program, the manual page and the completion below ROOT
# (a prefix such as /usr) work.
check_installed() {
  local root=$1 label=$2
  local program=$root/bin/tapestamp
  local version
  version=$("$program" -V) || fail "$label: $program -V fails"
  [[ $version == "$program 0.3" ]] || fail "$label: -V prints '$version'"

  "$make_dv" --frames 50 "$scratch/sample.dv" || fail "make-dv fails"
  local subtitles
  subtitles=$("$program" -s "$scratch/sample.dv") || fail "$label: -s fails"
  [[ $subtitles == $'{0}{24}2008-05-17|12:30:00\r\n{25}{49}2008-05-17|12:30:01\r' ]] ||
    fail "$label: -s prints '$subtitles'"

  local page
  page=$(gzip -dc "$root/share/man/man1/tapestamp.1.gz" | groff -man -Tascii -P-cbou 2>&1)
  grep -qE '^ +tapestamp +- turn the recording dates' <<<"$page" ||
    fail "$label: the manual page does not render its NAME line"

  # The copyright file is machine-readable: Debian's own parser takes it, every file of the
  # source is the project's MIT licence, and the sample the tests read keeps its own.
  # Debian's own interpreter, where python3-debian is installed.
  /usr/bin/python3 - "$root/share/doc/tapestamp/copyright" "$sources/LICENSE" <<'PYTHON' ||
import sys
from debian.copyright import Copyright
with open(sys.argv[1], encoding="utf-8") as f:
    copyright = Copyright(f, strict=True)
project = copyright.find_files_paragraph("src/cli/cli.cpp")
assert project.license.synopsis == "MIT", project.license.synopsis
sample = copyright.find_files_paragraph("tests/samples/sony_good_quality.dv")
assert sample.license.synopsis == "MIT or Apache-2.0", sample.license.synopsis
assert "James Johnston" in sample.copyright
stanzas = [p for p in copyright.all_license_paragraphs() if p.license.synopsis == "MIT"]
assert stanzas, "no MIT licence text"
with open(sys.argv[2], encoding="utf-8") as f:
    licence = " ".join(f.read().split("\n", 4)[4].split())
assert " ".join(stanzas[0].license.text.replace("\n.\n", "\n").split()) == licence
PYTHON
    fail "$label: the copyright file does not hold the licences"

  local completion
  completion=$(bash --norc --noprofile -c \
    'source "$1" && complete -p tapestamp' completion "$root/share/bash-completion/completions/tapestamp")
  [[ $completion == 'complete -F _tapestamp tapestamp' ]] ||
    fail "$label: the completion registers '$completion'"
}

# The package.
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack -G DEB fails"; }
arch=$(dpkg --print-architecture)
deb=$scratch/package/tapestamp_0.3_${arch}.deb
if [[ ! -f $deb ]]; then
  fail "no $deb; cpack made: $(ls "$scratch/package")"
else
  field() { dpkg-deb --field "$deb" "$1"; }
  [[ $(field Package) == tapestamp ]] || fail "Package: $(field Package)"
  [[ $(field Version) == 0.3 ]] || fail "Version: $(field Version)"
  [[ $(field Section) == video ]] || fail "Section: $(field Section)"
  [[ $(field Architecture) == "$arch" ]] || fail "Architecture: $(field Architecture)"
  # The maintainer is reached at the domain of the bug address in the usage text.
  site=$("$build/tapestamp" -h | sed -n 's|^Report bugs to https://\([^/]*\)/.*|\1|p')
  [[ -n $site && $(field Maintainer) == *' <'*"@$site>" ]] ||
    fail "Maintainer: $(field Maintainer), not at '$site'"
  [[ -n $(field Description) ]] || fail "no Description"

  # Every dependency names a package installed here, in a version that satisfies it.
  depends=$(field Depends)
  [[ $depends == *libdv4* ]] || fail "Depends lacks libdv4: $depends"
  IFS=',' read -ra clauses <<<"$depends"
  for clause in "${clauses[@]}"; do
    satisfied=0
    IFS='|' read -ra alternatives <<<"$clause"
    for alternative in "${alternatives[@]}"; do
      read -r name relation <<<"$alternative"
      name=${name%%:*}
      installed=$(dpkg-query -W -f='${Status} ${Version}' "$name" 2>/dev/null) || continue
      [[ $installed == 'install ok installed '* ]] || continue
      if [[ -z $relation ]]; then
        satisfied=1
      else
        relation=${relation#(}
        relation=${relation%)}
        read -r op version <<<"$relation"
        dpkg --compare-versions "${installed##* }" "$op" "$version" && satisfied=1
      fi
    done
    [[ $satisfied -eq 1 ]] || fail "dependency not satisfied here: $clause"
  done

  # Installed with dpkg into a scratch root of its own (the libraries it needs are this
  # system's, hence --force-depends).
  root=$scratch/root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status"
  dpkg --root="$root" --log=/dev/null --force-depends --force-not-root -i "$deb" \
    >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i fails"; }
  status=$(dpkg --root="$root" -s tapestamp 2>/dev/null | sed -n 's/^Status: //p')
  [[ $status == 'install ok installed' ]] || fail "dpkg reports the package as '$status'"
  [[ $(files_below "$root/usr") == "$expected_files" ]] ||
    fail "the package installs:"$'\n'"$(files_below "$root/usr")"
  check_installed "$root/usr" package
fi

# cmake --install into a prefix of its own.
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; fail "cmake --install fails"; }
[[ $(files_below "$prefix") == "$expected_files" ]] ||
  fail "cmake --install installs:"$'\n'"$(files_below "$prefix")"
check_installed "$prefix" "cmake --install"
if [[ -d ${root:-} ]]; then
  for file in share/man/man1/tapestamp.1.gz share/bash-completion/completions/tapestamp \
    share/doc/tapestamp/copyright; do
    cmp -s "$prefix/$file" "$root/usr/$file" || fail "$file differs between the two installs"
  done
fi

if [[ $failures -ne 0 ]]; then
  echo "$failures packaging check(s) failed"
  exit 1
fi
echo "package $(basename "$deb") and cmake --install: same files, both run"
