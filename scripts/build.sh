#!/usr/bin/env bash
# Configures and builds into build/ (two jobs: the machines this is made for have two cores).
#   build.sh        everything: the clock, the tests (GoogleTest needed) and the benchmarks
#   build.sh run    the clock alone, tests off: what scripts/run.sh installs is enough
# VELLUMINE_BUILD_DIR names another build folder; VELLUMINE_CONFIGURE_ONLY=1 stops after configuring;
# VELLUMINE_CMAKE_ARGS adds arguments to the configure step (the suite checks the run build with them).
# Both builds take the flags the Debian package is built with, hardening included (scripts/buildflags.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-all}
build=${VELLUMINE_BUILD_DIR:-build}
case $mode in
  run) tests=OFF targets=(--target vellumine) ;;
  all) tests=ON targets=() ;;
  *) echo "usage: $0 [run]" >&2; exit 2 ;;
esac
flags=$(bash scripts/buildflags.sh)
mapfile -t flags <<<"$flags"
read -r -a extra <<<"${VELLUMINE_CMAKE_ARGS:-}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=$tests "${flags[@]}" "${extra[@]}" >/dev/null
[[ -n ${VELLUMINE_CONFIGURE_ONLY:-} ]] && exit 0
cmake --build "$build" -j2 "${targets[@]}"
