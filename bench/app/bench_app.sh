#!/usr/bin/env bash
# Start-up time, resident memory and CPU use of the running tray application, on a private
# virtual desktop. Prints its figures; takes about two minutes.
#   bench/app/bench_app.sh [path/to/brimwell]   (default: build/release/bin/brimwell)
set -euo pipefail
cd "$(dirname "$0")/../.."
app=${1:-build/release/bin/brimwell}
seconds=${BENCH_SECONDS:-60}

if [ -z "${BRIMWELL_BENCH_INSIDE:-}" ]; then
  BRIMWELL_BENCH_INSIDE=1 QT_QPA_PLATFORM=xcb exec ./scripts/with-desktop.sh --tray "$0" "$app"
fi

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status"; }
# The popover is the only one of our windows larger than a tray icon.
popover_shown() {
  for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -gt 100 ] && [ "$HEIGHT" -gt 100 ]; then return 0; fi
  done
  return 1
}
icon_centre() {
  for w in $(xdotool search --pid "$1" 2>/dev/null); do
    eval "$(xdotool getwindowgeometry --shell "$w")"
    if [ "$WIDTH" -le 64 ] && [ "$HEIGHT" -le 64 ] && [ "$WIDTH" -gt 1 ]; then
      echo "$((X + WIDTH / 2)) $((Y + HEIGHT / 2))"; return 0
    fi
  done
  return 1
}
measure() { # label
  local before after
  before=$(cpu_ticks "$pid")
  sleep "$seconds"
  after=$(cpu_ticks "$pid")
  awk -v l="$1" -v d="$((after - before))" -v t="$ticks" -v s="$seconds" -v r="$(rss_mb "$pid")" \
    'BEGIN { printf "%-26s CPU %5.2f %%   resident %s MB\n", l, 100 * d / t / s, r }'
}

start=$(date +%s%N)
"$app" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
until popover_shown "$pid"; do sleep 0.01; done
shown=$(date +%s%N)
printf "launch to popover shown    %d ms (target <= 500 ms)\n" $(((shown - start) / 1000000))

measure "popover open, ${seconds} s"
read -r ix iy < <(icon_centre "$pid")
xdotool mousemove "$ix" "$iy" click 1
sleep 1
measure "popover closed, ${seconds} s"
echo "targets: resident <= 40 MB, CPU <= 1 % open and <= 0.05 % closed (a 5 s monitor wakes while closed)"
