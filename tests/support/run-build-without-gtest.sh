#!/usr/bin/env bash
# The run command's build (scripts/build.sh run) must configure on a machine without GoogleTest, and
# the test command's (scripts/build.sh) must not go on without it: both configured here from the
# scripts themselves, with GoogleTest hidden from CMake. The run build takes the hardened flags too.
# Usage: run-build-without-gtest.sh SOURCE SCRATCH
set -u
source=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
export VELLUMINE_CONFIGURE_ONLY=1 VELLUMINE_CMAKE_ARGS=-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
failed=0
if ! VELLUMINE_BUILD_DIR=$scratch/run bash "$source/scripts/build.sh" run >"$scratch/run.log" 2>&1; then
  echo "FAIL: the run build does not configure without GoogleTest:"; cat "$scratch/run.log"; failed=1
elif grep -q 'test_platform' "$scratch/run/Makefile" || [[ -e $scratch/run/tests ]]; then
  echo "FAIL: the run build has the tests in it"; failed=1
elif ! want=$(cd "$source" && bash scripts/buildflags.sh | sed -n 's/^-DCMAKE_CXX_FLAGS=//p') \
  || ! grep -qxF "CMAKE_CXX_FLAGS:STRING=$want" "$scratch/run/CMakeCache.txt"; then
  # The clock people start from a checkout is built as the package is.
  echo "FAIL: the run build is not configured with the release's hardened flags ($want):"
  grep '^CMAKE_CXX_FLAGS:' "$scratch/run/CMakeCache.txt"; failed=1
fi
if VELLUMINE_BUILD_DIR=$scratch/all bash "$source/scripts/build.sh" >"$scratch/all.log" 2>&1; then
  echo "FAIL: the full build configured without GoogleTest, so the tests would be missing"; failed=1
elif ! grep -q 'The tests need GoogleTest' "$scratch/all.log"; then
  echo "FAIL: the full build failed without saying GoogleTest is missing:"; cat "$scratch/all.log"; failed=1
fi
[[ $failed -eq 0 ]] && rm -rf "$scratch" && echo "ok: the run build needs no GoogleTest; the full build asks for it"
exit $failed
