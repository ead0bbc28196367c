#!/usr/bin/python3
"""A session of the real program driven from outside (XTEST and AT-SPI), the
JACK probe as its instrument.  session.py STEPMILL MIDI_PROBE TRM_DUMP ARTIFACTS_DIR"""

import os
import queue
import subprocess
import sys
import tempfile
import threading
import time

BPM = 180
TITLE = "GroovePlotterStudio Version 1.3"
PROBE = "probe-e2e-%d" % os.getpid()   # a name no other client of the server has
# Sprite 0 as the session builds it: the kick on beat 1 by the space bar, the
# others by mouse, at 8 beats; then cut to 6, dropping the last hi-hat.
KICK, SNARE = ("アコースティック・バス・ドラム1", 35), ("アコースティック・スネア・ドラム", 38)
HIHAT = ("クローズド・ハイハット", 42)
SPACE, CLICKS = (KICK, 1), [(HIHAT, 3), (SNARE, 5), (HIHAT, 7)]   # (row, 1-based beat)
BEATS, SOUNDING = 6, [(0, 35), (2, 42), (4, 38)]   # (0-based beat, note) after the cut
SEQUENCE_KEYS = "010"
RATE = 48000    # the tests' JACK server
DISPLAY_RESET = [0xF0, 0x41, 0x10, 0x16, 0x12, 0x20, 0x01, 0x00, 0x00, 0x5F, 0xF7]
SILENT = "beats: 8\r\ncolor: 191, 191, 191\r\nsprite end\r\n"
EXPECTED_SONG = ("bpm: 180\r\nsprites: 36\r\nbeats: 6\r\ncolor: 191, 191, 191\r\nbeat: 0 35\r\nbeat: 2 42\r\n"
                 "beat: 4 38\r\nsprite end\r\n" + SILENT * 35 + "sequence: 0 1 0\r\n")


def check(condition, what):
    if not condition:
        raise AssertionError(what)


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


def x_windows(title, pid):
    return xdo("search", "--all", "--onlyvisible", "--pid", pid, "--name", "^" + title.replace(".", "\\.") + "$")


def x_window(title, pid):
    return wait_for("window " + repr(title), lambda: x_windows(title, pid))[0]


def focus(window):
    # No window manager under Xvfb: the session gives the focus itself.
    xdo("windowfocus", "--sync", window)
    time.sleep(0.1)


def find_all(node, predicate):
    return [node] * bool(predicate(node)) + [f for c in node if c is not None for f in find_all(c, predicate)]


def find(root, role, name=None, state=None, timeout=10.0):
    return wait_for("%s %r" % (role, name), lambda: next(iter(find_all(root, lambda n: n.getRoleName() == role and (
        name is None or n.name == name) and (state is None or n.getState().contains(state)))), None), timeout)


def showing(app, name):
    return next((c for c in app if c.name == name and c.getState().contains(pyatspi.STATE_SHOWING)), None)


def click(widget):
    box = widget.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    xdo("mousemove", "--sync", box.x + box.width // 2, box.y + box.height // 2)
    xdo("click", "1")


def check_playback(events):
    """The start message, every note before the stop on its frame from there,
    the stop message; anything sent before, as by closing the editor, fails."""
    check(len(events) > 2 and events[0][1][0] == 0xF0 and bytes(events[0][1]).find(TITLE.encode()[:20]) > 0 and
          events[-1][1] == DISPLAY_RESET, "no start display message first or no stop message last: %r" % events)
    check(all(len(d) == 3 and d[0] == 0x99 and d[2] in (0, 0x7F) for _, d in events[1:-1]),
          "not a channel 10 note at velocity 127 or 0: %r" % events)
    since = lambda frame: (frame - events[0][0]) % 2 ** 32   # the probe's frames are JACK's 32-bit counter
    ons = [(since(frame), d[1]) for frame, d in events[1:-1] if d[2]]
    bar, played = 240 * RATE / BPM, since(events[-1][0])
    grid = [(round(k * bar + b * bar / BEATS), n) for k in range(int(played // bar) + 1)
            if SEQUENCE_KEYS[k % 3] == "0" for b, n in SOUNDING if k * bar + b * bar / BEATS < played]
    check(len(grid) >= 8 and len(ons) == len(grid) and all(
        n == want_n and abs(at - want) <= 1 for (at, n), (want, want_n) in zip(ons, grid)),
        "the notes played are not the song's on its frames: %r against %r" % (ons, grid))


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
    # The chooser's recent files and the recovery file stay in the session's folder.
    env = dict(os.environ, HOME=os.path.join(work, "home"), XDG_STATE_HOME=os.path.join(work, "state"))
    recovery = os.path.join(work, "state", "stepmill", "recovery.trm")
    os.makedirs(env["HOME"])
    probe = subprocess.Popen([probe_path, "--name", PROBE], stdout=subprocess.PIPE, stdin=subprocess.PIPE, text=True)
    check(probe.stdout.readline().strip() == "ready", "the probe did not start")
    heard = queue.Queue()   # (frame, bytes) of each event the probe receives
    threading.Thread(target=lambda: [heard.put((int(line.split()[1]), [int(b, 16) for b in line.split()[2:]]))
                                     for line in probe.stdout], daemon=True).start()

    def take(timeout):
        try:
            return heard.get(timeout=timeout)
        except queue.Empty:
            return None

    programs = []

    def start():
        """The program with no file: its accessible application, main window and X window."""
        programs.append(subprocess.Popen([stepmill, PROBE], env=env, cwd=work,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
        pid = programs[-1].pid
        app = wait_for("the program on the accessibility bus", lambda: next(
            (a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.get_process_id() == pid), None), 20)
        return app, wait_for("the main window", lambda: showing(app, TITLE)), x_window(TITLE, pid)

    def ended(status):
        check(programs[-1].wait(10) == status, "exit status %d, not %d" % (programs[-1].returncode, status))
        check(programs[-1].stderr.read() == "", "the program wrote to standard error")

    def ask_on_ctrl_q(main_window, key):
        """Ctrl+Q with changes asks in the real dialog, answered by `key`."""
        focus(main_window)
        xdo("key", "ctrl+q")
        x_window("保存確認", programs[-1].pid)
        xdo("key", key)

    try:
        app, frame, main_window = start()

        # Sprite 0's editor from its button; notes by space bar and mouse,
        # each previewed once on the real port.
        find(frame, "push button", "0").queryAction().doAction(0)
        editor = wait_for("the editor", lambda: showing(app, "0"))
        focus(x_window("0", programs[-1].pid))
        find(editor, "check box", "%s %d" % (SPACE[0][0], SPACE[1]), pyatspi.STATE_FOCUSED, 5)
        for (row, beat), by_mouse in [(SPACE, False)] + [(c, True) for c in CLICKS]:
            box = find(editor, "check box", "%s %d" % (row[0], beat))
            click(box) if by_mouse else xdo("key", "space")
            event = take(3.0)
            check(event is not None and event[1] == [0x99, row[1], 0x7F], "%s %d: previewed %r" % (row[0], beat, event))
        find(editor, "spin button").queryValue().currentValue = BEATS
        find(editor, "push button", "Apply").queryAction().doAction(0)
        find(editor, "push button", "Close").queryAction().doAction(0)
        wait_for("the editor to close", lambda: not editor.getState().contains(pyatspi.STATE_SHOWING), 5)

        # The sequence from the strip's keys; the tempo.
        focus(main_window)
        xdo("key", "Right", *SEQUENCE_KEYS)
        columns = ["列 %d スプライト %s" % (i + 1, key) for i, key in enumerate(SEQUENCE_KEYS)]
        wait_for("the strip's columns %r" % columns, lambda: [
            n.name for n in find_all(frame, lambda n: n.name.startswith("列 "))] == columns, 5)
        find(frame, "spin button", "beat per minute").queryValue().currentValue = BPM

        # Play a few bars and stop, by mouse. The button is found first:
        # nothing but the clicks reaches the program while it plays.
        play = find(frame, "push button", "再生/停止")
        click(play)
        time.sleep(5)
        click(play)
        events = []
        while (event := take(0.5)) is not None:
            events.append(event)
        check_playback(events)

        # Save As and Export through the real choosers: the song as the
        # session made it, and its export.
        trm, mid = os.path.join(work, "groove.trm"), os.path.join(work, "groove.mid")
        save_through_chooser(app, programs[-1].pid, main_window, 3, "保存", trm)
        save_through_chooser(app, programs[-1].pid, main_window, 4, "SMF保存", mid)
        song = open(trm, newline="").read()
        check(song == EXPECTED_SONG, "the saved song:\n%s\nexpected:\n%s" % (song, EXPECTED_SONG))
        check(open(mid, "rb").read() == subprocess.run([trm_dump, "--smf", trm], capture_output=True, check=True).stdout,
              "the exported file is not the saved song's export")

        # Nothing a user did is lost: an edit, Ctrl+Q asks and Escape keeps the
        # program; killed, it keeps the song, which the next start offers and
        # Ctrl+S saves where it came from.
        focus(main_window)
        xdo("key", "Right", "1")
        wait_for("a * in the title after an edit", lambda: frame.name == "*" + trm, 5)
        ask_on_ctrl_q(main_window, "Escape")
        wait_for("the question to go", lambda: not x_windows("保存確認", programs[-1].pid), 5)
        check(programs[-1].poll() is None, "Escape did not cancel Ctrl+Q")
        programs[-1].terminate()
        ended(0)
        kept = open(recovery, newline="").read().split("\r\n", 1)
        check(kept[0] == "# recovered from: " + trm and kept[1] != song, "no recovery file of the edit: %r" % kept)
        app, frame, main_window = start()
        x_window("復元確認", programs[-1].pid)
        xdo("key", "Return")
        wait_for("the restored, modified song's title", lambda: frame.name == "*" + trm, 5)
        focus(main_window)
        xdo("key", "ctrl+s")
        wait_for("the title after Ctrl+S", lambda: frame.name == trm, 5)
        check(open(trm, newline="").read() == kept[1], "the saved song is not the recovered one")
        check(not os.path.exists(recovery), "the recovery file outlived the save")

        # Discarded on Ctrl+Q, changes leave the file as it was and nothing to recover.
        xdo("key", "Right", "1")
        wait_for("a * in the title after an edit", lambda: frame.name == "*" + trm, 5)
        ask_on_ctrl_q(main_window, "alt+d")
        ended(0)
        check(open(trm, newline="").read() == kept[1] and not os.path.exists(recovery),
              "discarding changed the song or kept a recovery file")
    except Exception as error:
        if programs and programs[-1].poll() is not None:
            raise AssertionError("%s; the program ended with %d: %s" % (
                error, programs[-1].returncode, programs[-1].stderr.read())) from error
        raise
    finally:
        for program in programs:
            if program.poll() is None:
                program.kill()
                program.wait()
        probe.terminate()
        probe.wait()


if __name__ == "__main__":
    if "STEPMILL_SESSION_DISPLAY" not in os.environ:
        # A screen of its own, large enough and without other tests' windows,
        # searched from a number of its own so that two starting at once do not
        # race; a D-Bus session of its own, so that the accessibility bus is ours.
        os.environ["STEPMILL_SESSION_DISPLAY"] = "1"
        os.environ.pop("NO_AT_BRIDGE", None)   # the session drives the toolkit's accessibility bridge
        os.execvp("xvfb-run", ["xvfb-run", "-a", "-n", str(200 + os.getpid() % 700), "-s", "-screen 0 1280x1024x24",
                               "dbus-run-session", "--", "/usr/bin/python3", *sys.argv])
    import pyatspi
    stepmill, probe_path, trm_dump, artifacts = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="stepmill-session-") as work:
        try:
            session(stepmill, probe_path, trm_dump, work)
        except Exception as error:
            os.makedirs(artifacts, exist_ok=True)
            subprocess.run(["import", "-window", "root", os.path.join(artifacts, "failure.png")])
            sys.exit("session failed: %s (screenshot in %s)" % (error, artifacts))
    print("session passed")
