#!/usr/bin/env bash
# The program's command line as a user meets it: every line, stream and exit
# status, against the tests' JACK server with the MIDI probe as instrument.
#   command_line_test.sh STEPMILL MIDI_PROBE
set -uo pipefail
stepmill=${1:?stepmill binary}
probe_bin=${2:?midi_probe binary}
title="GroovePlotterStudio Version 1.3"

# The window needs a display; ctest normally runs under xvfb-run already.
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a "$0" "$@"
fi

work=$(mktemp -d)
probe_name="cli$$"
probe_pid=
app_pid=
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null
  [[ -n "$probe_pid" ]] && kill "$probe_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The instrument.
mkfifo "$work/probe_in"
"$probe_bin" --name "$probe_name" <"$work/probe_in" >"$work/probe.out" 2>"$work/probe.err" &
probe_pid=$!
exec 3>"$work/probe_in"
for _ in $(seq 1 100); do grep -q '^ready$' "$work/probe.out" && break; sleep 0.1; done
grep -q '^ready$' "$work/probe.out" || { echo "the probe did not start"; cat "$work/probe.err"; exit 1; }

# A song file to open.
cat >"$work/song.trm" <<'SONG'
bpm: 100
sprites: 2
beats: 4
beat: 0 36
sprite end
beats: 4
sprite end
sequence: 0 1
SONG

# Runs the program with the arguments given; sets out, err and status.
run() {
  timeout 20 "$stepmill" "$@" >"$work/out" 2>"$work/err"
  status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}

# expect NAME STATUS STDOUT STDERR: exact streams (a trailing newline each).
expect() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  [[ "$status" == "$want_status" ]] || fail "$name: status $status, expected $want_status"
  [[ "$out" == "$want_out" ]] || fail "$name: stdout [$out], expected [$want_out]"
  [[ "$err" == "$want_err" ]] || fail "$name: stderr [$err], expected [$want_err]"
}

# No argument: usage and the device list on standard output, nothing else.
run
[[ "$status" == 0 ]] || fail "no arguments: status $status"
[[ "$(head -n 1 "$work/out")" == "usage: $stepmill <device> [file]" ]] || fail "no arguments: usage line [$(head -n 1 "$work/out")]"
grep -q '^output devices:$' "$work/out" || fail "no arguments: no device list header"
grep -Eq "^[0-9]+: $probe_name:in\$" "$work/out" || fail "no arguments: the probe is not listed"
[[ -z "$err" ]] || fail "no arguments: stderr [$err]"

# Devices that do not open: the device layer's reason, then our line; status 1.
for device in "no-such-device-$$" 999 -v --version; do
  run "$device"
  [[ "$status" == 1 ]] || fail "device $device: status $status"
  [[ -z "$out" ]] || fail "device $device: stdout [$out]"
  lines=$(wc -l <"$work/err")
  [[ "$lines" -ge 2 ]] || fail "device $device: the device layer gave no reason [$err]"
  [[ "$(tail -n 1 "$work/err")" == "$device: midiout open() failed." ]] || fail "device $device: last line [$(tail -n 1 "$work/err")]"
done

# A file that cannot be read; "--version" in the file's place is one too.
run "$probe_name" "$work/none.trm"
expect "missing file" 1 "" "$work/none.trm: file read failed."
run "$probe_name" --version
expect "version as the file" 1 "" "--version: file read failed."

# The version option after a file: the version line, status 0.
for option in --version -v; do
  run "$probe_name" "$work/song.trm" "$option"
  expect "file then $option" 0 "$title" ""
done

# An unknown option is refused by the option parser, without a window.
run "$probe_name" "$work/song.trm" --no-such-option
expect "unknown option" 1 "" "Unknown option --no-such-option"

# Ctrl+C while the window is open: status 0 and the port closed.
for args in "" "$work/song.trm"; do
  # shellcheck disable=SC2086
  "$stepmill" "$probe_name" $args >"$work/out" 2>"$work/err" &
  app_pid=$!
  connected=
  for _ in $(seq 1 100); do
    if jack_lsp -c 2>/dev/null | grep -A1 '^stepmill:' | grep -q "$probe_name:in"; then connected=1; break; fi
    sleep 0.1
  done
  [[ -n "$connected" ]] || fail "SIGINT [$args]: the program never connected to the probe"
  sleep 0.5   # the window is up and the main loop runs
  kill -INT "$app_pid"
  wait "$app_pid"
  status=$?
  app_pid=
  [[ "$status" == 0 ]] || fail "SIGINT [$args]: status $status"
  [[ -z "$(cat "$work/out")" ]] || fail "SIGINT [$args]: stdout [$(cat "$work/out")]"
  [[ -z "$(cat "$work/err")" ]] || fail "SIGINT [$args]: stderr [$(cat "$work/err")]"
  if jack_lsp 2>/dev/null | grep -q '^stepmill:'; then fail "SIGINT [$args]: the program's port is still there"; fi
  kill -0 "$probe_pid" 2>/dev/null || fail "SIGINT [$args]: the probe died with the connection"
done

# The probe saw its peer go away without complaint.
echo quit >&3
exec 3>&-
wait "$probe_pid"
probe_status=$?
probe_pid=
[[ "$probe_status" == 0 ]] || fail "the probe ended with $probe_status"
[[ -z "$(cat "$work/probe.err")" ]] || fail "the probe complained: $(cat "$work/probe.err")"

if [[ "$failures" -gt 0 ]]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "command line: all cases passed"
