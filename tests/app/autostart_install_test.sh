#!/usr/bin/env bash
# Installs the autostart entry as a packager would, into a staging folder (DESTDIR), for
# several install prefixes, and checks where it lands and which program it starts.
# Usage: autostart_install_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
work=$(mktemp -d /tmp/brimwell-autostart.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

# prefix, expected folder of the entry ("" for none), then extra cmake arguments
check() {
  local prefix=$1 expected=$2
  shift 2
  rm -rf "$work/build" "$work/stage"
  if ! HOME="$work/home" XDG_CONFIG_HOME="" cmake -S "$source_dir" -B "$work/build" -G Ninja \
      -DCMAKE_INSTALL_PREFIX="$prefix" -DBRIMWELL_BUILD_TESTS=OFF -DBRIMWELL_BUILD_BENCH=OFF \
      "$@" >"$work/configure.log" 2>&1; then
    cat "$work/configure.log" >&2
    echo "FAIL: configure with prefix $prefix $*" >&2
    failures=$((failures + 1))
    return
  fi
  DESTDIR="$work/stage" cmake --install "$work/build" --component autostart >/dev/null
  local found=""
  if [ -d "$work/stage" ]; then
    found=$(cd "$work/stage" && find . -type f | sed 's|^\.||')
  fi
  local want=""
  [ -n "$expected" ] && want="$expected/brimwell.desktop"
  if [ "$found" != "$want" ]; then
    echo "FAIL: prefix $prefix $*: entry at '${found:-nowhere}', expected '${want:-nowhere}'" >&2
    failures=$((failures + 1))
    return
  fi
  if [ -n "$want" ]; then
    local entry="$work/stage$want"
    local exec
    exec=$(grep '^Exec=' "$entry")
    if [ "$exec" != "Exec=${prefix%/}/bin/brimwell" ]; then
      echo "FAIL: prefix $prefix: '$exec' does not start ${prefix%/}/bin/brimwell" >&2
      failures=$((failures + 1))
      return
    fi
    if ! grep -qx 'Type=Application' "$entry" || grep -q '@' "$entry"; then
      echo "FAIL: prefix $prefix: not a finished desktop entry:" >&2
      cat "$entry" >&2
      failures=$((failures + 1))
      return
    fi
  fi
  echo "ok: prefix $prefix $* -> ${want:-no entry}"
}

mkdir -p "$work/home"
check /usr /etc/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON
check /usr/local /etc/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON
check /usr/local/ /etc/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON
check /opt/brimwell /etc/opt/brimwell/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON
check /srv/apps /srv/apps/etc/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON
check "$work/home/.local" "$work/home/.config/autostart" -DBRIMWELL_INSTALL_AUTOSTART=ON
check /usr /srv/etc/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON -DCMAKE_INSTALL_SYSCONFDIR=/srv/etc
check /usr/local /usr/local/conf/xdg/autostart -DBRIMWELL_INSTALL_AUTOSTART=ON \
  -DCMAKE_INSTALL_SYSCONFDIR=conf
check /usr "$work/chosen" -DBRIMWELL_INSTALL_AUTOSTART=ON -DBRIMWELL_AUTOSTART_DIR="$work/chosen"
check /usr "" -DBRIMWELL_INSTALL_AUTOSTART=OFF

if [ $failures -ne 0 ]; then
  echo "$failures autostart install checks failed" >&2
  exit 1
fi
