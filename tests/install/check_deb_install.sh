#!/usr/bin/env bash
# The Debian packages as a user meets them: builds them from a build tree,
# installs them all together with `dpkg -i`, uses every one from the
# installed files only (both programs and their man pages; the Python package
# from outside the source tree; the PostgreSQL extension in a throw-away
# cluster; C and C++ programs built against libmintcore-dev through
# pkg-config and CMake), then purges them and checks that the system is as it
# was: no package left in any state, no file or directory of theirs left
# behind, nothing of theirs in the linker's cache.
#
# usage: check_deb_install.sh --build=DIR --source=DIR
# DIR: a configured and built tree (the default preset's); its version of
# the programs is what the installed ones must match. Needs root, as it
# installs system-wide: run by .ci/run, not by ctest. The packages' run-time
# dependencies (python3, postgresql-15, ...) must be installed already
# (scripts/install-deps.sh); none of the packages may be.
set -euo pipefail
export TZ=UTC LC_ALL=C.UTF-8

for arg in "$@"; do
  case $arg in
    --build=*) build=$(cd "${arg#*=}" && pwd) ;;
    --source=*) source=$(cd "${arg#*=}" && pwd) ;;
    *) echo "unknown argument: $arg"; exit 2 ;;
  esac
done
[ -n "${build:-}" ] && [ -n "${source:-}" ] || { echo "usage: $0 --build=DIR --source=DIR"; exit 2; }

fail() { echo "FAILED: $*"; exit 1; }
step() { echo "== $*"; }
[ "$(id -u)" -eq 0 ] || fail "installing packages needs root"

scratch=$(mktemp -d -t mint-deb-install.XXXXXX)
packages=()
installed=0
cleanup() {
  # A failure must not leave the packages on the system.
  if [ $installed = 1 ]; then
    echo "== purging the packages after a failure"
    dpkg --purge "${packages[@]}" > /dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
chmod 755 "$scratch"

step "build the packages"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack"; }
debs=("$scratch"/out/*.deb)
for deb in "${debs[@]}"; do
  packages+=("$(dpkg-deb -f "$deb" Package)")
done
echo "${packages[*]}"
for package in libmintcore1 libmint1 libmintcore-dev mint-tools python3-mint; do
  [[ " ${packages[*]} " == *" $package "* ]] || fail "no package $package (is the build tree complete?)"
done
postgresql_package=$(printf '%s\n' "${packages[@]}" | grep -E '^postgresql-[0-9]+-mint$') || fail "no PostgreSQL extension package"
postgresql_major=$(echo "$postgresql_package" | cut -d- -f2)
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2> /dev/null || true)
  [ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] \
    || fail "$package is on this system already ($status); purge it first"
done

# What the packages will put in place, and which of those paths exist now:
# after purging, exactly these must exist again.
for deb in "${debs[@]}"; do
  dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -E 's|^\./?|/|; s|/$||' | grep -v '^$'
done | sort -u > "$scratch/paths"
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done < "$scratch/paths" > "$scratch/existing-before"
while read -r path; do
  if ! [ -d "$path" ]; then fail "$path, a file of the packages, exists before installing them"; fi
done < "$scratch/existing-before"

step "dpkg -i ${debs[*]##*/}"
installed=1
dpkg -i "${debs[@]}" > "$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log"; fail "dpkg -i"; }
for package in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$package")" = "install ok installed" ] || fail "$package is not installed"
done
# The ldconfig trigger ran (with /usr merged, the cache may name /lib).
cache=$(ldconfig -p)
grep -qE "libmintcore\.so\.1 .*=> (/usr)?/lib/" <<< "$cache" || fail "the linker's cache lacks libmintcore.so.1"
grep -qE "libmint\.so\.1 .*=> (/usr)?/lib/" <<< "$cache" || fail "the linker's cache lacks libmint.so.1"

# Outside the source and build trees, so nothing there can be used by mistake.
cd "$scratch"

step "the programs"
[ "$(command -v mintbatch)" = /usr/bin/mintbatch ] || fail "mintbatch is not /usr/bin/mintbatch"
/usr/bin/mintbatch "$source/examples/patients.csv" - > installed.out 2> installed.err || fail "installed mintbatch"
"$build/tools/batch/mintbatch" "$source/examples/patients.csv" - > built.out 2> built.err || fail "built mintbatch"
cmp -s installed.out built.out && cmp -s installed.err built.err || fail "the installed mintbatch differs from the built one"
grep -q '^1001,.*,uc1kb3lfu4p3$' installed.out || fail "mintbatch: no identifier for record 1001"
[ "$(/usr/bin/mintsolo -q "$source/examples/patient.rec")" = "UUID: 1q2chvgo0ecq" ] || fail "installed mintsolo"
for program in mintbatch mintsolo; do
  [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1.gz" ] || fail "man does not find $program's page"
  [ "$("/usr/bin/$program" --version)" = "$("$build/tools/"*/"$program" --version)" ] || fail "$program --version"
done

step "the Python package, with /usr/bin/python3 from $scratch"
python_output=$(/usr/bin/python3 -c '
from importlib import metadata
import mint
print(mint.__file__)
print(metadata.version("mint"), metadata.metadata("mint")["License"])
print(mint.uuid(patient_name="Jane Doe", patient_ssn="123-45-6789", patient_gender=2,
                patient_birth_year=1970, patient_birth_month=1, patient_birth_day=31))
print(mint.uuids({"patient_name": ["Jane Doe"], "patient_gender": [2], "patient_birth_year": [1970],
                  "patient_birth_month": [1], "patient_birth_day": [31], "policy_name": ["John Doe"],
                  "policy_ssn": ["987-65-4321"], "policy_gender": [1], "policy_birth_year": [1968],
                  "policy_birth_month": [7], "policy_birth_day": [4]}))') || fail "import mint"
version=$(dpkg-deb -f "$scratch/out/"mint-tools_*.deb Version)
want="/usr/lib/python3/dist-packages/mint/__init__.py
${version%-*} MIT
uc1kb3lfu4p3
['1q2chvgo0ecq']"
[ "$python_output" = "$want" ] || { diff <(echo "$want") <(echo "$python_output") || true; fail "the installed Python package (expected, actual)"; }
# Byte-compiled by the package's postinst, as Debian's Python packages are.
ls /usr/lib/python3/dist-packages/mint/__pycache__/__init__.*.pyc > /dev/null 2>&1 \
  || fail "the Python package was not byte-compiled when installed"

step "the PostgreSQL extension in a throw-away PostgreSQL $postgresql_major cluster"
cat > "$scratch/extension.sql" <<'EOF'
CREATE EXTENSION mint;
SELECT extversion FROM pg_extension WHERE extname = 'mint';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SELECT mint_uuid('Jane Doe', NULL, 2, date '1970-01-31', 'John Doe', '987-65-4321', 1, date '1968-07-04');
SELECT mint_uuid_problem('Mary Major', '123-45-678', 2, 1990, 6, 15);
SELECT mint_uuid_text('Jane Doe', '123-45-6789', '2', '1970', '1', '31');
DROP EXTENSION mint;
EOF
chmod 644 "$scratch/extension.sql"
# As root, pg_virtualenv runs the server as postgres in a temporary directory.
# It reports on the cluster on standard output: psql writes to a file.
pg_virtualenv -t -v "$postgresql_major" psql -XAtq -v ON_ERROR_STOP=1 -f "$scratch/extension.sql" -o "$scratch/psql.out" \
  > "$scratch/psql.log" 2>&1 || { cat "$scratch/psql.log"; fail "the extension"; }
want="1.1
uc1kb3lfu4p3
1q2chvgo0ecq
patient_ssn: invalid ssn
uc1kb3lfu4p3"
[ "$(cat "$scratch/psql.out")" = "$want" ] \
  || { diff <(echo "$want") "$scratch/psql.out" || true; fail "the extension's results (expected, actual)"; }

step "programs built against libmintcore-dev"
consumers=$source/tests/install
# Through pkg-config, with nothing but the system's search path.
# shellcheck disable=SC2046 # lists of flags
cc -std=c99 -pedantic -Wall -Wextra -Werror -DMINT_EXPECTED_VERSION="\"${version%-*}\"" \
  -o c-pkg-config "$consumers/c_consumer/consumer.c" $(pkg-config --cflags --libs mint) || fail "building the C program (pkg-config mint)"
# shellcheck disable=SC2046
c++ -Wall -Wextra -Werror -o cxx-pkg-config "$consumers/consumer/consumer.cpp" $(pkg-config --cflags --libs mintcore) \
  || fail "building the C++ program (pkg-config mintcore)"
for how in c cxx; do
  mkdir "$how-cmake"
  cmake -S "$consumers/$([ $how = c ] && echo c_consumer || echo consumer)" -B "$how-cmake" -G Ninja \
    -DMINT_EXPECTED_VERSION="${version%-*}" -DCMAKE_BUILD_TYPE=Release > "$how-cmake.log" 2>&1 \
    && cmake --build "$how-cmake" >> "$how-cmake.log" 2>&1 || { cat "$how-cmake.log"; fail "building the $how program with find_package"; }
  grep -q "found in /usr/lib/.*/cmake/mint" "$how-cmake.log" || { cat "$how-cmake.log"; fail "$how: find_package found no installed package"; }
done
for binary in c-pkg-config cxx-pkg-config c-cmake/c_consumer cxx-cmake/consumer; do
  library=$(ldd "$binary" | awk '$1 ~ /^libmint(core)?\.so\.1$/ { print $3 }')
  [[ "$(realpath "$library")" == /usr/lib/*/libmint*.so.${version%-*} ]] || fail "$binary loads '$library', not the installed library"
  "./$binary" > "$binary.out" || { cat "$binary.out"; fail "$binary: wrong identifiers"; }
done

step "dpkg --purge ${packages[*]}"
# dpkg -L names the root directory "/.".
for package in "${packages[@]}"; do dpkg -L "$package"; done | grep -vx '/\.' | sort -u > "$scratch/listed"
cmp -s "$scratch/listed" "$scratch/paths" || { diff "$scratch/paths" "$scratch/listed" || true; fail "dpkg -L lists other paths than the packages hold"; }
dpkg --purge "${packages[@]}" > "$scratch/purge.log" 2>&1 || { cat "$scratch/purge.log"; fail "dpkg --purge"; }
installed=0
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2> /dev/null || true)
  [ -z "$status" ] || [ "$status" = "unknown ok not-installed" ] || fail "$package is left in state '$status'"
done
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done < "$scratch/paths" > "$scratch/existing-after"
cmp -s "$scratch/existing-before" "$scratch/existing-after" \
  || { diff "$scratch/existing-before" "$scratch/existing-after" || true; fail "paths of the packages left behind after purging (before, after)"; }
cache=$(ldconfig -p)
! grep -qE 'libmint(core)?\.so\.1 ' <<< "$cache" || fail "the linker's cache still names the libraries"

echo "${#packages[@]} packages installed, used from the installed files and purged without a trace"
