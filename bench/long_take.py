#!/usr/bin/env python3
"""A long take made as a user would, for lost sound and memory: the Linux
program (release build) or quorvel.exe under Wine records a steady tone for N
minutes, optionally while two busy processes load both cores; then Stop, the
file is checked for sample continuity, and the program's peak resident memory
is set against the take's bytes.

usage: bench/long_take.py [--program linux|wine] [--minutes 30] [--load] [--out FILE] [--own-check]"""
import argparse
import array
import math
import os
import re
import subprocess
import sys
import time
from pathlib import Path

from desktop_session import (CAPTION, MONITOR, ROOT, TONE_HZ, WINDOWS_PROGRAM, Services, build_linux_program, install_missing,
                             status_kib, stop, wait_for, wav_complete)

CHECKER = ROOT / "tests/tools/check_wav.py"
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


def checker_breaks(path, seconds):
    """Samples the tests' own checker flags as breaking the tone."""
    result = subprocess.run([sys.executable, str(CHECKER), str(path), "--freq", str(TONE_HZ),
                             "--min-seconds", str(max(seconds - 15, 1)), "--max-seconds", str(seconds + 30)],
                            capture_output=True, text=True)
    print(f"checked with {CHECKER.relative_to(ROOT)}: {(result.stdout + result.stderr).strip()}")
    if result.returncode == 0:
        return 0
    found = re.search(r"breaks (\d+) times", result.stdout)
    return int(found.group(1)) if found else None


def own_breaks(path):
    """A minimal continuity count on the left channel: a sine obeys
    x[n+1] = 2cos(w)x[n] - x[n-1], so a lost or repeated stretch breaks the
    recurrence; flagged samples within one 10 ms packet are one discontinuity.
    Silence before and after the tone is skipped."""
    samples = array.array("h")
    with open(path, "rb") as f:
        f.seek(44)
        samples.frombytes(f.read())
    if sys.byteorder == "big":
        samples.byteswap()
    left = samples[0::2]
    del samples
    peak = max(map(abs, left), default=0)
    if peak < 1000:
        print(f"checked with this script's own count: {path.name}: no tone (peak {peak})")
        return None
    period = RATE // TONE_HZ
    first = next(i for i in range(len(left)) if abs(left[i]) >= peak / 4) + period
    last = next(i for i in reversed(range(len(left))) if abs(left[i]) >= peak / 4) - period
    c = 2 * math.cos(2 * math.pi * TONE_HZ / RATE)
    limit = peak * 0.02 + 8
    flagged = [first + 1 + i for i, (a, b, d) in
               enumerate(zip(left[first:last - 1], left[first + 1:last], left[first + 2:last + 1]))
               if abs(d - c * b + a) > limit]
    events = [n for i, n in enumerate(flagged) if i == 0 or n - flagged[i - 1] > RATE // 100]
    print(f"checked with this script's own count: {path.name}: peak {peak}, {len(flagged)} flagged samples, "
          f"{len(events)} discontinuities" + (f", first at frames {events[:5]}" if events else ""))
    return len(events)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--program", choices=["linux", "wine"], default="linux")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--load", action="store_true", help="two sha256sum /dev/zero keep both cores busy meanwhile")
    parser.add_argument("--out", type=Path, help="the take's file (default /tmp/quorvel-long-take-PROGRAM.wav)")
    parser.add_argument("--own-check", action="store_true", help="count breaks here even if the checker exists")
    args = parser.parse_args()
    out = (args.out or Path(f"/tmp/quorvel-long-take-{args.program}.wav")).resolve()
    out.unlink(missing_ok=True)
    out.with_suffix(".reference.wav").unlink(missing_ok=True)
    install_missing("pulseaudio", "pactl", "pacat", "parecord", "Xvfb", "xdotool", "sox",
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
            pid = pid_of()
            print(f"recording {args.minutes:g} min with the {args.program} program (pid {pid})"
                  + (", both cores loaded" if load else ""), flush=True)
            for minute in range(1, int(args.minutes) + 1):
                time.sleep(max(0.0, began + 60 * minute - time.monotonic()))
                if program.poll() is not None:
                    sys.exit(f"the program ended during the take (exit code {program.returncode})")
                print(f"  {minute} min: resident {status_kib(pid, 'VmRSS') / 1024:.0f} MiB", flush=True)
            time.sleep(max(0.0, began + 60 * args.minutes - time.monotonic()))
            services.stop_take(window)
            wait_for(lambda: wav_complete(out), 300, "the take to be written")
            seconds = time.monotonic() - began
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
    if args.own_check or not CHECKER.exists():
        print(f"{CHECKER.relative_to(ROOT)} " + ("not used" if CHECKER.exists() else "not found"))
        breaks, reference_breaks = own_breaks(out), own_breaks(reference)
    else:
        breaks, reference_breaks = checker_breaks(out, seconds), checker_breaks(reference, seconds)
    print(f"\n{args.program} program, {args.minutes:g} min take{' under load' if args.load else ''}: {out}")
    print(f"  take: {data_bytes:,} bytes of samples ({data_bytes / 2**20:.1f} MiB, {data_bytes / 4 / RATE:.1f} s)")
    print(f"  peak resident memory (VmHWM): {peak_kib * 1024:,} bytes ({peak_kib / 1024:.1f} MiB), "
          f"{(peak_kib * 1024 - data_bytes) / 2**20:+.1f} MiB over the take")
    print(f"  breaks in the tone (flagged samples, or discontinuities with the own count): "
          f"{'unknown' if breaks is None else breaks}"
          f" (in parecord's copy of the same sound: {'unknown' if reference_breaks is None else reference_breaks})")


if __name__ == "__main__":
    main()
