#!/usr/bin/env bash
# The program is built with the release's hardening (scripts/buildflags.sh), as Debian's packages are.
# Usage: check-hardening.sh PROGRAM COMPILER [nofortify]   (nofortify: the sanitizer build leaves it out)
# hardening-check judges PIE, the stack protector, _FORTIFY_SOURCE, RELRO and immediate binding. Its
# other two lines cannot speak for every build: it only recognises the probe loop of a stack
# allocation of variable size, which the program need not have, and the control-flow note only
# reaches a program when the C library's start files carry it too (Debian 12's do not). Those two
# are read from what the compiler recorded for each source file, and the note is asked for whenever
# the start files have it.
set -u
program=$1 compiler=$2 fortify=${3:-}
if ! command -v hardening-check >/dev/null; then
  echo "FAIL: hardening-check is missing (bash scripts/install-deps.sh test installs devscripts)"
  exit 1
fi
failed=0
skip=(--nocfprotection)  # stack clash: "unknown" does not fail it
[[ $fortify == nofortify ]] && skip+=(--nofortify)
# Debian 13's hardening-check also asks for arm64's branch protection, which no amd64 build has.
if [[ $(uname -m) != aarch64 ]] && hardening-check --help 2>&1 | grep -q -- --nobranchprotection; then
  skip+=(--nobranchprotection)
fi
if ! report=$(hardening-check "${skip[@]}" "$program"); then
  echo "FAIL: hardening-check:"; echo "$report"; failed=1
fi

amd64=0
[[ $(uname -m) == x86_64 ]] && amd64=1
# The program's own source files, C++20: the sanitizer build links pieces of the compiler's runtime
# in too, built as the compiler's makers chose.
producers=$(readelf --debug-dump=info --dwarf-depth=1 "$program" | grep 'DW_AT_producer.*GNU C++20 ')
if [[ -z $producers ]]; then
  echo "FAIL: no compiler options recorded in $program (built without -g?)"; failed=1
fi
wanted=(-fstack-clash-protection)
((amd64)) && wanted+=(-fcf-protection)
for option in "${wanted[@]}"; do
  missing=$(grep -c -v -- "$option" <<<"$producers")
  if [[ -n $producers && $missing -ne 0 ]]; then
    echo "FAIL: $missing source file(s) built without $option:"; grep -v -- "$option" <<<"$producers" | head -3
    failed=1
  fi
done
if ((amd64)); then
  start=$("$compiler" -print-file-name=Scrt1.o)
  if readelf -n "$start" | grep -q 'x86 feature: IBT, SHSTK' && ! readelf -n "$program" | grep -q 'x86 feature: IBT, SHSTK'; then
    echo "FAIL: the C library's start files are built for control-flow protection, the program is not"
    failed=1
  fi
fi
[[ $failed -eq 0 ]] && echo "ok: $program is hardened"
exit $failed
