#!/usr/bin/env bash
# Installs the Debian packages that building and testing mint needs, where
# they are missing; installs nothing when all are there.
#
# usage: scripts/install-deps.sh [build | all]
#   build  only what building the library and the programs needs
#          (the README's first command: a release build of mintbatch)
#   all    (the default) also what the tests, the bindings, the benchmarks
#          and the packages need
#
# Installs with apt-get as root, or through sudo for another user. A user who
# can use neither is told which packages to ask an administrator for.
set -euo pipefail

build_packages=(cmake ninja-build g++)
all_packages=("${build_packages[@]}"
  gcc clang llvm libgtest-dev libgmock-dev libbenchmark-dev python3 time binutils
  # llvm: llvm-nm reads the Clang build's link-time-optimised objects for a symbol check.
  # gcc: the C interface's tests build C programs, and the Python package is C.
  pkgconf groff-base man-db  # install and man page tests
  # Packages: dpkg-shlibdeps (dpkg-dev) and CPack read binaries with file;
  # lintian checks the packages.
  dpkg-dev file lintian
  # The Python package: its headers, and what its DataFrame and Dask layers use.
  python3-dev python3-numpy python3-pandas python3-dask python3-distributed
  # The PostgreSQL extension: server headers to build it; a server, pg_regress
  # and pg_virtualenv (a throw-away cluster) to test it.
  postgresql-15 postgresql-server-dev-15 postgresql-common
  # The browser page: Emscripten builds it; its tests drive Debian's Chromium
  # headless through chromium-driver and Selenium (nothing downloads a browser).
  emscripten chromium chromium-driver python3-selenium)

case ${1:-all} in
  build) packages=("${build_packages[@]}") ;;
  all) packages=("${all_packages[@]}") ;;
  *) echo "usage: $0 [build | all]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -gt 0 ] || exit 0

# Root, or sudo: without a password, or with one asked for on a terminal.
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo > /dev/null && { sudo -n true 2> /dev/null || { [ -t 0 ] && sudo -v; }; }; then
  as_root=(sudo)
else
  cat >&2 <<EOF
mint needs these Debian packages, which are not installed:
  ${missing[*]}
Installing them needs root, and $(id -un) is not root and cannot use sudo.
Ask an administrator to install them, for example with:
  apt-get install ${missing[*]}
and run this command again.
EOF
  exit 1
fi

echo "installing: ${missing[*]}"
# Through sudo too, apt-get must not ask questions (debconf reads this variable).
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
