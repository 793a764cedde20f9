#!/usr/bin/env bash
# Starts, or moves, the panel with the system tray of a private desktop made by with-desktop.sh.
#
#   desktop-panel.sh --host trayer|xfce4-panel [--edge top|bottom|left|right]
#                    [--position start|middle|end] [--margin PIXELS] [--scale 1|2]
#                    [--panel dark|light]
#
# trayer is an XEmbed tray; it is restarted for every change. xfce4-panel 4.18 with its systray
# plugin is a StatusNotifierItem host; it runs on the private session bus with its own xfconfd
# and a generated configuration, and later calls move it with xfconf-query instead of
# restarting it. Returns once the panel stands on the asked edge.
#
# Needs DISPLAY, DBUS_SESSION_BUS_ADDRESS and BRIMWELL_DESKTOP_DIR (the desktop's scratch
# folder). Every process started here is listed in $BRIMWELL_DESKTOP_DIR/panel.pids, where
# with-desktop.sh finds and stops it.
set -euo pipefail

host=""
edge=top
position=end
margin=0
scale=1
theme=dark
while [ $# -gt 0 ]; do
  case "$1" in
    --host) host=$2; shift 2 ;;
    --edge) edge=$2; shift 2 ;;
    --position) position=$2; shift 2 ;;
    --margin) margin=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    --panel) theme=$2; shift 2 ;;
    *) echo "desktop-panel: unknown option $1" >&2; exit 2 ;;
  esac
done
case "$host" in trayer|xfce4-panel) ;; *) echo "desktop-panel: --host trayer|xfce4-panel" >&2; exit 2 ;; esac
case "$edge" in top|bottom|left|right) ;; *) echo "desktop-panel: bad edge $edge" >&2; exit 2 ;; esac
case "$position" in start|middle|end) ;; *) echo "desktop-panel: bad position $position" >&2; exit 2 ;; esac
case "$scale" in 1|2) ;; *) echo "desktop-panel: bad scale $scale" >&2; exit 2 ;; esac
case "$theme" in dark|light) ;; *) echo "desktop-panel: bad panel $theme" >&2; exit 2 ;; esac
dir=${BRIMWELL_DESKTOP_DIR:?desktop-panel: run inside with-desktop.sh}

size=$((28 * scale))
if [ "$theme" = dark ]; then
  tint=0x25282d; rgba=(0.145 0.157 0.176 1.0)
else
  tint=0xeeeff1; rgba=(0.933 0.937 0.945 1.0)
fi

wait_for() { # seconds, then a command that succeeds when ready
  local deadline=$((SECONDS + $1)); shift
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $deadline ]; then echo "desktop-panel: timed out waiting for: $*" >&2; return 1; fi
    sleep 0.05
  done
}

# Starts a daemon detached from our output, so a caller reading it is not kept waiting.
start() { # name, command...
  local name=$1; shift
  "$@" </dev/null >>"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
  echo $! >>"$dir/panel.pids"
}

alive() { [ -f "$dir/$1.pid" ] && kill -0 "$(cat "$dir/$1.pid")" 2>/dev/null; }

stop() { # name
  alive "$1" || return 0
  local pid; pid=$(cat "$dir/$1.pid")
  kill "$pid" 2>/dev/null || true
  wait_for 10 sh -c "! kill -0 $pid"
}

# The panel window named by WM_CLASS stands on the edge: touching it, spanning the other way
# no more than the panel is thick.
on_edge() { # class
  local id geometry
  for id in $(xdotool search --onlyvisible --class "$1" 2>/dev/null); do
    geometry=$(xdotool getwindowgeometry --shell "$id") || continue
    local X Y WIDTH HEIGHT SW SH
    eval "$(echo "$geometry" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
    read -r SW SH < <(xdotool getdisplaygeometry)
    [ "$WIDTH" -gt 10 ] && [ "$HEIGHT" -gt 10 ] || continue
    case "$edge" in
      top) [ "$Y" -eq 0 ] && [ "$HEIGHT" -le "$size" ] && return 0 ;;
      bottom) [ $((Y + HEIGHT)) -eq "$SH" ] && [ "$HEIGHT" -le "$size" ] && return 0 ;;
      left) [ "$X" -eq 0 ] && [ "$WIDTH" -le "$size" ] && return 0 ;;
      right) [ $((X + WIDTH)) -eq "$SW" ] && [ "$WIDTH" -le "$size" ] && return 0 ;;
    esac
  done
  return 1
}

if [ "$host" = trayer ]; then
  # trayer's alignment runs along the edge: "left" is the top of a side panel.
  case "$position" in start) align=left ;; middle) align=center ;; end) align=right ;; esac
  stop trayer
  start trayer trayer --edge "$edge" --align "$align" --widthtype request --height "$size" \
    --heighttype pixel --transparent true --alpha 0 --tint "$tint" --SetDockType true \
    --SetPartialStrut true --expand true --padding $((6 * scale)) --distance 0 --margin "$margin"
  wait_for 10 on_edge trayer || { cat "$dir/trayer.log" >&2; exit 1; }
  exit 0
fi

# xfce4-panel: one panel along the whole edge holding the tray, with stretching spacers
# putting the tray at the start, middle or end.
case "$edge" in
  top) mode=0; snap=6 ;; bottom) mode=0; snap=8 ;; left) mode=1; snap=5 ;; right) mode=1; snap=1 ;;
esac
# Spacers before and after the tray: whichever stretches pushes the tray the other way.
case "$position" in
  start) before=false; after=true ;; middle) before=true; after=true ;; end) before=true; after=false ;;
esac
# Its settings, caches and data stay in the desktop's folder, never the user's own.
xfce_env=(env XDG_CONFIG_HOME="$dir/xfce" XDG_CONFIG_DIRS="$dir/xfce-defaults"
          XDG_CACHE_HOME="$dir/xfce-cache" XDG_DATA_HOME="$dir/xfce-data" NO_AT_BRIDGE=1)

if ! alive xfce4-panel; then
  channel="$dir/xfce/xfce4/xfconf/xfce-perchannel-xml"
  mkdir -p "$channel" "$dir/xfce-defaults"
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<channel name="xfce4-panel" version="1.0">'
    echo ' <property name="configver" type="int" value="2"/>'
    echo ' <property name="panels" type="array">'
    echo '  <value type="int" value="1"/>'
    echo '  <property name="panel-1" type="empty">'
    echo "   <property name=\"mode\" type=\"uint\" value=\"$mode\"/>"
    echo "   <property name=\"position\" type=\"string\" value=\"p=$snap;x=0;y=0\"/>"
    echo '   <property name="length" type="uint" value="100"/>'
    echo '   <property name="position-locked" type="bool" value="true"/>'
    echo "   <property name=\"size\" type=\"uint\" value=\"$size\"/>"
    echo '   <property name="background-style" type="uint" value="1"/>'
    echo '   <property name="background-rgba" type="array">'
    for c in "${rgba[@]}"; do echo "    <value type=\"double\" value=\"$c\"/>"; done
    echo '   </property>'
    echo '   <property name="plugin-ids" type="array">'
    for i in 1 2 3; do echo "    <value type=\"int\" value=\"$i\"/>"; done
    echo '   </property>'
    echo '  </property>'
    echo ' </property>'
    echo ' <property name="plugins" type="empty">'
    for i in 1 3; do
      expand=$before; [ $i = 3 ] && expand=$after
      echo "  <property name=\"plugin-$i\" type=\"string\" value=\"separator\">"
      echo "   <property name=\"expand\" type=\"bool\" value=\"$expand\"/>"
      echo '   <property name="style" type="uint" value="0"/>'
      echo '  </property>'
    done
    echo '  <property name="plugin-2" type="string" value="systray">'
    echo '   <property name="square-icons" type="bool" value="true"/>'
    echo "   <property name=\"icon-size\" type=\"int\" value=\"$((22 * scale))\"/>"
    echo '  </property>'
    echo ' </property>'
    echo '</channel>'
  } >"$channel/xfce4-panel.xml"
  start xfconfd "${xfce_env[@]}" /usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd
  wait_for 10 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetNameOwner string:org.xfce.Xfconf
  start xfce4-panel "${xfce_env[@]}" xfce4-panel --disable-wm-check
  # The tray's StatusNotifierItem watcher is what applications look for.
  wait_for 20 dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.GetNameOwner string:org.kde.StatusNotifierWatcher ||
    { cat "$dir/xfce4-panel.log" >&2; exit 1; }
else
  q() { "${xfce_env[@]}" xfconf-query -c xfce4-panel "$@"; }
  q -p /panels/panel-1/size -s "$size"
  q -p /plugins/plugin-2/icon-size -s $((22 * scale))
  q -p /panels/panel-1/background-rgba -t double -s "${rgba[0]}" -t double -s "${rgba[1]}" \
    -t double -s "${rgba[2]}" -t double -s "${rgba[3]}"
  q -p /plugins/plugin-1/expand -s "$before"
  q -p /plugins/plugin-3/expand -s "$after"
  q -p /panels/panel-1/mode -s "$mode"
  q -p /panels/panel-1/position -s "p=$snap;x=0;y=0"
fi
wait_for 20 on_edge xfce4-panel || { cat "$dir/xfce4-panel.log" >&2; exit 1; }
