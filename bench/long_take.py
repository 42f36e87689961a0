#!/usr/bin/env python3
"""A long take made as a user would, for lost sound and memory: the Linux
program (release build) or quorvel.exe under Wine records a steady tone for N
minutes, optionally while two busy processes load both cores; then Stop, the
file is checked for sample continuity, and the program's peak resident memory
is set against the take's bytes. The file grows with the take: strace times
every write to it, and the longest is how long one write held the recording
thread; after Stop, the time until the file is closed is how long the user
waits for a complete file.

usage: bench/long_take.py [--program linux|wine] [--minutes 30] [--load] [--out FILE]"""
import argparse
import array
import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests/tools"))
import wav_check  # noqa: E402  the tests' own tone and continuity check
from desktop_session import (CAPTION, MONITOR, ROOT, TONE_HZ, WINDOWS_PROGRAM, Services, build_linux_program, install_missing,
                             status_kib, stop, wait_for, wav_complete)

WINEPREFIX = Path("/tmp/quorvel-bench-wineprefix")
RATE = 48000


def launch(services, program, out):
    """The running program and a function giving the pid that holds the take."""
    log = open(out.with_suffix(".log"), "w")
    if program == "linux":
        child = services.spawn([str(build_linux_program())], cwd=out.parent, stdout=log, stderr=log)
        return child, lambda: child.pid
    if not WINDOWS_PROGRAM.exists():
        sys.exit(f"{WINDOWS_PROGRAM} is missing: cmake --preset windows && cmake --build --preset windows")
    services.env.update(WINEPREFIX=str(WINEPREFIX), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    if not (WINEPREFIX / ".quorvel-bench-ready").exists():
        print(f"initialising the Wine prefix {WINEPREFIX} (once)...", flush=True)
        subprocess.run(["wineboot", "-i"], env=services.env, stdout=log, stderr=log, check=True)
        subprocess.run(["wineserver", "-w"], env=services.env, check=True)
        (WINEPREFIX / ".quorvel-bench-ready").touch()
    child = services.spawn(["wine", str(WINDOWS_PROGRAM)], cwd=out.parent, stdout=log, stderr=log)
    return child, wine_process


def wine_process():
    """Of the processes whose command line names quorvel.exe, the largest."""
    candidates = []
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and b"quorvel.exe" in (entry / "cmdline").read_bytes():
                candidates.append((status_kib(entry.name, "VmRSS"), int(entry.name)))
        except OSError:
            pass
    return max(candidates)[1]


def file_descriptor(pid, path):
    """The program's descriptor of the take's file, or None once it is closed."""
    try:
        fds = list(Path(f"/proc/{pid}/fd").iterdir())
    except OSError:  # a Wine start-up process that is gone already
        return None
    for fd in fds:
        try:
            if os.readlink(fd) == str(path):
                return fd.name
        except OSError:
            pass
    return None


def trace_writes(pid, fd, log):
    """strace of the thread that writes the take (found by tracing them all for
    a few seconds), its writes and seeks timed; read back by longest_write.
    Tracing one thread keeps the others, the sound's among them, at full speed."""
    TRACED = ["strace", "-qq", "-ttt", "-T", "-e", "trace=write,pwrite64,writev,lseek", "-o", str(log)]
    finder = subprocess.Popen(TRACED + ["-f", "-p", str(pid)], stderr=subprocess.DEVNULL)
    time.sleep(3)  # the file is brought up to date every second
    stop(finder)
    writers = [line.split()[0] for line in Path(log).read_text(errors="replace").splitlines()
               if f"({fd}," in line and len(line.split()) > 2]
    if not writers:
        sys.exit("no thread was seen writing the take's file")
    return subprocess.Popen(TRACED + ["-p", writers[-1]], stderr=subprocess.DEVNULL)


def longest_write(log, fd):
    """Seconds of the longest single write to fd, and of the longest update: the
    writes and seeks to fd that follow each other within 10 ms."""
    longest = longest_update = 0.0
    began = ended = None
    for line in Path(log).read_text(errors="replace").splitlines():
        parts = line.split(None, 1)  # time, call: one thread, so no thread id
        parts = [None, *parts]
        if len(parts) < 3 or not parts[2].startswith(tuple(f"{c}({fd}," for c in ("write", "pwrite64", "writev", "lseek"))):
            continue
        call, at = parts[2], float(parts[1])
        took = float(call.rsplit("<", 1)[1].rstrip(">")) if call.endswith(">") else 0.0
        if not call.startswith("lseek"):
            longest = max(longest, took)
        if began is None or at - ended > 0.010:
            began = at
        ended = at + took
        longest_update = max(longest_update, ended - began)
    return longest, longest_update


def breaks_in(path):
    """What the tests' own checker finds in the tone of each channel."""
    samples = array.array("h")
    with open(path, "rb") as f:
        f.seek(44)
        samples.frombytes(f.read())
    found = [wav_check.tone_problem(samples[c::2], RATE) for c in range(2)]
    return "; ".join(problem or "no break" for problem in found)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", choices=["linux", "wine"], default="linux")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--load", action="store_true", help="two sha256sum /dev/zero keep both cores busy meanwhile")
    parser.add_argument("--out", type=Path, help="the take's file (default /tmp/quorvel-long-take-PROGRAM.wav)")
    args = parser.parse_args()
    out = (args.out or Path(f"/tmp/quorvel-long-take-{args.program}.wav")).resolve()
    out.unlink(missing_ok=True)
    out.with_suffix(".reference.wav").unlink(missing_ok=True)
    install_missing("strace", "pulseaudio", "pactl", "pacat", "parecord", "Xvfb", "xdotool", "sox",
                    *(["wine", "wineboot"] if args.program == "wine" else []))

    # parecord writes what the sound server delivered meanwhile: a break in both
    # files was in the tone itself (its player starved by the load), not lost
    # by the program.
    reference = out.with_suffix(".reference.wav")
    load = []
    with Services() as services:
        program, pid_of = launch(services, args.program, out)
        try:
            window = services.find_window(CAPTION, 60)
            recorder = services.spawn(["parecord", f"--device={MONITOR}", "--file-format=wav", "--format=s16le",
                                       "--rate=48000", "--channels=2", str(reference)])
            path = "Z:" + str(out).replace("/", "\\") if args.program == "wine" else str(out)
            services.start_take(window, path)
            wait_for(out.exists, 30, "the take's file")
            began = time.monotonic()
            if args.load:
                load = [subprocess.Popen(["sha256sum", "/dev/zero"], stdout=subprocess.DEVNULL) for _ in range(2)]
            pid, fd = wait_for(lambda: (pid := pid_of()) and (fd := file_descriptor(pid, out)) and (pid, fd), 30,
                               "the take's file to be open")
            tracer = trace_writes(pid, fd, out.with_suffix(".strace"))
            print(f"recording {args.minutes:g} min with the {args.program} program (pid {pid})"
                  + (", both cores loaded" if load else ""), flush=True)
            for minute in range(1, int(args.minutes) + 1):
                time.sleep(max(0.0, began + 60 * minute - time.monotonic()))
                if program.poll() is not None:
                    sys.exit(f"the program ended during the take (exit code {program.returncode})")
                print(f"  {minute} min: resident {status_kib(pid, 'VmRSS') / 1024:.0f} MiB", flush=True)
            time.sleep(max(0.0, began + 60 * args.minutes - time.monotonic()))
            stopped = time.monotonic()  # the click included: how long the user waits
            services.stop_take(window)
            while file_descriptor(pid, out) is not None and time.monotonic() - stopped < 300:
                time.sleep(0.001)
            closed = time.monotonic() - stopped
            wait_for(lambda: wav_complete(out), 10, "the take to be complete")
            stop(tracer)
            peak_kib = status_kib(pid, "VmHWM")
            stop(recorder)
        finally:
            for busy in load:
                stop(busy)
            stop(program)
            if args.program == "wine":
                subprocess.run(["wineserver", "-k"], env=services.env)

    with open(out, "rb") as f:
        data_bytes = int.from_bytes(f.read(44)[40:44], "little")
    print(f"\n{args.program} program, {args.minutes:g} min take{' under load' if args.load else ''}: {out}")
    print(f"  take: {data_bytes:,} bytes of samples ({data_bytes / 2**20:.1f} MiB, {data_bytes / 4 / RATE:.1f} s)")
    print(f"  peak resident memory (VmHWM): {peak_kib * 1024:,} bytes ({peak_kib / 1024:.1f} MiB), "
          f"{(peak_kib * 1024 - data_bytes) / 2**20:+.1f} MiB over the take")
    longest, update = longest_write(out.with_suffix(".strace"), fd)
    print(f"  longest write to the file: {longest * 1000:.2f} ms; longest update (samples, header, seeks): "
          f"{update * 1000:.2f} ms")
    print(f"  Stop to a complete, closed file: {closed * 1000:.0f} ms")
    print(f"  the tone, left and right: {breaks_in(out)}")
    print(f"  parecord's copy of the same sound: {breaks_in(reference)}")


if __name__ == "__main__":
    main()
