#!/usr/bin/env bash
# Every demo song reads with the program's own reader without a message, and
# each is what it says it is.
#   examples_test.sh EXAMPLES_DIR TRM_DUMP
set -uo pipefail
dir=$1 dump=$2
err=$(mktemp)
trap 'rm -f "$err"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"

# Per song: sprites, distinct beat counts, the first sprite's beats, sounding beats, sequence entries.
declare -A summary
for song in "$dir"/*.trm; do
  name=$(basename "$song")
  summary[$name]=$("$dump" "$song" 2>"$err" | tr -d '\r' | awk '/^beats:/ { if (!s++) f = $2; beats[$2] = 1 }
    /^beat:/ { n++ } /^sequence:/ { q = NF - 1 } END { print s + 0, length(beats), f + 0, n + 0, q + 0 }') &&
    [[ ! -s $err ]] || fail "$name: not read cleanly: $(head -n 3 "$err")"
done
check() {  # song, description, arithmetic on s, b, f, n and q
  local s b f n q
  # shellcheck disable=SC2034  # read by the arithmetic in $3
  read -r s b f n q <<<"${summary[$1]:-}"
  (( $3 )) || fail "$1 is not $2 (${summary[$1]:-missing})"
}
check rock.trm "a groove with a sequence" "s >= 2 && n > 0 && q >= 4"
check shuffle.trm "a groove with a sequence" "s >= 2 && n > 0 && q >= 4"
check fills.trm "a sequence of sprites with different beat counts" "b >= 3 && n > 0 && q >= 4"
check empty.trm "36 silent sprites of 8 beats and no sequence" "s == 36 && b == 1 && f == 8 && n == 0 && q == 0"

finish "demo songs"
