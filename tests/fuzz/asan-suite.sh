#!/usr/bin/env bash
# The whole test suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer (g++, the
# compiler of the normal build). Fails on any failing test, and every sanitizer report fails its test:
# UBSan halts at the first report, ASan at its first error, LeakSanitizer fails the test at exit.
# Leaks inside the libraries themselves are suppressed by lsan-suppressions.txt beside this file;
# our own never are.
#
#   tests/fuzz/asan-suite.sh              build into $VELLUMINE_ASAN_BUILD_DIR (default build-asan/)
#   tests/fuzz/asan-suite.sh -R Pop3      extra arguments go to ctest
#
# The asset tools run under the sanitizers too, while building.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${VELLUMINE_ASAN_BUILD_DIR:-$root/build-asan}
[[ $build == /* ]] || build=$root/$build

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan-suppressions.txt:print_suppressions=0

start=$(date +%s)
# -O1 and line tables only: builds about a third faster than -O2 -g and still names file and line.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DVELLUMINE_SANITIZERS=address,undefined,float-cast-overflow >/dev/null
if ! cmake --build "$build" -j2 >"$build/asan-build.log" 2>&1; then
  tail -60 "$build/asan-build.log" >&2
  echo "asan: the build failed (log: $build/asan-build.log)" >&2
  exit 1
fi
built=$(date +%s)
echo "asan: built in $((built - start)) s"

cd "$build"
status=0
ctest --output-on-failure -j2 "$@" || status=$?
echo "asan: tests ran in $(($(date +%s) - built)) s"
exit $status
