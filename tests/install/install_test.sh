#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: every file read by the tool a
# desktop reads it with, a song resolving to the program as a file manager
# resolves it, and the desktop launcher's choice of device against a stand-in
# program (command_line_test.sh holds the real program's device list).
#   install_test.sh CMAKE BUILD_DIR
set -uo pipefail
cmake=${1:?cmake} build=${2:?build dir}
work=$(mktemp -d) || exit 1
id=org.stepmill.Stepmill prefix=$work/prefix
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }
diff <(cd "$STEPMILL_SOURCE_DIR/examples" && ls -- *.trm) <(cd "$prefix/share/stepmill/examples" && ls) >/dev/null ||
  fail "the examples installed differ from examples/"

# The desktop entry as the desktop's own validator sees it (hints count too).
report=$(desktop-file-validate "$prefix/share/applications/$id.desktop" 2>&1) || fail "desktop file invalid"
[[ -z $report ]] || fail "desktop-file-validate: $report"

# A double-click's road: the MIME and desktop databases built from the prefix
# alone, then GIO's type for a song and its default application for that type.
# The launcher must be on PATH: GIO hides an entry whose TryExec is not found.
mkdir -p "$work/home"
desktop=(env -i "PATH=$prefix/bin:/usr/bin:/bin" "XDG_DATA_DIRS=$prefix/share" "XDG_DATA_HOME=$work/home"
         "XDG_CONFIG_HOME=$work/home" "XDG_CONFIG_DIRS=$work/home")
report=$("${desktop[@]}" update-mime-database "$prefix/share/mime" 2>&1) && [[ -z $report ]] || fail "update-mime-database: $report"
grep -qx '50:application/x-stepmill-song:\*\.trm' "$prefix/share/mime/globs2" || fail "globs2 does not map *.trm"
report=$("${desktop[@]}" update-desktop-database "$prefix/share/applications" 2>&1) && [[ -z $report ]] ||
  fail "update-desktop-database: $report"
grep -qx "application/x-stepmill-song=$id.desktop;" "$prefix/share/applications/mimeinfo.cache" ||
  fail "the desktop entry does not take songs"
type=$("${desktop[@]}" gio info -a standard::content-type "$prefix/share/stepmill/examples/rock.trm")
[[ $type == *"standard::content-type: application/x-stepmill-song" ]] || fail "a song's type: $type"
handler=$("${desktop[@]}" gio mime application/x-stepmill-song)
grep -Eq "^Default application for .*: $id\.desktop$" <<<"$handler" || fail "songs open with: $handler"

# The manual: no groff warning, a NAME line that whatis reads, the sections a
# manual has, and every option that --help lists.
page=$prefix/share/man/man1/stepmill.1
report=$(groff -man -ww -z "$page" 2>&1) && [[ -z $report ]] || fail "groff warnings: $report"
lexgrog "$page" | grep -q '"stepmill - .' || fail "whatis cannot read NAME: $(lexgrog "$page")"
manual=$(LC_ALL=C MANWIDTH=100 man --warnings -l "$page" 2>&1)
for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT FILES 'EXIT STATUS' EXAMPLES; do
  grep -qx "$section" <<<"$manual" || fail "manual: no section $section"
done
options=$("$prefix/bin/stepmill" --help | grep -oE '^  -[a-z], --[a-z]+')
[[ -n $options ]] || fail "--help of the installed program lists no options"
while read -r option; do
  grep -qF -- "$option" <<<"$manual" || fail "manual: no option [$option]"
done <<<"$options"

# The icon renders through GdkPixbuf, as the desktop loads it, at menu and
# launcher sizes, and is drawn over most of its square.
/usr/bin/python3 - "$prefix/share/icons/hicolor/scalable/apps/$id.svg" <<'PY' || fail "icon"
import sys
import gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf
for size in (16, 48, 256):
    icon = GdkPixbuf.Pixbuf.new_from_file_at_size(sys.argv[1], size, size)
    assert (icon.get_width(), icon.get_height()) == (size, size), (size, icon.get_width(), icon.get_height())
    assert icon.get_has_alpha() and icon.get_n_channels() == 4
    pixels, stride = icon.get_pixels(), icon.get_rowstride()
    alphas = [pixels[y * stride + x * 4 + 3] for y in range(size) for x in range(size)]
    drawn = sum(a > 200 for a in alphas) / len(alphas)
    assert drawn > 0.5, f"{size}px: {drawn:.0%} drawn"
PY

# The launcher, stepmill-open, copied beside a stand-in program that lists
# $LISTING as stepmill lists devices, or records its arguments and fails with
# $FAILURE when that is set; on PATH a dialog that records its text, on a
# display that only it needs.
mkdir "$work/fake" "$work/desktop"
cp "$prefix/bin/stepmill-open" "$work/fake/"
cat >"$work/fake/stepmill" <<'EOF'
#!/usr/bin/env bash
if [[ $# -eq 0 ]]; then printf 'usage: stepmill <device> [file]\n\noutput devices:\n%b' "$LISTING"; exit 0; fi
printf '[%s]' "$@" >"$ARGS"
[[ -z ${FAILURE:-} ]] || { echo "$FAILURE" >&2; exit 1; }
EOF
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"$DIALOG"\n' >"$work/desktop/zenity"
chmod +x "$work/fake/stepmill" "$work/desktop/zenity"
through='0: Midi Through:Midi Through Port-0 14:0\n'
module='1: E-MU XMidi1X1:E-MU XMidi1X1 MIDI 1 20:0\n'
synth='0: FLUID Synth (812):Synth input port (812:0) 128:0\n1: probe:in\n'
# The expected stderr and dialog are patterns; the launcher's arguments split on spaces.
# shellcheck disable=SC2053,SC2086
# case | STEPMILL_DEVICE | listing | failure | launcher arguments | status | program's arguments | stderr | dialog
while IFS='|' read -r name device listing failure args status want_args want_err want_dialog; do
  rm -f "$work/args" "$work/dialog"
  PATH=$work/desktop:$PATH DISPLAY=:stand-in DIALOG=$work/dialog STEPMILL_DEVICE="$device" LISTING="$listing" FAILURE="$failure" \
    ARGS="$work/args" "$work/fake/stepmill-open" $args >"$work/out" 2>"$work/err"
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

finish install
