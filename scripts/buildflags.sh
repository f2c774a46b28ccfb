#!/usr/bin/env bash
# Prints the flags Debian builds its packages with on this release, all hardening on, as CMake
# arguments, one a line: the program run from a checkout is built as the package is.
#   buildflags.sh                        hardening=+all
#   buildflags.sh hardening=+all,-fortify    other maintainer options (the sanitizer build's)
# CPPFLAGS go with the compiler flags: CMake has no variable of its own for them.
# Run from the top of the source tree: -ffile-prefix-map maps the current folder to ".".
set -euo pipefail
options=${1:-hardening=+all}

if ! command -v dpkg-buildflags >/dev/null; then
  echo "buildflags: dpkg-buildflags is missing (bash scripts/install-deps.sh run installs dpkg-dev)" >&2
  exit 1
fi
get() { DEB_BUILD_MAINT_OPTIONS=$options dpkg-buildflags --get "$1"; }
cxxflags="$(get CPPFLAGS) $(get CXXFLAGS)"
ldflags=$(get LDFLAGS)

# dpkg before 1.22 (Debian 12) knows neither stack-clash protection nor control-flow protection:
# add what 1.22 adds, unless the options turn it off.
features=$(DEB_BUILD_MAINT_OPTIONS=$options dpkg-buildflags --query-features hardening)
wanted() { [[ $options != *-$1* && ($options == *+all* || $options == *+$1*) ]]; }
if ! grep -qx 'Feature: stackclash' <<<"$features" && wanted stackclash; then
  cxxflags+=" -fstack-clash-protection"
fi
if ! grep -qx 'Feature: branch' <<<"$features" && wanted branch \
  && [[ $(dpkg-architecture -qDEB_HOST_ARCH) == amd64 ]]; then
  cxxflags+=" -fcf-protection"
fi
# Level 3 of _FORTIFY_SOURCE checks sizes only known at run time too; g++ 14 (Debian 13) and later
# take it, as the release's own packages do where its dpkg asks for it.
read -r gnu clang < <(echo __GNUC__ __clang__ | "${CXX:-c++}" -E -P -x c++ -)
if [[ $cxxflags == *-D_FORTIFY_SOURCE=2* && $clang == __clang__ && $gnu -ge 14 ]]; then
  cxxflags=${cxxflags//-D_FORTIFY_SOURCE=2/-D_FORTIFY_SOURCE=3}
fi

echo "-DCMAKE_CXX_FLAGS=$cxxflags"
for kind in EXE SHARED MODULE; do
  echo "-DCMAKE_${kind}_LINKER_FLAGS=$ldflags"
done
