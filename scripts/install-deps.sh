#!/usr/bin/env bash
# Installs the Debian 12 packages Vellumine needs. Usage: install-deps.sh run|test
# "run" is what building and running the clock takes; "test" adds what the test suite drives
# (a virtual X server, a window manager, input synthesis). Already installed packages are skipped,
# so a second call costs nothing.
set -euo pipefail

kind=${1:-run}
packages=(
  g++ cmake make pkg-config
  qt6-base-dev libqt6network6 libqt6dbus6
  libfluidsynth-dev timgm6mb-soundfont
  fonts-ipafont-gothic
)
if [[ $kind == test ]]; then
  packages+=(libgtest-dev libgmock-dev xvfb openbox xdotool x11-utils x11-apps imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
