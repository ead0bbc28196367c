#!/usr/bin/env bash
# The run command's synthesizer start-up, against the tests' JACK server and
# against none (it must then start one of its own), without a display:
# FluidSynth's MIDI port appears, notes sent to it are played, and everything
# the run command started is gone after it ends.
#   synth_test.sh RUN MIDI_PROBE
set -uo pipefail
run=$1 probe=$2
work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work STEPMILL_SYNTH_VERBOSE=1 JACK_NO_START_SERVER=1
log=$work/stepmill-fluidsynth.log
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT

gone_within() {  # pid, tenths of a second
  local i
  for ((i = 0; i < $2; ++i)); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

# Starts `run --synth-only`, checks its port and sound, then ends it with
# closed input ("eof") or SIGTERM ("term") and checks what is left.
scenario() {  # label, how to end, whether run starts its own JACK server (yes/no)
  local label=$1 end=$2 own_jack=$3 port synth jackd status i
  : >"$log"
  coproc RUN { exec "$run" --synth-only 2>"$work/run.err"; }
  local run_pid=$RUN_PID run_in=${RUN[1]} run_out=${RUN[0]}
  pids+=("$run_pid")
  if ! read -t 30 -r port <&"$run_out"; then
    fail "$label: no port name printed; $(cat "$work/run.err")"; return
  fi
  synth=$(pgrep -P "$run_pid" -x fluidsynth)
  jackd=$(pgrep -P "$run_pid" -x jackd)
  pids+=($synth $jackd)
  [[ -n $synth ]] || fail "$label: FluidSynth is not running under run"
  if [[ $own_jack == yes ]]; then
    [[ -n $jackd ]] || fail "$label: run started no JACK server where none ran"
  else
    [[ -z $jackd ]] || fail "$label: run started a JACK server although one ran"
  fi
  jack_lsp -t "$port" 2>/dev/null | grep -q midi || fail "$label: $port is not a JACK MIDI port"

  # Play two notes on the percussion channel from the probe and record the synth.
  mkfifo "$work/probe.in"
  "$probe" --name runprobe <"$work/probe.in" >"$work/probe.out" 2>&1 &
  local probe_pid=$! probe_in
  pids+=("$probe_pid")
  exec {probe_in}>"$work/probe.in"
  rm -f "$work/probe.in"
  for ((i = 0; i < 100; ++i)); do grep -qx ready "$work/probe.out" && break; sleep 0.1; done
  grep -qx ready "$work/probe.out" || fail "$label: probe not ready"
  jack_connect runprobe:out "$port" || fail "$label: cannot connect to $port"
  local client=${port%%:*}
  jack_rec -f "$work/out.wav" -d 1.5 "$client:left" "$client:right" >/dev/null 2>&1 &
  local rec=$!
  sleep 0.3
  printf '99 24 7f\n99 26 64\n' >&"$probe_in"
  wait "$rec"
  printf 'quit\n' >&"$probe_in"; exec {probe_in}>&-
  gone_within "$probe_pid" 50 || fail "$label: probe did not quit"
  grep -qP 'noteon\t9\t36\t127' "$log" || fail "$label: note 36 not played"
  grep -qP 'noteon\t9\t38\t100' "$log" || fail "$label: note 38 not played"
  /usr/bin/python3 - "$work/out.wav" <<'PY' || fail "$label: the synth's output is silent"
import array, sys, wave
w = wave.open(sys.argv[1])
samples = array.array("h", w.readframes(w.getnframes()))
sys.exit(0 if samples and max(abs(s) for s in samples) > 3000 else 1)
PY

  if [[ $end == eof ]]; then
    exec {run_in}>&-
  else
    kill -TERM "$run_pid"
  fi
  gone_within "$run_pid" 100 || fail "$label: run did not end"
  wait "$run_pid"; status=$?
  local want=0; [[ $end == term ]] && want=143
  [[ $status -eq $want ]] || fail "$label: run ended with $status, not $want"
  [[ -n $synth ]] && ! kill -0 "$synth" 2>/dev/null || fail "$label: FluidSynth still runs"
  if [[ -n $jackd ]]; then
    kill -0 "$jackd" 2>/dev/null && fail "$label: the JACK server run started still runs"
  else
    jack_lsp 2>/dev/null | grep -qF "$client:" && fail "$label: $port still exists"
  fi
  if [[ $own_jack == yes ]]; then
    grep -q "starting a JACK server" "$work/run.err" || fail "$label: run did not say it starts JACK"
  elif [[ -s $work/run.err ]]; then
    fail "$label: unexpected chatter: $(cat "$work/run.err")"
  fi
  [[ -n $(find "$work" -maxdepth 1 -type p) ]] && fail "$label: left a pipe in $work"
  [[ $failures -eq 0 ]] && echo "ok: $label"
}

scenario "tests' JACK server, input closed" eof no
scenario "tests' JACK server, SIGTERM" term no
# No MIDI service at all: a server name nobody runs.
JACK_DEFAULT_SERVER=stepmill-run-$$ scenario "no JACK server running" term yes
exit $((failures > 0))
