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
  libfluidsynth-dev timgm6mb-soundfont libasound2-dev
  fonts-ipafont-gothic libxcb1-dev
)
if [[ $kind == test ]]; then
  packages+=(libgtest-dev libgmock-dev xvfb openbox xdotool x11-utils x11-apps imagemagick
             dovecot-pop3d openssl curl dbus-daemon
             trayer faketime  # the end-to-end tests: a tray host, a moved clock
             clang libclang-rt-14-dev llvm  # the fuzz targets (libFuzzer) and symbolized sanitizer reports
             # the package test: CPack's DEB generator, the desktop entry, Debian's policy checks, AppStream
             dpkg-dev file desktop-file-utils lintian appstream)
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
# The mail tests start their own Dovecot from a private configuration; installing the package must not
# start the system's one. A policy-rc.d answering 101 tells the package scripts not to start services;
# it is ours only for this install, and one that was already there is put back.
policy=/usr/sbin/policy-rc.d
saved=""
if [[ -e $policy ]]; then
  saved=$(mktemp)
  "${sudo[@]}" cp -p "$policy" "$saved"
fi
restore_policy() {
  if [[ -n $saved ]]; then
    "${sudo[@]}" cp -p "$saved" "$policy"
    "${sudo[@]}" rm -f "$saved"
  else
    "${sudo[@]}" rm -f "$policy"
  fi
}
trap restore_policy EXIT
printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
"${sudo[@]}" chmod 755 "$policy"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
