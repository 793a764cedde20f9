#!/usr/bin/env bash
# Installs the package on this machine the way a user does (apt, which resolves its
# dependencies), runs the installed program, and removes it again, leaving the machine as it
# was: the package purged, every dependency it brought in purged too, none of its files left.
# Needs root; skipped (with the reason, status 77) otherwise, or when brimwell is installed
# already (someone's own copy is not ours to remove).
# Usage: package_install_test.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "installing a package needs root (CI runs as root)"
command -v apt-get >/dev/null || skip "no apt-get on this machine"
installed() {
  dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' 2>/dev/null | awk '$1 ~ /^.i/ {print $2}' |
    sort
}
if installed | grep -qx brimwell; then
  skip "brimwell is installed on this machine already; not replacing it"
fi

before=$(installed)
export DEBIAN_FRONTEND=noninteractive
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# Whatever happens below, the machine gets back the packages it had.
restore() {
  local added
  added=$(comm -13 <(echo "$before") <(installed))
  if [ -n "$added" ]; then
    # shellcheck disable=SC2086
    apt-get purge -y -qq $added >/dev/null 2>&1 || echo "could not purge: $added" >&2
  fi
}
trap restore EXIT

files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' | grep -v '/$')
if ! apt-get install -y -qq --no-install-recommends "$deb" >/tmp/brimwell-apt.log 2>&1; then
  cat /tmp/brimwell-apt.log >&2
  rm -f /tmp/brimwell-apt.log
  fail "apt-get install $deb"
  exit 1
fi
rm -f /tmp/brimwell-apt.log

[ "$(command -v brimwell)" = /usr/bin/brimwell ] || fail "brimwell is not /usr/bin/brimwell"
version=$(brimwell --version) || fail "brimwell --version failed"
expected_version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "brimwell $expected_version" ] ||
  fail "--version says '$version', the package is $expected_version"
sample=$(brimwell --sample) || fail "brimwell --sample failed"
grep -qE '^free memory: [0-9.]+ (GB|MB|KB|B)$' <<<"$sample" || fail "--sample printed: $sample"
# Every private library the program loads is the installed one, found through the RUNPATH
# ("/usr/bin/../lib/..." as ldd names it).
loaded=$(ldd /usr/bin/brimwell)
private=0
for file in $files; do
  case $file in
    /usr/lib/*/brimwell/*.so.*) ;;
    *) continue ;;
  esac
  [ -L "$file" ] || continue
  private=$((private + 1))
  path=$(awk -v name="$(basename "$file")" '$1 == name && $2 == "=>" {print $3}' <<<"$loaded")
  [ -n "$path" ] && [ "$(realpath "$path")" = "$(realpath "$file")" ] ||
    fail "$(basename "$file") is not loaded from $file: $loaded"
done
[ $private -gt 0 ] || fail "the package holds no private library under /usr/lib/<triplet>/brimwell"
[ "$(man -w brimwell)" = /usr/share/man/man1/brimwell.1.gz ] || fail "man -w brimwell"

apt-get purge -y -qq brimwell >/dev/null || fail "apt-get purge brimwell"
restore
trap - EXIT
if installed | grep -qx brimwell; then
  fail "brimwell is still installed"
fi
left=""
for file in $files; do
  if [ -e "$file" ] || [ -L "$file" ]; then
    left+=" $file"
  fi
done
[ -z "$left" ] || fail "left behind:$left"
[ "$(installed)" = "$before" ] || fail "the installed packages differ from before the test"

[ $failures -eq 0 ]
echo "ok: installed, ran --version and --sample, and purged $(basename "$deb")"
