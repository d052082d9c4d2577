#!/usr/bin/env bash
# What a mintbatch run leaves behind when it cannot finish: a run that fails
# half way or is interrupted leaves an existing output exactly as it was and
# no temporary file; a new output's permission bits; an existing output's
# bits; a symbolic link as output; the output swapped for a link to the
# input while the run starts; the same file as standard input and output;
# messages that cannot be written; names of descriptors as output; names too
# long for a temporary name beside them; the flushes to disk around the
# rename; other users' files and links in a sticky directory.
# usage: output_safety.sh MINTBATCH GENERATE_RECORDS SWAP_SHIM SYNC_SHIM
set -uo pipefail
mintbatch=$1
generate=$2
shim=$3
sync_shim=$4
work=$(mktemp -d)
# A kernel setting this test changes, restored however it ends.
restore_symlink_setting=
cleanup() {
  [ -n "$restore_symlink_setting" ] && sysctl -q -w fs.protected_symlinks="$restore_symlink_setting"
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
# Interrupted background jobs must see SIGINT, which job control gives them.
set -m

failed=0
fail() {
  echo "FAIL $*"
  failed=1
}
pass() {
  echo "ok   $*"
}

"$generate" 20000 7 > in.csv
lines=$(wc -l < in.csv)
printf 'the previous output\n' > previous
no_temporaries() {
  [ -z "$(find . -name '.*.csv.*' -print -quit)" ]
}

# 1. A file size limit stops the writing half way.
cp previous out.csv
(ulimit -f 200; exec "$mintbatch" in.csv out.csv) > stdout 2> stderr
status=$?
if [ $status -eq 1 ] && cmp -s out.csv previous && no_temporaries &&
   grep -qx "Unable to write output file 'out.csv'." stdout; then
  pass "failure half way leaves the previous output"
else
  fail "failure half way: status $status"; cat stdout stderr | head -5; ls -la
fi
rm -f out.csv
(ulimit -f 200; exec "$mintbatch" in.csv out.csv) > /dev/null 2>&1
if [ ! -e out.csv ] && no_temporaries; then pass "failure half way leaves no new output"; else fail "failure half way left a file"; ls -la; fi

# 2. Interrupted while waiting for input.
for signal in INT TERM HUP; do
  cp previous out.csv
  rm -f fifo && mkfifo fifo
  "$mintbatch" fifo out.csv > /dev/null 2>&1 &
  pid=$!
  exec 3> fifo
  head -n 1000 in.csv >&3
  for _ in $(seq 1 100); do
    [ -n "$(find . -name '.out.csv.*' -print -quit)" ] && break
    sleep 0.05
  done
  kill -s "$signal" $pid
  wait $pid
  status=$?
  exec 3>&-
  if [ $status -eq $((128 + $(kill -l "$signal"))) ] && cmp -s out.csv previous && no_temporaries; then
    pass "SIG$signal leaves the previous output and no temporary file"
  else
    fail "SIG$signal: status $status"; ls -la
  fi
done

# ... also with a report beside the output, by position and by name: both
# temporary files go, and both earlier files stay.
for format in "" --by-name; do
  cp previous out.csv
  cp previous report.csv
  rm -f fifo && mkfifo fifo
  "$mintbatch" $format --report report.csv fifo out.csv > /dev/null 2>&1 &
  pid=$!
  exec 3> fifo
  head -n 1000 in.csv >&3
  for _ in $(seq 1 100); do
    [ -n "$(find . -name '.report.csv.*' -print -quit)" ] && [ -n "$(find . -name '.out.csv.*' -print -quit)" ] && break
    sleep 0.05
  done
  kill -s TERM $pid
  wait $pid
  status=$?
  exec 3>&-
  if [ $status -eq 143 ] && cmp -s out.csv previous && cmp -s report.csv previous && no_temporaries; then
    pass "SIGTERM ${format:+$format }with a report leaves both earlier files and no temporary file"
  else
    fail "SIGTERM ${format:+$format }with a report: status $status"; ls -la
  fi
done

# 3. Permission bits: new outputs, and an existing one's kept.
mode_of() { stat -c %a "$1"; }
rm -f out.csv keys.csv
(umask 022; "$mintbatch" in.csv out.csv > /dev/null; "$mintbatch" --key-only in.csv keys.csv > /dev/null)
[ "$(mode_of out.csv)" = 600 ] && pass "a new full output is its owner's alone" || fail "new full output mode $(mode_of out.csv)"
[ "$(mode_of keys.csv)" = 644 ] && pass "a new key-only output follows the umask" || fail "new key-only output mode $(mode_of keys.csv)"
rm -f keys.csv
(umask 027; "$mintbatch" --key-only in.csv keys.csv > /dev/null)
[ "$(mode_of keys.csv)" = 640 ] || fail "key-only output under umask 027: mode $(mode_of keys.csv)"
chmod 604 out.csv
"$mintbatch" in.csv out.csv > /dev/null
[ "$(mode_of out.csv)" = 604 ] && pass "an existing output keeps its bits" || fail "existing output mode $(mode_of out.csv)"
[ "$(wc -l < out.csv)" -eq "$lines" ] || fail "replaced output has $(wc -l < out.csv) lines"

# 4. A symbolic link as output stays a link; the file it leads to is written.
rm -f real.csv link.csv
cp previous real.csv
ln -s real.csv link.csv
"$mintbatch" --key-only in.csv link.csv > /dev/null
if [ -L link.csv ] && [ "$(wc -l < real.csv)" -eq "$lines" ]; then pass "an output link stays a link"; else fail "output link"; ls -la; fi
# ... and is replaced whole or not at all, in the directory of the file the
# link leads to, also when the link is relative to another directory.
mkdir -p elsewhere/deeper
cp previous elsewhere/deeper/real.csv
ln -s elsewhere/deeper/real.csv far.csv
(ulimit -f 200; exec "$mintbatch" in.csv far.csv) > /dev/null 2>&1
status=$?
if [ $status -eq 1 ] && cmp -s elsewhere/deeper/real.csv previous && [ -L far.csv ] &&
   [ -z "$(find elsewhere . -maxdepth 1 -name '.*.csv.*' -print -quit)" ] &&
   [ -z "$(find elsewhere/deeper -name '.*real.csv.*' -print -quit)" ]; then
  pass "failure half way through a link leaves the linked file as it was"
else
  fail "failure half way through a link: status $status"; ls -laR elsewhere; head -2 elsewhere/deeper/real.csv
fi
"$mintbatch" in.csv far.csv > /dev/null
if [ -L far.csv ] && [ "$(wc -l < elsewhere/deeper/real.csv)" -eq "$lines" ] &&
   [ "$(stat -c %a elsewhere/deeper/real.csv)" = "$(stat -c %a previous)" ]; then
  pass "a link into another directory is written there, the file keeping its bits"
else
  fail "link into another directory"; ls -laR elsewhere
fi

# 5. The output path swapped for a link to the input after the same-file check.
cp in.csv original.csv
cp previous out.csv
MINT_SHIM_INPUT="$work/in.csv" MINT_SHIM_OUTPUT="$work/out.csv" \
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  LD_PRELOAD="$shim" "$mintbatch" in.csv out.csv > /dev/null
status=$?
if [ $status -eq 0 ] && cmp -s in.csv original.csv && [ ! -L out.csv ] && [ "$(wc -l < out.csv)" -eq "$lines" ]; then
  pass "an output swapped for a link to the input leaves the input whole"
else
  fail "swapped link: status $status, input now $(wc -l < in.csv) lines"; cp original.csv in.csv
fi

# 6. Standard input and standard output the same file.
"$mintbatch" - - < in.csv 1<> in.csv 2> stderr
status=$?
if [ $status -eq 1 ] && cmp -s in.csv original.csv &&
   grep -qx "Unable to write output file '-': it is the input file." stderr; then
  pass "the same file as standard input and output is refused"
else
  fail "same file through the standard streams: status $status"; cat stderr
fi

# 7. Messages that cannot be written fail the run, which then leaves nothing.
rm -f out.csv
"$mintbatch" -v in.csv out.csv > /dev/full 2> stderr
status=$?
if [ $status -eq 1 ] && grep -qx "Unable to write standard output." stderr && [ ! -e out.csv ] && no_temporaries; then
  pass "lost messages are a failure"
else
  fail "lost messages: status $status"; cat stderr
fi

# 8. A pipe in and out gives what files give.
"$mintbatch" in.csv out.csv > messages.file
cat in.csv | "$mintbatch" - - 2> messages.pipe | cat > out.pipe
if cmp -s out.csv out.pipe && cmp -s messages.file messages.pipe; then pass "pipes give what files give"; else fail "pipes differ from files"; fi

# 9. The names of open descriptors are written through them, at their
# position, as "-" is: what the shell wrote before stays, an append appends.
"$mintbatch" --key-only in.csv keys.csv > /dev/null
descriptor_case() {  # NAME COMMAND: COMMAND writes "before", then the keys, then "after" into joined
  local expected
  expected=$( { echo before; cat keys.csv; echo after; } | md5sum)
  rm -f joined && echo before > joined
  bash -c "$2" 2> stderr
  if [ "$(md5sum < joined)" = "$expected" ] && [ ! -s stderr ]; then pass "$1"; else fail "$1"; head -3 joined stderr; fi
}
export mintbatch
descriptor_case "/dev/stdout after what the shell wrote" \
  'rm joined; { echo before; "$mintbatch" --key-only in.csv /dev/stdout; echo after; } > joined'
descriptor_case "/dev/stdout appended to a file" \
  '"$mintbatch" --key-only in.csv /dev/stdout >> joined; echo after >> joined'
descriptor_case "/dev/fd/3 appended to a file" \
  '"$mintbatch" --key-only in.csv /dev/fd/3 3>> joined; echo after >> joined'
descriptor_case "/proc/self/fd/3 appended to a file" \
  '"$mintbatch" --key-only in.csv /proc/self/fd/3 3>> joined; echo after >> joined'
# Messages stay out of the data on /dev/stdout, as on "-".
"$mintbatch" -v --key-only in.csv /dev/stdout > joined 2> stderr
if cmp -s joined keys.csv && grep -q "^Processed" stderr; then pass "messages go to standard error with /dev/stdout"; else fail "messages with /dev/stdout"; fi
# A descriptor that is not open is a file that cannot be opened.
"$mintbatch" in.csv /dev/fd/9 > stdout 2>&1
if [ $? -eq 1 ] && grep -qx "Unable to open output file '/dev/fd/9'." stdout; then pass "a closed descriptor cannot be opened"; else fail "closed descriptor"; cat stdout; fi

# 10. A name too long for ".NAME.XXXXXX" still gets a temporary file, so a
# failure half way leaves the old output.
for length in 248 251 255; do
  long=$(printf 'x%.0s' $(seq 1 $((length - 4)))).csv
  cp previous "$long"
  (ulimit -f 200; exec "$mintbatch" in.csv "$long") > /dev/null 2>&1
  status=$?
  if [ $status -eq 1 ] && cmp -s "$long" previous && no_temporaries; then
    pass "a $length-byte name: a failure half way leaves the previous output"
  else
    fail "a $length-byte name: status $status, output now $(wc -c < "$long") bytes"
  fi
  "$mintbatch" in.csv "$long" > /dev/null
  [ "$(wc -l < "$long")" -eq "$lines" ] && no_temporaries || fail "a $length-byte name is not replaced"
  rm -f "$long"
done

# 11. The temporary file reaches the disk before its name does, and the name
# after the rename: a power cut leaves the old file or the whole new one.
cp previous out.csv
rm -f syncs
MINT_SHIM_LOG="$work/syncs" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" \
  LD_PRELOAD="$sync_shim" "$mintbatch" in.csv out.csv > /dev/null
if [ "$(tr '\n' ' ' < syncs)" = "fsync file rename fsync directory " ] && [ "$(wc -l < out.csv)" -eq "$lines" ]; then
  pass "the file is flushed before the rename, the directory after"
else
  fail "flushes and rename: $(tr '\n' ' ' < syncs 2>/dev/null)"
fi

# 12. Other users in a sticky directory (as /tmp is). Another user's file is
# never handed back to them nor widened; a link they planted is followed
# only where the kernel lets the user follow it.
run_as() {  # UID COMMAND...: runs COMMAND as that user, in no group of root's
  local uid=$1
  shift
  setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"
}
if [ "$(id -u)" -ne 0 ]; then
  echo "skip other users' files and links in a sticky directory: they need root, to act as other users"
elif ! command -v setpriv > /dev/null; then
  echo "skip other users' files and links in a sticky directory: setpriv (util-linux) is missing"
else
  # Two users besides root, which need no account: one who plants, one who runs.
  planter=$(id -u nobody 2> /dev/null || echo 65534)
  runner=$((planter - 1))
  chmod 711 "$work"
  chmod 644 in.csv
  mkdir -m 1777 shared
  mkdir -m 700 private
  cp previous private/important.csv
  owner_mode() { stat -c '%u %a' "$1"; }

  # Another user's file: root replaces it with its own, no wider than new.
  rm -f shared/*
  run_as "$planter" sh -c 'umask 022; echo planted > shared/pre.csv'
  "$mintbatch" in.csv shared/pre.csv > stdout
  status=$?
  if [ $status -eq 0 ] && [ "$(owner_mode shared/pre.csv)" = "0 600" ] && [ "$(wc -l < shared/pre.csv)" -eq "$lines" ]; then
    pass "root replacing another user's file there keeps it root's, mode 600"
  else
    fail "root on another user's file: status $status, now $(owner_mode shared/pre.csv)"
  fi

  # A user who is not root cannot rename onto it: refused before the run.
  rm -f shared/*
  run_as "$planter" sh -c 'umask 000; echo planted > shared/pre.csv'
  run_as "$runner" "$mintbatch" in.csv shared/pre.csv > stdout 2> stderr
  status=$?
  if [ $status -eq 1 ] && [ "$(cat shared/pre.csv)" = planted ] && [ ! -s stderr ] &&
     [ "$(cat stdout)" = "Unable to write output file 'shared/pre.csv': it is another user's file in a sticky directory." ] &&
     [ -z "$(find shared -name '.*' -print -quit)" ]; then
    pass "another user's file there is refused before the run, and says why"
  else
    fail "another user's file as a user: status $status"; cat stdout stderr
  fi

  # The user's own file there is replaced, never wider than a new one.
  rm -f shared/*
  run_as "$runner" sh -c 'umask 022; echo mine > shared/own.csv'
  run_as "$runner" "$mintbatch" in.csv shared/own.csv > /dev/null
  [ "$(owner_mode shared/own.csv)" = "$runner 600" ] && pass "the user's own 644 file there becomes 600" ||
    fail "own file there: $(owner_mode shared/own.csv)"

  # A link planted there to a file the user may write: followed only as the
  # kernel allows (fs.protected_symlinks), here not, like the shell's ">".
  restore_symlink_setting=$(sysctl -n fs.protected_symlinks 2> /dev/null)
  if [ -n "$restore_symlink_setting" ] && sysctl -q -w fs.protected_symlinks=1 2> /dev/null; then
    rm -f shared/*
    run_as "$planter" ln -s "$work/private/important.csv" shared/out.csv
    if sh -c 'echo hi > shared/out.csv' 2> /dev/null; then
      fail "the kernel let root follow another user's link in a sticky directory"
    else
      for who in root "$runner"; do
        if [ "$who" = root ]; then "$mintbatch" in.csv shared/out.csv > stdout 2> stderr
        else run_as "$who" "$mintbatch" in.csv shared/out.csv > stdout 2> stderr; fi
        status=$?
        if [ $status -eq 1 ] && cmp -s private/important.csv previous && [ -L shared/out.csv ] &&
           grep -qx "Unable to open output file 'shared/out.csv'." stdout; then
          pass "another user's link there is not followed by $who"
        else
          fail "another user's link as $who: status $status"; cat stdout stderr; ls -la shared private
          cp previous private/important.csv
        fi
      done
    fi
    sysctl -q -w fs.protected_symlinks="$restore_symlink_setting"
    restore_symlink_setting=
  else
    echo "skip another user's link in a sticky directory: fs.protected_symlinks cannot be set here"
  fi
fi

exit $failed
