#!/usr/bin/env bash
# Runs the extension's regression tests (sql/*.sql against expected/*.out,
# with pg_regress) on a throw-away PostgreSQL server that this script starts
# and drops: Debian's pg_virtualenv, in a temporary directory. As root, the
# server runs as the `postgres` user and only the client runs as root; no
# other cluster is touched, and nothing is written outside temporary
# directories but the build tree's install manifests.
#
# The extension is used as `cmake --install --component postgresql` puts it
# in place, but under a staging directory that the server is told to look in
# first (Debian's extension_destdir setting), so the test needs no write
# access to the server's own directories.
#
# usage: run_tests.sh --build=DIR --source=DIR --pg-config=PATH
#          --pkglibdir=DIR --extensiondir=DIR
#          --mintbatch=PATH --generate-records=PATH --test-key=FILE TEST ...
# --pkglibdir and --extensiondir: where the install rules put the module and
# the control and script files. --test-key: the project's test key file,
# whose keyed identifiers of the worked examples are known. TEST: the
# sql/TEST.sql files to run, in order.
# Exit status 77 (skipped) when there is no server to test against.
# MINT_TEST_KEEP=1 keeps the temporary directory (pg_regress's results in out/).
set -euo pipefail

if [ "${1:-}" = --inside ]; then
  # Second stage, inside pg_virtualenv: PG* variables reach the new server.
  shift
  work=$1 source=$2 bindir=$3
  shift 3
  # Key files for the key tests live in the data directory, so the tests
  # name them by relative paths and their messages do not depend on where
  # this run happens to be.
  datadir=$(psql -XAtq -c 'SHOW data_directory')
  mkdir "$datadir/mint_test"
  cp "$work"/keys/* "$datadir/mint_test/"
  chown -R --reference="$datadir" "$datadir/mint_test"
  chmod 700 "$datadir/mint_test"
  chmod 600 "$datadir"/mint_test/*
  chmod 644 "$datadir/mint_test/key-readable.hex"
  status=0
  MINT_TEST_DIR=$work "$pg_regress" --inputdir="$source" --outputdir="$work/out" --bindir="$bindir" \
    --dbname=mint_regression "$@" || status=$?
  if [ $status -ne 0 ] && [ -f "$work/out/regression.diffs" ]; then
    cat "$work/out/regression.diffs"
  fi
  exit $status
fi

tests=()
for arg in "$@"; do
  case $arg in
    --build=*) build=${arg#*=} ;;
    --source=*) source=${arg#*=} ;;
    --pg-config=*) pg_config=${arg#*=} ;;
    --pkglibdir=*) pkglibdir=${arg#*=} ;;
    --extensiondir=*) extensiondir=${arg#*=} ;;
    --mintbatch=*) mintbatch=${arg#*=} ;;
    --generate-records=*) generate_records=${arg#*=} ;;
    --test-key=*) test_key=${arg#*=} ;;
    --*) echo "unknown argument: $arg"; exit 2 ;;
    *) tests+=("$arg") ;;
  esac
done
[ ${#tests[@]} -gt 0 ] || { echo "no tests named"; exit 2; }

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
step() { echo "== $*"; }

version=$("$pg_config" --version | sed -E 's/^PostgreSQL ([0-9]+).*/\1/')
bindir=$("$pg_config" --bindir)
export pg_regress
pg_regress=$("$pg_config" --pkglibdir)/pgxs/src/test/regress/pg_regress
command -v pg_virtualenv > /dev/null || skip "pg_virtualenv not found (Debian package postgresql-common)"
[ -x "$bindir/postgres" ] || skip "no PostgreSQL $version server at $bindir (Debian package postgresql-$version)"
[ -x "$pg_regress" ] || skip "pg_regress not found at $pg_regress (Debian package postgresql-server-dev-$version)"
grep -q extension_destdir "$("$pg_config" --sharedir)/postgresql.conf.sample" \
  || skip "this PostgreSQL has no extension_destdir setting to load an uninstalled extension (a Debian build has)"
if [ "$(id -u)" -eq 0 ]; then
  id postgres > /dev/null 2>&1 || skip "running as root, and there is no postgres user to run the server"
fi

work=$(mktemp -d -t mint-postgresql-test.XXXXXX)
trap '[ -n "${MINT_TEST_KEEP:-}" ] || rm -rf "$work"' EXIT
# The server, run as another user when this runs as root, reads the staged
# extension and the records from here.
chmod 755 "$work"

step "install the extension into a staging directory"
unset DESTDIR
DESTDIR=$work/installed cmake --install "$build" --component postgresql > "$work/install.log" \
  || { cat "$work/install.log"; fail "cmake --install --component postgresql"; }
want=$(printf '%s\n' "$extensiondir/mint--1.0.sql" "$extensiondir/mint.control" "$pkglibdir/mint.so" | LC_ALL=C sort)
actual=$(cd "$work/installed" && find . ! -type d | sed 's/^\.//' | LC_ALL=C sort)
[ "$actual" = "$want" ] || { diff <(echo "$want") <(echo "$actual") || true; fail "installed files (expected, actual)"; }
step "a whole-tree install holds the extension; a user's own prefix does without it"
DESTDIR=$work/whole cmake --install "$build" --prefix /prefix > "$work/install.log" \
  || { cat "$work/install.log"; fail "cmake --install (whole tree)"; }
for file in "$extensiondir/mint--1.0.sql" "$extensiondir/mint.control" "$pkglibdir/mint.so"; do
  cmp -s "$work/installed$file" "$work/whole$file" || fail "a whole-tree install lacks $file"
done
# Only where the server's directories are not writable, as for most users.
if [ "$(id -u)" -ne 0 ] && ! [ -w "$pkglibdir" ]; then
  cmake --install "$build" --prefix "$work/user-prefix" > "$work/install.log" \
    || { cat "$work/install.log"; fail "cmake --install --prefix (a user's own prefix)"; }
  grep -q "Not installing the PostgreSQL extension: .* is not writable" "$work/install.log" \
    || { cat "$work/install.log"; fail "no message about the extension left out"; }
fi

# Laid out as the server expects below extension_destdir: its own directories.
stage=$work/stage
mkdir -p "$stage$("$pg_config" --pkglibdir)" "$stage$("$pg_config" --sharedir)/extension"
cp "$work/installed$pkglibdir/mint.so" "$stage$("$pg_config" --pkglibdir)/"
cp "$work/installed$extensiondir"/mint* "$stage$("$pg_config" --sharedir)/extension/"

step "100000 generated records and their identifiers from mintbatch"
"$generate_records" 100000 2024 > "$work/records.csv"
"$mintbatch" "$work/records.csv" "$work/records-with-uuid.csv" > "$work/mintbatch.log" \
  || { cat "$work/mintbatch.log"; fail "mintbatch"; }

# Key files, each named by what it holds: the test key written four ways,
# another key and faulty ones.
mkdir "$work/keys"
key=$(tr -d ' \t\r\n' < "$test_key")
cp "$test_key" "$work/keys/key.hex"
echo "$key" | tr a-f A-F | sed -E 's/(.{8})/\1 /g; s/ $//' | fold -w 27 > "$work/keys/key-spaced.hex"
printf '%s' "$key" > "$work/keys/key-no-newline.hex"
echo "$key" > "$work/keys/key-readable.hex"
echo fedcba9876543210fedcba9876543210 > "$work/keys/other-key.hex"
echo 000102030405060708090a0b0c0d0e > "$work/keys/short.hex"
echo "${key}0" > "$work/keys/odd.hex"
echo "${key%??}zz" > "$work/keys/not-hex.hex"
printf '%01026d\n' 0 > "$work/keys/long.hex"
: > "$work/keys/empty.hex"
chmod -R a+rX "$work"

step "regression tests on a throw-away PostgreSQL $version server"
pg_virtualenv -t -v "$version" -o "extension_destdir=$stage" \
  "$0" --inside "$work" "$source" "$bindir" "${tests[@]}"
