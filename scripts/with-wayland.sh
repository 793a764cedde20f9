#!/usr/bin/env bash
# Runs a command inside a private Wayland session: weston's headless compositor in a private
# runtime folder, and a private session bus with no service activation. With --xwayland the
# compositor also runs an XWayland server and DISPLAY names it; without, DISPLAY is unset, as
# on a Wayland desktop without X support.
# Everything started here is stopped when the command ends, whatever its outcome.
set -euo pipefail

xwayland=0
while [ $# -gt 0 ]; do
  case "$1" in
    --xwayland) xwayland=1; shift ;;
    *) break ;;
  esac
done

work=$(mktemp -d /tmp/brimwell-wayland.XXXXXX)
chmod 700 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() { # seconds, then a command that succeeds when ready
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then echo "with-wayland: timed out waiting for: $*" >&2; return 1; fi
    sleep 0.05
  done
}

export XDG_RUNTIME_DIR="$work"
unset DISPLAY WAYLAND_DISPLAY XDG_SESSION_TYPE
socket=wayland-brimwell
args=(--backend=headless-backend.so --socket="$socket" --idle-time=0 --log="$work/weston.log")
[ $xwayland -eq 1 ] && args+=(--xwayland)
weston "${args[@]}" >"$work/weston.out" 2>&1 &
pids+=($!)
if ! wait_for 10 test -S "$work/$socket"; then
  cat "$work/weston.log" "$work/weston.out" >&2 2>/dev/null || true
  exit 1
fi
export WAYLAND_DISPLAY="$socket"
export XDG_SESSION_TYPE=wayland

if [ $xwayland -eq 1 ]; then
  # The compositor picks a free X display and starts XWayland on the first connection.
  listening() { grep -o 'xserver listening on display :[0-9]*' "$work/weston.log"; }
  if ! wait_for 10 listening; then
    cat "$work/weston.log" >&2
    exit 1
  fi
  export DISPLAY=":$(listening | head -n1 | sed 's/.*://')"
  wait_for 10 xdpyinfo || { echo "with-wayland: XWayland on $DISPLAY does not answer" >&2; exit 1; }
fi

cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 3>"$work/bus.address" 2>"$work/dbus.log" &
pids+=($!)
wait_for 10 test -s "$work/bus.address"
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus.address")

"$@"
