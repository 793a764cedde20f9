#!/usr/bin/env bash
# The files a desktop reads pass the freedesktop and Debian checkers without a single remark:
# the menu entry (desktop-file-validate), the AppStream metainfo (appstreamcli, offline) and
# the manual page (man and groff with every warning on).
# Usage: data_valid_test.sh DESKTOP_ENTRY METAINFO MANPAGE
set -euo pipefail
desktop=$1 metainfo=$2 manpage=$3
failures=0
check() {
  local what=$1
  shift
  local output status=0
  output=$("$@" 2>&1) || status=$?
  # appstreamcli ends a clean run with its own success line; anything else is a remark.
  output=$(grep -v '^✔ Validation was successful' <<<"$output" | sed '/^$/d' || true)
  if [ $status -ne 0 ] || [ -n "$output" ]; then
    echo "FAIL: $what (status $status):" >&2
    echo "$output" >&2
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

check "desktop entry" desktop-file-validate "$desktop"
check "metainfo" appstreamcli validate --no-net --no-color "$metainfo"
check "manual page (man)" bash -c 'MANWIDTH=80 man --warnings -l "$1" >/dev/null' _ "$manpage"
check "manual page (groff)" groff -ww -z -man "$manpage"

# The metainfo launches the desktop entry it ships with, under the name it is installed as.
launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
if [ "$launchable" != "$(basename "$desktop")" ]; then
  echo "FAIL: metainfo launches '$launchable', the entry is $(basename "$desktop")" >&2
  failures=$((failures + 1))
fi
[ $failures -eq 0 ]
