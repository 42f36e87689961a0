#!/usr/bin/env python3
# Drives quorvel, or quorvel.exe under Wine, as a user would, on an X display
# and sound servers of its own (PulseAudio, and for the Linux program PipeWire
# too unless QUORVEL_E2E_PIPEWIRE=0): clicks the buttons, types a path into
# the Save As dialog, plays a tone into the sink whose monitor is the default
# source, closes the window; then checks the files, the texts shown and the
# exit code. The two programs differ only in how they start, how a path is
# spelled and how their texts are read. The program's logs go to ARTIFACTS.
#
#   end_to_end.py linux QUORVEL TEXTS_PLUGIN_DIR ARTIFACTS
#   end_to_end.py wine QUORVEL_EXE TEXTS_PROBE_EXE ARTIFACTS   (WINEPREFIX: the build tree's prefix)
#
# Exits 77 (skipped) when a tool it needs is missing or a scenario could not
# run here (and nothing failed): a skip is never a pass.
import array, contextlib, ctypes, os, re, shutil, signal, subprocess, sys, tempfile, time
from pathlib import Path
from types import SimpleNamespace

from wav_check import check_take, tone_problem

CAPTION = "Quorvel: Thread-Safe GUI 64K FFT"
STALLED = "Recording... nothing has arrived from the device for "
START, STOP = (90, 35), (220, 35)
failures = []
skipped = []
reader_bus = None  # Linux: a private session bus where the accessibility bus is launched for the program
# What a screen reader reads through AT-SPI (Debian's pyatspi, for Debian's interpreter): each object's role,
# name, description and value.
READER = ("import pyatspi\ndef walk(n): return [n] + [d for c in n for d in walk(c)]\n"
          "for n in (n for app in pyatspi.Registry.getDesktop(0) for n in walk(app)): print(n.getRoleName(), n.name, "
          "n.description, n.queryValue().currentValue if n.getRole() == pyatspi.ROLE_PROGRESS_BAR else '', sep='\\t')")


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return ok


def wait(condition, seconds, step=0.1):
    # Polls until condition gives a true value or the time is up; returns its last value.
    deadline = time.monotonic() + seconds
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(step)
    return value


def shows(shown, text):
    # A status too long for its line may have its middle replaced by an ellipsis: the start and end stay.
    return shown == text or any(0 < i and text.startswith(shown[:i]) and text.endswith(tail := shown[i + len(mark):])
                                and tail and i + len(tail) < len(text) for mark in ("…", "...")
                                for i in range(len(shown)) if shown.startswith(mark, i))


def run(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=30).stdout.strip()


def find(title, seconds=20):
    # A window vanishing while xdotool walks the tree fails that one search; the next one is fine.
    return wait(lambda: run("xdotool", "search", "--onlyvisible", "--name", f"^{title}$").split("\n")[0], seconds)


def dismiss(window, title, key):
    run("xdotool", "windowfocus", "--sync", window)
    run("xdotool", "key", key)
    return check(wait(lambda: not find(title, 0), 20), f"{key} did not close {title}")


def send_close(window):
    # What a window manager's close button sends: WM_PROTOCOLS with WM_DELETE_WINDOW.
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    display = ctypes.c_void_p(x.XOpenDisplay(None))
    # XClientMessageEvent: type, serial, send_event, display, window, message_type, format, data.
    event = (ctypes.c_long * 24)(33, 0, 0, 0, int(window), x.XInternAtom(display, b"WM_PROTOCOLS", 0), 32,
                                 x.XInternAtom(display, b"WM_DELETE_WINDOW", 0))
    x.XSendEvent(display, int(window), 0, 0, event)
    x.XCloseDisplay(display)


@contextlib.contextmanager
def sound(work, encoding="float32le", rate=48000, channels=2, server="pulseaudio"):
    # A sound server of its own on a private runtime folder, PulseAudio or
    # PipeWire with its PulseAudio server (and a D-Bus session of its own):
    # its default source the monitor of a null sink, the tone playing into the
    # sink (right channel at half level). kill() ends it as a crash would,
    # start() brings it back as it was, suspend(True/False) stops and resumes
    # the sink's input.
    runtime = Path(tempfile.mkdtemp(dir=work))
    s = SimpleNamespace(address=f"unix:{runtime}/native", rate=rate, channels=channels, servers=[], tone=None,
                        jumps=1 if server == "pulseaudio" else 2)  # where a stall breaks the tone
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"} | {
        k: str(runtime) for k in ("XDG_RUNTIME_DIR", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "PULSE_RUNTIME_PATH")}
    pactl = ["pactl", f"--server={s.address}"]

    def answer(*command):  # nothing when the server does not answer
        return subprocess.run(command, env=env, capture_output=True, text=True, timeout=10).stdout

    if server == "pulseaudio":
        (runtime / "default.pa").write_text(
            f"load-module module-native-protocol-unix auth-anonymous=1 socket={runtime}/native\n"
            f"load-module module-null-sink sink_name=tone format={encoding} rate={rate} channels={channels}\n"
            "set-default-source tone.monitor\n")
        servers = [(["pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1", f"-F{runtime}/default.pa"],
                    lambda: answer(*pactl, "info"))]  # each server, and what tells that it is ready
    else:
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"], stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True, env=env)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        # The sink exists from the daemon's start, and is the default source
        # before the PulseAudio server takes a client.
        (runtime / "pipewire/pipewire.conf.d").mkdir(parents=True)
        (runtime / "pipewire/pipewire.conf.d/tone.conf").write_text(
            "context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink node.name = tone "
            f"media.class = Audio/Sink audio.format = {'F32' if 'float' in encoding else 'S16'} audio.rate = {rate} "
            f"audio.channels = {channels} audio.position = [ {'FL FR' if channels == 2 else 'MONO'} ] }} }} ]\n")
        (runtime / "wireplumber").mkdir()
        (runtime / "wireplumber/default-nodes").write_text("[default-nodes]\ndefault.configured.audio.source=tone\n")
        servers = [(["pipewire"], lambda: answer("pw-cli", "info", "0")),
                   (["wireplumber"], lambda: "default.audio.source" in answer("pw-metadata", "-n", "default")),
                   (["pipewire-pulse"], lambda: answer(*pactl, "info"))]

    def start():
        for command, ready in servers:
            s.servers.append(subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            check(wait(ready, 10), f"{command[0]} did not start")
        # pacat's short latency keeps the null sink from rendering seconds ahead of
        # a new listener; a raised priority keeps a busy machine from starving it.
        s.tone = subprocess.Popen(["nice", "-n", "-10", "sh", "-c", (
            f"sox -D -n -t raw -r {rate} {'-e float -b 32' if 'float' in encoding else '-e signed -b 16'} "
            f"-c {channels} - synth 600 sine 997 vol 0.5 {'remix 1 1v0.5' if channels == 2 else ''} | pacat "
            f"--server={s.address} --device=tone --format={encoding} --rate={rate} --channels={channels} "
            "--latency-msec=500")], start_new_session=True, stderr=subprocess.DEVNULL)
        check(wait(lambda: answer(*pactl, "list", "short", "sink-inputs"), 10), "the tone did not start")
        time.sleep(1)  # the sink settles; a new listener then gets its first data at once

    def kill():
        if s.tone:
            os.killpg(s.tone.pid, signal.SIGTERM)
            s.tone.wait()
            s.tone = None
        while s.servers:
            s.servers[-1].kill()
            s.servers.pop().wait()

    def suspend(on):
        if server == "pulseaudio":
            answer(*pactl, "suspend-sink", "tone", str(int(on)))
        else:  # PipeWire does not suspend a sink in use: its PulseAudio server stalls instead
            s.servers[-1].send_signal(signal.SIGSTOP if on else signal.SIGCONT)

    s.start, s.kill, s.suspend = start, kill, suspend
    try:
        start()
        yield s
    finally:
        kill()
        if server != "pulseaudio":
            bus.kill()
            bus.wait()


class Program:
    def __init__(self, setting, work):  # setting: kind, binary, helper, artifacts as on the command line
        (self.kind, self.binary, self.helper, self.artifacts), self.work, self.process = setting, work, None

    def spell(self, path):
        return str(path) if self.kind == "linux" else "Z:" + str(path).replace("/", "\\")

    def launch(self, name, server, **settings):
        env = dict(os.environ, **settings, PULSE_SERVER=server, QT_QPA_PLATFORM="xcb", QT_PLUGIN_PATH=str(self.helper),
                   QT_QPA_GENERIC_PLUGINS="quorveltexts", QUORVEL_TEXTS=str(self.work / "texts"),
                   # No session bus: none is launched for the X display and left behind.
                   DBUS_SESSION_BUS_ADDRESS=f"unix:path={self.work}/no-bus")
        if reader_bus and name.startswith("complete_take"):  # this take is also read as a screen reader does
            env.update(DBUS_SESSION_BUS_ADDRESS=reader_bus.address, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        if "nonexistent" in server:  # nor may Wine find a device some other way
            env["WINEDLLOVERRIDES"] = env.get("WINEDLLOVERRIDES", "") + ";winealsa.drv,wineoss.drv=d"
        command = [self.binary] if self.kind == "linux" else ["wine", self.binary]
        self.process = subprocess.Popen(command, cwd=self.work, env=env, stderr=subprocess.STDOUT,
                                        stdout=open(self.artifacts / f"{self.kind}-{name}.log", "w"))
        self.window = find(CAPTION, 60)
        return check(self.window, f"{name}: no window captioned {CAPTION!r}")

    def texts(self):
        # The texts each visible window shows, by window title.
        texts = self.work / "texts"
        shown = run("wine", self.helper) if self.kind == "wine" else texts.read_text() if texts.exists() else ""
        return {line.split("\t")[0]: line.split("\t")[1:] for line in shown.splitlines()}

    def status(self):
        return (self.texts().get(CAPTION) or [""])[0]

    def wait_status(self, expected, seconds=15):
        return check(wait(lambda: shows(self.status(), expected), seconds), f"status {self.status()!r}, not {expected!r}")

    def unheard(self):
        # What a screen reader does not read as it should while the tone plays: the controls by name, the level
        # meter a progress bar at about 26 % (the bar's 90 of 340 px), the peak label as the spectrum's description.
        if self.kind == "linux":
            shown = subprocess.run(["/usr/bin/python3", "-c", READER], capture_output=True, text=True, timeout=30,
                                   env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=reader_bus.address)).stdout
        else:
            shown = run("wine", self.helper, "reader")
        found = {fields[1]: fields for fields in (line.split("\t") for line in shown.splitlines()) if len(fields) == 4}
        faults = [f"no {name!r}" for name in ("Start Recording", "Stop", "Recording...", "Waveform") if name not in found]
        level, spectrum = found.get("Level", [""] * 4), found.get("Spectrum", [""] * 4)
        # Wine 8 stubs the dynamic annotation the program uses: there the value and description go unread.
        if self.kind == "linux" or "annotation" not in run("wine", self.helper, "support"):
            faults += [f"level read as {level}"] * (level[0] != "progress bar" or
                                                    not 20 <= float(level[3].rstrip("%") or -1) <= 32)
            faults += [f"spectrum read as {spectrum}"] * (not re.fullmatch(r"Peak: 99\d\.\d Hz", spectrum[2]))
        return faults

    def click(self, at):
        run("xdotool", "mousemove", "--window", self.window, *at, "click", "1")

    def dialog(self, start=True):
        # Clicks Start; the Save As dialog must propose output.wav, whatever the last take was called.
        if start:
            self.click(START)
        if check(dialog := find("Save As"), "no Save As dialog"):
            check(wait(lambda: "output.wav" in self.texts().get("Save As", []), 10), "output.wav is not proposed")
        return dialog

    def save_as(self, path, start=True):
        if not (dialog := self.dialog(start)):
            return False
        # xdotool lends each non-ASCII character a spare key code and takes it
        # back soon after; a busy program may miss one, so it is typed again, slower.
        spelled, folder = self.spell(path), len(self.spell(path.parent)) + 1
        for delay in (100, 300, 1000):
            run("xdotool", "windowfocus", "--sync", dialog)
            run("xdotool", "key", "ctrl+a")
            run("xdotool", "type", "--delay", 15, spelled[:folder])
            run("xdotool", "type", "--delay", delay, spelled[folder:])
            if wait(lambda: spelled in self.texts().get("Save As", []), 3):
                break
        return dismiss(dialog, "Save As", "Return")

    def close(self, seconds=20):
        send_close(self.window)
        wait(lambda: self.process.poll() is not None, seconds)
        check(self.process.returncode == 0, f"exit code {self.process.returncode} after the close")

    def judge(self, path, min_seconds, max_seconds, rate=48000, channels=2, jumps=0, silence=0):
        fault = check_take(path, rate, channels, min_seconds, max_seconds, jumps, silence) \
            if path.exists() else "no file"
        check(not fault, f"{path.name}: {fault}")

    def panels(self):
        # Pixels of the level bar's, waveform's, spectrum's and peak marker's colours in their panels.
        rgb = subprocess.run(["import", "-window", self.window, "-crop", "384x231+0+0", "-depth", "8", "rgb:-"],
                             capture_output=True).stdout

        def pixels(colour, x, y, width, height):
            return sum(rgb[3 * (384 * row + col):3 * (384 * row + col) + 3] == colour
                       for row in range(y, y + height) for col in range(x, x + width))

        return (pixels(b"\x00\xc8\x00", 20, 90, 340, 20), pixels(b"\x00\x96\xff", 20, 120, 340, 40),
                pixels(b"\xdc\x78\x3c", 20, 170, 340, 40), pixels(b"\xff\x28\x28", 30, 170, 8, 40))

    def shows_tone(self):
        # Levels of 0.35 and 0.18 RMS average to a bar of about 90 of 340 px;
        # 1,000 Hz is bin 1,365 of 32,768 at 48 kHz, a 2 px marker at x = 34.
        level, waveform, spectrum, marker = self.panels()
        return 85 * 20 <= level <= 95 * 20 and min(waveform, spectrum) >= 300 and marker >= 60


# Each scenario gets a program just launched in a fresh folder, playing the
# tone through a server of its own unless it says otherwise; a program still
# running afterwards is closed and must exit 0.
def complete_take(p, work, sound):
    if dialog := p.dialog():  # Cancel first: nothing written, status as before
        dismiss(dialog, "Save As", "Escape")
        p.wait_status("Ready", 5)
        check(not list(work.glob("*.wav")), "Cancel left a file")
    began = time.monotonic()
    if p.save_as(take := work / "take.wav") and p.wait_status("Recording..."):
        # Looked at once a second: the driver must not take the program's processor time.
        check(wait(p.shows_tone, 10, 1),
              f"the panels do not show the tone: level bar, waveform, spectrum, marker pixels {p.panels()}")
        if reader_bus or p.kind == "wine":
            check(wait(lambda: not p.unheard(), 10, 1), f"a screen reader: {p.unheard()}")
        time.sleep(1)  # a take of a few seconds
        p.click(START)
        check(not find("Save As", 1), "Start during the take opened a dialog")
        p.click(STOP)
        p.wait_status("Saved to: " + p.spell(take))
        # A new listener of an idle null sink may get its first data up to 2 s late.
        p.judge(take, 1.5, time.monotonic() - began + 0.5)
        dismiss(p.dialog(), "Save As", "Escape")


def keys_then_unwritable(p, work, sound):
    # No mouse: Space on Start, a path of 200 characters or more typed without ".wav", Enter, then Tab, Shift+Tab
    # and Tab again to Stop, Space. The status must still show the outcome and the file name. Windows adds ".wav".
    deep = work.joinpath("names", *[f"a folder of takes with a rather long name, number {i}" for i in range(3)])
    deep.mkdir(parents=True)
    run("xdotool", "windowfocus", "--sync", p.window)
    run("xdotool", "key", "space")
    typed = deep / "Aufnahme-äöü-日本"
    take = typed.with_name(typed.name + ".wav" * (p.kind == "wine"))
    if p.save_as(typed, start=False) and p.wait_status("Recording..."):
        time.sleep(1.5)
        run("xdotool", "windowfocus", "--sync", p.window)  # what a window manager does when the dialog goes
        run("xdotool", "key", "--delay", 100, "Tab", "shift+Tab", "Tab", "space")
        if p.wait_status(saved := "Saved to: " + p.spell(take)):
            s = p.status()
            check(s != saved and s.startswith("Saved to: ") and s.endswith(take.name), f"long path shown as {s!r}")
        check(os.listdir(deep) == [take.name], f"written: {os.listdir(deep)}")
        p.judge(take, 0.5, 10)
    missing = Path("/nonexistent/dir/x.wav")
    if p.save_as(missing) and check(box := find("Error"), "no error box for a missing folder"):
        check(wait(lambda: "Cannot open file for writing" in p.texts().get("Error", []), 5), f"box: {p.texts()}")
        check(not shows(s := p.status(), "Saved to: " + p.spell(missing)), f"status {s!r} while the error box is open")
        dismiss(box, "Error", "Return")
        p.wait_status("Cannot open file for writing: " + p.spell(missing))


def close_during_take(p, work, sound):
    # Closing waits for the take, writes all of it and exits 0.
    began = time.monotonic()
    if p.save_as(take := work / "closed.wav") and p.wait_status("Recording..."):
        time.sleep(2)
        if suspend := p.kind == "linux":  # a device that delivers nothing is reported, and then its return
            sound.suspend(True)  # a monitor is not suspended alone: the sink is
            check(wait(lambda: any(shows(p.status(), f"{STALLED}{n} s") for n in range(2, 11)), 10),
                  f"status {p.status()!r} with the device suspended")
            sound.suspend(False)
            p.wait_status("Recording...")
        # A suspended sink drops what it held: the tone jumps once. A stalled PipeWire server may leave a
        # hole instead, which the take keeps as silence: a jump at each end.
        p.close()
        p.judge(take, 1.0, time.monotonic() - began + 0.5, sound.rate, sound.channels, jumps=suspend * sound.jumps)


def full_disk(p, work, sound):
    # A take the disk cannot hold goes on in memory; what the disk took stays a valid WAV of the take's start
    # until the whole take is safe elsewhere: saved where the user says after Stop, or, when the session ends
    # first (SIGTERM; under Wine a logoff while the user is asked), beside the home folder on another disk.
    (full := work / "full").mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=300k", "tmpfs", full], capture_output=True).returncode:
        skipped.append("full_disk: no tmpfs can be mounted here")
        return print("SKIPPED:", skipped[-1])
    (home := work / "home").mkdir()
    try:
        for ending in ("Stop", "SIGTERM" if p.kind == "linux" else "end-session"):
            if ending != "Stop" and (p.close() or not p.launch(f"full_disk-{ending}", sound.address, HOME=str(home))):
                return
            if not (p.save_as(take := full / f"{ending}.wav") and p.wait_status("Recording...")):
                continue
            began = time.monotonic()
            # 192 KB a second: the disk is full within two seconds, and the take goes on.
            trouble = f"Recording... could not write {p.spell(take)}: the take is kept in memory, {p.spell(take)} keeps its first "
            kept = lambda: re.search(r"keeps its first (\d+\.\d) s$", p.status())
            check(wait(lambda: kept() and shows(p.status(), trouble + kept()[1] + " s"), 10), f"status {p.status()!r}")
            p.judge(take, 0.2, time.monotonic() - began + 1)  # what the disk took
            time.sleep(1)
            if ending == "SIGTERM":
                p.process.send_signal(signal.SIGTERM)
            else:
                p.click(STOP)
            recorded = time.monotonic() - began
            if ending == "SIGTERM" or not check(box := find("Take not saved"), "no box offers to save elsewhere"):
                pass
            elif ending == "end-session":
                run("wine", "wineboot", "--end-session")
            else:
                dismiss(box, "Take not saved", "Return")  # saving elsewhere is the default
                if p.save_as(good := work / "good.wav", start=False):
                    p.wait_status("Saved to: " + p.spell(good))
            if ending != "Stop":
                check(wait(lambda: p.process.poll() is not None, 20), f"{ending} did not end the program")
                check(ending != "SIGTERM" or p.process.returncode == 0, f"exit code {p.process.returncode}")
                profile = home if p.kind == "linux" else Path(os.environ["WINEPREFIX"], "drive_c/users")
                good = next(profile.rglob(f"{ending}.recovered*.wav"), home / "no recovered take")
            p.judge(good, recorded - 1.5, recorded + 2.5)
            good.unlink(missing_ok=True)
            check(not os.listdir(full), f"left on the full disk after {ending}: {os.listdir(full)}")
    finally:
        subprocess.run(["umount", "--lazy", full])


def file_goes(p, work, sound):
    # The take's folder deleted halfway (a user tidying up), then in a second take the file alone: the status
    # says so at once, the take goes on in memory, and after Stop the whole take is saved where the user says.
    for n, remove in enumerate((lambda take: shutil.rmtree(take.parent), lambda take: take.unlink())):
        (work / f"takes{n}").mkdir()
        if p.save_as(take := work / f"takes{n}" / "take.wav") and p.wait_status("Recording..."):
            began = time.monotonic()
            time.sleep(1.5)
            remove(take)
            p.wait_status(f"Recording... {p.spell(take)} was deleted or moved: the take is kept in memory", 5)
            p.click(STOP)
            recorded = time.monotonic() - began
            if check(box := find("Take not saved"), "no box offers to save the take elsewhere"):
                dismiss(box, "Take not saved", "Return")
                if p.save_as(good := work / f"good{n}.wav", start=False):
                    p.wait_status("Saved to: " + p.spell(good))
                    p.judge(good, recorded - 1.5, recorded + 2.5)


def ends_of_takes(p, work, sound):
    # What a logout or `systemctl stop`, Ctrl+C and a closed terminal send, and under Wine Ctrl+C in the console
    # and a logoff or an update's restart (WM_QUERYENDSESSION and WM_ENDSESSION, then the process is ended):
    # the take's file is finished up to that moment, then exit 0. Nothing can finish the file of a killed
    # program: it is still a valid WAV of all but about the last second.
    # An installer or an update (the Restart Manager) ends just this program ("closeapp"): it closes itself and exits 0.
    ending = ("SIGTERM", "SIGINT", "SIGHUP", "SIGKILL") if p.kind == "linux" else \
        ("SIGINT", "end-session", "closeapp", "SIGKILL")
    for n, name in enumerate(ending):
        if n and not p.launch(f"ends_of_takes-{name}", sound.address):
            return
        if p.save_as(take := work / f"{name}.wav") and p.wait_status("Recording..."):
            # Timed by the file's own writes: a device's first data may come late.
            synced, written = after_a_write(take)
            time.sleep(2.5 if name == "SIGKILL" else 0.5)  # time that only a finished file holds
            sent = time.monotonic()
            if name == "end-session":
                run("wine", "wineboot", "--end-session")
            elif name == "closeapp":
                run("wine", p.helper, "closeapp")
            else:
                p.process.send_signal(getattr(signal, name))
            if not check(wait(lambda: p.process.poll() is not None, 20), f"{name} did not end the program"):
                p.process.kill()
                p.process.wait()
            if name != "end-session":  # the system ends the process
                check(p.process.returncode == (-9 if name == "SIGKILL" else 0), f"exit code {p.process.returncode}")
            # What came until the program was told, and no more than came until it had exited, give or take
            # the half second the tone's server may hold back from a new listener and hand over late.
            p.judge(take, written + sent - synced - (1.3 if name == "SIGKILL" else 0.3),
                    written + time.monotonic() - synced + 1)


def data_seconds(path, rate=48000, channels=2):
    # Seconds of sound in a take's file as it is on disk right now.
    return max(path.stat().st_size - 44, 0) / (2 * rate * channels) if path.exists() else 0


def after_a_write(take):
    # Waits for the growing file's next write: returns when it came and the seconds the file held then,
    # which is then all that was captured. The next write is a second away.
    written = wait(lambda: data_seconds(take), 10, 0.02)
    wait(lambda: data_seconds(take) != written, 3, 0.02)
    return time.monotonic(), data_seconds(take)


def no_sound_server(p, work, sound):
    if p.save_as(take := work / "never.wav"):
        p.wait_status("Nothing recorded: cannot open the audio capture device")
        check(not take.exists(), "a file was written without a sound server")


RECONNECTING = "Recording... reconnecting to the audio device"


def server_restarted(p, work, sound):
    # A server that dies and comes back 2 s later with the same sink (a crash,
    # a restarted PipeWire): the take goes on in the same file, the 2 s kept as
    # silence and counted as one gap.
    began = time.monotonic()
    if p.save_as(take := work / "restarted.wav") and p.wait_status("Recording..."):
        synced, written = after_a_write(take)
        time.sleep(1)
        sound.kill()
        p.wait_status(RECONNECTING, 5)
        time.sleep(2)
        sound.start()
        def tone_back():  # the panels keep the last picture until new input comes: the file tells
            data = take.read_bytes()  # brought up to date every second
            return bytes(3 * sound.rate * sound.channels) in data and max(map(abs, array.array("h", data[-8000:]))) > 999
        if p.wait_status("Recording...") and check(wait(tone_back, 10, 0.5), "the tone did not come back"):
            p.click(STOP)
            stopped = time.monotonic()
            p.wait_status(f"Saved to: {p.spell(take)} (1 gap in the input)")
            # The outage's silence runs until the new stream's first sample: no time is missing. As when an
            # input is switched, the new null sink may hand its first listener up to its latency ahead at once.
            length, wall = data_seconds(take, sound.rate, sound.channels), written + stopped - synced
            check(-0.2 <= length - wall <= 1, f"{take.name}: {length:.2f} s long, {wall:.2f} s by the wall clock")
        # The tone breaks where the server died and where it came back.
        p.judge(take, 3, time.monotonic() - began, sound.rate, sound.channels, jumps=2, silence=1.9)


def held_up(p, work, sound):
    # The thread that writes the take held 3 s in one write (a slow USB stick, the kernel throttling a large
    # copy) loses nothing: the server keeps 5 s of input for it. Held 8 s it loses input: the take says so,
    # and the tone jumps there. Then the server hangs: that does not hold the take's end up.
    began = time.monotonic()
    if p.save_as(take := work / "held.wav") and p.wait_status("Recording..."):
        tasks = Path(f"/proc/{p.process.pid}/task")
        tid = next((t.name for t in tasks.iterdir() if (t / "comm").read_text().strip() == "quorvel-capture"), "")
        for held in (3, 8):
            time.sleep(1.5)  # a loss is told once the program has caught up
            unbroken = data_seconds(take)  # before the long hold: the short one broke nothing
            # The next write, due within a second, is held.
            tracer = subprocess.run(["timeout", "-s", "INT", str(held + 1.5), "strace", "-qq", "-p", tid, "-e",
                                     "trace=pwrite64", "-e", f"inject=pwrite64:delay_enter={held * 1000000}:when=1"],
                                    capture_output=True, text=True)
            check("pwrite64" in tracer.stderr, f"no write held: {tracer.stderr[-300:]!r}")
        time.sleep(1.5)
        sound.servers[-1].send_signal(signal.SIGSTOP)
        p.click(STOP)
        # The server, and libpulse behind it, may each have thrown input away: one loss or two, each told.
        told = [f"Saved to: {p.spell(take)} ({n} in the input)" for n in ("1 gap", "2 gaps")]
        check(wait(lambda: any(shows(p.status(), t) for t in told), 3), f"status {p.status()!r}, not {told}")
        sound.servers[-1].send_signal(signal.SIGCONT)
        p.judge(take, 1.5, time.monotonic() - began, jumps=2)
        start = array.array("h", take.read_bytes()[44:44 + int(unbroken * 48000) * 4])[::2]
        check(not (fault := tone_problem(start, 48000)), f"{take.name}, before the long hold: {fault}")


def tones(path, rate=48000, channels=2):
    # The tones of the left channel lasting 0.5 s or more, in turn: 997, 440 or "?" (anything but silence).
    track, step, runs = array.array("h", path.read_bytes()[44:])[::channels], rate // 20, []
    for at in range(0, len(track) - step + 1, step):  # 50 ms at a time
        window = track[at:at + step]
        hz = sum((window[i - 1] < 0) != (window[i] < 0) for i in range(1, step)) * 10
        runs.append(None if max(map(abs, window)) < 100 else next((t for t in (997, 440) if abs(hz - t) < 30), "?"))
    lasting = [t for n, t in enumerate(runs) if t and runs[n:n + 10] == [t] * 10]
    return [t for n, t in enumerate(lasting) if not n or lasting[n - 1] != t]


def devices_go(p, work, sound):
    # Two inputs made by the server from the monitors of two sinks that play 997 Hz and 440 Hz. The first
    # take's input goes while the second is the default: the take carries on from the second, says so, counts
    # one gap and keeps its wall-clock length. The second take's input goes with only monitors left: it waits
    # for an input as for a missing device, then ends, recording no monitor meanwhile.
    pactl = lambda *args: run("pactl", f"--server={sound.address}", *args)
    pactl("load-module", "module-null-sink", "sink_name=tone2", f"rate={sound.rate}")
    subprocess.Popen(["sh", "-c", f"sox -D -n -t raw -r {sound.rate} -e signed -b 16 -c 1 - synth 600 sine 440 | "
                      f"pacat --server={sound.address} --device=tone2 --format=s16le --rate={sound.rate} "
                      "--channels=1 --latency-msec=50"], stderr=subprocess.DEVNULL)  # ends with the server
    names = {"mic1": "Erstes Mikrofon", "mic2": "Zweites Mikrofon"}
    modules = {name: pactl("load-module", "module-remap-source", f"source_name={name}", f"master={master}",
                           f"source_properties=\"device.description='{names[name]}'\"")
               for name, master in (("mic1", "tone.monitor"), ("mic2", "tone2.monitor"))}
    pactl("set-default-source", "mic1")
    if p.save_as(take := work / "switched.wav") and p.wait_status("Recording..."):
        synced, written = after_a_write(take)
        time.sleep(1)
        pactl("set-default-source", "mic2")
        pactl("unload-module", modules["mic1"])
        p.wait_status(f"Recording... now from {names['mic2']}: the {names['mic1']} went away", 5)
        time.sleep(2)
        p.click(STOP)
        stopped = time.monotonic()
        check(wait(lambda: p.status().startswith("Saved to: ") and p.status().endswith("1 gap in the input)"), 10),
              f"status {p.status()!r} after the switch")
        length, wall = data_seconds(take, sound.rate, sound.channels), written + stopped - synced
        # No time is missing; a busy null sink may hand the new input's listener up to its latency ahead at once.
        check(-0.2 <= length - wall <= 1, f"{take.name}: {length:.2f} s long, {wall:.2f} s by the wall clock")
        check(tones(take) == [997, 440], f"{take.name}: tones {tones(take)}, not 997 Hz then 440 Hz")
    if p.save_as(take := work / "lost.wav") and p.wait_status("Recording..."):
        time.sleep(1.5)
        pactl("unload-module", modules["mic2"])  # the sinks' monitors are left
        p.wait_status(RECONNECTING, 5)
        p.wait_status(f"Saved to: {p.spell(take)} (the audio device \"{names['mic2']}\" was lost: recording stopped; "
                      "no audio capture device is connected)", 20)
        check(tones(take) == [440], f"{take.name}: tones {tones(take)}, not 440 Hz alone")


def on_pipewire(*runs):
    # The same scenarios against PipeWire's PulseAudio server, named apart;
    # QUORVEL_E2E_PIPEWIRE=0 leaves them to another build.
    if os.environ.get("QUORVEL_E2E_PIPEWIRE") == "0":
        return []
    if missing := [t for t in ("pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon") if not shutil.which(t)]:
        return skipped.append("PipeWire: not installed: " + " ".join(missing)) or []
    return [(scenario, (*(sink or ("float32le", 48000, 2)), "pipewire")) for scenario, sink in runs]


def prepare(kind, binary):
    # An X display of our own, and for Wine the build tree's prefix; returns the X server, or None
    # (printed why) when a tool is missing.
    tools = ["Xvfb", "xdotool", "import", "pulseaudio", "pactl", "pacat", "sox", "strace"] + ["wine"] * (kind == "wine")
    if missing := [t for t in tools if not shutil.which(t)]:
        return print("skipped: not installed:", *missing)
    if kind == "wine":  # a prefix takes half a minute or more to create: once per build tree
        os.environ.setdefault("WINEPREFIX", str(binary.parent / "wineprefix"))
        os.environ.update(WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        if not Path(os.environ["WINEPREFIX"], "system.reg").exists():
            subprocess.run(["wineboot", "-i"], capture_output=True)
            subprocess.run(["wineserver", "-w"])
    # -noreset: by default the server resets when its last client leaves and
    # refuses a program that connects just then.
    display_pipe = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(display_pipe[1]), "-screen", "0", "1024x768x24", "-nolisten",
                             "tcp", "-noreset"], pass_fds=[display_pipe[1]], stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":" + os.read(display_pipe[0], 16).decode().strip()
    if kind == "linux" and subprocess.run(["/usr/bin/python3", "-c", "import pyatspi"]).returncode == 0:
        global reader_bus  # at-spi2-core's bus launcher is started on it when the program asks
        reader_bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                      stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        reader_bus.address = reader_bus.stdout.readline().strip()
    elif kind == "linux":
        skipped.append("screen reader: not installed: python3-pyatspi")
    return xvfb


def main():
    kind, binary, helper, artifacts = setting = sys.argv[1], *(Path(a).resolve() for a in sys.argv[2:5])
    if not (xvfb := prepare(kind, binary)):
        return 77
    artifacts.mkdir(parents=True, exist_ok=True)
    # On Linux the closed take comes from a mono s16 44.1 kHz sink.
    close_sink = ("s16le", 44100, 1) if kind == "linux" else ("float32le", 48000, 2)
    scenarios = [(complete_take, ()), (keys_then_unwritable, ()), (close_during_take, close_sink), (full_disk, ()),
                 (no_sound_server, None)]
    if kind == "linux":
        scenarios += [(file_goes, ()), (server_restarted, ()), (held_up, ()), (devices_go, ())]
        scenarios += on_pipewire((complete_take, ()), (close_during_take, close_sink), (server_restarted, ()),
                                 (held_up, ()), (devices_go, ()))
    scenarios += [(ends_of_takes, ())]
    if only := os.environ.get("QUORVEL_E2E_ONLY"):  # one scenario, by its name
        scenarios = [run for run in scenarios if run[0].__name__ == only]
    for scenario, sink in scenarios:
        name = scenario.__name__ + "_on_pipewire" * ("pipewire" in (sink or ()))
        print("---", name, flush=True)
        with tempfile.TemporaryDirectory(prefix="quorvel-e2e.") as work, \
                (sound(work, *sink) if sink is not None else contextlib.nullcontext()) as s:
            p = Program(setting, Path(work))
            try:
                if p.launch(name, s.address if s else f"unix:{work}/nonexistent"):
                    scenario(p, Path(work), s)
                    if p.process.poll() is None:
                        p.close()
            except Exception as error:  # a tool that hung, a file never written
                check(False, f"{name}: {error!r}")
            if p.process and p.process.poll() is None:
                p.process.kill()
                p.process.wait()
                if kind == "wine":  # whatever else still runs in the prefix
                    subprocess.run(["wineserver", "-k"])
    xvfb.kill()
    if reader_bus:  # and with it what it launched
        reader_bus.kill()
        reader_bus.wait()
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print(f"skipped: {'; '.join(skipped)}" if skipped else "all end-to-end checks passed")
    return 77 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
