#!/usr/bin/env bash
# Nothing a user did is lost: the real program, driven by keys, asks before
# Ctrl+Q throws changes away, keeps them when it is killed, offers them at the
# next start, and saves them where the song came from.
#   guard_recovery.sh STEPMILL MIDI_PROBE
set -uo pipefail
stepmill=${1:?stepmill binary} probe_bin=${2:?midi_probe binary}
[[ -n "${DISPLAY:-}" ]] || exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
work=$(mktemp -d) probe_name="guard$$" app_pid=''
export XDG_STATE_HOME=$work/state
recovery=$XDG_STATE_HOME/stepmill/recovery.trm
trap 'kill $app_pid 2>/dev/null; exec 3>&-; wait 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"
title_is() { [[ $(xdotool getwindowname "$window" 2>/dev/null) == "$1" ]]; }
has_window() { xdotool search --name "^$1\$" >/dev/null 2>&1; }
start() {   # the program on the probe, its window focused
  "$stepmill" "$probe_name" "$@" >"$work/out" 2>"$work/err" &
  app_pid=$!
  within_10s has_window 'GroovePlotterStudio Version 1.3' || { fail "no window for [$*]"; return 1; }
  window=$(xdotool search --name '^GroovePlotterStudio Version 1.3$' | head -1)
  xdotool windowfocus --sync "$window"
}
ended_with() {   # status
  local s; for _ in $(seq 1 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  wait "$app_pid"; s=$? app_pid=''
  [[ $s == "$1" && ! -s $work/err ]] || fail "ended with $s (wanted $1): $(<"$work/err")"
}

start_probe "$probe_bin"
song=$work/song.trm
printf 'sprites: 2\nbeats: 8\nsprite end\nbeats: 8\nsprite end\n' >"$song"
original=$(<"$song")

# An edit marks the title; Ctrl+Q asks, and Escape keeps the program.
start "$song"
xdotool key Right 1
within_10s title_is '*GroovePlotterStudio Version 1.3' || fail "no * in the title after an edit"
xdotool key ctrl+q
within_10s has_window '保存確認' || fail "Ctrl+Q with changes did not ask"
xdotool key Escape
sleep 0.5
kill -0 "$app_pid" 2>/dev/null || fail "Escape did not cancel Ctrl+Q"

# Killed, it keeps the song; the next start offers it, restored it is saved
# where it came from.
kill -TERM "$app_pid"
ended_with 0
grep -q '^sequence: 1' "$recovery" 2>/dev/null || fail "no recovery file with the edit"
start
within_10s has_window '復元確認' || fail "the recovered song was not offered"
xdotool key Return
within_10s title_is "*$song" || fail "the restored song is not the modified $song"
xdotool windowfocus --sync "$window"
xdotool key ctrl+s
within_10s title_is "$song" || fail "Ctrl+S did not save the restored song"
grep -q '^sequence: 1' "$song" || fail "the saved song lacks the edit"
[[ -e $recovery ]] && fail "the recovery file outlived the save"
xdotool key ctrl+q
ended_with 0

# Discarding on Ctrl+Q leaves the file as it was and nothing to recover.
printf '%s\n' "$original" >"$song"
start "$song"
xdotool key Right 1 ctrl+q
within_10s has_window '保存確認' || fail "Ctrl+Q with changes did not ask"
xdotool key alt+d
ended_with 0
[[ $(<"$song") == "$original" && ! -e $recovery ]] || fail "discard changed the song or kept a recovery file"

finish "guard and recovery"
