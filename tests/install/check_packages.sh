#!/usr/bin/env bash
# Builds the Debian packages and the tarball with CPack into a scratch
# directory and checks what they hold. The Debian packages, one per install
# component: libmintcore1 and libmint1 (each library with its version link,
# shlibs file and ldconfig trigger), libmintcore-dev (headers, CMake packages,
# pkg-config files, .so links; depending on this very version of both),
# mint-tools (the programs, their man pages compressed), python3-mint and
# postgresql-NN-mint where built. Each holds exactly its files below /usr,
# owned by root, plus its copyright file (with the licence) and
# changelog.Debian.gz, with its control fields and dependencies as Debian
# wants them, stripped binaries, nothing that names the build or source tree,
# every time stamp the packaged commit's, and no error or warning from
# lintian. The tarball holds the install tree, with the same files.
#
# usage: check_packages.sh --build=DIR --source=DIR --version=X.Y.Z --release=N
#          --maintainer=NAME_AND_ADDRESS
#          --bindir=D --libdir=D --includedir=D --mandir=D --docdir=D
#          --exports=LIST --c-exports=LIST --check-exports=SCRIPT [--program=NAME ...] [--web-page=PATH]
#          [--sanitized] [--hardened] [--lintian]
#          [--python=PY --python-version=X.Y --python-file=NAME ... (--python-dir=D | --python-site-dir=SCRIPT)]
#          [--postgresql-major=N --pkglibdir=DIR --extensiondir=DIR]
# --sanitized: the binaries are built with sanitizers, whose instrumentation
# records source file names in them; only the other files are checked for
# paths then. --hardened: the binaries are built with the hardening flags,
# which are checked. --lintian: run lintian (which must be installed).
set -euo pipefail
# tar lists times in the local time zone.
export TZ=UTC

. "$(dirname "$0")/installed_files.sh"
programs=()
web_page=
sanitized=0
hardened=0
run_lintian=0
python_version=
postgresql_major=
for arg in "$@"; do
  case $arg in
    --build=*) build=${arg#*=} ;;
    --source=*) source=${arg#*=} ;;
    --version=*) version=${arg#*=} ;;
    --release=*) release=${arg#*=} ;;
    --maintainer=*) maintainer=${arg#*=} ;;
    --bindir=*) bindir=${arg#*=} ;;
    --libdir=*) libdir=${arg#*=} ;;
    --includedir=*) includedir=${arg#*=} ;;
    --mandir=*) mandir=${arg#*=} ;;
    --docdir=*) docdir=${arg#*=} ;;
    --exports=*) exports=${arg#*=} ;;
    --c-exports=*) c_exports=${arg#*=} ;;
    --check-exports=*) check_exports=${arg#*=} ;;
    --program=*) programs+=("${arg#*=}") ;;
    --web-page=*) web_page=${arg#*=} ;;
    --sanitized) sanitized=1 ;;
    --hardened) hardened=1 ;;
    --lintian) run_lintian=1 ;;
    --python-version=*) python_version=${arg#*=} ;;
    --postgresql-major=*) postgresql_major=${arg#*=} ;;
    --pkglibdir=*) pkglibdir=${arg#*=} ;;
    --extensiondir=*) extensiondir=${arg#*=} ;;
    *) python_argument "$arg" || { echo "unknown argument: $arg"; exit 2; } ;;
  esac
done
major=${version%%.*}
deb_version=$version-$release

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "== $*"; }

# Every time stamp in the packages is the packaged commit's (or
# SOURCE_DATE_EPOCH's, when it is set), for reproducible packages.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct 2> /dev/null || true)}

step "cpack -G DEB;TGZ"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" -G "DEB;TGZ" > "$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)

# The packages, each with the install component it holds.
packages=(libmintcore1 libmintcore-dev libmint1 mint-tools)
declare -A component=([libmintcore1]=core [libmint1]=c [libmintcore-dev]=dev [mint-tools]=tools)
if [ ${#python_files[@]} -gt 0 ]; then
  packages+=(python3-mint)
  component[python3-mint]=python
fi
if [ -n "$postgresql_major" ]; then
  packages+=("postgresql-$postgresql_major-mint")
  component[postgresql-$postgresql_major-mint]=postgresql
fi
want=$(for package in "${packages[@]}"; do echo "${package}_${deb_version}_$arch.deb"; done | LC_ALL=C sort)
actual=$(cd "$scratch/out" && ls -- *.deb | LC_ALL=C sort)
[ "$actual" = "$want" ] || { diff <(echo "$want") <(echo "$actual") || true; fail "cpack made other Debian packages (expected, actual)"; }
tgz=$(echo "$scratch"/out/mint-"$version"-*.tar.gz)
[ -f "$tgz" ] || { ls "$scratch/out"; fail "no mint-$version-*.tar.gz"; }

python_dir=$(python_dir_for /usr) || fail "no Python package directory for /usr"

# Turns a `tar -tv --full-time`-style listing into "TYPE PATH [-> TARGET]"
# lines for everything but directories, PATH without the leading `strip`
# part, and fails on an entry not owned by root, writable by others than its
# owner, or not stamped with the expected time.
normalise_listing() {
  local strip=$1
  awk -v strip="$strip" -v epoch_time="${epoch:+$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')}" '
    $2 != "root/root" { print "owner " $2 " of " $6; bad = 1 }
    substr($1, 1, 1) != "l" && $1 !~ /^.r.[x-]r-[x-]r-[x-]$/ { print "mode " $1 " of " $6; bad = 1 }
    epoch_time != "" && $4 " " $5 != epoch_time { print "time " $4 " " $5 " of " $6 ", expected " epoch_time; bad = 1 }
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
  local what=$1 listing=$2 want=$3
  want=$(echo "$want" | LC_ALL=C sort)
  if [ "$listing" != "$want" ]; then
    diff <(echo "$want") <(echo "$listing") || true
    fail "the $what holds other files than expected (expected, actual)"
  fi
}

# The files a package holds, as listed by normalise_listing.
package_files() {
  local package=$1
  if [ "${component[$package]}" = postgresql ]; then
    printf '%s\n' "f ${pkglibdir#/}/mint.so" "f ${extensiondir#/}/mint.control" "f ${extensiondir#/}/mint--1.0.sql" \
      "f ${extensiondir#/}/mint--1.0--1.1.sql"
  else
    component_files "${component[$package]}" | sed "s|^\(.\) |\1 usr/|"
  fi
  printf '%s\n' "f usr/share/doc/$package/copyright" "f usr/share/doc/$package/changelog.Debian.gz" \
    "f usr/share/lintian/overrides/$package"
}

# Checks the control field $2 of package $1 against $3.
check_field() {
  local value
  value=$(dpkg-deb -f "$deb" "$2")
  [ "$value" = "$3" ] || fail "$1: control field $2 is '$value', expected '$3'"
}

# Checks that the Depends field of package $1 holds each of the
# relations given (a package name alone stands for any version of it).
check_depends() {
  local package=$1 depends relation
  shift
  depends=", $(dpkg-deb -f "$deb" Depends),"
  for relation in "$@"; do
    case $relation in
      *" ("*) [[ "$depends" == *", $relation,"* ]] ;;
      *) [[ "$depends" == *", $relation "* || "$depends" == *", $relation,"* ]] ;;
    esac || fail "$package: Depends '${depends:2:-1}' lacks $relation"
  done
}

# The licence text of a machine-readable copyright file's License paragraph,
# as plain lines.
license_paragraph_text() {
  awk '/^License: / && seen++ { body = 1; next } body && /^[^ ]/ { exit } body' "$1" | sed -E 's/^ //; s/^\.$//'
}

mkdir "$scratch/deb" "$scratch/control"
for package in "${packages[@]}"; do
  deb=$scratch/out/${package}_${deb_version}_$arch.deb
  step "Debian package $(basename "$deb")"
  listing=$(dpkg-deb --fsys-tarfile "$deb" | tar -tv --full-time)
  listing=$(echo "$listing" | normalise_listing './') || { echo "$listing"; fail "$package: files with the wrong owner, mode or time"; }
  check_listing "package $package" "$listing" "$(package_files "$package")"
  check_field "$package" Package "$package"
  check_field "$package" Version "$deb_version"
  check_field "$package" Architecture "$arch"
  check_field "$package" Source mint
  check_field "$package" Maintainer "$maintainer"
  [[ "$maintainer" =~ ^[^\<\>]+\ \<[^@\ ]+@[^@\ ]+\>$ ]] && ! [[ "$maintainer" =~ @(localhost|localdomain) ]] \
    || fail "the maintainer '$maintainer' is no name with an address"

  control=$scratch/control/$package
  dpkg-deb -e "$deb" "$control"
  case ${component[$package]} in
    core | c)
      library=libmintcore; [ "${component[$package]}" = c ] && library=libmint
      check_depends "$package" libc6 libstdc++6
      grep -qx "$library $major $package (>= $deb_version)" "$control/shlibs" \
        || fail "$package: shlibs does not name $library $major: $(cat "$control/shlibs")"
      grep -qx "activate-noawait ldconfig" "$control/triggers" || fail "$package: no ldconfig trigger"
      if [ "$package" = libmint1 ]; then
        # The symbols file names every symbol the library exports, each with
        # its version node, and nothing else.
        [ -f "$control/symbols" ] || fail "$package: no symbols file"
        head -n 1 "$control/symbols" | grep -qx "$library.so.$major $package #MINVER#" \
          || fail "$package: symbols does not start with its library: $(head -n 1 "$control/symbols")"
        listed=$(awk '/^ / { print $1 }' "$control/symbols" | LC_ALL=C sort)
        exported=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/$libdir/$library.so.$version" > "$scratch/$library.so" \
          && nm -D --defined-only "$scratch/$library.so" \
          | awk '$2 == "A" { print $3 "@" $3; next } { sub(/@@/, "@", $3); print $3 }' | LC_ALL=C sort)
        [ "$listed" = "$exported" ] || fail "$package: symbols lists $(echo $listed), the library exports $(echo $exported)"
      fi
      ;;
    dev) check_depends "$package" "libmintcore1 (= $deb_version)" "libmint1 (= $deb_version)" ;;
    tools)
      check_depends "$package" libc6
      # The programs carry their own copy of the library.
      [[ "$(dpkg-deb -f "$deb" Depends)" != *libmint* ]] || fail "$package depends on a library package"
      ;;
    python)
      next_minor=$(( ${python_version#*.} + 1 ))
      check_depends "$package" "python3 (>= $python_version~)" "python3 (<< ${python_version%%.*}.$next_minor)" libc6
      # Byte-compiled files are made after installing and removed before removing.
      grep -q "py3compile -p $package" "$control/postinst" || fail "$package: postinst does not byte-compile"
      grep -q "py3clean -p $package" "$control/prerm" || fail "$package: prerm does not remove the compiled files"
      ;;
    postgresql) check_depends "$package" "postgresql-$postgresql_major" libc6 ;;
  esac

  dpkg-deb -x "$deb" "$scratch/deb"
  doc=$scratch/deb/usr/share/doc/$package
  head -n 1 "$doc/copyright" | grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    || fail "$package: the copyright file is not in Debian's machine-readable format"
  grep -qx "License: Expat" "$doc/copyright" || fail "$package: the copyright file names no MIT (Expat) licence"
  license_paragraph_text "$doc/copyright" | cmp -s - <(sed -n '/^Permission is hereby granted/,$p' "$source/LICENSE") \
    || fail "$package: the copyright file's licence text differs from LICENSE"
  gzip -dc "$doc/changelog.Debian.gz" > "$scratch/changelog"
  [ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)" = "$deb_version" ] \
    || fail "$package: changelog.Debian.gz is not for version $deb_version"
  [ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Maintainer)" = "$maintainer" ] \
    || fail "$package: changelog.Debian.gz is not signed by the maintainer"
done

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
    # Compressed with gzip -9n: the same bytes from the same page, anywhere.
    gzip -9nc "$source/man/$program.1" | cmp -s - "$root/$mandir/man1/$program.1.gz" \
      || fail "the $what's $program.1.gz is not man/$program.1 compressed with gzip -9n"
  done
  # A sanitized module loads only into a process that preloads its runtime.
  if [ ${#python_files[@]} -gt 0 ] && [ $sanitized = 0 ]; then
    check_python_package "$root/$python_dir" "the $what"
  fi
}
check_tree "Debian packages" "$scratch/deb/usr"

step "binaries: stripped$([ $hardened = 1 ] && echo ", hardened")"
fortified=0
mapfile -t elf_files < <(find "$scratch/deb" -type f -exec sh -c '[ "$(head -c 4 "$1")" = "$(printf "\177ELF")" ]' sh {} \; -print)
[ ${#elf_files[@]} -ge 4 ] || fail "only ${#elf_files[@]} binaries in the packages"
for file in "${elf_files[@]}"; do
  name=${file#"$scratch/deb"}
  # Read whole before grep -q, which would otherwise cut readelf's output
  # short and fail the pipe.
  sections=$(readelf -S -W "$file")
  ! grep -qE ' \.(symtab|debug_[a-z]+) ' <<< "$sections" || fail "$name is not stripped"
  [ $hardened = 1 ] || continue
  segments=$(readelf -l -W "$file")
  dynamic=$(readelf -d -W "$file")
  symbols=$(readelf --dyn-syms -W "$file")
  grep -q GNU_RELRO <<< "$segments" || fail "$name has no RELRO segment"
  grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW' <<< "$dynamic" || fail "$name is not linked with -z now"
  grep -q ' __stack_chk_fail' <<< "$symbols" || fail "$name is not built with the stack protector"
  # Fortified calls appear only where a buffer's size is known, and Clang
  # fortifies no printf, so not every binary has one; the programs have.
  fortified_call=0
  grep -qE ' __[a-z_]+_chk(@|$)' <<< "$symbols" && fortified_call=1
  fortified=$((fortified + fortified_call))
  if [[ $name == /usr/bin/* ]]; then
    grep -qE '\(FLAGS_1\).*PIE' <<< "$dynamic" || fail "$name is not a position-independent executable"
    [ $fortified_call = 1 ] || fail "$name calls no fortified function"
  fi
done
[ $hardened = 0 ] || echo "$fortified of ${#elf_files[@]} binaries call fortified functions"

if [ $run_lintian = 1 ]; then
  step "lintian"
  command -v lintian > /dev/null || fail "lintian is not installed (scripts/install-deps.sh installs it)"
  # Explained exceptions ship in each package's lintian overrides.
  lintian --fail-on error,warning "$scratch"/out/*.deb 2> "$scratch/lintian.err" > "$scratch/lintian.log" \
    || { cat "$scratch/lintian.log" "$scratch/lintian.err"; fail "lintian"; }
  cat "$scratch/lintian.log"
fi

step "tarball $(basename "$tgz")"
top=$(basename "$tgz" .tar.gz)
listing=$(tar -tvz --full-time -f "$tgz" | normalise_listing "$top/") \
  || { echo "$listing"; fail "the tarball has files with the wrong owner, mode or time"; }
check_listing tarball "$listing" "$(expected_installed_files)"
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
check_tree tarball "$scratch/tgz/$top"
# The same files as the Debian packages, but for what only these hold.
diff -r -x doc -x lintian -x postgresql "$scratch/deb/usr" "$scratch/tgz/$top" > /dev/null \
  || fail "the tarball's files differ from the Debian packages'"

echo "the Debian packages and the tarball hold exactly the installed files, as Debian wants them"
