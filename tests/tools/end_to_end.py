#!/usr/bin/env python3
"""Drives quorvel, or quorvel.exe under Wine, as a user would, on an X display
and PulseAudio servers of its own: clicks the buttons, types a path into the
Save As dialog, plays a tone into the sink whose monitor is the default
source, closes the window; then checks the files, the texts shown and the
exit code. Screenshots and program logs go to ARTIFACTS.

    end_to_end.py linux QUORVEL TEXTS_PLUGIN_DIR ARTIFACTS
    end_to_end.py wine QUORVEL_EXE TEXTS_PROBE_EXE ARTIFACTS   (WINEPREFIX: the build's prefix)

Exits 77 (skipped) when a tool it needs is missing."""
import ctypes
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from wav_check import check_take

CAPTION = "Quorvel: Thread-Safe GUI 64K FFT"
START, STOP = (90, 35), (220, 35)
SINKS = {"stereo": ("float32le", 48000, 2), "mono": ("s16le", 44100, 1)}
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return ok


def wait(condition, seconds):
    """Polls condition until it gives a true value or the time is up; returns its last value."""
    deadline = time.monotonic() + seconds
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return value


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=30).stdout.strip()


def judge(what, path, rate, channels, min_seconds, max_seconds):
    fault = check_take(path, rate, channels, min_seconds, max_seconds) if path.exists() else "no file"
    print(f"{what}: {fault or 'good'} ({path.stat().st_size if path.exists() else 0} bytes)", flush=True)
    check(not fault, f"{what}: {fault}")


def find(title, seconds=20):
    # A window vanishing while xdotool walks the tree fails that one search; the next one is fine.
    return wait(lambda: run("xdotool", "search", "--onlyvisible", "--name", f"^{title}$").split("\n")[0], seconds)


def press(window, *keys):
    run("xdotool", "windowfocus", "--sync", window)
    run("xdotool", "key", *keys)


def send_close(window):
    """Asks a window to close as a window manager's close button does: WM_PROTOCOLS with WM_DELETE_WINDOW."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype, x.XInternAtom.restype = ctypes.c_void_p, ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x.XOpenDisplay(None)
    # XClientMessageEvent: type, serial, send_event, display, window, message_type, format, data.
    event = (ctypes.c_long * 24)(33, 0, 0, 0, int(window), x.XInternAtom(display, b"WM_PROTOCOLS", 0), 32,
                                 x.XInternAtom(display, b"WM_DELETE_WINDOW", 0))
    x.XSendEvent(display, int(window), 0, 0, event)
    x.XCloseDisplay(display)


class Sound:
    """A PulseAudio server of its own: a null sink whose monitor is the default
    source, and the tone playing into it (the right channel at half level)."""

    def __init__(self, work, sink="stereo"):
        self.format, self.rate, self.channels = SINKS[sink]
        runtime = Path(tempfile.mkdtemp(dir=work))
        self.address = f"unix:{runtime}/native"
        (runtime / "default.pa").write_text(
            f"load-module module-native-protocol-unix auth-anonymous=1 socket={runtime}/native\n"
            f"load-module module-null-sink sink_name=tone format={self.format} rate={self.rate} "
            f"channels={self.channels}\nset-default-source tone.monitor\n")
        env = dict(os.environ, XDG_RUNTIME_DIR=str(runtime), PULSE_RUNTIME_PATH=str(runtime), PULSE_STATE_PATH=str(runtime))
        self.server = subprocess.Popen(["pulseaudio", "--daemonize=no", "--system=false", "-n", "--exit-idle-time=-1",
                                        "-F", runtime / "default.pa", f"--log-target=file:{runtime}/log"], env=env)
        pactl = ["pactl", f"--server={self.address}"]
        check(wait(lambda: subprocess.run(pactl + ["info"], capture_output=True).returncode == 0, 10),
              "PulseAudio did not start")
        # pacat's short latency keeps the null sink from rendering seconds ahead of a new listener.
        encoding = "-e float -b 32" if self.format == "float32le" else "-e signed -b 16"
        self.tone = subprocess.Popen(
            f"sox -D -n -t raw -r {self.rate} {encoding} -c {self.channels} - synth 600 sine 997 vol 0.5 "
            f"{'remix 1 1v0.5' if self.channels == 2 else ''} | pacat --server={self.address} --device=tone "
            f"--format={self.format} --rate={self.rate} --channels={self.channels} --latency-msec=200",
            shell=True, start_new_session=True, stderr=subprocess.DEVNULL)
        check(wait(lambda: run(*pactl, "list", "short", "sink-inputs"), 10), "the tone did not start")
        time.sleep(1)  # the sink settles; a listener then gets its first data at once

    def kill(self):
        self.server.kill()
        self.server.wait()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        os.killpg(self.tone.pid, signal.SIGTERM)
        self.kill()


class Program:
    def __init__(self, kind, binary, helper, artifacts, work):
        self.kind, self.binary, self.helper, self.artifacts, self.work = kind, binary, helper, artifacts, work
        self.process = None

    def spell(self, path):
        return str(path) if self.kind == "linux" else "Z:" + str(path).replace("/", "\\")

    def launch(self, name, server):
        env = dict(os.environ, PULSE_SERVER=server, QT_QPA_PLATFORM="xcb", QT_PLUGIN_PATH=str(self.helper),
                   QT_QPA_GENERIC_PLUGINS="quorveltexts", QUORVEL_TEXTS=str(self.work / "texts"))
        if "nonexistent" in server:  # nor may Wine find a device some other way
            env["WINEDLLOVERRIDES"] = env.get("WINEDLLOVERRIDES", "") + ";winealsa.drv,wineoss.drv=d"
        log = open(self.artifacts / f"{self.kind}-{name}.log", "w")
        command = [self.binary] if self.kind == "linux" else ["wine", self.binary]
        self.process = subprocess.Popen(command, cwd=self.work, env=env, stdout=log, stderr=subprocess.STDOUT)
        self.window = find(CAPTION, 60)
        return check(self.window, f"{name}: no window captioned {CAPTION!r}")

    def texts(self):
        """The texts each visible window shows, by window title."""
        if self.kind == "linux":
            shown = (self.work / "texts").read_text() if (self.work / "texts").exists() else ""
        else:
            shown = run("wine", self.helper).replace("\r", "")
        return {line.split("\t")[0]: line.split("\t")[1:] for line in shown.splitlines()}

    def status(self):
        return (self.texts().get(CAPTION) or [""])[0]

    def wait_status(self, expected, seconds=15):
        return check(wait(lambda: self.status() == expected, seconds), f"status {self.status()!r}, expected {expected!r}")

    def click(self, at):
        run("xdotool", "mousemove", "--window", self.window, *at, "click", "1")

    def dialog(self):
        """Clicks Start; returns the Save As dialog once it proposes output.wav."""
        self.click(START)
        dialog = find("Save As")
        if check(dialog, "Start opened no Save As dialog"):
            check(wait(lambda: "output.wav" in self.texts().get("Save As", []), 10),
                  f"the dialog does not propose output.wav: {self.texts().get('Save As')}")
        return dialog

    def answer(self, dialog, *keys):
        press(dialog, *keys)
        return check(wait(lambda: not find("Save As", 0), 20), "the Save As dialog did not close")

    def save_as(self, path):
        if not (dialog := self.dialog()):
            return False
        press(dialog, "ctrl+a")
        # xdotool maps each non-ASCII character to a spare key code in turn;
        # typed slowly, the program has time to look each one up.
        folder, name = len(self.spell(path.parent)) + 1, self.spell(path)
        run("xdotool", "type", "--delay", 15, name[:folder])
        run("xdotool", "type", "--delay", 100, name[folder:])
        return self.answer(dialog, "Return")

    def close(self, name, seconds=20):
        send_close(self.window)
        try:
            check(self.process.wait(seconds) == 0, f"{name}: exit code {self.process.returncode}")
        except subprocess.TimeoutExpired:
            check(False, f"{name}: still running {seconds} s after the close")

    def screenshot(self, name, panels=False):
        png = self.artifacts / f"{self.kind}-{name}.png"
        run("import", "-window", "root", png)
        if not panels:
            return
        where = dict(f.split("=") for f in run("xdotool", "getwindowgeometry", "--shell", self.window).split())
        rgb = subprocess.run(["convert", png, "-crop", f"384x231+{where['X']}+{where['Y']}", "+repage",
                              "-depth", "8", "rgb:-"], capture_output=True).stdout

        def pixels(colour, x, y, width, height):
            return sum(rgb[3 * (384 * row + col):3 * (384 * row + col) + 3] == bytes.fromhex(colour)
                       for row in range(y, y + height) for col in range(x, x + width))

        # Levels of 0.35 and 0.18 RMS average to a bar of about 90 of 340 px;
        # 1,000 Hz is bin 1,365 of 32,768 at 48 kHz, a 2 px marker at x = 34.
        found = (pixels("00C800", 20, 90, 340, 20), pixels("0096FF", 20, 120, 340, 40),
                 pixels("DC783C", 20, 170, 340, 40), pixels("FF2828", 30, 170, 8, 40))
        print(f"panels: level bar {found[0]} px, waveform {found[1]} px, spectrum {found[2]} px, marker {found[3]} px")
        check(75 * 20 <= found[0] <= 105 * 20 and min(found[1:3]) >= 300 and found[3] >= 60,
              f"the panels do not show the tone: {found}")


def complete_take(p, work):
    """A take: Cancel first, then Start, a path, the tone, Stop; Start again proposes output.wav."""
    with Sound(work) as sound:
        if not p.launch("take", sound.address):
            return
        if dialog := p.dialog():
            p.answer(dialog, "Escape")
            p.wait_status("Ready", 5)
            check(not list(work.glob("*.wav")), "Cancel left a file")
        take = work / "take.wav"
        if p.save_as(take) and p.wait_status("Recording..."):
            began = time.monotonic()
            time.sleep(3)  # a full waveform history and a few spectra
            p.screenshot("recording", panels=True)
            p.click(START)
            check(not find("Save As", 1), "Start during the take opened a dialog")
            p.click(STOP)
            p.wait_status("Saved to: " + p.spell(take))
            # A new listener of an idle null sink may get its first data up to 2 s late.
            judge("take", take, 48000, 2, 1.5, time.monotonic() - began + 0.5)
            p.answer(p.dialog(), "Escape")
        p.close("take")


def unwritable_then_non_ascii(p, work):
    """A folder that does not exist: an error box and no "Saved to"; then a non-ASCII name."""
    with Sound(work) as sound:
        if not p.launch("names", sound.address):
            return
        missing = Path("/nonexistent/dir/x.wav")
        if p.save_as(missing) and check(box := find("Error"), "no error box for a missing folder"):
            check(wait(lambda: "Cannot open file for writing" in p.texts().get("Error", []), 5), f"the box: {p.texts()}")
            check(not p.status().startswith("Saved to"), "a failed open reported as saved")
            p.screenshot("error")
            press(box, "Return")
            check(wait(lambda: not find("Error", 0), 10), "the error box did not close")
            p.wait_status("Cannot open file for writing: " + p.spell(missing))
        (work / "names").mkdir()
        take = work / "names" / "Aufnahme-äöü-日本.wav"
        if p.save_as(take) and p.wait_status("Recording..."):
            time.sleep(1.5)
            p.click(STOP)
            p.wait_status("Saved to: " + p.spell(take))
            check(os.listdir(work / "names") == [take.name], f"files written: {os.listdir(work / 'names')}")
            judge("non-ASCII take", take, 48000, 2, 0.3, 10)
        p.close("names")


def close_during_take(p, work):
    """Closing the window during a take waits for it, writes all of it, exits 0; on Linux from a mono s16 sink."""
    sink = "mono" if p.kind == "linux" else "stereo"
    with Sound(work, sink) as sound:
        take = work / "closed.wav"
        if p.launch("close", sound.address) and p.save_as(take) and p.wait_status("Recording..."):
            began = time.monotonic()
            time.sleep(2)
            p.close("close")
            judge("closed take", take, sound.rate, sound.channels, 1.0, time.monotonic() - began + 0.5)


def no_sound_server(p, work):
    """Without a sound server nothing is recorded and the status says why."""
    take = work / "never.wav"
    if p.launch("no-server", f"unix:{work}/nonexistent") and p.save_as(take):
        p.wait_status("Cannot open the audio capture device: nothing recorded")
        check(not take.exists(), "a file was written without a sound server")
        p.close("no-server")


def server_killed(p, work):
    """The server dies mid-take: what was captured is all in the file."""
    with Sound(work) as sound:
        take = work / "cut.wav"
        if p.launch("killed", sound.address) and p.save_as(take) and p.wait_status("Recording..."):
            began = time.monotonic()
            time.sleep(1.5)
            sound.kill()
            if p.kind == "linux":  # the take ends by itself
                p.wait_status("The audio device was lost: recording stopped. Saved to: " + p.spell(take), 10)
            else:  # Wine's engine just stops delivering packets
                time.sleep(1)
                p.click(STOP)
                p.wait_status("Saved to: " + p.spell(take))
            judge("cut take", take, 48000, 2, 0.5, time.monotonic() - began)
            p.close("killed")


def prepare_wine_prefix():
    """Once per build tree: creating a prefix takes half a minute or more."""
    prefix = Path(os.environ["WINEPREFIX"])
    prefix.parent.mkdir(parents=True, exist_ok=True)
    with open(f"{prefix}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (prefix / "system.reg").exists():
            print("creating the Wine prefix", prefix, flush=True)
            subprocess.run(["wineboot", "-i"], capture_output=True)
            subprocess.run(["wineserver", "-w"])


def main():
    kind, binary, helper, artifacts = sys.argv[1], *(Path(a).resolve() for a in sys.argv[2:5])
    tools = ["Xvfb", "xdotool", "import", "convert", "pulseaudio", "pactl", "pacat", "sox"]
    if missing := [t for t in tools + (["wine"] if kind == "wine" else []) if not shutil.which(t)]:
        print("skipped: not installed:", *missing)
        return 77
    artifacts.mkdir(parents=True, exist_ok=True)
    if kind == "wine":
        os.environ.setdefault("WINEPREFIX", str(binary.parent / "wineprefix"))
        os.environ.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        prepare_wine_prefix()
    # -noreset: by default the server resets when its last client leaves and
    # refuses a program that connects just then.
    display_pipe = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(display_pipe[1]), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=[display_pipe[1]], stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":" + os.read(display_pipe[0], 16).decode().strip()
    try:
        for scenario in (complete_take, unwritable_then_non_ascii, close_during_take, no_sound_server, server_killed):
            print("---", scenario.__doc__, flush=True)
            with tempfile.TemporaryDirectory(prefix="quorvel-e2e.") as work:
                p = Program(kind, binary, helper, artifacts, Path(work))
                try:
                    scenario(p, Path(work))
                except Exception as error:  # a tool that timed out, a file never written
                    check(False, f"{scenario.__name__}: {error!r}")
                if p.process and p.process.poll() is None:
                    p.process.kill()
                    p.process.wait()
                    if kind == "wine":  # whatever else still runs in the prefix
                        subprocess.run(["wineserver", "-k"])
    finally:
        xvfb.kill()
    print(f"{len(failures)} check(s) failed" if failures else "all end-to-end checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
