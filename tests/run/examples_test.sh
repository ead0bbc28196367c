#!/usr/bin/env bash
# Every demo song reads with the program's own reader without a message, and
# each is what it says it is.
#   examples_test.sh EXAMPLES_DIR TRM_DUMP
set -uo pipefail
dir=$1 dump=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

shopt -s nullglob
songs=("$dir"/*.trm)
[[ ${#songs[@]} -ge 4 ]] || fail "expected at least 4 demo songs, found ${#songs[@]}"
for song in "${songs[@]}"; do
  name=$(basename "$song")
  "$dump" "$song" >"$work/$name.txt" 2>"$work/$name.err" || fail "$name: not readable"
  [[ -s $work/$name.err ]] && fail "$name: reader messages: $(head -n 3 "$work/$name.err")"
done

# Prints: sprites, distinct beat counts, sounding beats, sequence entries.
summary() {
  awk '/^sprite / { n++; beats[$4] = 1; sounding += NF - 4 }
       /^sequence/ { seq = NF - 1 }
       END { printf "%d %d %d %d\n", n, length(beats), sounding, seq }' "$work/$1.txt"
}
check() {  # song, description, condition on s b n q
  local s b n q
  read -r s b n q < <(summary "$1")
  (( $3 )) || fail "$1 is not $2 (sprites $s, beat counts $b, sounding beats $n, sequence $q)"
}
check rock.trm "a groove with a sequence" "s >= 2 && n > 0 && q >= 4"
check shuffle.trm "a groove with a sequence" "s >= 2 && n > 0 && q >= 4"
check fills.trm "a sequence of sprites with different beat counts" "b >= 3 && n > 0 && q >= 4"
check empty.trm "36 silent sprites and no sequence" "s == 36 && b == 1 && n == 0 && q == 0"
grep -q '^sprite 0 beats 8$' "$work/empty.trm.txt" || fail "empty.trm: sprites are not of 8 beats"

[[ $failures -eq 0 ]] && echo "all demo songs read cleanly"
exit $((failures > 0))
