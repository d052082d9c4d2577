#!/usr/bin/env bash
# Runs the extension's regression tests (sql/*.sql against expected/*.out,
# with pg_regress) on throw-away PostgreSQL servers that this script makes
# and drops, in a temporary directory: Debian's pg_virtualenv for the TESTs
# without a key, then a server of its own, started with the module preloaded
# and the project's test key (mint_key, mint_agree, mint_copy), with a key
# file but the module not preloaded (mint_unpreloaded), and with key files
# that cannot serve, where it must refuse to start. As root, the servers run
# as the `postgres` user and only the client runs as root; no other cluster
# is touched, and nothing is written outside temporary directories but the
# build tree's install manifests.
#
# The extension is used as `cmake --install --component postgresql` puts it
# into a prefix of the test's own, which the servers are told to look in
# first (Debian's extension_destdir, and dynamic_library_path for
# shared_preload_libraries), so the test needs no write access to the
# server's own directories.
#
# usage: run_tests.sh --build=DIR --source=DIR --pg-config=PATH
#          --pkglibdir=DIR --extensiondir=DIR
#          --mintbatch=PATH --generate-records=PATH --test-key=FILE TEST ...
# --pkglibdir and --extensiondir: where the install rules put the module and
# the control and script files for pg_config's prefix. --test-key: the
# project's test key file, whose keyed identifiers of the worked examples are
# known. TEST: the sql/TEST.sql files to run without a key, in order.
# Exit status 77 (skipped) when there is no server to test against.
# MINT_TEST_KEEP=1 keeps the temporary directory (pg_regress's results in
# unkeyed/out/ and keyed/out-*/).
set -euo pipefail

if [ "${1:-}" = --inside ]; then
  # Second stage, inside pg_virtualenv: PG* variables reach the new server.
  shift
  tests_dir=$1 source=$2 bindir=$3
  shift 3
  status=0
  MINT_TEST_DIR=$tests_dir "$pg_regress" --inputdir="$source" --outputdir="$tests_dir/out" --bindir="$bindir" \
    --dbname=mint_regression "$@" || status=$?
  if [ $status -ne 0 ] && [ -f "$tests_dir/out/regression.diffs" ]; then
    cat "$tests_dir/out/regression.diffs"
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

step "an install into pg_config's prefix uses the server's directories; any other prefix keeps within itself"
unset DESTDIR
pg_prefix=$("$pg_config" --configure | tr ' ' '\n' | sed -n "s/^'--prefix=\(.*\)'$/\1/p")
[ -n "$pg_prefix" ] || fail "no --prefix in pg_config --configure"
extension_files=("$extensiondir/mint--1.0--1.1.sql" "$extensiondir/mint--1.0.sql" "$extensiondir/mint.control" "$pkglibdir/mint.so")
DESTDIR=$work/installed cmake --install "$build" --component postgresql --prefix "$pg_prefix" > "$work/install.log" \
  || { cat "$work/install.log"; fail "cmake --install --component postgresql --prefix $pg_prefix"; }
want=$(printf '%s\n' "${extension_files[@]}" | LC_ALL=C sort)
actual=$(cd "$work/installed" && find . ! -type d | sed 's/^\.//' | LC_ALL=C sort)
[ "$actual" = "$want" ] || { diff <(echo "$want") <(echo "$actual") || true; fail "installed files (expected, actual)"; }
# A user's own prefix, with no DESTDIR: everything below it, even as root,
# and a message that says how to point the server at it.
user_prefix=$work/user-prefix
server_files_before=$(stat -c '%n %Y %s' "${extension_files[@]}" 2>&1 || true)
cmake --install "$build" --component postgresql --prefix "$user_prefix" > "$work/install.log" \
  || { cat "$work/install.log"; fail "cmake --install --prefix (a user's own prefix)"; }
for file in "${extension_files[@]}"; do
  cmp -s "$work/installed$file" "$user_prefix$file" || fail "an install into $user_prefix lacks $user_prefix$file"
done
[ "$(stat -c '%n %Y %s' "${extension_files[@]}" 2>&1 || true)" = "$server_files_before" ] \
  || fail "an install into $user_prefix wrote into the server's directories"
grep -q "extension_destdir = '$user_prefix'" "$work/install.log" \
  || { cat "$work/install.log"; fail "no message on pointing the server at the prefix"; }
chmod -R a+rX "$work"

# The servers find the extension where the user's own install put it.
stage=$user_prefix

step "100000 generated records and their identifiers from mintbatch"
"$generate_records" 100000 2024 > "$work/records.csv"
"$mintbatch" "$work/records.csv" "$work/records-with-uuid.csv" > "$work/mintbatch.log" \
  || { cat "$work/mintbatch.log"; fail "mintbatch"; }

# Hostile records, loaded by COPY into text columns and compared row by row
# with mintbatch --key-only on the same file, unkeyed and keyed: every
# number field judged as mintbatch judges it. No field holds a double quote
# and no number field a comma: COPY and mintbatch read those otherwise.
/usr/bin/python3 - "$work/hostile.csv" <<'GENERATOR'
import random, sys
random.seed(21)
numbers = [" 1970", "19x0", "1970.0", "+1970", "0x10", "", "-", "-0", "0", "1", "2", "3", "007",
           "12 ", "\t1", "1e3", "99999999999", "-99999999999", "2147483647", "2147483648",
           "-2147483648", "-2147483649", "1850", "1851", "2099", "2100", "31", "32", "12", "13",
           "\uff11\uff12", "1-2", "--1", "- 1"]
names = ["Jane Doe", "", "\"Roe, Richard\"", "1234", "\u00dcn\u00efcode N\u00e0me", "-" * 100 + "Jane",
         "x" * 99 + "Jane", "  ", "O'Brien"]
ssns = ["123-45-6789", "12345678", "1234567890", "", "none", " 123456789 ", "-" * 1000 + "123456789",
        "-" * 990 + "123456789", "987-65-4321"]
def number(good):
    return random.choice(numbers) if random.random() < 0.06 else str(good)
with open(sys.argv[1], "w", encoding="utf-8", newline="\n") as out:
    out.write("data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
              "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
              "policy_birth_day\n")
    for record in range(1, 20001):
        fields = [str(record)]
        for person in range(2):
            fields += [random.choice(names) if random.random() < 0.2 else "Person %d" % record,
                       random.choice(ssns) if random.random() < 0.3 else "%09d" % (record * 7919 % 10**9),
                       number(1 + record % 2), number(1900 + record % 100), number(1 + record % 12),
                       number(1 + record % 28)]
        out.write(",".join(fields) + "\n")
GENERATOR

# The tests of each server read their files from a directory of their own:
# unkeyed/ for the servers without a key, keyed/ for the one with the key.
for kind in unkeyed keyed; do
  mkdir "$work/$kind"
  ln -s ../records.csv ../records-with-uuid.csv ../hostile.csv "$work/$kind/"
done
"$mintbatch" --key-only "$work/hostile.csv" "$work/unkeyed/hostile-key-only.csv" > "$work/mintbatch.log" \
  || { cat "$work/mintbatch.log"; fail "mintbatch --key-only"; }
"$mintbatch" --key-only --key-file "$test_key" "$work/hostile.csv" "$work/keyed/hostile-key-only.csv" \
  > "$work/mintbatch.log" || { cat "$work/mintbatch.log"; fail "mintbatch --key-only --key-file"; }
chmod -R a+rX "$work"

step "regression tests on a throw-away PostgreSQL $version server without a key"
pg_virtualenv -t -v "$version" -o "extension_destdir=$stage" \
  "$0" --inside "$work/unkeyed" "$source" "$bindir" "${tests[@]}" || fail "regression tests without a key"

# A second throw-away server of this script's own, started again and again
# with other settings: the module preloaded with a key, not preloaded with a
# key file set, and preloaded with key files that cannot serve. As root it
# runs as postgres.
as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
server=$work/server
mkdir -p "$server/socket"
[ "$(id -u)" -ne 0 ] || chown -R postgres "$server"
as_server "$bindir/initdb" -D "$server/data" -U postgres -A trust --no-sync > "$server/initdb.log" 2>&1 \
  || { cat "$server/initdb.log"; fail "initdb"; }
# Key files in the data directory, named relative to it, so that what a
# superuser's SHOW gives does not depend on where this run happens.
keys=$server/data/mint_test
as_server mkdir -m 700 "$keys"
as_server sh -c "umask 077; cat > '$keys/key.hex'" < "$test_key"
start_server() {
  as_server "$bindir/pg_ctl" -D "$server/data" -l "$server/log" -w -t 60 \
    -o "-k $server/socket -c listen_addresses= -c fsync=off -c extension_destdir=$stage \
        -c dynamic_library_path='$stage$pkglibdir:\$libdir' $*" start \
    > "$server/pg_ctl.log" 2>&1
}
stop_server() {
  as_server "$bindir/pg_ctl" -D "$server/data" -w -m fast stop > /dev/null 2>&1
}
trap 'stop_server || true; [ -n "${MINT_TEST_KEEP:-}" ] || rm -rf "$work"' EXIT
# regress DIR TEST...: pg_regress on the running server.
regress() {
  local dir=$1
  shift
  local status=0
  MINT_TEST_DIR=$dir "$pg_regress" --inputdir="$source" --outputdir="$dir/out-$1" --bindir="$bindir" \
    --host="$server/socket" --user=postgres --dbname=mint_regression "$@" || status=$?
  if [ $status -ne 0 ] && [ -f "$dir/out-$1/regression.diffs" ]; then cat "$dir/out-$1/regression.diffs"; fi
  return $status
}

step "regression tests on a throw-away server with the module preloaded and the test key"
start_server "-c shared_preload_libraries=mint -c mint.key_file=mint_test/key.hex" \
  || { cat "$server/pg_ctl.log" "$server/log"; fail "the server with the key did not start"; }
# The file changed in place after the start has no effect until the next.
as_server sh -c "echo fedcba9876543210fedcba9876543210 > '$keys/key.hex'"
regress "$work/keyed" mint_key mint_agree mint_copy || fail "regression tests with the key"
stop_server

step "a key file set without the module preloaded: every call is an error"
start_server "-c mint.key_file=mint_test/key.hex" \
  || { cat "$server/pg_ctl.log" "$server/log"; fail "the server without the module preloaded did not start"; }
regress "$work/keyed" mint_unpreloaded || fail "regression tests without the module preloaded"
stop_server

step "a key file that cannot serve: the server does not start, and says why in one line"
as_server mkfifo -m 600 "$keys/fifo.hex"
as_server mkdir -m 700 "$keys/directory.hex"
as_server sh -c "umask 077; echo 0123456789abcdef0123456789abcdeX > '$keys/malformed.hex'"
as_server sh -c "umask 077; echo 0123456789abcdef > '$keys/short.hex'"
as_server sh -c "umask 077; : > '$keys/empty.hex'"
as_server sh -c "umask 077; echo 0123456789abcdef0123456789abcdef0 > '$keys/odd.hex'"
as_server sh -c "umask 077; printf '%01026d\n' 0 > '$keys/long.hex'"
as_server sh -c "umask 077; cp '$keys/key.hex' '$keys/group.hex'; chmod 640 '$keys/group.hex'"
as_server sh -c "umask 077; cp '$keys/key.hex' '$keys/world.hex'; chmod 604 '$keys/world.hex'"
bad_keys=(
  "missing.hex|does not exist"
  "fifo.hex|is not a regular file"
  "directory.hex|is not a regular file"
  "malformed.hex|is not a key: it holds a character other than hex digits and whitespace"
  "short.hex|is not a key: it holds fewer than 32 hex digits"
  "empty.hex|is not a key: it is empty"
  "odd.hex|is not a key: it holds an odd number of hex digits"
  "long.hex|is not a key: it holds more than 1024 hex digits"
  "group.hex|has group or world access"
  "world.hex|has group or world access"
)
# Owned by root, as PostgreSQL allows for its ssl_key_file: readable by the
# server's group at most (0640), and then only if the server can read it.
if [ "$(id -u)" -eq 0 ]; then
  install -o root -g root -m 600 "$test_key" "$keys/root-only.hex"
  install -o root -g root -m 644 "$test_key" "$keys/root-world.hex"
  bad_keys+=("root-only.hex|cannot be read by the server's user" "root-world.hex|has group or world access")
fi
for case in "${bad_keys[@]}"; do
  file=${case%%|*} why=${case#*|}
  : > "$server/log"
  status=0
  start_server "-c shared_preload_libraries=mint -c mint.key_file=mint_test/$file" || status=$?
  if [ $status -eq 0 ]; then
    stop_server
    fail "the server started with key file $file"
  fi
  # pg_ctl gives up after 60 seconds; a postmaster stuck reading the file
  # would still be there.
  if [ -e "$server/data/postmaster.pid" ]; then
    # It may be deaf to pg_ctl stop: end it by the process id it wrote.
    as_server kill -KILL "$(head -1 "$server/data/postmaster.pid")" || true
    fail "the server neither started nor ended with key file $file"
  fi
  want="FATAL:  mint: key file \"mint_test/$file\" (mint.key_file) $why"
  # Besides PostgreSQL's own last word, "database system is shut down".
  if [ "$(grep -vc 'LOG:  database system is shut down$' "$server/log")" -ne 1 ] || ! grep -qF "$want" "$server/log"; then
    cat "$server/log"
    fail "key file $file: not one line saying '$want'"
  fi
  echo "ok   $file: $(grep -F "$want" "$server/log" | sed 's/^.*FATAL:/FATAL:/')"
done

if [ "$(id -u)" -eq 0 ]; then
  step "a key file owned by root and readable by the server's group serves"
  install -o root -g "$(id -gn postgres)" -m 640 "$test_key" "$keys/root-group.hex"
  start_server "-c shared_preload_libraries=mint -c mint.key_file=mint_test/root-group.hex" \
    || { cat "$server/pg_ctl.log" "$server/log"; fail "the server with a root-owned key file did not start"; }
  key_id=$(psql -XAtq -h "$server/socket" -U postgres -d postgres \
    -c 'CREATE EXTENSION mint' -c 'SELECT mint_key_id()' -c 'DROP EXTENSION mint')
  stop_server
  [ "$key_id" = b913d80e9c15b16f ] || fail "the root-owned key file gave fingerprint '$key_id'"
  echo "ok   root-group.hex: the test key"
fi
