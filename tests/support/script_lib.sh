# What the test scripts share: failures counted and reported, a wait, the
# MIDI probe as the instrument, and the end. Sourced; the script sets $work
# (its temporary folder) and $probe_name first.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
within_10s() { for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done; return 1; }
# The probe (binary $1) as JACK client $probe_name, its input held open on
# descriptor 3 until the script closes it.
start_probe() {
  mkfifo "$work/probe_in"
  "$1" --name "$probe_name" <"$work/probe_in" >"$work/probe.out" 2>"$work/probe.err" &
  probe_pid=$!
  exec 3>"$work/probe_in"
  within_10s grep -qx ready "$work/probe.out" || { echo "the probe did not start: $(<"$work/probe.err")"; exit 1; }
}
# The program's JACK port is connected to the probe's.
connected() { jack_lsp -c 2>/dev/null | grep -A1 '^stepmill:' | grep -q "$probe_name:in"; }
finish() { [[ $failures -eq 0 ]] && echo "$1: all cases passed"; exit $((failures > 0)); }
