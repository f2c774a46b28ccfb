#!/usr/bin/env bash
# Prints the flags Debian builds its packages with on this release, all hardening on, as CMake
# arguments, one a line: the program run from a checkout is built as the package is.
#   buildflags.sh                             hardening=+all
#   buildflags.sh hardening=+all,-fortify     other maintainer options (the sanitizer build's)
#   buildflags.sh --append CXXFLAGS|CPPFLAGS  only what this adds to the release's dpkg-buildflags,
#                                             for debian/rules' DEB_<flag>_MAINT_APPEND
# CPPFLAGS go with the compiler flags: CMake has no variable of its own for them.
# Run from the top of the source tree: -ffile-prefix-map maps the current folder to ".".
set -euo pipefail
append=""
if [[ ${1:-} == --append ]]; then
  append=$2
  shift 2
fi
options=${1:-hardening=+all}

if ! command -v dpkg-buildflags >/dev/null; then
  echo "buildflags: dpkg-buildflags is missing (bash scripts/install-deps.sh run installs dpkg-dev)" >&2
  exit 1
fi
export DEB_BUILD_MAINT_OPTIONS=$options

# dpkg before 1.22 (Debian 12) knows neither stack-clash protection nor control-flow protection:
# add what 1.22 adds, unless the options turn it off.
cxx_append="" cpp_append=""
features=$(dpkg-buildflags --query-features hardening)
wanted() { [[ $options != *-$1* && ($options == *+all* || $options == *+$1*) ]]; }
if ! grep -qx 'Feature: stackclash' <<<"$features" && wanted stackclash; then
  cxx_append+=" -fstack-clash-protection"
fi
if ! grep -qx 'Feature: branch' <<<"$features" && wanted branch \
  && [[ $(dpkg-architecture -qDEB_HOST_ARCH) == amd64 ]]; then
  cxx_append+=" -fcf-protection"
fi
# Level 3 of _FORTIFY_SOURCE checks sizes only known at run time too; g++ 14 (Debian 13) and later
# take it, as the release's own packages do where its dpkg asks for it.
read -r gnu clang < <(echo __GNUC__ __clang__ | "${CXX:-c++}" -E -P -x c++ -)
if [[ $(dpkg-buildflags --get CPPFLAGS) == *-D_FORTIFY_SOURCE=2* && $clang == __clang__ && $gnu -ge 14 ]]; then
  cpp_append+=" -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=3"
fi

case $append in
  CXXFLAGS) echo "${cxx_append# }"; exit 0 ;;
  CPPFLAGS) echo "${cpp_append# }"; exit 0 ;;
  "") ;;
  *) echo "usage: $0 [--append CXXFLAGS|CPPFLAGS] [maintainer options]" >&2; exit 2 ;;
esac
[[ -n $cxx_append ]] && export DEB_CXXFLAGS_MAINT_APPEND="${DEB_CXXFLAGS_MAINT_APPEND:+$DEB_CXXFLAGS_MAINT_APPEND }${cxx_append# }"
[[ -n $cpp_append ]] && export DEB_CPPFLAGS_MAINT_APPEND="${DEB_CPPFLAGS_MAINT_APPEND:+$DEB_CPPFLAGS_MAINT_APPEND }${cpp_append# }"
echo "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
for kind in EXE SHARED MODULE; do
  echo "-DCMAKE_${kind}_LINKER_FLAGS=$ldflags"
done
