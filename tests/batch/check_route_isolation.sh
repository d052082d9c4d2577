#!/usr/bin/env bash
# One compilation of mintbatch's quick route (an object built for a wider
# instruction set) must define nothing but its own namespace's functions and
# nothing weak, and use nothing from elsewhere but the C library's memory
# functions (checked ones in fortified builds; and, in sanitizer builds, the
# sanitizer runtime).
# usage: check_route_isolation.sh NM NAMESPACE OBJECT...  (the object whose
# name contains the namespace's suffix is checked; e.g. quick_route_avx2 ->
# csv_fast_avx2)
set -uo pipefail
nm_tool=$1
namespace=$2
shift 2
suffix=${namespace#quick_route_}
object=""
for candidate in "$@"; do
  case "$candidate" in *csv_fast_"$suffix".cpp.o) object=$candidate ;; esac
done
[ -n "$object" ] || { echo "no object for $namespace among: $*"; exit 1; }

# Mangled names have no blanks: each line is "[address] type name".
symbols=$("$nm_tool" "$object") || { echo "$nm_tool cannot read $object"; exit 1; }
failed=0
defined=0
while read -r first second third; do
  [ -z "$first" ] && continue
  if [ -n "$third" ]; then type=$second; name=$third; else type=$first; name=$second; fi
  readable=$(c++filt <<< "$name")
  case "$type" in
    T | D | B | R)
      case "$readable" in
        "$namespace::"*) defined=$((defined + 1)) ;;
        *) echo "defines a shared symbol: $readable"; failed=1 ;;
      esac ;;
    W | V | w | v | u)
      echo "weak symbol: $readable"; failed=1 ;;
    U)
      # Sanitizer builds call their runtime from everywhere.
      case "$name" in
        memcpy | memset | memmove | __stack_chk_fail | __asan_* | __ubsan_* | __sanitizer_*) ;;
        # Their checked forms, in builds with _FORTIFY_SOURCE.
        __memcpy_chk | __memset_chk | __memmove_chk) ;;
        *) echo "uses $readable"; failed=1 ;;
      esac ;;
  esac
done <<< "$symbols"
[ "$defined" -ge 1 ] || { echo "no function of $namespace found in $object"; failed=1; }
[ "$failed" -eq 0 ] && echo "$object: isolated"
exit "$failed"
