#!/usr/bin/env bash
# Runs the scripted session of the real program: on the tests' display (or an
# Xvfb of its own), in a D-Bus session of its own so that the accessibility
# bus and registry belong to this session only.
#   session.sh <stepmill> <midi_probe> <trm_dump> <artifacts dir>
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z "${DISPLAY:-}" ]]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/session.sh" "$@"
fi
# The test environment switches the toolkit's accessibility bridge off; this
# session is driven through it.
unset NO_AT_BRIDGE
exec dbus-run-session -- /usr/bin/python3 "$here/session.py" "$@"
