#!/usr/bin/env bash
# Builds the Debian package and the tarball with CPack into a scratch
# directory and checks what they hold: exactly the installed files (the
# library with its version links, the header, the CMake package, the
# pkg-config file, the programs and their man pages), owned by root, with
# nothing that names the build or source tree, and the same in both. The C
# interface (libmint, mint.h, its CMake package and mint.pc) is among them.
#
# usage: check_packages.sh --build=DIR --source=DIR --version=X.Y.Z
#          --bindir=D --libdir=D --includedir=D --mandir=D
#          --exports=LIST --c-exports=LIST --check-exports=SCRIPT [--program=NAME ...]
#          [--sanitized]
# --sanitized: the binaries are built with sanitizers, whose instrumentation
# records source file names in them; only the other files are checked for
# paths then.
set -euo pipefail

. "$(dirname "$0")/installed_files.sh"
programs=()
sanitized=0
for arg in "$@"; do
  case $arg in
    --build=*) build=${arg#*=} ;;
    --source=*) source=${arg#*=} ;;
    --version=*) version=${arg#*=} ;;
    --bindir=*) bindir=${arg#*=} ;;
    --libdir=*) libdir=${arg#*=} ;;
    --includedir=*) includedir=${arg#*=} ;;
    --mandir=*) mandir=${arg#*=} ;;
    --exports=*) exports=${arg#*=} ;;
    --c-exports=*) c_exports=${arg#*=} ;;
    --check-exports=*) check_exports=${arg#*=} ;;
    --program=*) programs+=("${arg#*=}") ;;
    --sanitized) sanitized=1 ;;
    *) echo "unknown argument: $arg"; exit 2 ;;
  esac
done
major=${version%%.*}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "== $*"; }

step "cpack -G DEB;TGZ"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" -G "DEB;TGZ" > "$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$scratch/out/mint_${version}_$arch.deb
tgz=$(echo "$scratch"/out/mint-"$version"-*.tar.gz)
[ -f "$deb" ] || { ls "$scratch/out"; fail "no mint_${version}_$arch.deb"; }
[ -f "$tgz" ] || { ls "$scratch/out"; fail "no mint-$version-*.tar.gz"; }

mapfile -t expected < <(expected_installed_files)

# Turns a `tar -tv`-style listing into "TYPE PATH [-> TARGET]" lines for
# everything but directories, PATH without the leading `strip` part, and
# fails on an entry not owned by root.
normalise_listing() {
  local strip=$1
  awk -v strip="$strip" '
    $2 != "root/root" { print "owner " $2 " of " $6; bad = 1 }
    {
      type = substr($1, 1, 1)
      if (type == "d") next
      path = $6; sub("^" strip, "", path)
      line = (type == "-" ? "f" : type) " " path
      if (type == "l") line = line " -> " $8
      print line
    }
    END { exit bad }' | sed -E 's/(mintcore|mint)Targets-[a-z]+\.cmake$/\1Targets-CONFIG.cmake/' | LC_ALL=C sort
}

check_listing() {
  local what=$1 listing=$2 prefix=$3
  local want
  want=$(printf '%s\n' "${expected[@]}" | sed "s|^\(.\) |\1 $prefix|" | LC_ALL=C sort)
  if [ "$listing" != "$want" ]; then
    diff <(echo "$want") <(echo "$listing") || true
    fail "the $what holds other files than the install rules put in place (expected, actual)"
  fi
}

# Checks an unpacked tree rooted at the install prefix.
check_tree() {
  local what=$1 root=$2
  local naming
  naming=$({ grep -rlF -e "$build" -e "$source" "$root" || true; } | while read -r file; do
    if [ $sanitized = 1 ] && [ "$(head -c 4 "$file")" = $'\x7fELF' ]; then continue; fi
    echo "$file"
  done)
  [ -z "$naming" ] || fail "files of the $what name the build or source tree: $naming"
  local library soname
  for library in mintcore mint; do
    cmp -s "$root/$includedir/$library.h" "$source/lib/$library.h" || fail "the $what's $library.h differs from lib/$library.h"
    soname=$(readelf -d "$root/$libdir/lib$library.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [ "$soname" = "lib$library.so.$major" ] || fail "the $what's lib$library has SONAME '$soname'"
  done
  # Stripping must keep the twenty exported functions, and the C interface's.
  "$check_exports" "$root/$libdir/libmintcore.so.$version" "$exports" > /dev/null \
    || fail "the $what's library does not export exactly the library functions"
  "$check_exports" "$root/$libdir/libmint.so.$version" "$c_exports" > /dev/null \
    || fail "the $what's libmint does not export exactly the C interface's functions"
  for program in "${programs[@]}"; do
    "$check_exports" "$root/$bindir/$program" "$exports" > /dev/null \
      || fail "the $what's $program does not export exactly the library functions"
    cmp -s "$root/$mandir/man1/$program.1" "$source/man/$program.1" || fail "the $what's $program.1 differs from man/$program.1"
  done
}

step "Debian package $(basename "$deb")"
listing=$(dpkg-deb -c "$deb" | normalise_listing './') || { echo "$listing"; fail "the Debian package has files not owned by root"; }
check_listing "Debian package" "$listing" usr/
for field in Package:mint Version:"$version" Architecture:"$arch"; do
  value=$(dpkg-deb -f "$deb" "${field%%:*}")
  [ "$value" = "${field#*:}" ] || fail "control field ${field%%:*} is '$value', expected '${field#*:}'"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6; do
  [[ ", $depends" == *", $library "* ]] || fail "Depends '$depends' lacks $library"
done
dpkg-deb -e "$deb" "$scratch/control"
for library in libmintcore libmint; do
  grep -qx "$library $major mint (>= $version)" "$scratch/control/shlibs" \
    || fail "shlibs does not name $library $major: $(cat "$scratch/control/shlibs")"
done
dpkg-deb -x "$deb" "$scratch/deb"
check_tree "Debian package" "$scratch/deb/usr"

step "tarball $(basename "$tgz")"
top=$(basename "$tgz" .tar.gz)
listing=$(tar -tvzf "$tgz" | normalise_listing "$top/") || { echo "$listing"; fail "the tarball has files not owned by root"; }
check_listing tarball "$listing" ""
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
check_tree tarball "$scratch/tgz/$top"
diff -r "$scratch/deb/usr" "$scratch/tgz/$top" > /dev/null || fail "the tarball's files differ from the Debian package's"

echo "both packages hold exactly the installed files"
