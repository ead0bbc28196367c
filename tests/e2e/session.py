#!/usr/bin/python3
"""One scripted session of the real program, driven only from outside: key
presses and mouse clicks through XTEST (xdotool) and the accessibility
interface (AT-SPI), with the JACK probe as the instrument.

    session.py <stepmill> <midi_probe> <trm_dump> <artifacts dir>

Run by session.sh inside an Xvfb and a D-Bus session of its own. Screenshots
taken on the way are kept in the artifacts folder only when the session fails.
"""

import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import pyatspi

BPM = 180
# The instrument, by a name no other client of the server has.
PROBE = "probe-e2e-%d" % os.getpid()
# The editor's rows by instrument name, and their notes.
KICK = ("アコースティック・バス・ドラム1", 35)
SNARE = ("アコースティック・スネア・ドラム", 38)
HIHAT = ("クローズド・ハイハット", 42)
# Sprite 0 as the session builds it: switched on at 8 beats, then cut to 6.
CLICKS = [(HIHAT, 3), (SNARE, 5), (HIHAT, 7)]   # (row, 1-based beat) by mouse
SPACE = (KICK, 1)                                 # the editor's first focus, by space
BEATS = 6
SEQUENCE_KEYS = "010"
PLAY_SECONDS = 5.0
RATE = 48000    # the tests' JACK server


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
        if time.monotonic() > end:
            raise SessionError("timed out waiting for " + what)
        time.sleep(0.05)


def xdo(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def x_window(title, pid):
    """The X window of our process with exactly this title."""
    def find():
        out = subprocess.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid),
                              "--name", "^" + title.replace(".", "\\.") + "$"],
                             capture_output=True, text=True).stdout.split()
        return out[0] if out else None
    return wait_for("window " + repr(title), find)


def focus(window):
    # No window manager under Xvfb: the session gives the focus itself.
    xdo("windowfocus", "--sync", window)
    time.sleep(0.1)


class Probe:
    """The instrument: midi_probe's events, read by a thread as they come."""

    def __init__(self, path):
        self.process = subprocess.Popen([path, "--name", PROBE], stdout=subprocess.PIPE,
                                        stdin=subprocess.PIPE, text=True)
        check(self.process.stdout.readline().strip() == "ready", "the probe did not start")
        self.events = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            fields = line.split()
            self.events.put((int(fields[1]), [int(b, 16) for b in fields[2:]]))

    def take(self, timeout):
        try:
            return self.events.get(timeout=timeout)
        except queue.Empty:
            return None

    def drain(self, quiet):
        got = []
        while (event := self.take(quiet)) is not None:
            got.append(event)
        return got

    def stop(self):
        self.process.stdin.close()   # the probe ends with its input
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


def find_all(root, predicate):
    found, todo = [], [root]
    while todo:
        node = todo.pop(0)
        if predicate(node):
            found.append(node)
        todo.extend(c for c in node if c is not None)
    return found


def find(root, role, name=None, timeout=10.0):
    return wait_for("%s %r" % (role, name), lambda: next(iter(find_all(
        root, lambda n: n.getRoleName() == role and (name is None or n.name == name))), None), timeout)


def top_level(app, name):
    return wait_for("window %r" % name, lambda: next(
        (c for c in app if c.name == name and c.getState().contains(pyatspi.STATE_SHOWING)), None))


def press(button):
    button.queryAction().doAction(0)


def middle(widget):
    box = widget.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return box.x + box.width // 2, box.y + box.height // 2


def click(point):
    """A real mouse click at a point of the screen."""
    xdo("mousemove", "--sync", *point)
    xdo("click", "1")


def is_checked(widget):
    return widget.getState().contains(pyatspi.STATE_CHECKED)


def expect_note_on(probe, note, what):
    event = probe.take(3.0)
    check(event is not None and event[1] == [0x99, note, 0x7F],
          "%s: the preview note-on of %d, got %r" % (what, note, event))


def screenshot(shots, name):
    subprocess.run(["import", "-window", "root", os.path.join(shots, name + ".png")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def sprite_notes(sprite):
    """(beats, {0-based beat: notes}) of a sprite of the built song."""
    if sprite != 0:
        return 8, {}
    notes = {}
    for (row, beat) in CLICKS + [SPACE]:
        if beat - 1 < BEATS:
            notes.setdefault(beat - 1, set()).add(row[1])
    return BEATS, notes


def expected_dump():
    beats, notes = sprite_notes(0)
    first = "sprite 0 beats %d" % beats + "".join(
        " %d:%s" % (b, ",".join(map(str, sorted(notes[b])))) for b in sorted(notes))
    return "\n".join(["bpm %d" % BPM, first] + ["sprite %d beats 8" % i for i in range(1, 36)]
                     + ["sequence " + " ".join(SEQUENCE_KEYS)]) + "\n"


def check_playback(events, title):
    """The start message, the sequence's notes each on its frame of the song's
    grid (from the start message's frame), the stop message."""
    check(len(events) >= 2, "too few MIDI events while playing: %r" % events)
    start, stop = events[0], events[-1]
    check(start[1][0] == 0xF0 and bytes(start[1]).find(title.encode()[:20]) > 0,
          "no start display message with the title first")
    check(stop[1] == [0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7],
          "no stop display message last")
    notes = events[1:-1]
    check(all(len(d) == 3 and d[0] == 0x99 and d[2] in (0, 0x7F) for _, d in notes),
          "not a channel 10 note at velocity 127 or 0")
    since = lambda frame: (frame - start[0]) % 2 ** 32   # the probe's frames are JACK's 32-bit counter
    ons = [(since(frame), data[1]) for frame, data in notes if data[2] == 0x7F]
    bar = 240 * RATE / BPM
    played = since(stop[0])
    grid = []       # (frame from the start, note) of every note-on the song has before the stop
    for k in range(int(played // bar) + 1):
        beats, by_beat = sprite_notes(int(SEQUENCE_KEYS[k % len(SEQUENCE_KEYS)]))
        grid += [(round(k * bar + b * bar / beats), n) for b in range(beats) for n in sorted(by_beat.get(b, ()))]
    grid = [g for g in grid if g[0] < played]
    check(len(grid) >= 8, "only %d notes played" % len(grid))
    check([n for _, n in ons] == [n for _, n in grid],
          "the notes played are not the song's: %r against %r" % (ons, grid))
    errors = [abs(at - want) for (at, _), (want, _) in zip(ons, grid)]
    print("onsets %d, frame error max %d" % (len(errors), max(errors)))
    check(max(errors) <= 1, "a note off its frame by %d frames: %r against %r" % (max(errors), ons, grid))


def check_midi(path):
    """midicsv reads the export as the song played once through."""
    text = subprocess.run(["midicsv", path], capture_output=True, text=True, check=True).stdout
    rows = [[field.strip() for field in line.split(",")] for line in text.splitlines()]
    check([r for r in rows if r[2] in ("Header", "Tempo", "End_track")] ==
          [["0", "0", "Header", "0", "1", "480"], ["1", "0", "Tempo", str(60000000 // BPM)],
           ["1", str(1920 * len(SEQUENCE_KEYS)), "End_track"]], "header, tempo or end: %r" % rows)
    expected = []
    for k, key in enumerate(SEQUENCE_KEYS):
        beats, by_beat = sprite_notes(int(key))
        for b in range(beats):
            notes = sorted(by_beat.get(b, ()))
            expected += [(k * 1920 + b * 1920 // beats, n, 127) for n in notes]
            expected += [(k * 1920 + (b + 1) * 1920 // beats, n, 0) for n in notes]
    notes = [(int(r[1]), int(r[4]), int(r[5])) for r in rows if r[2] == "Note_on_c" and r[3] == "9"]
    check(notes == expected and len(notes) == sum(r[2] == "Note_on_c" for r in rows),
          "the MIDI file's notes: %r" % notes)


def save_through_chooser(app, pid, main_window, menu_steps, chooser_title, path):
    """Opens a File command from the keyboard, types the path, accepts."""
    focus(main_window)
    xdo("key", "F10")
    time.sleep(0.2)
    for _ in range(menu_steps):
        xdo("key", "Down")
    time.sleep(0.5)
    xdo("key", "Return")
    chooser = top_level(app, chooser_title)
    focus(x_window(chooser_title, pid))
    # A save chooser starts with the keyboard in its name field.
    name_field = wait_for("the focused name field", lambda: next(iter(find_all(
        chooser, lambda n: n.getRoleName() == "text" and n.getState().contains(pyatspi.STATE_FOCUSED))), None), 5)
    xdo("key", "ctrl+a")
    xdo("type", "--delay", "5", path)
    wait_for("the typed name", lambda: name_field.queryText().getText(0, -1) == path, 5)
    time.sleep(0.5)
    xdo("key", "Return")
    wait_for("the file " + path, lambda: os.path.exists(path), 5)
    wait_for("the chooser to close", lambda: not any(
        c.name == chooser_title and c.getState().contains(pyatspi.STATE_SHOWING) for c in app), 5)


def session(stepmill, probe_path, trm_dump, work, shots):
    env = dict(os.environ, HOME=os.path.join(work, "home"))   # the chooser's recent files stay here
    os.makedirs(env["HOME"])
    probe = Probe(probe_path)
    program = None
    try:
        title = subprocess.run([trm_dump, "--title"], capture_output=True, text=True,
                               check=True).stdout.strip()

        # 1. The program with no file: its window with its title.
        program = subprocess.Popen([stepmill, PROBE], env=env, cwd=work,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        desktop = pyatspi.Registry.getDesktop(0)
        app = wait_for("the program on the accessibility bus", lambda: next(
            (a for a in desktop if a is not None and a.get_process_id() == program.pid), None), 20)
        frame = top_level(app, title)
        main_window = x_window(title, program.pid)
        screenshot(shots, "main_window")

        # 2. Sprite 0's editor from its button; notes by space bar and mouse.
        press(find(frame, "push button", "0"))
        editor = top_level(app, "0")
        focus(x_window("0", program.pid))
        first = find(editor, "check box", "%s %d" % (SPACE[0][0], SPACE[1]))
        wait_for("the first check box's focus", lambda: first.getState().contains(pyatspi.STATE_FOCUSED), 5)
        xdo("key", "space")
        expect_note_on(probe, SPACE[0][1], "space bar")
        check(is_checked(first), "the space bar did not switch the note on")
        for row, beat in CLICKS:
            box = find(editor, "check box", "%s %d" % (row[0], beat))
            click(middle(box))
            expect_note_on(probe, row[1], "click on %s %d" % (row[0], beat))
            check(is_checked(box), "the click did not switch %s %d on" % (row[0], beat))
        screenshot(shots, "editor")
        find(editor, "spin button").queryValue().currentValue = BEATS
        press(find(editor, "push button", "Apply"))
        wait_for("the grid of %d beats" % BEATS, lambda: len(find_all(
            editor, lambda n: n.getRoleName() == "check box")) == 34 * BEATS)
        press(find(editor, "push button", "Close"))
        wait_for("the editor to close", lambda: not editor.getState().contains(pyatspi.STATE_SHOWING), 5)
        check(probe.drain(0.2) == [], "MIDI sent by closing the editor")

        # 3. The sequence from the strip's keys; the tempo.
        focus(main_window)
        xdo("key", "Right")
        for key in SEQUENCE_KEYS:
            xdo("key", key)
        columns = ["列 %d スプライト %s" % (i + 1, key) for i, key in enumerate(SEQUENCE_KEYS)]
        wait_for("the strip's columns %r" % columns, lambda: [
            n.name for n in find_all(frame, lambda n: n.name.startswith("列 "))] == columns, 5)
        find(frame, "spin button", "beat per minute").queryValue().currentValue = BPM
        screenshot(shots, "sequence")

        # 4. Play a few bars and stop, by mouse. The button is found first:
        # nothing but the clicks reaches the program while it plays.
        play = middle(find(frame, "push button", "再生/停止"))
        click(play)
        time.sleep(PLAY_SECONDS)
        click(play)
        check_playback(probe.drain(0.5), title)

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
            status = program.wait(10)
        except subprocess.TimeoutExpired:
            raise SessionError("Ctrl+Q did not end the program")
        check(status == 0, "exit status %d" % status)
        check(program.stderr.read() == "", "the program wrote to standard error")

        # 6. The files, read back by the project's reader and by midicsv.
        dump = subprocess.run([trm_dump, trm], capture_output=True, text=True)
        check(dump.returncode == 0 and dump.stderr == "" and dump.stdout == expected_dump(),
              "the saved song:\n%s%s\nexpected:\n%s" % (dump.stdout, dump.stderr, expected_dump()))
        check_midi(mid)
    except Exception as error:
        screenshot(shots, "failure")
        if program is not None and program.poll() is not None:
            raise SessionError("%s; the program ended with %d: %s" % (
                error, program.returncode, program.stderr.read())) from error
        raise
    finally:
        if program is not None and program.poll() is None:
            program.kill()
            program.wait()
        probe.stop()


def main():
    if len(sys.argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    stepmill, probe_path, trm_dump, artifacts = sys.argv[1:]
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="stepmill-session-")
    shots = os.path.join(work, "shots")
    os.makedirs(shots)
    try:
        session(stepmill, probe_path, trm_dump, work, shots)
    except Exception as error:
        os.makedirs(artifacts, exist_ok=True)
        for name in os.listdir(shots):
            shutil.copy(os.path.join(shots, name), artifacts)
        print("session failed: %s (screenshots in %s)" % (error, artifacts), file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("session passed in %.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
