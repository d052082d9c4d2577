#!/usr/bin/env bash
# Installs what building and testing mint needs on a Debian machine, if missing.
set -euo pipefail
# llvm: llvm-nm reads the Clang build's link-time-optimised objects for a symbol check.
# gcc: the C interface's tests build C programs, and the Python package is C.
packages=(cmake ninja-build g++ gcc clang llvm libgtest-dev libgmock-dev libbenchmark-dev python3 time binutils
  pkgconf dpkg-dev groff-base man-db  # these four: install, package and man page tests
  # The Python package: its headers, and what its DataFrame and Dask layers use.
  python3-dev python3-numpy python3-pandas python3-dask python3-distributed
  # The PostgreSQL extension: server headers to build it; a server, pg_regress
  # and pg_virtualenv (a throw-away cluster) to test it.
  postgresql-15 postgresql-server-dev-15 postgresql-common)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi
