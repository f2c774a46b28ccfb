#!/usr/bin/env bash
# Installs what is missing, builds the clock (not the tests: they need packages the clock does not),
# and starts it from its program folder (as a double-click would), so that qorvel.ini lands beside the
# program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
bash scripts/build.sh run
cd build/Vellumine
exec ./vellumine
