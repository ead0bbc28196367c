#!/usr/bin/python3
"""One scripted session of the real program, driven only from outside: key
presses and mouse clicks through XTEST (xdotool) and the accessibility
interface (AT-SPI), with the JACK probe as the instrument.

    session.py <stepmill> <midi_probe> <trm_dump> <artifacts dir>

Run by session.sh inside an Xvfb and a D-Bus session of its own. A screenshot
of the screen is kept in the artifacts folder when the session fails.
"""

import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

import pyatspi

BPM = 180
TITLE = "GroovePlotterStudio Version 1.3"
PROBE = "probe-e2e-%d" % os.getpid()   # a name no other client of the server has
# Sprite 0 as the session builds it: the first box (the kick on beat 1) by
# the space bar, others by mouse, at 8 beats; then cut to 6 beats.
KICK, SNARE = ("アコースティック・バス・ドラム1", 35), ("アコースティック・スネア・ドラム", 38)
HIHAT = ("クローズド・ハイハット", 42)
SPACE, CLICKS = (KICK, 1), [(HIHAT, 3), (SNARE, 5), (HIHAT, 7)]   # (row, 1-based beat)
BEATS = 6
SEQUENCE_KEYS = "010"
RATE = 48000    # the tests' JACK server
DISPLAY_RESET = [0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7]


class SessionError(Exception):
    pass


def check(condition, what):
    if not condition:
        raise SessionError(what)


def wait_for(what, probe, timeout=10.0):
    """Polls probe() until it gives something true; fails with `what`."""
    end = time.monotonic() + timeout
    while True:
        try:
            value = probe()
        except Exception:        # the accessibility tree changes under us
            value = None
        if value:
            return value
        check(time.monotonic() < end, "timed out waiting for " + what)
        time.sleep(0.05)


def xdo(*args):
    """xdotool's words; a failure other than a search that found nothing fails the session."""
    run = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, check=args[0] != "search")
    return run.stdout.split()


def x_window(title, pid):
    """The X window of our process with exactly this title."""
    return wait_for("window " + repr(title), lambda: xdo(
        "search", "--all", "--onlyvisible", "--pid", pid, "--name", "^" + title.replace(".", "\\.") + "$"))[0]


def focus(window):
    # No window manager under Xvfb: the session gives the focus itself.
    xdo("windowfocus", "--sync", window)
    time.sleep(0.1)


def find_all(root, predicate):
    found, todo = [], [root]
    while todo:
        node = todo.pop(0)
        found += [node] if predicate(node) else []
        todo.extend(c for c in node if c is not None)
    return found


def find(root, role, name=None, state=None, timeout=10.0):
    return wait_for("%s %r" % (role, name), lambda: next(iter(find_all(root, lambda n: n.getRoleName() == role and (
        name is None or n.name == name) and (state is None or n.getState().contains(state)))), None), timeout)


def showing(app, name):
    return next((c for c in app if c.name == name and c.getState().contains(pyatspi.STATE_SHOWING)), None)


def click(widget):
    """A real mouse click at the middle of the widget."""
    box = widget.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    xdo("mousemove", "--sync", box.x + box.width // 2, box.y + box.height // 2)
    xdo("click", "1")


def sprite_notes(sprite):
    """(beats, {0-based beat: notes}) of a sprite of the built song."""
    notes = {}
    for (row, beat) in CLICKS + [SPACE] if sprite == 0 else []:
        if beat <= BEATS:
            notes.setdefault(beat - 1, set()).add(row[1])
    return (BEATS if sprite == 0 else 8), notes


def expected_song():
    """The song file the session's edits make, as the program writes it."""
    lines = ["bpm: %d" % BPM, "sprites: 36"]
    for sprite in range(36):
        beats, notes = sprite_notes(sprite)
        lines += ["beats: %d" % beats, "color: 191, 191, 191"]
        lines += ["beat: %d %s" % (b, " ".join(map(str, sorted(notes[b])))) for b in sorted(notes)] + ["sprite end"]
    return "".join(line + "\r\n" for line in lines + ["sequence: " + " ".join(SEQUENCE_KEYS)])


def check_playback(events):
    """The start message, the sequence's notes each on its frame of the song's
    grid (from the start message's frame), the stop message."""
    check(len(events) >= 2, "too few MIDI events while playing: %r" % events)
    start, stop = events[0], events[-1]
    check(start[1][0] == 0xF0 and bytes(start[1]).find(TITLE.encode()[:20]) > 0, "no start display message first")
    check(stop[1] == DISPLAY_RESET, "no stop display message last")
    notes = events[1:-1]
    check(all(len(d) == 3 and d[0] == 0x99 and d[2] in (0, 0x7F) for _, d in notes),
          "not a channel 10 note at velocity 127 or 0")
    since = lambda frame: (frame - start[0]) % 2 ** 32   # the probe's frames are JACK's 32-bit counter
    ons = [(since(frame), data[1]) for frame, data in notes if data[2] == 0x7F]
    bar, played = 240 * RATE / BPM, since(stop[0])
    grid = []       # (frame from the start, note) of every note-on the song has before the stop
    for k in range(int(played // bar) + 1):
        beats, by_beat = sprite_notes(int(SEQUENCE_KEYS[k % len(SEQUENCE_KEYS)]))
        grid += [(round(k * bar + b * bar / beats), n) for b in range(beats) for n in sorted(by_beat.get(b, ()))]
    grid = [g for g in grid if g[0] < played]
    check(len(grid) >= 8, "only %d notes played" % len(grid))
    check([n for _, n in ons] == [n for _, n in grid], "the notes played are not the song's: %r, %r" % (ons, grid))
    errors = [abs(at - want) for (at, _), (want, _) in zip(ons, grid)]
    check(max(errors) <= 1, "a note off its frame by %d frames: %r against %r" % (max(errors), ons, grid))


def save_through_chooser(app, pid, main_window, menu_steps, chooser_title, path):
    """Opens a File command from the keyboard, types the path, accepts."""
    focus(main_window)
    xdo("key", "F10")
    time.sleep(0.2)
    xdo("key", *["Down"] * menu_steps)
    time.sleep(0.5)
    xdo("key", "Return")
    chooser = wait_for("the chooser " + chooser_title, lambda: showing(app, chooser_title))
    focus(x_window(chooser_title, pid))
    # A save chooser starts with the keyboard in its name field.
    name_field = find(chooser, "text", state=pyatspi.STATE_FOCUSED, timeout=5)
    xdo("key", "ctrl+a")
    xdo("type", "--delay", "5", path)
    wait_for("the typed name", lambda: name_field.queryText().getText(0, -1) == path, 5)
    time.sleep(0.5)
    xdo("key", "Return")
    wait_for("the file " + path, lambda: os.path.exists(path), 5)
    wait_for("the chooser to close", lambda: not showing(app, chooser_title), 5)


def session(stepmill, probe_path, trm_dump, work):
    env = dict(os.environ, HOME=os.path.join(work, "home"))   # the chooser's recent files stay here
    os.makedirs(env["HOME"])
    probe = subprocess.Popen([probe_path, "--name", PROBE], stdout=subprocess.PIPE, stdin=subprocess.PIPE, text=True)
    check(probe.stdout.readline().strip() == "ready", "the probe did not start")
    heard = queue.Queue()   # (frame, bytes) of each event the probe receives

    def read():
        for line in probe.stdout:
            heard.put((int(line.split()[1]), [int(b, 16) for b in line.split()[2:]]))
    threading.Thread(target=read, daemon=True).start()

    def take(timeout):
        try:
            return heard.get(timeout=timeout)
        except queue.Empty:
            return None

    def drain(quiet):
        got = []
        while (event := take(quiet)) is not None:
            got.append(event)
        return got

    program = None
    try:
        # 1. The program with no file: its window with its title.
        program = subprocess.Popen([stepmill, PROBE], env=env, cwd=work,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        desktop = pyatspi.Registry.getDesktop(0)
        app = wait_for("the program on the accessibility bus", lambda: next(
            (a for a in desktop if a is not None and a.get_process_id() == program.pid), None), 20)
        frame = wait_for("the main window", lambda: showing(app, TITLE))
        main_window = x_window(TITLE, program.pid)

        # 2. Sprite 0's editor from its button; notes by space bar and mouse,
        # each previewed once.
        find(frame, "push button", "0").queryAction().doAction(0)
        editor = wait_for("the editor", lambda: showing(app, "0"))
        focus(x_window("0", program.pid))
        find(editor, "check box", "%s %d" % (SPACE[0][0], SPACE[1]), pyatspi.STATE_FOCUSED, 5)
        for (row, beat), by_mouse in [(SPACE, False)] + [(c, True) for c in CLICKS]:
            box = find(editor, "check box", "%s %d" % (row[0], beat))
            if by_mouse:
                click(box)
            else:
                xdo("key", "space")
            event = take(3.0)
            check(event is not None and event[1] == [0x99, row[1], 0x7F], "%s %d: previewed %r" % (row[0], beat, event))
            check(box.getState().contains(pyatspi.STATE_CHECKED), "%s %d was not switched on" % (row[0], beat))
        find(editor, "spin button").queryValue().currentValue = BEATS
        find(editor, "push button", "Apply").queryAction().doAction(0)
        wait_for("the grid of %d beats" % BEATS, lambda: len(find_all(
            editor, lambda n: n.getRoleName() == "check box")) == 34 * BEATS)
        find(editor, "push button", "Close").queryAction().doAction(0)
        wait_for("the editor to close", lambda: not editor.getState().contains(pyatspi.STATE_SHOWING), 5)
        check(drain(0.2) == [], "MIDI sent by closing the editor")

        # 3. The sequence from the strip's keys; the tempo.
        focus(main_window)
        xdo("key", "Right", *SEQUENCE_KEYS)
        columns = ["列 %d スプライト %s" % (i + 1, key) for i, key in enumerate(SEQUENCE_KEYS)]
        wait_for("the strip's columns %r" % columns, lambda: [
            n.name for n in find_all(frame, lambda n: n.name.startswith("列 "))] == columns, 5)
        find(frame, "spin button", "beat per minute").queryValue().currentValue = BPM

        # 4. Play a few bars and stop, by mouse. The button is found first:
        # nothing but the clicks reaches the program while it plays.
        play = find(frame, "push button", "再生/停止")
        click(play)
        time.sleep(5)
        click(play)
        check_playback(drain(0.5))

        # 5. Save As and Export through the real choosers, then Ctrl+Q.
        trm, mid = os.path.join(work, "groove.trm"), os.path.join(work, "groove.mid")
        save_through_chooser(app, program.pid, main_window, 3, "保存", trm)
        wait_for("the title after Save As", lambda: frame.name == trm, 5)
        save_through_chooser(app, program.pid, main_window, 4, "SMF保存", mid)
        time.sleep(0.2)
        check(frame.name == trm, "Export changed the title to %r" % frame.name)
        focus(main_window)
        xdo("key", "ctrl+q")
        try:
            check(program.wait(10) == 0, "exit status %d" % program.returncode)
        except subprocess.TimeoutExpired:
            raise SessionError("Ctrl+Q did not end the program")
        check(program.stderr.read() == "", "the program wrote to standard error")

        # 6. The files: the song as the session made it, and its export.
        with open(trm, newline="") as saved:
            song = saved.read()
        check(song == expected_song(), "the saved song:\n%s\nexpected:\n%s" % (song, expected_song()))
        with open(mid, "rb") as exported:
            check(exported.read() == subprocess.run([trm_dump, "--smf", trm], capture_output=True, check=True).stdout,
                  "the exported file is not the saved song's export")
    except Exception as error:
        if program is not None and program.poll() is not None:
            raise SessionError("%s; the program ended with %d: %s" % (
                error, program.returncode, program.stderr.read())) from error
        raise
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        probe.terminate()
        probe.wait()


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    stepmill, probe_path, trm_dump, artifacts = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="stepmill-session-") as work:
        try:
            session(stepmill, probe_path, trm_dump, work)
        except Exception as error:
            os.makedirs(artifacts, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(artifacts, "failure.png")])
            print("session failed: %s (screenshot in %s)" % (error, artifacts), file=sys.stderr)
            return 1
    print("session passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
