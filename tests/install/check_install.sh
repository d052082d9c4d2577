#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, moves the prefix elsewhere
# (the installed files must not depend on where they were put), checks what
# is there, and builds and runs a small library user against it twice: once
# through the CMake package and once through pkg-config; then the same for a
# C program against the C interface (libmint).
#
# usage: check_install.sh --build=DIR --source=DIR --version=X.Y.Z
#          --cxx=COMPILER [--cxx-flags=FLAGS] --cc=COMPILER [--c-flags=FLAGS]
#          --generator=NAME [--make-program=PATH]
#          --bindir=D --libdir=D --includedir=D --mandir=D --docdir=D [--program=NAME ...] [--web-page=PATH]
#          [--python=PY --python-file=NAME ... (--python-dir=D | --python-site-dir=SCRIPT)
#           [--python-import]]
# The directories are the install directories relative to the prefix.
# --python-import: also import the installed Python package and derive an
# identifier with it.
set -euo pipefail

. "$(dirname "$0")/installed_files.sh"
programs=()
web_page=
python_import=0
cxx_flags=
c_flags=
make_program=
for arg in "$@"; do
  case $arg in
    --build=*) build=${arg#*=} ;;
    --source=*) source=${arg#*=} ;;
    --version=*) version=${arg#*=} ;;
    --cxx=*) cxx=${arg#*=} ;;
    --cxx-flags=*) cxx_flags=${arg#*=} ;;
    --cc=*) cc=${arg#*=} ;;
    --c-flags=*) c_flags=${arg#*=} ;;
    --generator=*) generator=${arg#*=} ;;
    --make-program=*) make_program=${arg#*=} ;;
    --bindir=*) bindir=${arg#*=} ;;
    --libdir=*) libdir=${arg#*=} ;;
    --includedir=*) includedir=${arg#*=} ;;
    --mandir=*) mandir=${arg#*=} ;;
    --docdir=*) docdir=${arg#*=} ;;
    --program=*) programs+=("${arg#*=}") ;;
    --web-page=*) web_page=${arg#*=} ;;
    --python-import) python_import=1 ;;
    *) python_argument "$arg" || { echo "unknown argument: $arg"; exit 2; } ;;
  esac
done
major=${version%%.*}
consumer_source=$(cd "$(dirname "$0")" && pwd)/consumer
c_consumer_source=$(cd "$(dirname "$0")" && pwd)/c_consumer

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "== $*"; }

step "install into a scratch prefix, then move it"
unset DESTDIR
# Every component but the PostgreSQL extension, whose own test installs it
# into a prefix and checks it.
for component in $(installed_components); do
  cmake --install "$build" --prefix "$scratch/staged" --component "$component" >> "$scratch/install.log" \
    || { cat "$scratch/install.log"; fail "cmake --install --component $component"; }
done
python_dir=$(python_dir_for "$scratch/staged") || fail "no Python package directory for the prefix"
mv "$scratch/staged" "$scratch/prefix"
prefix=$scratch/prefix

step "installed files"
mapfile -t expected < <(expected_installed_files)
# The per-configuration targets file is named after the build type.
actual=$(cd "$prefix" && find . ! -type d -printf '%y %P\n' | while read -r type path; do
  if [ "$type" = l ]; then echo "l $path -> $(readlink "$path")"; else echo "$type $path"; fi
done | sed -E 's/(mintcore|mint)Targets-[a-z]+\.cmake$/\1Targets-CONFIG.cmake/' | LC_ALL=C sort)
want=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [ "$actual" != "$want" ]; then
  diff <(echo "$want") <(echo "$actual") || true
  fail "installed files differ from the expected list (expected, actual)"
fi

for library in mintcore mint; do
  cmp -s "$prefix/$includedir/$library.h" "$source/lib/$library.h" || fail "installed header differs from lib/$library.h"
  soname=$(readelf -d "$prefix/$libdir/lib$library.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$library.so.$major" ] || fail "SONAME is '$soname', expected lib$library.so.$major"
done
if grep -rlF -e "$build" -e "$source" "$prefix/$libdir/cmake" "$prefix/$libdir/pkgconfig"; then
  fail "the CMake package or the pkg-config file names the build or source tree"
fi
for man_page in "${programs[@]}"; do
  gzip -dc "$prefix/$mandir/man1/$man_page.1.gz" | cmp -s - "$source/man/$man_page.1" \
    || fail "installed $man_page.1.gz does not hold man/$man_page.1"
done
cmp -s "$prefix/$docdir/LICENSE" "$source/LICENSE" || fail "installed LICENSE differs from the source tree's"

if [ $python_import = 1 ]; then
  check_python_package "$prefix/$python_dir" "installed"
fi

# The programs carry their own copy of the library: they must run from the
# moved prefix with nothing else installed.
for program in "${programs[@]}"; do
  binary=$prefix/$bindir/$program
  if readelf -d "$binary" | grep -E 'RPATH|RUNPATH|libmintcore'; then
    fail "$program depends on a search path or on the shared library"
  fi
  status=0
  usage=$("$binary" 2>&1) || status=$?
  [ "$status" -eq 0 ] && [ "${usage%%$'\n'*}" = "Usage:" ] || fail "installed $program without arguments: status $status, output: $usage"
done

# Prints the consumer's checks and verifies it ran against the installed
# library (libmintcore, or the one named).
run_consumer() {
  local binary=$1 how=$2 name=${3:-mintcore}
  local library
  library=$(ldd "$binary" | awk '$1 == "lib'"$name"'.so.'"$major"'" { print $3 }')
  [ -n "$library" ] && [ "$(realpath "$library")" = "$(realpath "$prefix/$libdir/lib$name.so.$major")" ] \
    || fail "$how: the consumer loads '$library', not the installed lib$name"
  "$binary" || fail "$how: the consumer's identifiers differ"
}

step "consumer through find_package(mintcore CONFIG)"
cmake_args=(-S "$consumer_source" -B "$scratch/cmake-consumer" -G "$generator"
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$cxx_flags" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_PREFIX_PATH="$prefix" -DMINT_EXPECTED_VERSION="$version"
  # Only the scratch prefix may provide the package.
  -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF -DCMAKE_FIND_USE_SYSTEM_ENVIRONMENT_PATH=OFF
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
[ -n "$make_program" ] && cmake_args+=(-DCMAKE_MAKE_PROGRAM="$make_program")
cmake "${cmake_args[@]}" > "$scratch/cmake-consumer.log" 2>&1 \
  || { cat "$scratch/cmake-consumer.log"; fail "configuring the CMake consumer"; }
grep -F -- "-- mintcore $version found in $prefix/$libdir/cmake/mintcore" "$scratch/cmake-consumer.log" \
  || { cat "$scratch/cmake-consumer.log"; fail "the CMake consumer did not find the installed package"; }
cmake --build "$scratch/cmake-consumer" > "$scratch/cmake-build.log" 2>&1 \
  || { cat "$scratch/cmake-build.log"; fail "building the CMake consumer"; }
run_consumer "$scratch/cmake-consumer/consumer" find_package

step "consumer through pkg-config"
pkg_config=$(command -v pkg-config || command -v pkgconf) \
  || fail "pkg-config is not installed (scripts/install-deps.sh installs it)"
export PKG_CONFIG_LIBDIR=$prefix/$libdir/pkgconfig PKG_CONFIG_PATH=
modversion=$("$pkg_config" --modversion mintcore) || fail "pkg-config does not find mintcore"
[ "$modversion" = "$version" ] || fail "pkg-config reports version $modversion, expected $version"
pc_libdir=$("$pkg_config" --variable=libdir mintcore)
[ "$(cd "$pc_libdir" && pwd -P)" = "$(cd "$prefix/$libdir" && pwd -P)" ] || fail "pkg-config libdir $pc_libdir is not the installed one"
# shellcheck disable=SC2086 # the flags are lists of words
"$cxx" $cxx_flags -Wall -Wextra -Werror -o "$scratch/pkg-config-consumer" "$consumer_source/consumer.cpp" \
  $("$pkg_config" --cflags mintcore) $("$pkg_config" --libs mintcore) -Wl,-rpath,"$pc_libdir" \
  || fail "building the pkg-config consumer"
run_consumer "$scratch/pkg-config-consumer" pkg-config

step "C consumer through find_package(mint CONFIG)"
c_cmake_args=(-S "$c_consumer_source" -B "$scratch/c-cmake-consumer" -G "$generator"
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$c_flags" -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_PREFIX_PATH="$prefix" -DMINT_EXPECTED_VERSION="$version"
  -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF -DCMAKE_FIND_USE_SYSTEM_ENVIRONMENT_PATH=OFF
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
[ -n "$make_program" ] && c_cmake_args+=(-DCMAKE_MAKE_PROGRAM="$make_program")
cmake "${c_cmake_args[@]}" > "$scratch/c-cmake-consumer.log" 2>&1 \
  || { cat "$scratch/c-cmake-consumer.log"; fail "configuring the C consumer"; }
grep -F -- "-- mint $version found in $prefix/$libdir/cmake/mint" "$scratch/c-cmake-consumer.log" \
  || { cat "$scratch/c-cmake-consumer.log"; fail "the C consumer did not find the installed package"; }
cmake --build "$scratch/c-cmake-consumer" > "$scratch/c-cmake-build.log" 2>&1 \
  || { cat "$scratch/c-cmake-build.log"; fail "building the C consumer"; }
run_consumer "$scratch/c-cmake-consumer/c_consumer" "C find_package" mint

step "C consumer through pkg-config"
modversion=$("$pkg_config" --modversion mint) || fail "pkg-config does not find mint"
[ "$modversion" = "$version" ] || fail "pkg-config reports mint version $modversion, expected $version"
pc_libdir=$("$pkg_config" --variable=libdir mint)
[ "$(cd "$pc_libdir" && pwd -P)" = "$(cd "$prefix/$libdir" && pwd -P)" ] || fail "pkg-config libdir of mint $pc_libdir is not the installed one"
# Compiled as C99, so the header must be plain C.
# shellcheck disable=SC2086 # the flags are lists of words
"$cc" $c_flags -std=c99 -pedantic -Wall -Wextra -Werror -DMINT_EXPECTED_VERSION="\"$version\"" \
  -o "$scratch/c-pkg-config-consumer" "$c_consumer_source/consumer.c" \
  $("$pkg_config" --cflags mint) $("$pkg_config" --libs mint) -Wl,-rpath,"$pc_libdir" \
  || fail "building the C consumer through pkg-config"
run_consumer "$scratch/c-pkg-config-consumer" "C pkg-config" mint
# The same program compiled as C++98: the header is valid C++ of every version.
# shellcheck disable=SC2086 # the flags are lists of words
"$cxx" $cxx_flags -x c++ -std=c++98 -pedantic -Wall -Wextra -Werror -DMINT_EXPECTED_VERSION="\"$version\"" \
  -o "$scratch/cxx98-pkg-config-consumer" "$c_consumer_source/consumer.c" -x none \
  $("$pkg_config" --cflags mint) $("$pkg_config" --libs mint) -Wl,-rpath,"$pc_libdir" \
  || fail "building the C consumer as C++98 through pkg-config"
run_consumer "$scratch/cxx98-pkg-config-consumer" "C++98 pkg-config" mint

echo "install tree, CMake packages and pkg-config files work from a moved prefix, from C++ and C"
