#!/usr/bin/env bash
# Installs everything Brimwell needs to build, test and run on Debian 12.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format
  clang libclang-rt-14-dev  # libFuzzer for the fuzz targets
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
  qt6-svg-dev libqt6svg6  # the tray icon is drawn from SVG at any scale
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev uuid-dev libcpp-httplib-dev libx11-dev libxi-dev
  libxcb1-dev  # asks an X server whether it answers before Qt would abort on it
  libspdlog-dev
  # runtime pieces the app and the end-to-end tests use
  xvfb xauth x11-utils x11-xserver-utils xdotool trayer dunst dbus dbus-bin xcompmgr
  xfce4-panel xfconf  # a StatusNotifierItem tray host for the desktop matrix
  fonts-dejavu-core rsyslog attr
  jq  # reads the command line's JSON back in tests
  # the package: icons drawn from the SVG, the checkers of the menu entry, metainfo, manual page
  # and package, and the .deb tools
  librsvg2-bin desktop-file-utils appstream man-db groff-base lintian dpkg-dev file
  # a headless Wayland compositor, with and without XWayland, and Qt's Wayland platform
  weston xwayland qt6-wayland
  # translations: lupdate/lrelease, their CMake package, Qt's own texts, the German locale
  qt6-l10n-tools qt6-tools-dev qt6-translations-l10n locales
)

# The German locale for the translation tests (they skip with a reason where it is missing).
ensure_locale() {
  if locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "Not root: de_DE.UTF-8 not generated; the German locale tests will be skipped" >&2
    return 0
  fi
  if [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null; then
    sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen
  else
    localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
}
trap ensure_locale EXIT

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
