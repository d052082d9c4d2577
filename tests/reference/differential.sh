#!/usr/bin/env bash
# Cross-checks mintbatch against the independent Python derivation on
# generated records of every outcome.
# usage: differential.sh GENERATE_RECORDS MINTBATCH REFERENCE_SCRIPT [PYTHON]
set -euo pipefail
generate=$1
mintbatch=$2
reference=$3
python=${4:-python3}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for seed in 1 2 3; do
  "$generate" 2000 "$seed" > "$scratch/in.csv"
  "$mintbatch" "$scratch/in.csv" "$scratch/out.csv" > "$scratch/stdout"
  "$python" "$reference" "$scratch/in.csv" "$scratch/expected.csv"
  if ! cmp -s "$scratch/expected.csv" "$scratch/out.csv"; then
    echo "seed $seed: mintbatch and the reference disagree:"
    diff "$scratch/expected.csv" "$scratch/out.csv" | head -20
    exit 1
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
