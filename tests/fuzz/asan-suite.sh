#!/usr/bin/env bash
# The whole test suite once more, built with AddressSanitizer and UndefinedBehaviorSanitizer (g++, the
# compiler of the normal build). Fails on any failing test and on any sanitizer report: UBSan halts
# at the first report, ASan at its first error, LeakSanitizer fails the process at exit; the reports
# are printed at the end.
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

# verify_asan_link_order=0: the end-to-end tests start the program with libfaketime preloaded ahead of
# the ASan runtime, which works but would be refused.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:verify_asan_link_order=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/fuzz/lsan-suppressions.txt:print_suppressions=0

start=$(date +%s)
# The hardening of the normal build (scripts/buildflags.sh), so that the suite checks the code that
# ships, less _FORTIFY_SOURCE: it turns memcpy, strcpy, read and the like into glibc's checked __*_chk
# versions, not all of which AddressSanitizer intercepts, so an overflow through one could go
# unreported; and what it checks, AddressSanitizer checks on every access anyway.
# -O1 and line tables only (after the release's -O2 -g, so they win): builds in little more than half
# the time of -O2 -g, and reports still name file and line.
flags=$(bash scripts/buildflags.sh hardening=+all,-fortify)
mapfile -t flags <<<"$flags"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DVELLUMINE_SANITIZERS=address,undefined,float-cast-overflow >/dev/null
if ! cmake --build "$build" -j2 >"$build/asan-build.log" 2>&1; then
  tail -60 "$build/asan-build.log" >&2
  echo "asan: the build failed (log: $build/asan-build.log)" >&2
  exit 1
fi
built=$(date +%s)
echo "asan: built in $((built - start)) s"

# From here on every report goes to a file of its own, also those of programs the tests start (the
# end-to-end tests run the program itself), whose exit codes a test may not look at. A report fails
# the run even when every test passed.
reports=$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS=$ASAN_OPTIONS:log_path=$reports/asan
export UBSAN_OPTIONS=$UBSAN_OPTIONS:log_path=$reports/ubsan

cd "$build"
status=0
# As in the normal suite, a failing test runs once more before it counts (a slow X server or mail
# server); a sanitizer report of the first run still fails the whole run below.
ctest --output-on-failure -j2 --repeat until-pass:2 "$@" || status=$?
echo "asan: tests ran in $(($(date +%s) - built)) s"
if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "asan: ---- $report"
    cat "$report"
  done
  echo "asan: $(ls "$reports" | wc -l) sanitizer report(s), above" >&2
  status=1
fi
exit $status
