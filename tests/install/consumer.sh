#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, checks the installed layout,
# then builds the example against it twice, through find_package and through
# pkg-config, and runs both builds.
#
# consumer.sh BUILD_DIR SOURCE_DIR LIBDIR RPATH COMPILER [COMPILER_FLAGS]
#   LIBDIR  the configured CMAKE_INSTALL_LIBDIR (relative to the prefix)
#   RPATH   the program's install run path; empty when the configured prefix
#           is a system one and the program relies on the default search path
#   COMPILER  the C++ compiler of the build, which the consumers use too
#   COMPILER_FLAGS  flags the consumers need to load this build's library
#           (the sanitizer flags of a sanitizer build)
set -euo pipefail

build=$1 source=$2 libdir=$3 rpath=$4 compiler=$5 flags=${6:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

expect_equal() {  # what expected actual
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") >&2 || true
  fi
}

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log"

# Layout.
for f in bin/zorvik "$libdir/libzorvik.so.3.00" \
         "$libdir/pkgconfig/zorvik.pc" \
         "$libdir/cmake/zorvik/zorvikConfig.cmake" \
         "$libdir/cmake/zorvik/zorvikConfigVersion.cmake" \
         "$libdir/cmake/zorvik/zorvikTargets.cmake" \
         share/man/man1/zorvik.1 share/man/man5/zorvik.conf.5 \
         share/bash-completion/completions/zorvik; do
  [ -f "$prefix/$f" ] && [ ! -L "$prefix/$f" ] || fail "$f is not an installed regular file"
done
expect_equal "libzorvik.so.3 link" libzorvik.so.3.00 "$(readlink "$prefix/$libdir/libzorvik.so.3")"
expect_equal "libzorvik.so link" libzorvik.so.3 "$(readlink "$prefix/$libdir/libzorvik.so")"
expect_equal "public headers" "$(cd "$source/include/zorvik" && ls ./*.h)" \
  "$(cd "$prefix/include/zorvik" && ls ./*.h)"
expect_equal "soname" "Library soname: [libzorvik.so.3]" \
  "$(readelf -d "$prefix/$libdir/libzorvik.so.3.00" | grep -o 'Library soname: .*')"

# The program finds the installed library through its run path (or, for a
# build configured for a system prefix, through the loader's search path,
# which the test stands in for with LD_LIBRARY_PATH).
runpath=$(readelf -d "$prefix/bin/zorvik" | grep -o 'Library runpath: \[.*\]' || true)
if [ -n "$rpath" ]; then
  expect_equal "program run path" "Library runpath: [$rpath]" "$runpath"
  run_env=()
else
  expect_equal "program run path" "" "$runpath"
  run_env=(env "LD_LIBRARY_PATH=$prefix/$libdir")
fi
loaded=$("${run_env[@]}" ldd "$prefix/bin/zorvik" | awk '$1 == "libzorvik.so.3" {print $3}')
expect_equal "library the program loads" "$(readlink -f "$prefix/$libdir/libzorvik.so.3")" \
  "$(readlink -f "$loaded")"
banner=$("${run_env[@]}" "$prefix/bin/zorvik" --version | head -n 1)
expect_equal "installed program's banner" "$prefix/bin/zorvik  version 3.00" "$banner"

# What the example prints for 123456789 and the SFV file below.
mkdir "$scratch/home"
printf '; a list\r\ninput.txt CBF43926\r\n"other name" 00000000\r\n' >"$scratch/list.sfv"
expected='CRC-32 CBF43926
MD5 25f9e794323b453885f5181f1b624d0b
input.txt CBF43926 matches
other name 00000000'

run_example() {  # what program
  local out
  out=$(printf 123456789 | HOME=$scratch/home "$2" "$scratch/list.sfv") || fail "$1 exited with $?"
  expect_equal "$1 output" "$expected" "$out"
  local lib
  lib=$(ldd "$2" | awk '$1 == "libzorvik.so.3" {print $3}')
  expect_equal "$1 loads the installed library" \
    "$(readlink -f "$prefix/$libdir/libzorvik.so.3")" "$(readlink -f "$lib")"
}

# find_package(zorvik 3 REQUIRED)
if cmake -S "$source/examples" -B "$scratch/with-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
     -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" >"$scratch/build.log" 2>&1 &&
   cmake --build "$scratch/with-cmake" >>"$scratch/build.log" 2>&1; then
  run_example "find_package build" "$scratch/with-cmake/hash_stdin"
else
  cat "$scratch/build.log" >&2
  fail "find_package consumer configures and builds"
fi

# The version file accepts 3.x only.
mkdir "$scratch/versions"
cat >"$scratch/versions/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(versions LANGUAGES CXX)
foreach(wanted 2 4 3.0 3.0.0 3)
  find_package(zorvik ${wanted} QUIET)
  message(STATUS "zorvik ${wanted}: ${zorvik_FOUND}")
  unset(zorvik_DIR CACHE)
endforeach()
EOF
versions=$(cmake -S "$scratch/versions" -B "$scratch/versions/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$compiler" \
  | sed -n 's/^-- \(zorvik .*\)/\1/p')
expect_equal "find_package version checks" "zorvik 2: 0
zorvik 4: 0
zorvik 3.0: 1
zorvik 3.0.0: 1
zorvik 3: 1" "$versions"

# pkg-config --cflags --libs zorvik
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
expect_equal "pkg-config version" 3.00 "$(pkg-config --modversion zorvik)"
expect_equal "pkg-config prefix" "$prefix" "$(pkg-config --variable=prefix zorvik)"
expect_equal "pkg-config libdir" "$prefix/$libdir" "$(pkg-config --variable=libdir zorvik)"
pkg-config --atleast-version=3 zorvik || fail "pkg-config --atleast-version=3"
mkdir "$scratch/with-pkg-config"
# shellcheck disable=SC2046,SC2086
if "$compiler" -std=c++17 $flags -o "$scratch/with-pkg-config/hash_stdin" "$source/examples/hash_stdin.cpp" \
     $(pkg-config --cflags --libs zorvik) -Wl,-rpath,"$(pkg-config --variable=libdir zorvik)" \
     2>"$scratch/pc.log"; then
  run_example "pkg-config build" "$scratch/with-pkg-config/hash_stdin"
else
  cat "$scratch/pc.log" >&2
  fail "pkg-config consumer builds"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "install consumer checks passed"
