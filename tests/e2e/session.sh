#!/usr/bin/env bash
# Runs the scripted session of the real program on an Xvfb of its own (a
# screen large enough for the window, and no other test's windows on it), in
# a D-Bus session of its own so that the accessibility bus and registry
# belong to this session only.
#   session.sh <stepmill> <midi_probe> <trm_dump> <artifacts dir>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z "${STEPMILL_SESSION_DISPLAY:-}" ]]; then
  export STEPMILL_SESSION_DISPLAY=1
  # Searching from a number of its own, not from the 99 every other
  # xvfb-run starts at, so that two starting at once do not race for it.
  exec xvfb-run -a -n $((200 + $$ % 700)) -s "-screen 0 1280x1024x24" "$here/session.sh" "$@"
fi
# The test environment switches the toolkit's accessibility bridge off; this
# session is driven through it.
unset NO_AT_BRIDGE
exec dbus-run-session -- /usr/bin/python3 "$here/session.py" "$@"
