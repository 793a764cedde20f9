#!/usr/bin/env bash
# Runs a command inside a private desktop: Xvfb on a free display, a private session bus with
# no service activation, the dunst notification daemon (unless --no-notifications) and, with
# --tray, a panel with a system tray (trayer) along the top edge, 220 pixels in from the right
# as where a clock would sit (--tray-at-edge: in the very corner).
# Everything started here is stopped when the command ends, whatever its outcome.
set -euo pipefail

notifications=1
tray=0
tray_margin=220
while [ $# -gt 0 ]; do
  case "$1" in
    --no-notifications) notifications=0; shift ;;
    --tray) tray=1; shift ;;
    --tray-at-edge) tray=1; tray_margin=0; shift ;;
    *) break ;;
  esac
done

work=$(mktemp -d /tmp/brimwell-desktop.XXXXXX)
pids=()
lockfile=/tmp/brimwell-with-desktop.lock
cleanup() {
  # A stopping X server drops its lock file before its socket: nobody may choose a display
  # until ours is gone, or a new server there loses its socket to our old one.
  exec 9>"$lockfile"
  flock 9
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  flock -u 9
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() { # seconds, then a command that succeeds when ready
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then echo "with-desktop: timed out waiting for: $*" >&2; return 1; fi
    sleep 0.05
  done
}

# A display nobody uses. Runs that start at the same moment take turns here, so no two of
# them ever race for one number (a losing Xvfb can take the winner's socket down with it).
exec 9>"$lockfile"
flock 9
display=""
for d in $(seq 90 400); do
  [ -e "/tmp/.X$d-lock" ] || [ -e "/tmp/.X11-unix/X$d" ] && continue
  Xvfb ":$d" -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 9>&- &
  xvfb=$!
  # Ours once its lock file names our server and the display answers.
  until [ "$({ tr -d ' \n' <"/tmp/.X$d-lock"; } 2>/dev/null)" = "$xvfb" ] &&
        DISPLAY=":$d" xdotool getdisplaygeometry >/dev/null 2>&1; do
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$xvfb" 2>/dev/null; then
    pids+=($xvfb)
    display=$d
    break
  fi
done
flock -u 9
exec 9>&-
[ -n "$display" ] || { echo "with-desktop: no display could be started" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$display"

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

if [ $notifications -eq 1 ]; then
  mkdir -p "$work/config/dunst"
  cat >"$work/config/dunst/dunstrc" <<'CONF'
[global]
    origin = top-right
    offset = 16x16
    width = 320
    font = DejaVu Sans 10
    frame_width = 1
    frame_color = "#c9ced6"
    corner_radius = 8
    padding = 10
    horizontal_padding = 12
    format = "<b>%s</b>\n%b"
[urgency_normal]
    background = "#ffffff"
    foreground = "#1d1f23"
    timeout = 0
CONF
  XDG_CONFIG_HOME="$work/config" dunst >"$work/dunst.log" 2>&1 &
  pids+=($!)
  wait_for 10 dunstctl is-paused
fi

if [ $tray -eq 1 ]; then
  # A calm desktop colour behind the panel.
  xsetroot -solid '#3a4150'
  trayer --edge top --align right --widthtype request --height 28 --heighttype pixel \
         --transparent true --alpha 0 --tint 0x25282d --SetDockType true --SetPartialStrut true \
         --expand true --padding 6 --distance 0 --margin "$tray_margin" >"$work/trayer.log" 2>&1 &
  pids+=($!)
  wait_for 10 xdotool search --classname trayer || { cat "$work/trayer.log" >&2; exit 1; }
fi

export XDG_RUNTIME_DIR="$work"
"$@"
