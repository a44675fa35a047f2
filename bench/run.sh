#!/usr/bin/env bash
# Whole-program benchmark: times zorvik against cksfv, rhash, md5sum and cat
# on the same data in one run, and prints medians and ratios.
#
#   bench/run.sh [build-dir] [data-dir] [runs]
#
# Hot page cache by default; ZORVIK_BENCH_COLD=1 drops the caches before each
# timed run (needs root). Installs the peers from Debian when they are missing.
set -euo pipefail

build=$(realpath "${1:-build}")
data=${2:-/tmp/zorvik-bench}
runs=${3:-5}
zorvik="$build/cli/zorvik"
[ -x "$zorvik" ] || { echo "no zorvik at $zorvik (build first)" >&2; exit 2; }

need=()
for tool in cksfv rhash bc hyperfine; do command -v "$tool" >/dev/null || need+=("$tool"); done
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq && apt-get install -y -qq "${need[@]}" >/dev/null
fi

mkdir -p "$data"
cd "$data"
export HOME="$data/home"
mkdir -p "$HOME"

make_file() {  # name size-in-MiB
  [ -f "$1" ] && [ "$(stat -c %s "$1")" -eq $(($2 * 1048576)) ] && return
  head -c $(($2 * 1048576)) /dev/urandom > "$1"
}
make_file mapped.bin 858     # 900 MB: mapped in 4 MiB windows
make_file streamed.bin 2048  # 2 GiB: read in 8 KiB pieces
if [ ! -d small ]; then
  mkdir small
  for d in $(seq -w 0 99); do
    mkdir "small/d$d"
    for f in $(seq -w 0 199); do head -c 4096 /dev/urandom > "small/d$d/f$f"; done
  done
fi
small_files=$(find small -type f | wc -l)

drop_caches='sync; echo 3 > /proc/sys/vm/drop_caches'
cold() { [ "${ZORVIK_BENCH_COLD:-0}" = 1 ]; }

# median seconds of `runs` timed runs of a command string. hyperfine takes
# off the time its shell needs to start; without it, each run is timed
# around a shell of its own.
measure() {
  if command -v hyperfine >/dev/null; then
    local json="$PWD/.timing.json"
    local prepare=()
    cold && prepare=(--prepare "$drop_caches")
    hyperfine --runs "$runs" --shell bash --ignore-failure --style none "${prepare[@]}" \
      --export-json "$json" "$1" >/dev/null 2>&1 || echo "FAILED: $1" >&2
    grep -o '"median": *[0-9.e+-]*' "$json" | head -n 1 | sed 's/.*: *//'
    return
  fi
  local times=()
  for _ in $(seq "$runs"); do
    cold && bash -c "$drop_caches"
    local t0 t1
    t0=$(date +%s.%N)
    bash -c "$1" >/dev/null 2>&1 || { echo "FAILED: $1" >&2; }
    t1=$(date +%s.%N)
    times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

declare -A secs
row() {  # key command
  secs[$1]=$(measure "$2")
}

warm() { cat mapped.bin streamed.bin > /dev/null; find small -type f -exec cat {} + > /dev/null; }
warm

Z="$zorvik -q"
for f in mapped streamed; do
  row "cat/$f"            "cat $f.bin"
  row "zorvik-sfv-c/$f"   "$Z -c z.sfv $f.bin"
  row "zorvik-sfv-v/$f"   "$Z -a z.sfv"
  row "rhash-sfv-c/$f"    "rhash --crc32 --sfv $f.bin > r.sfv"
  row "rhash-sfv-v/$f"    "rhash -c r.sfv"
  row "cksfv-c/$f"        "cksfv $f.bin > c.sfv"
  row "cksfv-v/$f"        "cksfv -f c.sfv"
  row "zorvik-md5-c/$f"   "$Z -c z.md5 $f.bin"
  row "zorvik-md5-v/$f"   "$Z z.md5"
  row "md5sum-c/$f"       "md5sum $f.bin > m.md5"
  row "md5sum-v/$f"       "md5sum -c m.md5"
  row "rhash-md5-c/$f"    "rhash --md5 $f.bin > r.md5"
  row "rhash-md5-v/$f"    "rhash -c r.md5"
done

row "zorvik-sfv-c/small"  "$Z -r -c zs.sfv small"
row "zorvik-sfv-v/small"  "$Z -a zs.sfv"
$zorvik -q zs.sfv >/dev/null || true   # leaves every entry previously verified
row "zorvik-sfv-pv/small" "$Z zs.sfv"
row "rhash-sfv-c/small"   "rhash -r --crc32 --sfv small > rs.sfv"
row "rhash-sfv-v/small"   "rhash -c rs.sfv"
row "cksfv-c/small"       "cksfv small/*/* > cs.sfv"
row "cksfv-v/small"       "cksfv -f cs.sfv"
row "zorvik-md5-c/small"  "$Z -r -c zs.md5 small"
row "zorvik-md5-v/small"  "$Z zs.md5"
row "md5sum-c/small"      "md5sum small/*/* > ms.md5"
row "md5sum-v/small"      "md5sum -c ms.md5"
row "rhash-md5-c/small"   "rhash -r --md5 small > rs.md5"
row "rhash-md5-v/small"   "rhash -c rs.md5"

size_of() { stat -c %s "$1.bin"; }
echo
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "flags: $(grep -m1 flags /proc/cpuinfo | tr ' ' '\n' | grep -E '^(sse4_2|pclmulqdq|avx2|avx512f|avx512bw|vpclmulqdq)$' | tr '\n' ' ')"
echo "runs: $runs (median), cache: $(cold && echo cold || echo hot), timer: $(command -v hyperfine >/dev/null && echo hyperfine || echo date)"
echo
printf '%-22s %10s %12s\n' "command/data" "seconds" "GB/s|files/s"
for k in $(printf '%s\n' "${!secs[@]}" | sort -t/ -k2,2 -k1,1); do
  d=${k#*/}
  if [ "$d" = small ]; then
    rate=$(echo "$small_files / ${secs[$k]}" | bc -l)
    printf '%-22s %10.3f %12.0f\n' "$k" "${secs[$k]}" "$rate"
  else
    rate=$(echo "$(size_of "$d") / ${secs[$k]} / 1000000000" | bc -l)
    printf '%-22s %10.3f %12.2f\n' "$k" "${secs[$k]}" "$rate"
  fi
done

ratio() { echo "${secs[$2]} / ${secs[$1]}" | bc -l; }  # speed of $1 relative to $2
echo
echo "Ratios (speed of zorvik / speed of the other; above 1 means zorvik is faster)"
for d in mapped streamed; do
  for m in sfv-c sfv-v; do
    printf '%-28s cat %.2f  rhash %.2f  cksfv %.2f\n' "zorvik-$m/$d" \
      "$(ratio "zorvik-$m/$d" "cat/$d")" "$(ratio "zorvik-$m/$d" "rhash-${m}/$d")" \
      "$(ratio "zorvik-$m/$d" "cksfv-${m#sfv-}/$d")"
  done
  for m in md5-c md5-v; do
    printf '%-28s md5sum %.2f  rhash %.2f\n' "zorvik-$m/$d" \
      "$(ratio "zorvik-$m/$d" "md5sum-${m#md5-}/$d")" "$(ratio "zorvik-$m/$d" "rhash-$m/$d")"
  done
done
for m in sfv-c sfv-v; do
  printf '%-28s rhash %.2f  cksfv %.2f\n' "zorvik-$m/small" \
    "$(ratio "zorvik-$m/small" "rhash-$m/small")" "$(ratio "zorvik-$m/small" "cksfv-${m#sfv-}/small")"
done
for m in md5-c md5-v; do
  printf '%-28s md5sum %.2f  rhash %.2f\n' "zorvik-$m/small" \
    "$(ratio "zorvik-$m/small" "md5sum-${m#md5-}/small")" "$(ratio "zorvik-$m/small" "rhash-$m/small")"
done
