#!/usr/bin/env bash
# Installs what is missing and builds the Debian source and binary packages from debian/ with
# dpkg-buildpackage, as Debian builds its own: build/vellumine_<version>_<arch>.deb (install it with:
# sudo apt install ./build/vellumine_<version>_amd64.deb), the source package and the build log beside
# it in build/deb/. Any locale will do.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh package
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
# dpkg-buildpackage writes its results beside the source folder: it builds a clean copy of the tree in
# build/deb/, so that the results stay in build/ and no build folder or history goes into the source
# package.
out=build/deb
rm -rf "$out"
mkdir -p "$out/vellumine-$version"
tar -c --exclude=./build --exclude='./build-*' --exclude=./.git --exclude=./Testing . |
  tar -x -C "$out/vellumine-$version"
cd "$out/vellumine-$version"
dpkg-checkbuilddeps
dpkg-buildpackage -us -uc -j2 >../build.log 2>&1 || { tail -40 ../build.log >&2; echo "package: the build failed (log: $out/build.log)" >&2; exit 1; }
cd ../../..
cp "$out/vellumine_${version}_$arch.deb" build/
ls "build/vellumine_${version}_$arch.deb"
