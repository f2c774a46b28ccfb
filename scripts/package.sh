#!/usr/bin/env bash
# Installs what is missing, builds the clock and makes its Debian package, build/vellumine_<version>_amd64.deb
# (install it with: sudo apt install ./build/vellumine_<version>_amd64.deb). Any locale will do.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package
# The package carries the whole install set (the man page and the changelog too), so everything but the
# tests is built; the tests stay off as for the run command. The flags are those of every Debian
# package, hardening included (scripts/buildflags.sh).
flags=$(bash scripts/buildflags.sh)
mapfile -t flags <<<"$flags"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF "${flags[@]}" >/dev/null
cmake --build build -j2 --target package
ls build/vellumine_*.deb
