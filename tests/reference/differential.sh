#!/usr/bin/env bash
# Cross-checks mintbatch against the independent Python derivation on
# generated records of every outcome. With a key file, both are run with
# `--key-file KEY` and must give the same keyed identifiers.
# usage: differential.sh GENERATE_RECORDS MINTBATCH REFERENCE_SCRIPT [PYTHON [KEY_FILE]]
set -euo pipefail
generate=$1
mintbatch=$2
reference=$3
python=${4:-python3}
key_options=()
if [ $# -ge 5 ]; then key_options=(--key-file "$5"); fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for seed in 1 2 3; do
  "$generate" 2000 "$seed" > "$scratch/in.csv"
  "$mintbatch" "${key_options[@]}" "$scratch/in.csv" "$scratch/out.csv" > "$scratch/stdout"
  "$python" "$reference" "${key_options[@]}" "$scratch/in.csv" "$scratch/expected.csv"
  if ! cmp -s "$scratch/expected.csv" "$scratch/out.csv"; then
    echo "seed $seed: mintbatch and the reference disagree:"
    diff "$scratch/expected.csv" "$scratch/out.csv" | head -20
    exit 1
  fi
  if [ ${#key_options[@]} -gt 0 ]; then
    # The key must have been used: no derived identifier is the plain one.
    "$python" "$reference" "$scratch/in.csv" "$scratch/plain.csv"
    same=$(paste -d '\n' "$scratch/plain.csv" "$scratch/out.csv" | awk -F, '
      NR % 2 { plain = $NF; next }
      NR > 2 && length(plain) == 12 && plain != "000000000000" && $NF == plain { n++ }
      END { print n + 0 }')
    if [ "$same" -ne 0 ]; then
      echo "seed $seed: $same keyed identifiers equal the plain ones"
      exit 1
    fi
  fi
  # The records must exercise all three outcomes.
  tail -n +2 "$scratch/out.csv" | awk -F, -v seed="$seed" '
    { uuid = $NF }
    length(uuid) != 12 || uuid !~ /^[0-9a-v]+$/ { other++; next }
    uuid == "000000000000" { zero++; next }
    uuid ~ /^[g-v]/ { patient++; next }
    { policy++ }
    END {
      printf "seed %d: %d patient-key, %d policy-key, %d zero identifiers agree\n", seed, patient, policy, zero
      if (!patient || !policy || !zero || other) exit 1
    }'
done
