#!/usr/bin/env bash
# Installs what is missing, builds Brimwell and starts it in the panel's system tray.
# Without a desktop (no DISPLAY) it starts a private one (virtual display, tray, notification
# daemon), opens Brimwell there, saves a picture to build/screenshots/brimwell.png, prints the
# memory figures and stops everything it started.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

app=build/release/bin/brimwell
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$app" "$@"
fi
mkdir -p build/screenshots
echo "No desktop here: showing Brimwell on a private virtual desktop."
QT_QPA_PLATFORM=xcb exec ./scripts/with-desktop.sh --tray \
  "$app" --screenshot build/screenshots/brimwell.png
