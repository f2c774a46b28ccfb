#!/usr/bin/env bash
# Installs what is missing, builds, and starts the clock from its program folder (as a double-click
# would), so that qorvel.ini lands beside the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh run
bash scripts/build.sh
cd build/Vellumine
exec ./vellumine
