#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite, the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
bash scripts/build.sh
# A test that fails is run once more before it counts: the end-to-end tests start X servers, window
# managers and mail servers of their own, and on a loaded machine one of those can be slow to come up.
# A fault of the program fails both runs.
(cd build && ctest --output-on-failure -j2 --repeat until-pass:2)
# Second build folder (build-asan/); fails on a failing test or any sanitizer report.
bash tests/fuzz/asan-suite.sh
# Third build folder (build-fuzz/, clang and libFuzzer); 20,000 inputs per target from the seed corpus.
bash tests/fuzz/run.sh 20000
