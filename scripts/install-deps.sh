#!/usr/bin/env bash
# Installs the Debian packages Vellumine needs, on Debian 12 (bookworm) and 13 (trixie) alike.
# Usage: install-deps.sh run|package|test
#   run      what building and running the clock takes (no test framework; dpkg-buildflags for the
#            flags Debian's packages are built with)
#   package  run, plus what building the Debian package takes (debhelper; file for CPack's route)
#   test     package, plus what the test suite drives: GoogleTest, a virtual X server, a window
#            manager, input synthesis, a mail server, clang for the fuzz targets, the package checks
# Already installed packages are skipped, so a second call costs nothing. Names that differ between
# releases are never written down: they are asked of the installed tools or of apt.
set -euo pipefail

kind=${1:-run}
case $kind in run | package | test) ;; *) echo "usage: $0 run|package|test" >&2; exit 2 ;; esac

sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
updated=0
apt_update() {
  if [[ $updated -eq 0 ]]; then
    "${sudo[@]}" apt-get update -qq
    updated=1
  fi
}

# Only real package names: a name that another package merely provides (on Debian 13, libqt6core6 is
# provided by libqt6core6t64) would look missing to dpkg every time. Qt's libraries come with
# qt6-base-dev.
packages=(
  g++ cmake make pkgconf
  dpkg-dev  # dpkg-buildflags: every build takes the release's hardening (scripts/buildflags.sh)
  qt6-base-dev
  libfluidsynth-dev timgm6mb-soundfont libasound2-dev
  fonts-ipafont-gothic libxcb1-dev
  libsecret-1-dev  # the desktop's keyring for the saved password
  libidn-dev  # SASLprep of the user name and password (IMAP's SCRAM-SHA-256 and PLAIN)
)
if [[ $kind == package || $kind == test ]]; then
  # debian/'s build (the rest of its build dependencies are the run list's); CPack's DEB generator
  # (cmake --build build --target package): file, to find what to strip. build-essential: every
  # source package's implied build dependency, which dpkg-checkbuilddeps asks for by name.
  packages+=(debhelper file build-essential)
fi
if [[ $kind == test ]]; then
  packages+=(libgtest-dev libgmock-dev xvfb openbox xdotool x11-utils x11-apps imagemagick
             dovecot-pop3d dovecot-imapd openssl curl dbus-daemon
             gnome-keyring libsecret-tools  # a real keyring in the tests' private session bus
             gcr  # its unlock window (gcr-prompter), which one end-to-end test cancels
             dbus-x11  # dbus-launch: libdbus's X11 autolaunch, which the program must not set off
             trayer faketime  # the end-to-end tests: a tray host, a moved clock
             xfwm4  # Xfce's window manager, which hands the focus to windows that would take it
             clang llvm  # the fuzz targets (libFuzzer) and symbolized sanitizer reports
             # the package test: the desktop entry, Debian's policy checks, AppStream
             desktop-file-utils lintian appstream
             devscripts)  # hardening-check: the built program carries the release's hardening
  # The sanitizer and libFuzzer runtimes carry clang's major version in their name
  # (libclang-rt-14-dev on 12, libclang-rt-19-dev on 13): the one matching the release's default
  # clang, asked of clang itself when installed, else of the package it depends on.
  clang_major=""
  if command -v clang >/dev/null; then
    clang_major=$(clang --version | sed -n 's/.*clang version \([0-9]\+\)\..*/\1/p' | head -1)
  else
    apt_update
    clang_major=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9]\+\)$/\1/p' | head -1)
  fi
  if [[ -z $clang_major ]]; then
    echo "install-deps: cannot tell the version of the release's clang (is apt's list of packages there?)" >&2
    exit 1
  fi
  packages+=("libclang-rt-$clang_major-dev")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
apt_update
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
