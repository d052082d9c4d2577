#!/usr/bin/env bash
# Loading the library must run none of its own code: no static constructors
# (the toolchain's frame_dummy aside), so the SHA-256 backend is only chosen
# on first use.
# usage: check_no_load_code.sh LIBRARY
set -euo pipefail
constructors=$(nm "$1" | grep -E '_GLOBAL__sub_I|_GLOBAL__I_' || true)
size=$(readelf -SW "$1" | awk '$2 == ".init_array" { print $6 }')
entries=$(( 16#${size:-0} / 8 ))
if [ -n "$constructors" ] || [ "$entries" -gt 1 ]; then
  echo "$1 runs code when loaded:"
  printf '%s\n' "$constructors"
  echo "init_array entries: $entries"
  exit 1
fi
echo "$1 runs no code of its own when loaded"
