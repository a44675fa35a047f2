#!/usr/bin/env bash
# Whole-program benchmark: zorvik against cat, cksfv, rhash, md5sum and
# md5deep on the same data in one run, on an idle machine, with one core
# kept busy by a shell loop, and pinned to one CPU (every tool alike). Prints
# medians, the spread (slowest / fastest run) and zorvik's speed relative to
# the others.
#
#   bench/run.sh [build-dir] [data-dir] [runs]
#
# ZORVIK_BENCH_LOADS picks the loads (default "idle busy pinned"),
# ZORVIK_BENCH_SETS the data sets (default "many medium mid big").
# ZORVIK_BENCH_COLD=1 drops the caches before each timed run (needs root).
# Installs the peers and hyperfine from Debian when they are missing.
set -euo pipefail

build=$(realpath "${1:-build}")
data=${2:-/tmp/zorvik-bench}
runs=${3:-5}
loads=${ZORVIK_BENCH_LOADS:-idle busy pinned}
sets=${ZORVIK_BENCH_SETS:-many medium mid big}
zorvik="$build/cli/zorvik"
[ -x "$zorvik" ] || { echo "no zorvik at $zorvik (build first)" >&2; exit 2; }

need=()
for tool in cksfv rhash md5deep bc hyperfine; do command -v "$tool" >/dev/null || need+=("$tool"); done
if [ ${#need[@]} -gt 0 ]; then
  pkgs=("${need[@]/md5deep/hashdeep}")
  apt-get update -qq && apt-get install -y -qq "${pkgs[@]}" >/dev/null
fi

mkdir -p "$data"
cd "$data"
export HOME="$data/home"
mkdir -p "$HOME"

# The data sets: 20,000 files of 4 KiB in 100 directories, 200 files of
# 5 MiB, a file of 900 MB and one of 2 GiB, all random.
make_file() {  # name bytes
  [ -f "$1" ] && [ "$(stat -c %s "$1")" -eq "$2" ] && return
  head -c "$2" /dev/urandom >"$1"
}
make_file mid.bin 900000000
make_file big.bin 2147483648
if [ ! -d many ]; then
  mkdir many
  for d in $(seq -w 0 99); do
    mkdir "many/d$d"
    for f in $(seq -w 0 199); do head -c 4096 /dev/urandom >"many/d$d/f$f"; done
  done
fi
if [ ! -d medium ]; then
  mkdir medium
  for f in $(seq -w 0 199); do head -c 5242880 /dev/urandom >"medium/f$f"; done
fi
declare -A files=([many]='many/*/*' [medium]='medium/*' [mid]=mid.bin [big]=big.bin)
declare -A tree=([many]='-r many' [medium]='-r medium' [mid]=mid.bin [big]=big.bin)
declare -A count=([many]=20000 [medium]=200 [mid]=1 [big]=1)
declare -A bytes=([many]=81920000 [medium]=1048576000 [mid]=900000000 [big]=2147483648)

cold() { [ "${ZORVIK_BENCH_COLD:-0}" = 1 ]; }
drop_caches='sync; echo 3 > /proc/sys/vm/drop_caches'

# Times a command string; sets `median` and `spread` (slowest / fastest).
measure() {
  local json="$PWD/.timing.json" prepare=()
  cold && prepare=(--prepare "$drop_caches")
  if ! hyperfine --runs "$runs" --shell bash --ignore-failure --style none "${prepare[@]}" \
      --export-json "$json" "$1" >/dev/null 2>&1; then
    echo "FAILED: $1" >&2
  fi
  median=$(grep -o '"median": *[0-9.e+-]*' "$json" | head -n 1 | sed 's/.*: *//')
  local min max
  min=$(grep -o '"min": *[0-9.e+-]*' "$json" | head -n 1 | sed 's/.*: *//')
  max=$(grep -o '"max": *[0-9.e+-]*' "$json" | head -n 1 | sed 's/.*: *//')
  spread=$(echo "$max / $min" | bc -l)
}

declare -A secs spreads
row() {  # key command
  measure "$2"
  secs[$1]=$median
  spreads[$1]=$spread
}

busy=
stop_busy() { [ -n "$busy" ] && kill "$busy" 2>/dev/null; busy=; }
trap stop_busy EXIT

for load in $loads; do
  prefix=
  case $load in
    busy) bash -c 'while :; do :; done' & busy=$! ;;
    pinned) prefix='taskset -c 0 ' ;;
  esac
  for set in $sets; do
    f=${files[$set]} t=${tree[$set]}
    cold || cat $f >/dev/null
    Z="$prefix$zorvik -q"
    k="$load/$set"
    row "zorvik-sfv-c/$k" "$Z -c z.sfv $t"
    row "zorvik-sfv-v/$k" "$Z -a z.sfv"
    row "zorvik-md5-c/$k" "$Z -c z.md5 $t"
    row "zorvik-md5-v/$k" "$Z z.md5"
    row "cat/$k" "${prefix}cat $f >/dev/null"
    row "rhash-sfv-c/$k" "${prefix}rhash --crc32 --sfv $f >r.sfv"
    row "rhash-sfv-v/$k" "${prefix}rhash -c r.sfv"
    row "cksfv-sfv-c/$k" "${prefix}cksfv $f >c.sfv"
    row "cksfv-sfv-v/$k" "${prefix}cksfv -f c.sfv"
    row "md5sum-md5-c/$k" "${prefix}md5sum $f >m.md5"
    row "md5sum-md5-v/$k" "${prefix}md5sum -c m.md5"
    row "rhash-md5-c/$k" "${prefix}rhash --md5 $f >r.md5"
    row "rhash-md5-v/$k" "${prefix}rhash -c r.md5"
    row "md5deep-md5-c/$k" "${prefix}md5deep $t >d.md5"
    if [ "$set" = many ]; then
      $zorvik -q z.sfv >/dev/null || true  # leaves every entry previously verified
      row "zorvik-sfv-pv/$k" "$Z z.sfv"
    fi
  done
  stop_busy
done

echo
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) CPUs"
echo "flags: $(grep -m1 flags /proc/cpuinfo | tr ' ' '\n' | grep -E '^(sse4_2|pclmulqdq|avx2|avx512f|avx512bw|vpclmulqdq|sha_ni)$' | tr '\n' ' ')"
echo "runs: $runs (median), cache: $(cold && echo cold || echo hot), zorvik workers by default: $(nproc)"
echo
printf '%-34s %9s %11s %7s\n' "command/load/set" "seconds" "GB/s|files/s" "spread"
for k in $(printf '%s\n' "${!secs[@]}" | sort -t/ -k2,2 -k3,3 -k1,1); do
  set=${k##*/}
  if [ "${count[$set]}" -gt 1 ]; then
    rate=$(echo "${count[$set]} / ${secs[$k]}" | bc -l)
    printf '%-34s %9.3f %11.0f %7.2f\n' "$k" "${secs[$k]}" "$rate" "${spreads[$k]}"
  else
    rate=$(echo "${bytes[$set]} / ${secs[$k]} / 1000000000" | bc -l)
    printf '%-34s %9.3f %11.2f %7.2f\n' "$k" "${secs[$k]}" "$rate" "${spreads[$k]}"
  fi
done

# Speed of zorvik over that of the other: above 1, zorvik is faster.
ratio() { [ -n "${secs[$2]:-}" ] && printf ' %s %.2f' "${2%%-*}" "$(echo "${secs[$2]} / ${secs[$1]}" | bc -l)"; }
echo
echo "Ratios (speed of zorvik / speed of the other; above 1 means zorvik is faster)"
for load in $loads; do
  for set in $sets; do
    k="$load/$set"
    for m in c v; do
      printf '%-28s' "zorvik-sfv-$m/$k"
      ratio "zorvik-sfv-$m/$k" "cat/$k"
      ratio "zorvik-sfv-$m/$k" "rhash-sfv-$m/$k"
      ratio "zorvik-sfv-$m/$k" "cksfv-sfv-$m/$k"
      echo
      printf '%-28s' "zorvik-md5-$m/$k"
      ratio "zorvik-md5-$m/$k" "md5sum-md5-$m/$k"
      ratio "zorvik-md5-$m/$k" "rhash-md5-$m/$k"
      [ $m = c ] && ratio "zorvik-md5-$m/$k" "md5deep-md5-c/$k"
      echo
    done
  done
done
