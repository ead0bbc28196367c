#!/usr/bin/env bash
# Starts or stops a private JACK server on the dummy driver, for tests and
# benchmarks that need a real MIDI service on a machine without sound hardware.
#   jack_server.sh start NAME [PERIOD_FRAMES]   (waits until clients can connect)
#   jack_server.sh stop NAME
set -euo pipefail
cmd=${1:?start or stop}
name=${2:?server name}
period=${3:-64}
state=${TMPDIR:-/tmp}/stepmill-jack-$name.pid

case "$cmd" in
start)
  if [[ -f "$state" ]] && kill -0 "$(cat "$state")" 2>/dev/null; then
    exit 0
  fi
  export JACK_NO_AUDIO_RESERVATION=1
  # Real-time scheduling where we may have it: a loaded machine (a parallel
  # test run) otherwise starves the process cycles and the server drops clients.
  realtime=--no-realtime
  if chrt -f 10 true 2>/dev/null; then realtime=--realtime; fi
  jackd "$realtime" -n "$name" -d dummy -r 48000 -p "$period" -C 0 -P 0 \
    >"${state%.pid}.log" 2>&1 &
  echo $! >"$state"
  for _ in $(seq 1 100); do
    if JACK_DEFAULT_SERVER=$name JACK_NO_START_SERVER=1 jack_wait -c >/dev/null 2>&1 \
       && JACK_DEFAULT_SERVER=$name JACK_NO_START_SERVER=1 jack_lsp >/dev/null 2>&1; then
      exit 0
    fi
    if ! kill -0 "$(cat "$state")" 2>/dev/null; then
      echo "jackd failed to start:" >&2; cat "${state%.pid}.log" >&2; exit 1
    fi
    sleep 0.1
  done
  echo "jackd did not come up in 10 s" >&2; exit 1
  ;;
stop)
  if [[ -f "$state" ]]; then
    pid=$(cat "$state")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$state"
  fi
  ;;
*) echo "usage: $0 start|stop NAME [PERIOD]" >&2; exit 2 ;;
esac
