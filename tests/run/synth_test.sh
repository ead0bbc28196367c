#!/usr/bin/env bash
# The run command's synthesizer start-up without a display, against the tests'
# JACK server and against none (run must then start its own): FluidSynth's
# MIDI port appears, plays the notes sent to it, and all run started is gone
# after it ends.
#   synth_test.sh RUN MIDI_PROBE
set -uo pipefail
run=$1 probe=$2 probe_name=runprobe$$
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work STEPMILL_SYNTH_VERBOSE=1 JACK_NO_START_SERVER=1
log=$work/stepmill-fluidsynth.log
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; rm -rf "$work"' EXIT
gone() { ! kill -0 "$1" 2>/dev/null; }

# Starts `run --synth-only`, plays two notes into its port from the probe, ends
# it by closing its input ("eof") or by SIGTERM ("term") and checks what is left.
scenario() {  # label, how to end, whether run must start a JACK server (yes/no)
  local label=$1 end=$2 own_jack=$3 port synth jackd
  : >"$log"
  coproc RUN { exec "$run" --synth-only 2>"$work/run.err"; }
  local run_pid=$RUN_PID run_in=${RUN[1]}
  pids+=("$run_pid")
  read -t 30 -r port <&"${RUN[0]}" || { fail "$label: no port name printed; $(<"$work/run.err")"; return; }
  synth=$(pgrep -P "$run_pid" -x fluidsynth) jackd=$(pgrep -P "$run_pid" -x jackd)
  # shellcheck disable=SC2206  # either may be empty, and then adds nothing
  pids+=($synth $jackd)
  [[ -n $synth ]] || fail "$label: FluidSynth is not running under run"
  [[ $own_jack == yes && -n $jackd || $own_jack == no && -z $jackd ]] || fail "$label: JACK server [$jackd] started by run"
  jack_lsp -t "$port" 2>/dev/null | grep -q midi || fail "$label: $port is not a JACK MIDI port"

  # Two notes on the percussion channel from the probe; FluidSynth logs what it plays.
  start_probe "$probe"
  pids+=("$probe_pid")
  rm "$work/probe_in"   # held open on descriptor 3
  jack_connect "$probe_name:out" "$port" || fail "$label: cannot connect to $port"
  printf '99 24 7f\n99 26 64\n' >&3
  within_10s grep -qP 'noteon\t9\t36\t127' "$log" || fail "$label: note 36 not played"
  within_10s grep -qP 'noteon\t9\t38\t100' "$log" || fail "$label: note 38 not played"
  printf 'quit\n' >&3; exec 3>&-
  within_10s gone "$probe_pid" || fail "$label: probe did not quit"

  if [[ $end == eof ]]; then exec {run_in}>&-; else kill -TERM "$run_pid"; fi
  within_10s gone "$run_pid" || fail "$label: run did not end"
  wait "$run_pid"
  local status=$? want=0; [[ $end == term ]] && want=143
  [[ $status -eq $want ]] || fail "$label: run ended with $status, not $want"
  gone "$synth" || fail "$label: FluidSynth still runs"
  if [[ -n $jackd ]]; then
    gone "$jackd" || fail "$label: the JACK server run started still runs"
  elif jack_lsp 2>/dev/null | grep -qF "${port%%:*}:"; then
    fail "$label: $port still exists"
  fi
  [[ $own_jack == yes || ! -s $work/run.err ]] || fail "$label: unexpected chatter: $(<"$work/run.err")"
  [[ -z $(find "$work" -maxdepth 1 -type p) ]] || fail "$label: left a pipe in $work"
  [[ $failures -eq 0 ]] && echo "ok: $label"
}

scenario "tests' JACK server, input closed" eof no
# No MIDI service at all: a server name nobody runs.
JACK_DEFAULT_SERVER=stepmill-run-$$ scenario "no JACK server running, SIGTERM" term yes
exit $((failures > 0))
