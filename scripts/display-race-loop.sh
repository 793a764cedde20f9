#!/usr/bin/env bash
# Proves that private desktops never reuse a display another run is still tearing down: runs
# two desktops back to back, the second with a tray, N times (default 50), and prints how many
# rounds passed ("50/50").
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rounds=${1:-50}
passed=0
for i in $(seq "$rounds"); do
  "$here/with-desktop.sh" --no-notifications true
  out=$("$here/with-desktop.sh" --tray --no-notifications sh -c 'echo ok' 2>&1)
  if [ "$out" = ok ]; then
    passed=$((passed + 1))
  else
    echo "round $i failed: $out" >&2
  fi
done
echo "display race loop: $passed/$rounds"
[ "$passed" -eq "$rounds" ]
