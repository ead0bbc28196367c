#!/usr/bin/env bash
# The program's command line as a user meets it: lines, streams and exit
# status, against the tests' JACK server with the MIDI probe as instrument.
#   command_line_test.sh STEPMILL MIDI_PROBE
set -uo pipefail
stepmill=${1:?stepmill binary} probe_bin=${2:?midi_probe binary}
[[ -n "${DISPLAY:-}" ]] || exec xvfb-run -a "$0" "$@"   # the window needs a display
work=$(mktemp -d) probe_name="cli$$" probe_pid='' app_pid=''
trap 'kill $app_pid $probe_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"
# Runs the program; one that opened its window would still run at the timeout (status 124).
run() { timeout 20 "$stepmill" "$@" >"$work/out" 2>"$work/err"; status=$? out=$(<"$work/out") err=$(<"$work/err"); }
got() { echo "status $status, stdout [$out], stderr [$err]"; }

start_probe "$probe_bin"
printf 'bpm: 100\nsprites: 1\nbeats: 4\nbeat: 0 36\nsprite end\nsequence: 0\n' >"$work/song.trm"

# No argument: usage and the device list on standard output, nothing else.
run
[[ $status == 0 && -z $err && $(head -n 1 <<<"$out") == "usage: $stepmill <device> [file]" ]] || fail "no arguments: $(got)"
grep -qx 'output devices:' "$work/out" || fail "no arguments: no device list"
grep -Eqx "[0-9]+: $probe_name:in" "$work/out" || fail "no arguments: the probe is not listed"

# Help in place of the device: the usage, then the arguments, options and exit
# statuses; no device list, no device, no window.
for option in --help -h; do
  run "$option"
  [[ $status == 0 && -z $err && $(head -n 1 <<<"$out") == "usage: $stepmill <device> [file]" &&
     $out == *'<device>'*'[file]'*'-v, --version'*'-h, --help'*'exit status'* && $out != *'output devices:'* ]] ||
    fail "$option: $(got)"
done

# A device that does not open (an option in its place is a name too): the device layer's reason, then ours.
for device in "no-such-device-$$" -v; do
  run "$device"
  [[ $status == 1 && -z $out && $err == *?$'\n'"$device: midiout open() failed." ]] || fail "device $device: $(got)"
done
run "$probe_name" "$work/none.trm"
[[ $status == 1 && -z $out && $err == "$work/none.trm: file read failed." ]] || fail "missing file: $(got)"
for option in --version -v; do
  run "$probe_name" "$work/song.trm" "$option"
  [[ $status == 0 && $out == "GroovePlotterStudio Version 1.3" && -z $err ]] || fail "file then $option: $(got)"
done
run "$probe_name" "$work/song.trm" --no-such-option
[[ $status == 1 && -z $out && $err == "Unknown option --no-such-option" ]] || fail "unknown option: $(got)"

# Ctrl+C while the window is open, with a new song and with a file: status 0,
# nothing printed, the port gone and the probe unharmed.
for file in "" "$work/song.trm"; do
  "$stepmill" "$probe_name" ${file:+"$file"} >"$work/out" 2>"$work/err" &
  app_pid=$!
  within_10s connected || fail "SIGINT [$file]: the program never connected to the probe"
  sleep 0.5   # the window is up and the main loop runs
  kill -INT "$app_pid"; wait "$app_pid"; status=$? app_pid='' out=$(<"$work/out") err=$(<"$work/err")
  [[ $status == 0 && -z $out && -z $err ]] || fail "SIGINT [$file]: $(got)"
  jack_lsp 2>/dev/null | grep -q '^stepmill:' && fail "SIGINT [$file]: the program's port is still there"
done
echo quit >&3; exec 3>&-
wait "$probe_pid"; status=$? probe_pid=''
[[ $status == 0 && ! -s $work/probe.err ]] || fail "the probe ended with $status: $(<"$work/probe.err")"

finish "command line"
