#!/usr/bin/env bash
# By hand, as root: the README's commands tried as a new user would, on clean Debian roots.
#
#   scripts/check-debian.sh 12|13 [run] [test] [package] [autopkgtest]     (default: all four steps)
#
# Makes a clean root of the release with debootstrap (minbase, plus git, ca-certificates and sudo,
# nothing else), once, in $VELLUMINE_CHECK_DIR/debian-<release>/base (default /var/tmp/vellumine-check;
# delete it to start over), and for each step a fresh copy of it with this checkout copied in:
#   run      as an ordinary user with sudo: bash scripts/run.sh, the first thing on the machine. The
#            clock must come up on a private X server; a screenshot of it is kept. The X server runs
#            outside the root (it is no dependency of the clock), so nothing the run command should
#            install is there before it.
#   test     as root: bash scripts/test.sh (the suite, the sanitizer suite and the fuzz run).
#   package  as root: bash scripts/package.sh, then the .deb installed with apt into another fresh
#            root, and the installed clock started there by an ordinary user (screenshot kept); then
#            the release's lintian, pedantic, on the .changes it built (the .dsc and the .deb).
#   autopkgtest  the package's own test (debian/tests) run by autopkgtest against the .deb, inside
#            another fresh root with autopkgtest installed there (its null runner: the root is the
#            testbed, and the test installs what it needs into it). The .deb is the package step's of
#            this run, or one built as it builds it, or $VELLUMINE_CHECK_DEB when that names one.
#            autopkgtest's output folder (with the test's screenshot) is kept beside the root.
# Each step runs in namespaces of its own (mounts, processes), with no locale set (env -i), and its
# log is kept beside the root. Prints a table: step, result, time. Needs root, debootstrap, the
# Debian mirror this machine's apt uses ($VELLUMINE_MIRROR overrides it), and on this machine Xvfb,
# openbox, xdotool and ImageMagick (bash scripts/install-deps.sh test). Not part of the test command.
set -euo pipefail
usage() { sed -n 4p "$0" | sed 's/^# *//' >&2; exit 2; }
[[ $# -ge 1 ]] || usage
release=$1
shift
case $release in
  12) suite=bookworm ;;
  13) suite=trixie ;;
  *) usage ;;
esac
steps=("$@")
[[ ${#steps[@]} -gt 0 ]] || steps=(run test package autopkgtest)
for s in "${steps[@]}"; do [[ $s == run || $s == test || $s == package || $s == autopkgtest ]] || usage; done
[[ $(id -u) -eq 0 ]] || { echo "check-debian: needs root (debootstrap, chroot, mounts)" >&2; exit 1; }
for tool in debootstrap unshare Xvfb openbox xdotool import; do
  command -v "$tool" >/dev/null || { echo "check-debian: $tool is missing on this machine" >&2; exit 1; }
done

here=$(cd "$(dirname "$0")/.." && pwd)
work=${VELLUMINE_CHECK_DIR:-/var/tmp/vellumine-check}/debian-$release
mkdir -p "$work"

# The mirror apt uses here: the first Debian archive (not its security archive) in apt's sources.
mirror=${VELLUMINE_MIRROR:-}
if [[ -z $mirror ]]; then
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -oE '(https?|file)://[^ ]+/debian/?( |$)' | grep -v security | head -1 | tr -d ' ' || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}

base=$work/base
if [[ ! -e $base/etc/debian_version ]]; then
  echo "check-debian: making a clean Debian $release ($suite) from $mirror in $base"
  rm -rf "$base.tmp"
  debootstrap --variant=minbase --include=git,ca-certificates,sudo "$suite" "$base.tmp" "$mirror" \
    >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log"; exit 1; }
  mv "$base.tmp" "$base"
fi

# A fresh root for a step: a copy of the clean one, with name resolution and an ordinary user who may
# use sudo without a password (as the first user of a desktop may, with one).
fresh_root() {
  local root=$1
  rm -rf "$root"
  mkdir "$root"
  cp -a --reflink=auto "$base/." "$root/"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # debootstrap writes no /etc/hosts; the installer (and every container image) does, with localhost.
  grep -qw localhost "$root/etc/hosts" 2>/dev/null || printf '127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n' >>"$root/etc/hosts"
  grep -q "[[:space:]]$(hostname)\$" "$root/etc/hosts" 2>/dev/null || echo "127.0.1.1 $(hostname)" >>"$root/etc/hosts"
  chroot "$root" useradd -m -s /bin/bash person
  echo 'person ALL=(ALL) NOPASSWD:ALL' >"$root/etc/sudoers.d/person"
  chmod 440 "$root/etc/sudoers.d/person"
  mkdir -p "$root/tmp/.X11-unix"
}

# The checkout as it is (committed or not, without what git ignores: no build folders).
# copy_checkout ROOT FOLDER USER: FOLDER is a path inside the root, owned by USER there.
copy_checkout() {
  local root=$1 dest=$2 owner=$3
  mkdir -p "$root$dest"
  (cd "$here" && git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [[ -e $f || -L $f ]] && printf '%s\0' "$f"; done |
    tar --null -T - -cf -) | tar -C "$root$dest" -xf -
  chroot "$root" chown -R "$owner:$owner" "$dest"
}

# in_root ROOT USER COMMAND: runs COMMAND with bash in the root as USER, in a mount and process
# namespace of its own (so that whatever it leaves running ends with it), with no locale and with the
# X server's socket folder of this machine (with IN_ROOT_PRIVATE_X=1 a private one instead: X servers
# started inside keep their sockets to the root). DISPLAY goes in when set.
in_root() (
  root=$1 user=$2 command=$3 home=/root
  [[ $user == root ]] || home=/home/$user
  # exec: the subshell becomes unshare. stop_runner ends it with SIGKILL (it ignores SIGTERM), and
  # --kill-child then ends everything inside.
  exec unshare --mount --pid --fork --kill-child --propagation private bash -c '
    set -e
    r=$1 private_x=$2
    shift 2
    # The root is a mount point, as on a machine of its own: the tests that start the clock in mount
    # namespaces of their own change its propagation.
    mount --bind "$r" "$r"
    mount -t proc proc "$r/proc"
    mount --rbind /sys "$r/sys"
    mount --bind /dev "$r/dev"
    mount --bind /dev/pts "$r/dev/pts"
    mount -t tmpfs tmpfs "$r/dev/shm"
    if [[ $private_x == 1 ]]; then
      mount -t tmpfs -o mode=1777 tmpfs "$r/tmp/.X11-unix"
    else
      mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"
    fi
    exec chroot "$r" "$@"' _ "$root" "${IN_ROOT_PRIVATE_X:-0}" \
    runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin ${DISPLAY:+DISPLAY=$DISPLAY} \
    bash -c "$command"
)

# stop_runner PID: ends a step started in the background with in_root: PID is the subshell that runs
# unshare; unshare ignores SIGTERM, and killing it ends everything in its namespaces.
stop_runner() {
  local child
  for child in $(pgrep -P "$1"); do kill -KILL "$child" 2>/dev/null; done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

# wait_for_clock PID SECONDS: the clock's window on $DISPLAY, while PID lives; prints its id.
wait_for_clock() {
  local pid=$1 limit=$2 t0 clock
  t0=$(date +%s)
  while (($(date +%s) - t0 < limit)); do
    clock=$(xdotool search --onlyvisible --name '^Orlavue' 2>/dev/null | head -1 || true)
    if [[ -n $clock ]]; then
      echo "$clock"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 2
  done
  return 1
}

results=()
record() { results+=("$1|$2|$3|$4"); }
minutes() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# ---- (a) the run command alone, first thing
step_run() {
  local root=$work/root-run log=$work/run.log shot=$work/run-clock.png t0 status=FAIL note=""
  t0=$(date +%s)
  fresh_root "$root"
  copy_checkout "$root" /home/person/vellumine person
  export work root log shot
  export -f in_root wait_for_clock stop_runner
  if note=$(bash "$here/tests/support/with-x-server.sh" bash -c '
      in_root "$root" person "cd ~/vellumine && bash scripts/run.sh" >"$log" 2>&1 &
      runner=$!
      # Installing and building on a clean machine takes a while: on two cores shared with other
      # builds, more than an hour. VELLUMINE_CHECK_RUN_LIMIT sets the limit in seconds.
      if ! clock=$(wait_for_clock "$runner" "${VELLUMINE_CHECK_RUN_LIMIT:-10800}"); then
        echo "no clock window (log: $log)"
        stop_runner "$runner"
        exit 1
      fi
      sleep 3  # the first paint, and a tick of the seconds hand
      import -window root "$shot"
      alive=yes
      kill -0 "$runner" 2>/dev/null || alive=no
      stop_runner "$runner"
      [[ $alive == yes ]] || { echo "the clock ended by itself (log: $log)"; exit 1; }
      echo "clock window $clock on screen"
    '); then
    # The run command installed no test package and built no test.
    if chroot "$root" dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed"; then
      note="$note; but GoogleTest is installed"
    elif ls "$root/home/person/vellumine/build/tests/" >/dev/null 2>&1; then
      note="$note; but tests were built"
    else
      status=PASS
      note="$note; no GoogleTest, no test built; $(chroot "$root" dpkg-query -W -f='${binary:Package}\n' | wc -l) packages"
    fi
  fi
  record "a" "run command: bash scripts/run.sh (as a user, sudo)" "$status" "$(minutes $(($(date +%s) - t0))) | $note; screenshot $shot"
}

# ---- (b) the test command alone
step_test() {
  local root=$work/root-test log=$work/test.log t0 status=FAIL note
  t0=$(date +%s)
  fresh_root "$root"
  copy_checkout "$root" /root/vellumine root
  if in_root "$root" root "cd ~/vellumine && bash scripts/test.sh" >"$log" 2>&1; then status=PASS; fi
  note=$(grep -E 'tests passed|^asan: .*report|^fuzz: [0-9]+ passed' "$log" | tr '\n' ';' | sed 's/;$//' || true)
  record "b" "test command: bash scripts/test.sh (as root)" "$status" "$(minutes $(($(date +%s) - t0))) | ${note:-see $log}; log $log"
}

# build_deb LOG: the .deb as scripts/package.sh builds it in a fresh root (root-package), once per run;
# sets built_deb to its path.
built_deb=""
build_deb() {
  local root=$work/root-package log=$1
  [[ -z $built_deb ]] || return 0
  fresh_root "$root"
  copy_checkout "$root" /root/vellumine root
  in_root "$root" root "cd ~/vellumine && bash scripts/package.sh" >"$log" 2>&1 || return 1
  built_deb=$(ls "$root"/root/vellumine/build/vellumine_*.deb 2>/dev/null | head -1)
  [[ -n $built_deb ]]
}

# ---- (c) the package: built, installed with apt into another clean root, the installed clock started
step_package() {
  local target=$work/root-install log=$work/package.log shot=$work/installed-clock.png
  local t0 status=FAIL note="" deb
  t0=$(date +%s)
  if build_deb "$log" && deb=$built_deb; then
    fresh_root "$target"
    cp "$deb" "$target/tmp/"
    if in_root "$target" root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        --no-install-recommends /tmp/$(basename "$deb") && vellumine --version" >>"$log" 2>&1; then
      export target log shot
      export -f in_root wait_for_clock stop_runner
      if note=$(bash "$here/tests/support/with-x-server.sh" bash -c '
          in_root "$target" person "vellumine" >>"$log" 2>&1 &
          runner=$!
          if ! clock=$(wait_for_clock "$runner" 120); then
            echo "no clock window (log: $log)"
            stop_runner "$runner"
            exit 1
          fi
          sleep 3
          import -window root "$shot"
          stop_runner "$runner"
          echo "installed clock window $clock on screen"
        '); then
        if [[ -d "$target/home/person/.local/share/Vellumine/★MailData" ]]; then
          status=PASS
          note="$(basename "$deb"), $(chroot "$target" dpkg-query -W -f='${binary:Package}\n' | wc -l) packages after apt; $note; user folder made"
        else
          note="$note; but no ~/.local/share/Vellumine/★MailData"
        fi
      fi
    else
      note="apt could not install $(basename "$deb") (log: $log)"
    fi
  else
    note="no package built (log: $log)"
  fi
  record "c" "package: scripts/package.sh, apt install, start" "$status" "$(minutes $(($(date +%s) - t0))) | $note; screenshot $shot"
  if [[ -n ${deb:-} ]]; then lint_package "$work/root-package"; fi
}

# ---- (c') the release's own lintian on what the package step built: the source package and the .deb
# (the .changes names both), pedantic and informational tags shown. Fails on an error or a warning;
# overrides are reported as such.
lint_package() {
  local root=$1 log=$work/lintian.log status=FAIL note
  if in_root "$root" root "DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends lintian \
      >/dev/null && cd ~/vellumine/build/deb && lintian --version && \
      lintian -I --pedantic --show-overrides --fail-on error,warning *.changes" >"$log" 2>&1; then
    status=PASS
  fi
  note=$(grep -E '^[EWIPXO]: ' "$log" | cut -c1 | sort | uniq -c | awk '{printf "%s%s %s", (NR > 1 ? ", " : ""), $1, $2}' || true)
  record "c'" "lintian -I --pedantic on the .changes (.dsc, .deb)" "$status" "$(grep -m1 '^Lintian v' "$log" || echo 'lintian did not run') | tags: ${note:-none}; log $log"
}

# ---- (d) the package's own test, run by autopkgtest against the .deb in a fresh root
step_autopkgtest() {
  local root=$work/root-autopkgtest log=$work/autopkgtest.log out=$work/autopkgtest-out t0 status=FAIL note deb verdict
  t0=$(date +%s)
  rm -rf "$out"
  if [[ -n ${VELLUMINE_CHECK_DEB:-} ]]; then
    deb=$(readlink -f "$VELLUMINE_CHECK_DEB")
  elif build_deb "$work/package-build.log"; then
    deb=$built_deb
  else
    record "d" "autopkgtest: debian/tests against the .deb" FAIL "$(minutes $(($(date +%s) - t0))) | no package built (log: $work/package-build.log)"
    return
  fi
  fresh_root "$root"
  copy_checkout "$root" /root/vellumine root
  cp "$deb" "$root/tmp/"
  # No service of what the test installs starts by itself (Dovecot's): the root shares this machine's
  # network, and a chroot has no init to run them. Debian's chroot builders do the same.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod 755 "$root/usr/sbin/policy-rc.d"
  # -B: the tests run against the given .deb; the source tree is not built again.
  if IN_ROOT_PRIVATE_X=1 in_root "$root" root "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
      --no-install-recommends autopkgtest >/dev/null && \
      autopkgtest -B --output-dir /root/autopkgtest-out /tmp/$(basename "$deb") /root/vellumine/ -- null" >"$log" 2>&1; then
    status=PASS
  fi
  cp -a "$root/root/autopkgtest-out" "$out" 2>/dev/null || true
  verdict=$(grep -E '^clock-and-mail +[A-Z]+' "$out/summary" 2>/dev/null | tr -s ' ' || true)
  note="$(basename "$deb"); ${verdict:-no verdict}; log $log; output $out"
  [[ ! -e $out/artifacts/notice-board.png ]] || note="$note; screenshot $out/artifacts/notice-board.png"
  record "d" "autopkgtest: debian/tests against the .deb" "$status" "$(minutes $(($(date +%s) - t0))) | $note"
}

for s in "${steps[@]}"; do
  echo "check-debian: Debian $release, step $s (started $(date -u +%H:%M:%S) UTC)"
  "step_$s"
done

table=$work/table-$(date -u +%Y%m%dT%H%M%S).txt
{
  echo "Debian $release ($suite, $(cat "$base/etc/debian_version")), mirror $mirror, checkout $(git -C "$here" rev-parse --short HEAD)$(git -C "$here" diff --quiet HEAD || echo '+changes')"
  printf '%-4s %-52s %-6s %s\n' "step" "what" "result" "time | notes"
  for r in "${results[@]}"; do
    IFS='|' read -r id what result rest <<<"$r"
    printf '%-4s %-52s %-6s %s\n' "$id" "$what" "$result" "$rest"
  done
} | tee "$table"
! grep -qE "^[abcd]'? .* FAIL " "$table"
