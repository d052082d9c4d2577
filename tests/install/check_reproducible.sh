#!/usr/bin/env bash
# Two builds of one commit in different directories give identical Debian
# packages, byte for byte: clones the repository's committed HEAD twice, into
# directories of different names and depths, builds each with the `release`
# preset (what users install with: hardened, no tests) and packages it with
# cpack, then compares the packages. Where they differ, names the files that
# differ inside them.
#
# usage: tests/install/check_reproducible.sh [REPOSITORY]   (default: this one)
# Takes two release builds (about five minutes on two cores). Run by .ci/run;
# not a ctest test, for its time.
set -euo pipefail
repo=$(cd "${1:-$(dirname "$0")/../..}" && git rev-parse --show-toplevel)
jobs=${MINT_BUILD_JOBS:-2}

scratch=$(mktemp -d -t mint-reproducible.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "== $*"; }

build_packages() {
  local tree=$1
  git clone -q "$repo" "$tree"
  (cd "$tree" && cmake --preset release > "$tree.configure.log" 2>&1) \
    || { cat "$tree.configure.log"; fail "configuring $tree"; }
  cmake --build "$tree/build/release" --target all -j "$jobs" > "$tree.build.log" 2>&1 \
    || { tail -50 "$tree.build.log"; fail "building $tree"; }
  (cd "$tree/build/release" && cpack -G DEB -B "$tree.packages" > "$tree.cpack.log" 2>&1) \
    || { cat "$tree.cpack.log"; fail "packaging $tree"; }
  rm -rf "$tree.packages/_CPack_Packages"
}

step "build and package $(git -C "$repo" rev-parse --short HEAD) in two directories"
first=$scratch/one
second=$scratch/a-second/build-tree-of-another-name
mkdir -p "$(dirname "$second")"
build_packages "$first"
build_packages "$second"

step "compare the packages"
(cd "$first.packages" && ls -- *.deb) > "$scratch/first.list"
(cd "$second.packages" && ls -- *.deb) > "$scratch/second.list"
cmp -s "$scratch/first.list" "$scratch/second.list" \
  || { diff "$scratch/first.list" "$scratch/second.list" || true; fail "the builds made different packages"; }
[ -s "$scratch/first.list" ] || fail "no packages made"
differing=0
while read -r deb; do
  if cmp -s "$first.packages/$deb" "$second.packages/$deb"; then
    echo "identical: $deb ($(stat -c %s "$first.packages/$deb") bytes, sha256 $(sha256sum < "$first.packages/$deb" | cut -c1-16))"
    continue
  fi
  differing=1
  echo "DIFFERENT: $deb"
  for tree in "$first" "$second"; do
    mkdir -p "$tree.unpacked/$deb"
    dpkg-deb -R "$tree.packages/$deb" "$tree.unpacked/$deb"
  done
  diff -r "$first.unpacked/$deb" "$second.unpacked/$deb" || true
done < "$scratch/first.list"
[ $differing = 0 ] || fail "packages differ between the two builds"
echo "$(wc -l < "$scratch/first.list") Debian packages identical from two build directories"
