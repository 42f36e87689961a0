"""What the measuring scripts share: a private PulseAudio server whose null sink
plays a steady tone and whose monitor is the default source, an Xvfb display,
the program driven through its window as a user would, and figures read from
/proc. Figures to read, never a test: nothing here runs in CI."""
import ctypes
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
LINUX_PROGRAM = ROOT / "build/linux-release/platform/linux/quorvel"
WINDOWS_PROGRAM = ROOT / "build/windows/platform/win32/quorvel.exe"
SINK = "bench_sink"
MONITOR = SINK + ".monitor"
# Just off 1 kHz, as in the tests: a lost 10 ms packet breaks the sine.
TONE_HZ = 997
CAPTION = "Quorvel: Thread-Safe GUI 64K FFT"
START_BUTTON = (90, 35)
STOP_BUTTON = (220, 35)
# The level meter panel at the window's client coordinates: x, y, width, height.
LEVEL_METER = (20, 90, 340, 20)
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
# Debian package of each tool the scripts call.
PACKAGES = {"pulseaudio": "pulseaudio", "pactl": "pulseaudio-utils", "pacat": "pulseaudio-utils",
            "parecord": "pulseaudio-utils", "Xvfb": "xvfb", "xdotool": "xdotool", "sox": "sox",
            "cava": "cava", "strace": "strace", "wine": "wine", "wineboot": "wine", "sha256sum": "coreutils"}


def install_missing(*tools):
    missing = sorted({PACKAGES[t] for t in tools if shutil.which(t) is None})
    if missing:
        print("installing " + " ".join(missing), flush=True)
        subprocess.run(["apt-get", "update", "-q"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["apt-get", "install", "-y", "-q", *missing], check=True, stdout=subprocess.DEVNULL)


def build_linux_program():
    if not LINUX_PROGRAM.exists():
        subprocess.run(["cmake", "--preset", "linux-release"], cwd=ROOT, check=True)
        subprocess.run(["cmake", "--build", "--preset", "linux-release"], cwd=ROOT, check=True)
    return LINUX_PROGRAM


def wait_for(condition, seconds, what):
    """The condition's first true value, polled every 0.1 s."""
    deadline = time.monotonic() + seconds
    while not (value := condition()):
        if time.monotonic() > deadline:
            raise RuntimeError(f"gave up after {seconds} s waiting for {what}")
        time.sleep(0.1)
    return value


class Services:
    """Sound server, display and tone for one run; everything stops on exit.
    Services(tone=False) leaves the sink silent for a script that plays its own sound."""

    def __init__(self, tone=True):
        self.tone = tone

    def __enter__(self):
        self.dir = Path(tempfile.mkdtemp(prefix="quorvel-bench."))
        pulse = self.dir / "pulse"
        pulse.mkdir()
        self.env = dict(os.environ, XDG_RUNTIME_DIR=str(self.dir), PULSE_RUNTIME_PATH=str(pulse),
                        PULSE_SERVER=f"unix:{pulse}/native", QT_QPA_PLATFORM="xcb")
        config = self.dir / "default.pa"
        config.write_text(f"load-module module-native-protocol-unix auth-anonymous=1 socket={pulse}/native\n"
                          f"load-module module-null-sink sink_name={SINK} format=float32le rate=48000 channels=2\n"
                          f"set-default-sink {SINK}\nset-default-source {MONITOR}\n")
        self.children = []
        self.server = self.spawn(["pulseaudio", "--daemonize=no", "--system=false", "-n", "--exit-idle-time=-1",
                                  "--disallow-exit", "-F", str(config), f"--log-target=file:{self.dir}/pulse.log"])
        display = 90
        while Path(f"/tmp/.X11-unix/X{display}").exists() or Path(f"/tmp/.X{display}-lock").exists():
            display += 1
        self.spawn(["Xvfb", f":{display}", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
                   stderr=subprocess.DEVNULL)
        self.env["DISPLAY"] = f":{display}"
        wait_for(lambda: self.quiet(["pactl", "info"]) == 0 and Path(f"/tmp/.X11-unix/X{display}").exists(),
                 10, "PulseAudio and Xvfb")
        if self.tone:
            self.play(f"sox -q -D -n -t raw -r 48000 -e float -b 32 -c 2 - synth 86400 sine {TONE_HZ} vol 0.5")
        return self

    def play(self, source):
        """Plays into the sink what the shell command source writes: raw float32le, 48 kHz, stereo."""
        # pacat's short latency keeps the null sink from rendering seconds ahead of its listeners.
        # The sound stands in for a device, which a busy machine never starves:
        # its player runs at real-time priority, as the server's sink does.
        rt = "chrt -r 1 " if os.geteuid() == 0 else ""
        return self.spawn(f"{rt}{source} | {rt}pacat --latency-msec=200 --device={SINK} --format=float32le "
                          "--rate=48000 --channels=2", shell=True, start_new_session=True)

    def __exit__(self, *exc):
        for child in reversed(self.children):
            stop(child)
        shutil.rmtree(self.dir, ignore_errors=True)

    def spawn(self, command, **options):
        child = subprocess.Popen(command, env=self.env, **options)
        self.children.append(child)
        return child

    def quiet(self, command):
        return subprocess.run(command, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True).stdout

    def find_window(self, name, seconds):
        """Id of the first visible window named exactly name."""
        found = []

        def search():
            found[:] = self.xdotool("search", "--onlyvisible", "--name", f"^{name}$").split()
            return bool(found)

        wait_for(search, seconds, f"a window named '{name}'")
        return found[0]

    def window_origin(self, window):
        """Where the window's client area begins on the screen (no window manager runs: no frame)."""
        place = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell", window).split())
        return int(place["X"]), int(place["Y"])

    def start_take(self, window, path):
        """Start, then the path typed into the Save As dialog, as a user would."""
        self.xdotool("mousemove", "--window", window, *START_BUTTON, "click", "1")
        dialog = self.find_window("Save As", 30)
        self.xdotool("windowfocus", "--sync", dialog)
        time.sleep(0.3)
        self.xdotool("key", "ctrl+a")
        self.xdotool("type", "--delay", "15", path)
        self.xdotool("key", "Return")
        wait_for(lambda: not self.xdotool("search", "--onlyvisible", "--name", "^Save As$").strip(), 20,
                 "the Save As dialog to close")

    def stop_take(self, window):
        self.xdotool("mousemove", "--window", window, *STOP_BUTTON, "click", "1")


class XDisplay:
    """A connection of this process's own to the display, for what must be quicker
    than starting xdotool: a click sent through XTEST (the extension xdotool
    uses) and pixels read back from the screen."""

    def __init__(self, name):
        self.x = ctypes.CDLL("libX11.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x.XGetImage.restype = ctypes.c_void_p
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                     ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XGetPixel.restype = ctypes.c_ulong
        self.x.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.x.XDestroyImage.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.x.XOpenDisplay(name.encode())
        if not self.display:
            raise RuntimeError(f"cannot open the display {name}")
        self.root = self.x.XDefaultRootWindow(self.display)
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]

    def close(self):
        self.x.XCloseDisplay(self.display)

    def click(self):
        """Button 1 pressed and released where the pointer is; back once the server has both."""
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x.XSync(self.display, 0)

    def pixels(self, x, y, width, height):
        """The screen's pixels in that rectangle, row by row, as 0xRRGGBB."""
        all_planes, z_pixmap = 0xFFFFFFFF, 2
        image = self.x.XGetImage(self.display, self.root, x, y, width, height, all_planes, z_pixmap)
        if not image:
            raise RuntimeError("XGetImage failed")
        try:
            return [self.x.XGetPixel(image, i, j) for j in range(height) for i in range(width)]
        finally:
            self.x.XDestroyImage(image)


def stop(child):
    """Ends a child (its whole group if it leads one) and reaps it."""
    try:
        if os.getpgid(child.pid) == child.pid:
            os.killpg(child.pid, signal.SIGTERM)
        else:
            child.terminate()
        child.wait(10)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        child.kill()
        child.wait()


def wav_complete(path):
    """True once the file holds its header and every byte its data size announces."""
    try:
        with open(path, "rb") as f:
            header = f.read(44)
        size = os.path.getsize(path)
    except OSError:
        return False
    return len(header) == 44 and size > 44 and int.from_bytes(header[40:44], "little") + 44 == size


def cpu_ticks(stat_path):
    """utime + stime of a process or thread, in clock ticks."""
    fields = Path(stat_path).read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def context_switches(status_path):
    """Voluntary + involuntary context switches of one thread: each is a time
    it left the CPU, so roughly a wake-up."""
    fields = status_fields(status_path)
    return int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])


def thread_stats(pid):
    """{tid: (name, cpu ticks, context switches)} of every thread of a process."""
    threads = {}
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            threads[int(task.name)] = ((task / "comm").read_text().strip(), cpu_ticks(task / "stat"),
                                       context_switches(task / "status"))
        except (FileNotFoundError, ProcessLookupError):
            pass
    return threads


def status_fields(status_path):
    """The first word of each field of a /proc status file."""
    fields = {}
    for line in Path(status_path).read_text().splitlines():
        name, _, value = line.partition(":")
        fields[name] = value.split()[0] if value.split() else ""
    return fields


def status_kib(pid, field):
    """A /proc/<pid>/status figure such as VmHWM or VmRSS, in KiB."""
    return int(status_fields(f"/proc/{pid}/status").get(field, 0))
