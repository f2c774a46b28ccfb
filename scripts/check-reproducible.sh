#!/usr/bin/env bash
# By hand, as root: builds the Debian packages of this checkout twice and says whether the two builds
# gave the same bytes. The builds differ in all a user's machine may differ in: the folder (and the
# depth of it), the user, the home, the locale, the time zone, the umask, the time (one after the
# other). Prints the sha256 of each .deb of both builds and the verdict; where they
# differ, diffoscope's report (if diffoscope is installed) is kept beside them.
#
#   scripts/check-reproducible.sh            (work folder: $VELLUMINE_REPRO_DIR, default /var/tmp/vellumine-repro)
#
# reprotest (Debian package reprotest, with disorderfs) varies more: the clock a year ahead (faketime),
# host and domain name, kernel version, file order (disorderfs), ASLR, the number of CPUs; as root,
# with its null server, in a clean copy of the checkout named vellumine-<version>:
#   reprotest --min-cpus=2 --vary=-user_group -c 'dpkg-buildpackage -us -uc -b' vellumine-1.0 '../*.deb' -- null
# (its user_group variation needs users set up for it: this script varies the user instead).
#
# The second build runs as the user vellumine-repro, made here if missing. Needs the package's build
# dependencies (bash scripts/package.sh installs them). Not part of the test command: it builds twice.
set -euo pipefail
[[ $(id -u) -eq 0 ]] || { echo "check-reproducible: needs root (a second user builds)" >&2; exit 1; }
here=$(cd "$(dirname "$0")/.." && pwd)
work=${VELLUMINE_REPRO_DIR:-/var/tmp/vellumine-repro}
other=vellumine-repro
version=$(cd "$here" && dpkg-parsechangelog -S Version)

id "$other" >/dev/null 2>&1 || useradd -m -s /bin/bash "$other"
rm -rf "$work"
mkdir -p "$work"
chmod 755 "$work"

# The checkout as it is, without what git ignores (no build folders), as check-debian.sh copies it.
copy_checkout() {
  mkdir -p "$1"
  (cd "$here" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -C "$1" -xf -
}

# build NAME USER FOLDER ENV...: dpkg-buildpackage in FOLDER/vellumine-<version> as USER, with nothing
# of this shell's environment but PATH and ENV.
build() {
  local name=$1 user=$2 folder=$3 home
  shift 3
  home=$(getent passwd "$user" | cut -d: -f6)
  copy_checkout "$folder/vellumine-$version"
  chown -R "$user:" "$folder"
  echo "check-reproducible: build $name as $user in $folder/vellumine-$version ($*), $(date -u +%H:%M:%S) UTC"
  if ! (cd "$folder/vellumine-$version" && runuser -u "$user" -- env -i HOME="$home" USER="$user" \
      LOGNAME="$user" PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@" \
      bash -c 'umask "$UMASK_FOR_BUILD"; exec dpkg-buildpackage -us -uc -b -j2') \
      >"$work/$name.log" 2>&1; then
    tail -30 "$work/$name.log" >&2
    echo "check-reproducible: build $name failed (log: $work/$name.log)" >&2
    exit 1
  fi
}

build first root "$work/first" \
  LANG=C.UTF-8 TZ=UTC UMASK_FOR_BUILD=022
build second "$other" "$work/second/a/deeper/folder" \
  LANG=ja_JP.UTF-8 LC_ALL=fr_CH.UTF-8 LANGUAGE=ja:fr TZ=Asia/Tokyo UMASK_FOR_BUILD=002

same=yes
for deb in "$work"/first/*.deb; do
  name=$(basename "$deb")
  second=$(ls "$work"/second/a/deeper/folder/"$name" 2>/dev/null || true)
  sha256sum "$deb" ${second:+"$second"} | sed "s|$work/||"
  if [[ -z $second ]]; then
    echo "check-reproducible: $name was not built the second time"
    same=no
  elif ! cmp -s "$deb" "$second"; then
    same=no
    if command -v diffoscope >/dev/null; then
      diffoscope --text "$work/$name.diffoscope.txt" "$deb" "$second" >/dev/null 2>&1 || true
      echo "check-reproducible: $name differs (diffoscope: $work/$name.diffoscope.txt)"
    else
      echo "check-reproducible: $name differs (install diffoscope-minimal to see where)"
    fi
  fi
done
if [[ $same == yes ]]; then
  echo "check-reproducible: REPRODUCIBLE: both builds gave the same bytes"
else
  echo "check-reproducible: NOT REPRODUCIBLE"
  exit 1
fi
