#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
bash scripts/build.sh
cd build
# A test that fails is run once more before it counts: the end-to-end tests start X servers, window
# managers and mail servers of their own, and on a loaded machine one of those can be slow to come up.
# A fault of the program fails both runs.
ctest --output-on-failure -j2 --repeat until-pass:2
