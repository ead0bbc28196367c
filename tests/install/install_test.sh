#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: every file read by the tool a
# desktop reads it with, and a song file that resolves to the program as a
# file manager resolves it.
#   install_test.sh CMAKE BUILD_DIR
set -uo pipefail
cmake=${1:?cmake} build=${2:?build dir}
work=$(mktemp -d) || exit 1
id=org.stepmill.Stepmill
prefix=$work/prefix
trap 'rm -rf "$work"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../support/script_lib.sh"

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

# Every file is read below by the tool that reads it (the launcher by GIO,
# which hides an entry whose TryExec it cannot run); the examples too.
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

finish install
