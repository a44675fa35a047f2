#!/usr/bin/env bash
# Whole-program benchmark: zorvik against cat, cksfv, rhash, md5sum,
# md5deep, sha256sum and xxhsum on the same data in one run, on an idle
# machine, with one core kept busy by a shell loop, and pinned to one CPU
# (every tool alike). Prints medians, the spread (slowest / fastest run) and
# zorvik's speed relative to the others.
#
#   bench/run.sh [build-dir] [data-dir] [runs]
#
# ZORVIK_BENCH_LOADS picks the loads (default "idle busy pinned"),
# ZORVIK_BENCH_SETS the data sets (default "many medium mid big tree").
# ZORVIK_BENCH_TINY=1 makes every data set tiny, to check the script itself
# quickly (its figures mean nothing).
# ZORVIK_BENCH_COLD=1 drops the caches before each timed run (needs root).
# ZORVIK_BENCH_PEERS=0 leaves out every peer but cat.
# ZORVIK_BENCH_OLD=BUILD-DIR times a second zorvik build beside the first
# over the SFV and MD5 rows: `old-*` rows, each run in turn with its
# `zorvik-*` twin, and the speed of the one over the other.
# Installs the peers and hyperfine from Debian when they are missing.
set -euo pipefail

build=$(realpath "${1:-build}")
data=${2:-/tmp/zorvik-bench}
runs=${3:-5}
loads=${ZORVIK_BENCH_LOADS:-idle busy pinned}
sets=${ZORVIK_BENCH_SETS:-many medium mid big tree}
zorvik="$build/cli/zorvik"
[ -x "$zorvik" ] || { echo "no zorvik at $zorvik (build first)" >&2; exit 2; }
old=
if [ -n "${ZORVIK_BENCH_OLD:-}" ]; then
  old="$(realpath "$ZORVIK_BENCH_OLD")/cli/zorvik"
  [ -x "$old" ] || { echo "no zorvik at $old" >&2; exit 2; }
fi

need=()
for tool in cksfv rhash md5deep bc hyperfine xxhsum; do command -v "$tool" >/dev/null || need+=("$tool"); done
if [ ${#need[@]} -gt 0 ]; then
  pkgs=("${need[@]/md5deep/hashdeep}")
  pkgs=("${pkgs[@]/xxhsum/xxhash}")
  apt-get update -qq && apt-get install -y -qq "${pkgs[@]}" >/dev/null
fi

export HOME="$data/home"
mkdir -p "$HOME"

# The data sets: 20,000 files of 4 KiB in 100 directories, 200 files of
# 5 MiB, a file of 900 MB and one of 2 GiB, all random; and a tree of 1,000
# folders of 20 files of 4 KiB, each folder with its own SFV file, beside one
# SFV file of the same 20,000 entries. Tiny ones live in a folder of their own.
dirs=100 per_dir=200 small=4096 mediums=200 medium_size=5242880
mid_size=900000000 big_size=2147483648 folders=1000 per_folder=20
if [ "${ZORVIK_BENCH_TINY:-0}" = 1 ]; then
  dirs=2 per_dir=5 mediums=3 medium_size=65536 mid_size=1000000 big_size=2000000
  folders=3 per_folder=2
  data=$data/tiny
fi
mkdir -p "$data"
cd "$data"
make_file() {  # name bytes
  [ -f "$1" ] && [ "$(stat -c %s "$1")" -eq "$2" ] && return
  head -c "$2" /dev/urandom >"$1"
}
make_file mid.bin $mid_size
make_file big.bin $big_size
if [ ! -d many ]; then
  mkdir many
  for d in $(seq -w 0 $((dirs - 1))); do
    mkdir "many/d$d"
    for f in $(seq -w 0 $((per_dir - 1))); do head -c $small /dev/urandom >"many/d$d/f$f"; done
  done
fi
if [ ! -d medium ]; then
  mkdir medium
  for f in $(seq -w 0 $((mediums - 1))); do head -c $medium_size /dev/urandom >"medium/f$f"; done
fi
if [ ! -f tree.sfv ]; then
  rm -rf tree
  for d in $(seq -w 0 $((folders - 1))); do
    mkdir -p "tree/d$d"
    for f in $(seq -w 0 $((per_folder - 1))); do head -c $small /dev/urandom >"tree/d$d/f$f"; done
    (cd "tree/d$d" && "$zorvik" -q -c "d$d.sfv" f*)
  done
  "$zorvik" -q -r --sort --exclude='*.sfv' -c tree.sfv tree
fi
declare -A files=([many]='many/*/*' [medium]='medium/*' [mid]=mid.bin [big]=big.bin [tree]='tree/*/f*')
declare -A tree=([many]='-r many' [medium]='-r medium' [mid]=mid.bin [big]=big.bin [tree]='-r tree')
declare -A count=([many]=$((dirs * per_dir)) [medium]=$mediums [mid]=1 [big]=1 [tree]=$((folders * per_folder)))
declare -A bytes=([many]=$((dirs * per_dir * small)) [medium]=$((mediums * medium_size)) [mid]=$mid_size
                  [big]=$big_size [tree]=$((folders * per_folder * small)))

cold() { [ "${ZORVIK_BENCH_COLD:-0}" = 1 ]; }
drop_caches='sync; echo 3 > /proc/sys/vm/drop_caches'
warm=:

# Times each command string given, `runs` times, in turns (the order
# reversed every other round, so that a drift of the machine falls on all
# alike); sets medians[i] and spreads_of[i] (slowest / fastest) for the i-th.
declare -a medians spreads_of
measure() {
  local json="$PWD/.timing.json" prepare=(--prepare "$warm") round i
  cold && prepare=(--prepare "$drop_caches")
  local -a order times
  for ((round = 0; round < runs; round++)); do
    order=("$@")
    if ((round % 2 == 1)); then
      order=()
      for ((i = $#; i >= 1; i--)); do order+=("${!i}"); done
    fi
    if ! hyperfine --runs 1 --shell bash --ignore-failure --style none "${prepare[@]}" \
        --export-json "$json" "${order[@]}" >/dev/null 2>&1; then
      echo "FAILED: ${order[*]}" >&2
    fi
    local got=($(grep -o '"median": *[0-9.e+-]*' "$json" | sed 's/.*: *//'))
    for ((i = 0; i < $#; i++)); do
      local at=$i
      ((round % 2 == 1)) && at=$(($# - 1 - i))
      times[i]+="${got[at]:-nan} "
    done
  done
  for ((i = 0; i < $#; i++)); do
    medians[i]=$(printf '%s\n' ${times[i]} | sort -g | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}')
    spreads_of[i]=$(printf '%s\n' ${times[i]} | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {print hi / lo}')
  done
}

# Hot runs are faster over files read into the page cache in the order they
# visit them; the single list visits the tree in byte order, as the set was
# made, and the walk does not. Both start from a cache filled in no order of
# either (needs root; otherwise the cache stays as it was).
fill_shuffled() {  # files...
  [ "$(id -u)" = 0 ] || return 0
  sync
  echo 3 >/proc/sys/vm/drop_caches
  printf '%s\n' "$@" | shuf | xargs -d '\n' cat >/dev/null
}

declare -A secs spreads
row() {  # key command
  [ "${ZORVIK_BENCH_PEERS:-1}" = 0 ] && [[ $1 != zorvik-* && $1 != cat/* ]] && return
  measure "$2"
  secs[$1]=${medians[0]}
  spreads[$1]=${spreads_of[0]}
}

# Two rows timed in turns, where their ratio is what counts.
pair() {  # key command key command
  measure "$2" "$4"
  secs[$1]=${medians[0]} spreads[$1]=${spreads_of[0]}
  secs[$3]=${medians[1]} spreads[$3]=${spreads_of[1]}
}

# zorvik with ARGS, "@" in them standing for the list's name without its
# extension; with an old build, it runs in turns with the new one, each
# with a list of its own.
zrow() {  # key(zorvik-...) args
  if [ -z "$old" ]; then
    row "$1" "$Z ${2//@/z}"
    return
  fi
  pair "$1" "$Z ${2//@/z}" "old${1#zorvik}" "$O ${2//@/o}"
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
    # Hot runs read the set first, every time: a kernel that pages out
    # cold page cache in the background (as DAMON schemes do on some
    # virtual machines) would otherwise leave holes that change from run
    # to run.
    warm="cat $f >/dev/null"
    Z="$prefix$zorvik -q"
    O="$prefix$old -q"
    k="$load/$set"
    if [ "$set" = tree ]; then
      # A tree of lists in one run against one list of the same entries.
      cold || fill_shuffled tree/*/* tree.sfv
      pair "zorvik-tree-v/$k" "$Z -a -r tree" "zorvik-list-v/$k" "$Z -a tree.sfv"
      continue
    fi
    zrow "zorvik-sfv-c/$k" "-c @.sfv $t"
    zrow "zorvik-sfv-v/$k" "-a @.sfv"
    zrow "zorvik-md5-c/$k" "-c @.md5 $t"
    zrow "zorvik-md5-v/$k" "@.md5"
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
      # Leaves every entry previously verified.
      $zorvik -q z.sfv >/dev/null || true
      [ -z "$old" ] || $old -q o.sfv >/dev/null || true
      zrow "zorvik-sfv-pv/$k" "@.sfv"
    fi
    # The digests of libcrypto against rhash, which uses it too (sha256sum,
    # which does not, for information); SHA-256 on both sets, the others on
    # the medium one.
    digests=sha256
    [ "$set" = medium ] && digests="sha256 sha512 sha1 blake2b"
    [ "$set" = many ] || [ "$set" = medium ] || digests=
    for a in $digests; do
      x=$a
      [ $a = blake2b ] && x=b2
      row "zorvik-$a-c/$k" "$Z -c z.$x $t"
      row "zorvik-$a-v/$k" "$Z z.$x"
      row "rhash-$a-c/$k" "${prefix}rhash --$a -r $set >r.$x"
      row "rhash-$a-v/$k" "${prefix}rhash -c r.$x"
    done
    if [ -n "$digests" ]; then
      row "sha256sum-sha256-c/$k" "${prefix}sha256sum $f >s.sha256"
      row "sha256sum-sha256-v/$k" "${prefix}sha256sum -c s.sha256"
    fi
    if [ "$set" = medium ]; then
      row "zorvik-xxh128-c/$k" "$Z -c z.xxh128 $t"
      row "zorvik-xxh128-v/$k" "$Z z.xxh128"
      row "xxhsum-xxh128-c/$k" "${prefix}xxhsum -q -H2 $f >x.xxh128"
      row "xxhsum-xxh128-v/$k" "${prefix}xxhsum -q -c x.xxh128"
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
ratio() {
  [ -n "${secs[$2]:-}" ] || return 0
  printf ' %s %.2f' "${2%%[-/]*}" "$(echo "${secs[$2]} / ${secs[$1]}" | bc -l)"
}
# ratios KEY OTHER...: a line of KEY's ratios, when KEY was measured.
ratios() {
  [ -n "${secs[$1]:-}" ] || return 0
  printf '%-28s' "$1"
  local other
  for other in "${@:2}"; do ratio "$1" "$other"; done
  echo
}
echo
echo "Ratios (speed of zorvik / speed of the other; above 1 means zorvik is faster)"
for load in $loads; do
  for set in $sets; do
    k="$load/$set"
    for m in c v; do
      for a in sha256 sha512 sha1 blake2b; do
        ratios "zorvik-$a-$m/$k" "rhash-$a-$m/$k" "sha256sum-$a-$m/$k"
      done
      ratios "zorvik-xxh128-$m/$k" "cat/$k" "xxhsum-xxh128-$m/$k"
    done
    # A tree of lists: its time over that of the single list (at most 1.2).
    if [ -n "${secs[zorvik-tree-v/$k]:-}" ]; then
      printf '%-28s time %.2f of one list\n' "zorvik-tree-v/$k" \
        "$(echo "${secs[zorvik-tree-v/$k]} / ${secs[zorvik-list-v/$k]}" | bc -l)"
    fi
    [ "$set" != tree ] || continue
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
if [ -n "$old" ]; then
  echo
  echo "New against old: speed of $zorvik / that of $old (below 0.95: more than 5 % slower)"
  for k in $(printf '%s\n' "${!secs[@]}" | grep '^old-' | sort -t/ -k2,2 -k3,3 -k1,1); do
    new=zorvik${k#old}
    ratio=$(echo "${secs[$k]} / ${secs[$new]}" | bc -l)
    printf '%-34s %5.2f%s\n' "$new" "$ratio" "$( (($(echo "$ratio < 0.95" | bc))) && echo '  SLOWER' || true)"
  done
fi
