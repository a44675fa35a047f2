#!/usr/bin/env bash
# Packaging check, run as root without standard input: the manual pages
# render cleanly; a build for the prefix /usr passes the install tests and
# makes a Debian package, which lintian passes without errors or warnings,
# and which installs, creates and verifies checksum files, and removes cleanly.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

packages=(cmake make g++ pkg-config libssl-dev libxxhash-dev libgtest-dev libgmock-dev dpkg-dev
          file groff-base mandoc lintian)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

step() { printf '\n=== %s\n' "$*"; }
die() {
  echo "packaging: $*" >&2
  exit 1
}

step "manual pages"
for page in docs/zorvik.1 docs/zorvik.conf.5; do
  warnings=$(groff -man -ww -z "$page" 2>&1) || die "groff fails on $page"
  [ -z "$warnings" ] || die "groff warns about $page:"$'\n'"$warnings"
  warnings=$(mandoc -Tlint -Wwarning "$page" 2>&1) || die "mandoc: $page:"$'\n'"$warnings"
  [ -z "$warnings" ] || die "mandoc warns about $page:"$'\n'"$warnings"
done
echo "both pages render without warnings"

step "build for /usr and the install tests"
# Only what the package holds is built; cpack then installs without
# building the rest (the test programs). Hardened as Debian builds its
# packages: fortified libc calls, and relocations all resolved at start so
# that they can be made read-only.
build=build-package
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZORVIK_WERROR=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=2 \
  -DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,now -DCMAKE_SHARED_LINKER_FLAGS=-Wl,-z,now
cmake --build "$build" --target zorvik_installed libzorvik -j"$(nproc)"
ctest --test-dir "$build" -R '^install\.' --output-on-failure

step "Debian package"
rm -f "$build"/zorvik_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/zorvik_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || die "expected one zorvik_*.deb in $build"
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zorvik ] || die "package name is $(field Package)"
[ "$(field Version)" = 3.00 ] || die "package version is $(field Version)"
[ "$(field Maintainer)" = "zorvik developers <maintainers@zorvik.org>" ] ||
  die "maintainer is $(field Maintainer)"
changelog=$(dpkg-parsechangelog -l packaging/changelog -S Version)
[ "$changelog" = "$(field Version)" ] ||
  die "packaging/changelog's latest entry is $changelog, the package $(field Version)"
depends=$(field Depends)
for needed in libc6 libstdc++6 libgcc-s1 libxxhash0 libssl3; do
  [[ $depends == *"$needed"* ]] || die "Depends lacks $needed: $depends"
done
echo "$deb: $(field Package) $(field Version), Depends: $depends"

step "lintian"
lintian_options=(--display-info)
[ "$(id -u)" != 0 ] || lintian_options+=(--allow-root)
report=$(lintian "${lintian_options[@]}" --fail-on none "$deb" 2>&1) ||
  die "lintian failed:"$'\n'"$report"
[ -z "$report" ] || printf '%s\n' "$report"
if grep -q '^[EW]: ' <<<"$report"; then
  die "lintian reports errors or warnings (fix them, or override them with a reason in packaging/lintian-overrides)"
fi
echo "lintian: no errors or warnings"

# dpkg -r leaves a package that has maintainer scripts known as
# "config-files" until it is purged.
installed() { [ "$(dpkg-query -W -f='${Status}' zorvik 2>/dev/null)" = "install ok installed" ]; }
if installed; then
  echo "removing the zorvik package installed before"
  dpkg -r zorvik
fi
scratch=$(mktemp -d)
cleanup() {
  rm -rf "$scratch"
  if installed; then dpkg -r zorvik >/dev/null || true; fi
  dpkg --purge zorvik >/dev/null 2>&1 || true
}
trap cleanup EXIT

step "dpkg -i"
dpkg -i "$deb"
dpkg -L zorvik >"$scratch/files"
[ "$(command -v zorvik)" = /usr/bin/zorvik ] || die "zorvik is not /usr/bin/zorvik"
version=$(zorvik --version | head -n 1)
[ "$version" = "zorvik  version 3.00" ] || die "zorvik --version says: $version"
[ "$(pkg-config --modversion zorvik)" = 3.00 ] || die "pkg-config does not find zorvik 3.00"
# grep reads all of it: quitting at the match, as -q does, would leave
# ldconfig a broken pipe, and pipefail would take that for a failure.
ldconfig -p | grep 'libzorvik\.so\.3 ' >/dev/null || die "libzorvik.so.3 is not in the loader cache"
for page in /usr/share/man/man1/zorvik.1.gz /usr/share/man/man5/zorvik.conf.5.gz; do
  zcat "$page" | groff -man -ww -z || die "$page does not render"
done
completion=/usr/share/bash-completion/completions/zorvik
# shellcheck source=/dev/null
[ "$(bash -c "source $completion && complete -p zorvik")" = "complete -F _zorvik zorvik" ] ||
  die "$completion does not register a completion for zorvik"
for completion in /usr/share/zsh/vendor-completions/_zorvik /usr/share/fish/vendor_completions.d/zorvik.fish; do
  [ -f "$completion" ] || die "$completion is not installed"
done
echo "$version"

step "create and verify with the installed program"
work=$scratch/work
mkdir -p "$work/data/sub" "$scratch/home"
printf 123456789 >"$work/data/digits"
printf 'hello\n' >"$work/data/sub/greeting"
printf '\xc3\xa9t\xe9' >"$work/data/sub/name with blanks and $(printf '\xe9')"
run() { (cd "$work" && HOME=$scratch/home "$@"); }

run zorvik -q -r -c list.sfv data || die "creating list.sfv failed"
grep -qx 'data/digits CBF43926' "$work/list.sfv" || die "list.sfv lacks 'data/digits CBF43926'"
out=$(run zorvik list.sfv) || die "verifying list.sfv failed:"$'\n'"$out"
[ "$(tail -n 2 <<<"$out")" = $'3 files checked\nAll files Ok' ] || die "first verify said:"$'\n'"$out"
out=$(run zorvik list.sfv) || die "second verify failed:"$'\n'"$out"
[ "$(grep -c 'Previously verified Ok' <<<"$out")" = 3 ] || die "second verify said:"$'\n'"$out"

run zorvik -q -r -c list.md5 data || die "creating list.md5 failed"
grep -qx '25f9e794323b453885f5181f1b624d0b \*data/digits' "$work/list.md5" ||
  die "list.md5 lacks the digest of data/digits"
out=$(run md5sum -c list.md5) || die "md5sum -c rejects list.md5:"$'\n'"$out"
out=$(run zorvik -q list.md5) || die "verifying list.md5 failed:"$'\n'"$out"

printf 'changed' >"$work/data/digits"
status=0
out=$(run zorvik -q -a list.sfv) || status=$?
[ $status -eq 1 ] || die "a changed file gave exit status $status:"$'\n'"$out"
grep -q '^data/digits: hash mismatch: 2639f4cb != ' <<<"$out" || die "no mismatch line:"$'\n'"$out"
echo "round trip and mismatch as expected"

step "dpkg -r"
dpkg -r zorvik
installed && die "zorvik is still installed"
[ ! -e /usr/bin/zorvik ] || die "/usr/bin/zorvik is still there"
left=0
while IFS= read -r path; do
  if [ -e "$path" ] && [ ! -d "$path" ]; then
    echo "left behind: $path" >&2
    left=1
  fi
done <"$scratch/files"
[ $left -eq 0 ] || die "dpkg -r left files behind"
ldconfig -p | grep -q 'libzorvik\.so\.3 ' && die "libzorvik.so.3 is still in the loader cache"
echo "removed cleanly"
