#!/usr/bin/env bash
# Installs the build into a staging folder as a packager would (DESTDIR) and checks the tree:
# exactly the expected files, the private library where the program's RUNPATH points and found
# there (not in the build tree), no development link, no headers, and a program that runs.
# Usage: install_tree_test.sh BUILD_DIR EXPECTED_FILE_LIST PRIVATE_LIBDIR CHECK_FILES_SCRIPT
set -euo pipefail
build=$1 expected=$2 private=$3 check_files=$4
stage=$(mktemp -d /tmp/brimwell-stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
prefix=/usr/local
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >/dev/null
root=$stage$prefix
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

(cd "$root" && find . \( -type f -o -type l \) -printf '%P\n') | "$check_files" - "$expected" ||
  failures=$((failures + 1))

program=$root/bin/brimwell
runpath=$(readelf -d "$program" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ "$runpath" = "\$ORIGIN/$(realpath -m --relative-to=/bin "/$private")" ] ||
  fail "the program's RUNPATH is '$runpath', its private libraries are in $private"
for library in "$root/$private"/*; do
  [ -L "$library" ] && continue
  if readelf -d "$library" | grep -qE '\((RUNPATH|RPATH)\)'; then
    fail "$(basename "$library") has a library search path of its own"
  fi
done
# Every library the program needs resolves, the private ones inside the staged tree.
resolved=$(env -u LD_LIBRARY_PATH ldd "$program")
if grep -q 'not found' <<<"$resolved"; then
  fail "unresolved libraries: $(grep 'not found' <<<"$resolved")"
fi
for library in "$root/$private"/*; do
  [ -L "$library" ] || continue
  name=$(basename "$library")
  found=$(awk -v name="$name" '$1 == name && $2 == "=>" {print $3}' <<<"$resolved")
  [ -n "$found" ] && [ "$(realpath "$found")" = "$(realpath "$library")" ] ||
    fail "$name is not found through the RUNPATH: ${found:-nowhere}"
done
version=$(env -u LD_LIBRARY_PATH "$program" --version) || fail "the installed program does not run"
[[ $version == "brimwell "* ]] || fail "--version printed '$version'"

[ $failures -eq 0 ]
echo "installed tree as expected under $prefix"
