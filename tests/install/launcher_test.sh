#!/usr/bin/env bash
# The installed desktop launcher, stepmill-open: which device it gives the
# program, against a stand-in that lists devices as stepmill does; then the real
# program on the tests' JACK server with the MIDI probe as the only instrument.
#   launcher_test.sh CMAKE BUILD_DIR MIDI_PROBE
set -uo pipefail
cmake=${1:?cmake} build=${2:?build dir} probe_bin=${3:?midi_probe binary}
[[ -n "${DISPLAY:-}" ]] || exec xvfb-run -a "$0" "$@"   # the real program's window
work=$(mktemp -d) || exit 1
probe_name="launch$$" probe_pid='' launcher_pid=''
trap 'kill $launcher_pid $probe_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"

"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }
launcher=$work/prefix/bin/stepmill-open

# Stand-ins: beside a copy of the launcher a program that lists $LISTING, or
# records its arguments and fails with $FAILURE when that is set; and on PATH a
# dialog that records its text instead of waiting for a click.
mkdir "$work/fake" "$work/desktop"
cp "$launcher" "$work/fake/"
cat >"$work/fake/stepmill" <<'EOF'
#!/usr/bin/env bash
if [[ $# -eq 0 ]]; then printf 'usage: stepmill <device> [file]\n\noutput devices:\n%b' "$LISTING"; exit 0; fi
printf '[%s]' "$@" >"$ARGS"
[[ -z ${FAILURE:-} ]] || { echo "$FAILURE" >&2; exit 1; }
EOF
cat >"$work/desktop/zenity" <<'EOF'
#!/bin/sh
printf '%s\n' "$@" >>"$DIALOG"
EOF
chmod +x "$work/fake/stepmill" "$work/desktop/zenity"
export PATH=$work/desktop:$PATH DIALOG=$work/dialog

through='0: Midi Through:Midi Through Port-0 14:0\n'
module='1: E-MU XMidi1X1:E-MU XMidi1X1 MIDI 1 20:0\n'
synth='0: FLUID Synth (812):Synth input port (812:0) 128:0\n1: probe:in\n'
# The table's expected stderr and dialog are patterns; its arguments split on spaces.
# shellcheck disable=SC2053,SC2086
# case | STEPMILL_DEVICE | listing | failure | launcher arguments | status | program's arguments | stderr | dialog
while IFS='|' read -r name device listing failure args status want_args want_err want_dialog; do
  rm -f "$work/args" "$work/dialog"
  STEPMILL_DEVICE="$device" LISTING="$listing" FAILURE="$failure" ARGS="$work/args" \
    "$work/fake/stepmill-open" $args >"$work/out" 2>"$work/err"
  got_status=$? got_args=$(cat "$work/args" 2>/dev/null) err=$(<"$work/err") dialog=$(cat "$work/dialog" 2>/dev/null)
  [[ $got_status == "$status" && $got_args == "$want_args" && $err == $want_err && $dialog == $want_dialog &&
     ! -s $work/out ]] || fail "$name: status $got_status, program given [$got_args], stderr [$err], dialog [$dialog]"
done <<EOF
STEPMILL_DEVICE first|USB MIDI|$through$module||song.trm|0|[USB MIDI][song.trm]||
Midi Through passed over||$through$module||song.trm|0|[1][song.trm]||
Midi Through when alone||$through||song.trm|0|[0][song.trm]||
the first of several||$synth||song.trm|0|[0][song.trm]||
no file: a new song||$synth|||0|[0]||
no device at all||||song.trm|1||stepmill-open: No MIDI output device found*|--error*No MIDI output device found*
the program fails||$synth|x: midiout open() failed.|song.trm|1|[0][song.trm]|x: midiout open() failed.|--error*on device 0:?x: midiout open() failed.
two files||$synth||a.trm b.trm|2||usage: stepmill-open \[song.trm\]|
EOF

# The real program: the probe is the device found, and the song plays (a
# window, until Ctrl+C). A failing program's message and status are the
# stand-in's case above.
start_probe "$probe_bin"

printf 'bpm: 100\nsprites: 1\nbeats: 4\nbeat: 0 36\nsprite end\nsequence: 0\n' >"$work/song.trm"
env -u STEPMILL_DEVICE "$launcher" "$work/song.trm" >"$work/out" 2>"$work/err" &
launcher_pid=$!
if within_10s connected; then
  sleep 0.5   # the window is up and the main loop runs
  kill -INT "$(pgrep -P "$launcher_pid" -x stepmill)"
else
  fail "real, with a song: the program never connected to the probe"
fi
wait "$launcher_pid"; status=$? launcher_pid=''
[[ $status == 0 && ! -s $work/out && ! -s $work/err ]] || fail "real, with a song: status $status, stderr [$(<"$work/err")]"
exec 3>&-
wait "$probe_pid"; probe_pid=''

finish launcher
