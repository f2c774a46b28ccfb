#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each for a bounded number of
# inputs, two at a time. Fails when any target finds a crash, a sanitizer report or a broken property.
#
#   tests/fuzz/run.sh                 20000 inputs per target (what the test command runs)
#   tests/fuzz/run.sh 1000000         a longer run by hand
#   tests/fuzz/run.sh 50000 pop3_text mci_command    only these targets
#
# Each run starts from the seed corpus in tests/fuzz/corpus/<target>/ (never written to) with a fixed
# seed, so a run repeats. The build goes to $VELLUMINE_FUZZ_BUILD_DIR (default build-fuzz/); each
# target's log, the inputs it found and any crashing input are kept under it in runs/<target>/.
# A crash is reproduced with: <build>/tests/fuzz/fuzz_<target> <crashing file>
# (for pop3_session, VELLUMINE_FUZZ_VERBOSE=1 also prints each mail-library call and its result).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
runs=${1:-20000}
shift || true
build=${VELLUMINE_FUZZ_BUILD_DIR:-$root/build-fuzz}
[[ $build == /* ]] || build=$root/$build

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (bash scripts/install-deps.sh test installs it)" >&2
  exit 1
fi

start=$(date +%s)
# Not the release's flags of the normal build: these are g++'s, the targets are clang's, never shipped,
# and _FORTIFY_SOURCE would hide calls from AddressSanitizer (see asan-suite.sh). What the targets
# check, the parsers' handling of any input, does not depend on the hardening.
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUMINE_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
if ! cmake --build "$build" --target vellumine_fuzz_targets -j2 >"$build/fuzz-build.log" 2>&1; then
  tail -50 "$build/fuzz-build.log" >&2
  echo "fuzz: the build failed (log: $build/fuzz-build.log)" >&2
  exit 1
fi
echo "fuzz: targets built in $(($(date +%s) - start)) s"

if [[ $# -gt 0 ]]; then
  targets=("$@")
else
  targets=()
  for source in tests/fuzz/fuzz_*.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name#fuzz_}")
  done
fi

# One target: a fresh working corpus seeded from the checked-in one, the log kept for a failure.
run_one() {
  local name=$1
  local binary=$build/tests/fuzz/fuzz_$name
  local dir=$build/runs/$name
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/crashes"
  local args=(-runs="$runs" -seed=1 -max_len=4096 -timeout=30 -rss_limit_mb=4096 -print_final_stats=1
              -artifact_prefix="$dir/crashes/" "$dir/corpus")
  [[ -d $root/tests/fuzz/corpus/$name ]] && args+=("$root/tests/fuzz/corpus/$name")
  [[ -f $root/tests/fuzz/dict/$name.dict ]] && args=(-dict="$root/tests/fuzz/dict/$name.dict" "${args[@]}")
  local t0
  t0=$(date +%s)
  if UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$binary" "${args[@]}" >"$dir/log" 2>&1; then
    local done
    done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
    printf 'fuzz: %-14s %8s runs  %4d s  ok\n' "$name" "${done:-?}" "$(($(date +%s) - t0))"
  else
    printf 'fuzz: %-14s FAILED after %d s; the end of its log (%s):\n' "$name" "$(($(date +%s) - t0))" "$dir/log"
    grep -v '^#[0-9]' "$dir/log" | tail -60 | sed 's/^/    /'
    for crash in "$dir"/crashes/*; do
      [[ -e $crash ]] && echo "    reproduce: $binary $crash"
    done
    touch "$dir/FAILED"
  fi
}

failed=0
for name in "${targets[@]}"; do
  rm -rf "$build/runs/$name"
  if [[ ! -x $build/tests/fuzz/fuzz_$name ]]; then
    echo "fuzz: no target $name" >&2
    failed=1
    continue
  fi
  # Two at a time: the machines this is made for have two cores.
  while [[ $(jobs -rp | wc -l) -ge 2 ]]; do wait -n || true; done
  run_one "$name" &
done
wait
passed=0
broken=0
for name in "${targets[@]}"; do
  if [[ -e $build/runs/$name/FAILED || ! -e $build/runs/$name/log ]]; then
    broken=$((broken + 1))
  else
    passed=$((passed + 1))
  fi
done

echo "fuzz: ${#targets[@]} targets, $runs runs each, $(($(date +%s) - start)) s in all"
echo "fuzz: $passed passed, $broken failed"
[[ $failed -eq 0 && $broken -eq 0 ]]
