#!/usr/bin/env bash
# By hand, as root: installs the Debian package into a clean Debian 12 made with debootstrap (minbase,
# nothing else), with apt as a person would, and starts the clock there as an ordinary user on a
# private X server outside the chroot. Prints what it finds and leaves a screenshot.
#
#   packaging/check-clean-install.sh build/vellumine_1.0_amd64.deb [folder]
#
# The clean system is made once in the folder (default /tmp/vellumine-clean-root) and reused; the
# package is installed afresh each time. Needs the network (Debian's mirror) and the test packages
# (Xvfb, openbox, xdotool, ImageMagick: bash scripts/install-deps.sh test).
set -euo pipefail
[[ $# -ge 1 ]] || { sed -n 2,8p "$0"; exit 2; }
[[ $(id -u) -eq 0 ]] || { echo "check-clean-install: needs root (debootstrap, chroot)" >&2; exit 1; }
deb=$(readlink -f "$1")
root=${2:-/tmp/vellumine-clean-root}
here=$(cd "$(dirname "$0")/.." && pwd)
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null

if [[ ! -e $root/etc/debian_version ]]; then
  echo "check-clean-install: making a clean Debian 12 in $root"
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$root.debootstrap.log" 2>&1 ||
    { tail -20 "$root.debootstrap.log"; exit 1; }
fi

mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount --bind /dev "$root/dev" && mounted+=("$root/dev")
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" && mounted+=("$root/tmp/.X11-unix")
cp /etc/resolv.conf "$root/etc/resolv.conf"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
in_root dpkg --purge vellumine >/dev/null 2>&1 || true
cp "$deb" "$root/tmp/vellumine.deb"
in_root apt-get update -qq
# What any desktop has: the hicolor icon theme, whose trigger rebuilds the icon cache when a package
# puts icons into it.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  hicolor-icon-theme gtk-update-icon-cache >/dev/null
start=$(date +%s)
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/vellumine.deb \
  >"$root/tmp/install.log" 2>&1 || { tail -30 "$root/tmp/install.log"; exit 1; }
echo "check-clean-install: installed with its dependencies in $(($(date +%s) - start)) s" \
  "($(in_root dpkg-query -W -f='${binary:Package}\n' | wc -l) packages in the system)"
in_root dpkg -L vellumine | grep -E 'bin/vellumine$|applications/|metainfo/|man1/|icons/.*png$|lib/vellumine/[^/]*$'
if grep -qa vellumine "$root/usr/share/icons/hicolor/icon-theme.cache"; then
  echo "check-clean-install: the hicolor icon cache lists the icon (the theme's trigger ran)"
else
  echo "check-clean-install: the hicolor icon cache does not list the icon"; exit 1
fi
in_root id tester >/dev/null 2>&1 || in_root useradd -m tester
in_root rm -rf /home/tester/.local

# The clock, started as the desktop entry starts it, in a private X server with a window manager.
shot=${SHOT:-/tmp/vellumine-clean-install.png}
export root shot
bash "$here/tests/support/with-x-server.sh" bash -c '
  chroot "$root" runuser -u tester -- env -i PATH=/usr/bin:/bin HOME=/home/tester LANG=C.UTF-8 \
    DISPLAY="$DISPLAY" vellumine >/tmp/vellumine-clean-install.out 2>&1 &
  program=$!
  clock=""
  for _ in $(seq 150); do
    clock=$(xdotool search --name "^Orlavue" 2>/dev/null | head -1) && [[ -n $clock ]] && break
    sleep 0.2
  done
  if [[ -z $clock ]]; then
    echo "check-clean-install: no clock window; the program said:"; cat /tmp/vellumine-clean-install.out
    exit 1
  fi
  sleep 2
  import -window root "$shot"
  echo "check-clean-install: the clock is on the screen (window $clock); screenshot $shot"
  xdotool windowactivate --sync "$clock" key alt+F4
  for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.2; done
  if kill -0 "$program" 2>/dev/null; then echo "check-clean-install: the close box did not end it"; exit 1; fi
  echo "check-clean-install: ended through its close box"
'
echo "check-clean-install: the user's folder:"
(cd "$root/home/tester/.local/share/Vellumine" && ls -l --time-style=+ . ★MailData | sed 's/^/  /')
