#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# if needed and runs each for the given seconds from a working copy of its
# seed corpus. Fails on any crash, leak, timeout or sanitizer report; prints
# exec/s, total runs and coverage per target.
#   fuzz/run.sh <seconds-per-target> [target...]
# ZORVIK_FUZZ_BUILD picks the build directory (default build-fuzz).
set -euo pipefail

seconds=${1:?usage: fuzz/run.sh <seconds-per-target> [target...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZORVIK_FUZZ_BUILD:-$root/build-fuzz}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_sfv fuzz_md5 fuzz_digestlist fuzz_config fuzz_base64 fuzz_hash fuzz_md5_lanes)

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DZORVIK_BUILD_FUZZERS=ON \
    -DZORVIK_BUILD_TESTS=OFF -DZORVIK_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target "${targets[@]}" -j2

ZORVIK_FUZZ_TMP=$(mktemp -d /dev/shm/zorvik-fuzz-run.XXXXXX 2>/dev/null || mktemp -d)
export ZORVIK_FUZZ_TMP
trap 'rm -rf "$ZORVIK_FUZZ_TMP"' EXIT

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
summary=()
for target in "${targets[@]}"; do
  work=$build/fuzz-run/$target
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -n "$root/fuzz/corpus/$target/"* "$work/corpus/" 2>/dev/null || true
  log=$work/log
  echo "=== $target: ${seconds}s"
  ok=1
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 || ok=0
  if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|check failed' "$log"; then
    ok=0
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(find "$work/corpus" -type f | wc -l)
  line=$(printf '%-12s %-4s exec/s %-7s runs %-10s cov %-5s ft %-6s corpus %s' \
    "$target" "$([ $ok = 1 ] && echo ok || echo FAIL)" "${rate:-?}" "${runs:-?}" \
    "${cov:-?}" "${ft:-?}" "$corpus")
  summary+=("$line")
  echo "$line"
  if [ $ok = 0 ]; then
    failed+=("$target")
    tail -n 60 "$log"
    ls -l "$work/artifacts"
  fi
done

echo
echo "=== summary"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]} (logs and crashing inputs under $build/fuzz-run/)"
  exit 1
fi
