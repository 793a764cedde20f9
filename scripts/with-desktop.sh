#!/usr/bin/env bash
# Runs a command inside a private desktop: Xvfb on a free display, a private session bus with
# no service activation, the dunst notification daemon (unless --no-notifications) and,
# optionally, a panel with a system tray:
#
#   --tray               trayer (XEmbed) along the top edge, 220 pixels in from the right, as
#                        where a clock would sit
#   --tray-at-edge       the same in the very corner
#   --host HOST          trayer or xfce4-panel (StatusNotifierItem), placed by the options below
#   --edge EDGE          top, bottom, left or right (default top)
#   --position POS       start, middle or end of the edge (default end)
#   --scale 1|2          2: a 2560x1600 screen (1280x800 points, a HiDPI laptop) instead of
#                        1280x800, a panel twice as thick and QT_SCALE_FACTOR=2 for the command
#   --panel dark|light   the panel's colour (default dark)
#
# The command finds the desktop's folder in BRIMWELL_DESKTOP_DIR and can move the panel with
# "$BRIMWELL_DESKTOP_PANEL --host ... --edge ..." (scripts/desktop-panel.sh).
# Nothing touches the caller's own session; everything started here is stopped when the command
# ends, whatever its outcome.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

notifications=1
host=""
edge=top
position=end
margin=0
scale=1
theme=dark
while [ $# -gt 0 ]; do
  case "$1" in
    --no-notifications) notifications=0; shift ;;
    --tray) host=trayer; edge=top; position=end; margin=220; shift ;;
    --tray-at-edge) host=trayer; edge=top; position=end; margin=0; shift ;;
    --host) host=$2; shift 2 ;;
    --edge) edge=$2; shift 2 ;;
    --position) position=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    --panel) theme=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "with-desktop: no command given" >&2; exit 2; }
# The same room in points at both scales.
screen_size=1280x800x24
if [ "$scale" = 2 ]; then screen_size=2560x1600x24; fi

work=$(mktemp -d /tmp/brimwell-desktop.XXXXXX)
pids=()
xvfb=""
display=""
command_pid=""
lockfile=/tmp/brimwell-with-desktop.lock

# A display number is free when no lock file, no socket (path or abstract) and no X server
# process claims it.
display_free() {
  local d=$1
  [ ! -e "/tmp/.X$d-lock" ] && [ ! -e "/tmp/.X11-unix/X$d" ] &&
    ! grep -qE "[ @]/tmp/\.X11-unix/X$d\$" /proc/net/unix &&
    ! pgrep -f "(^|/)(Xvfb|Xorg|Xwayland|X) :$d( |\$)" >/dev/null
}

stop_pid() { # pid: asks it to end, then waits until it has
  local pid=$1 i
  kill "$pid" 2>/dev/null || return 0
  for i in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
}

cleanup() {
  trap - EXIT INT TERM HUP
  set +e
  if [ -n "$command_pid" ]; then stop_pid "$command_pid"; fi
  # Processes the command started through desktop-panel.sh are not our children.
  if [ -f "$work/panel.pids" ]; then
    while read -r pid; do stop_pid "$pid"; done <"$work/panel.pids"
  fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if [ -n "$xvfb" ]; then
    # Nobody may choose a display while ours is still going: a stopping X server drops its lock
    # file before its socket, and a new server there would lose its socket to our old one.
    exec 9>"$lockfile"
    flock 9
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    for _ in $(seq 200); do
      display_free "$display" && break
      sleep 0.05
    done
    flock -u 9
    exec 9>&-
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

wait_for() { # seconds, then a command that succeeds when ready
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then echo "with-desktop: timed out waiting for: $*" >&2; return 1; fi
    sleep 0.05
  done
}

# A display nobody uses. Runs take turns here, so no two of them ever race for one number (a
# losing Xvfb can take the winner's socket down with it), and none takes a number whose server
# is still being stopped.
exec 9>"$lockfile"
flock 9
for d in $(seq 90 400); do
  display_free "$d" || continue
  # -noreset: a server that resets whenever its last client leaves refuses the clients that
  # connect meanwhile ("cannot open display"), as the first one after our readiness probe would.
  Xvfb ":$d" -screen 0 "$screen_size" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 9>&- &
  xvfb=$!
  # Ours once its lock file names our server and the display answers.
  until [ "$({ tr -d ' \n' <"/tmp/.X$d-lock"; } 2>/dev/null)" = "$xvfb" ] &&
        DISPLAY=":$d" xdotool getdisplaygeometry >/dev/null 2>&1; do
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$xvfb" 2>/dev/null; then
    display=$d
    break
  fi
  wait "$xvfb" 2>/dev/null || true
  xvfb=""
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

export BRIMWELL_DESKTOP_DIR="$work"
export BRIMWELL_DESKTOP_PANEL="$here/desktop-panel.sh"
export BRIMWELL_TRAY_HOST="$host"
if [ -n "$host" ]; then
  # A calm desktop colour behind the panel.
  xsetroot -solid '#3a4150'
  "$here/desktop-panel.sh" --host "$host" --edge "$edge" --position "$position" \
    --margin "$margin" --scale "$scale" --panel "$theme"
fi
if [ "$scale" = 2 ]; then
  export QT_SCALE_FACTOR=2
fi

export XDG_RUNTIME_DIR="$work"
# In the background, so a signal to this script is handled at once rather than after the
# command; the command keeps our standard input.
"$@" <&0 &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=""
exit "$status"
