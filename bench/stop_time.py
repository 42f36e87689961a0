#!/usr/bin/env python3
"""How long the user waits after Stop for a closed file: the Linux program
(release build) records the steady tone for each take length in turn, then
the Stop button is clicked while this script watches the program's file
descriptors (readlink of /proc/<pid>/fd/<n>, every --poll-ms) until none names
the take's file. The figure runs from just before the click is sent to the
first look that finds the file closed, so it includes the click.

The pointer is put on the button with xdotool beforehand; the timed click is
sent through XTEST from this process (the same events xdotool sends) and its
own time, up to the X server's reply, is printed beside the figure: the rest
is the program's. With --xdotool the click is `xdotool click 1` instead, whose
run time includes starting it and a 100 ms pause it makes after the click
before it exits, so that column then bounds the click's part from above only.

After the close the file must be a complete WAV, and it is watched for another
half second in case it is opened again (the figure is then the last close).
Each take runs in a fresh program.

usage: bench/stop_time.py [--lengths 2 20 60] [--rounds 3] [--poll-ms 0.2] [--xdotool]"""
import argparse
import os
import statistics
import subprocess
import threading
import time
from pathlib import Path

from desktop_session import (CAPTION, STOP_BUTTON, Services, XDisplay, build_linux_program, install_missing, stop,
                             wait_for, wav_complete)

TARGET_MS = 50
REOPEN_WATCH_S = 0.5


def descriptors_naming(pid, path):
    """The program's descriptors open on path, by number."""
    found = set()
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                found.add(fd)
        except OSError:  # closed between the listing and the readlink
            pass
    return found


def still_open(pid, path, fds):
    for fd in fds:
        try:
            if os.readlink(f"/proc/{pid}/fd/{fd}") == path:
                return True
        except OSError:
            pass
    return False


def stop_and_watch(services, window, pid, path, poll, use_xdotool):
    """Seconds from just before the click to the file closed, and the click's own time."""
    fds = descriptors_naming(pid, path)
    if not fds:
        raise RuntimeError(f"the program holds no descriptor of {path} before Stop")
    # The pointer is put on the button first, so the timed part only clicks.
    services.xdotool("mousemove", "--window", window, *STOP_BUTTON)
    clicked = []
    if use_xdotool:
        began = time.monotonic()
        click = subprocess.Popen(["xdotool", "click", "1"], env=services.env)
        waiter = threading.Thread(target=lambda: (click.wait(), clicked.append(time.monotonic())))
        waiter.start()
    else:
        display = XDisplay(services.env["DISPLAY"])
        began = time.monotonic()
        display.click()
        clicked.append(time.monotonic())
        display.close()
    closed = None
    while closed is None:
        if not still_open(pid, path, fds):
            closed = time.monotonic()
            # Opened again after all? Then the wait goes on until that closes too.
            watch_until = closed + REOPEN_WATCH_S
            while time.monotonic() < watch_until:
                if again := descriptors_naming(pid, path):
                    fds, closed = again, None
                    break
                time.sleep(poll)
            continue
        if time.monotonic() - began > 60:
            raise RuntimeError(f"{path} was still open 60 s after Stop")
        time.sleep(poll)
    if use_xdotool:
        waiter.join()
    return closed - began, clicked[0] - began


def one_take(services, binary, seconds, poll, use_xdotool):
    take = services.dir / "take.wav"
    take.unlink(missing_ok=True)
    program = services.spawn([str(binary)], cwd=services.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        window = services.find_window(CAPTION, 30)
        services.start_take(window, str(take))
        wait_for(lambda: descriptors_naming(program.pid, str(take)), 20, "the take's file to be open")
        time.sleep(seconds)
        closed, click = stop_and_watch(services, window, program.pid, str(take), poll, use_xdotool)
        complete = wav_complete(take)
        audio = (os.path.getsize(take) - 44) / 4 / 48000 if complete else 0.0
    finally:
        stop(program)
    return {"closed": closed, "click": click, "complete": complete, "audio": audio}


def spread(values, digits=0, scale=1000):
    middle = f"{statistics.median(values) * scale:.{digits}f}"
    return middle if len(values) == 1 else f"{middle} ({min(values) * scale:.{digits}f}–{max(values) * scale:.{digits}f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lengths", type=float, nargs="+", default=[2, 20, 60],
                        help="take lengths in seconds (default 2 20 60)")
    parser.add_argument("--rounds", type=int, default=3, help="takes per length (default 3)")
    parser.add_argument("--poll-ms", type=float, default=0.2,
                        help="pause between two looks at the descriptors (default 0.2 ms)")
    parser.add_argument("--xdotool", action="store_true",
                        help="click with `xdotool click 1` (its run time includes a 100 ms pause after the click)")
    args = parser.parse_args()
    install_missing("pulseaudio", "pactl", "pacat", "Xvfb", "xdotool", "sox")
    binary = build_linux_program()

    results = {length: [] for length in args.lengths}
    began = time.monotonic()
    with Services() as services:
        for round_number in range(1, args.rounds + 1):
            for length in args.lengths:
                results[length].append(one_take(services, binary, length, args.poll_ms / 1000, args.xdotool))
            print(f"round {round_number} of {args.rounds} measured ({time.monotonic() - began:.0f} s)", flush=True)

    print(f"\nMedian of {args.rounds} takes per length (lowest–highest), descriptors polled every "
          f"{args.poll_ms:g} ms (plus the time one look takes).\n")
    click = "xdotool's own run time" if args.xdotool else "the click's own time (XTEST, to the server's reply)"
    print(f"| take | Stop click to file closed, ms | target | {click}, ms | complete WAV files |")
    print("|---|---|---|---|---|")
    for length, runs in results.items():
        complete = sum(run["complete"] for run in runs)
        audio = statistics.median(run["audio"] for run in runs)
        print(f"| {length:g} s ({audio:.1f} s of audio) | **{spread([r['closed'] for r in runs])}** "
              f"| at most {TARGET_MS} | {spread([r['click'] for r in runs], 1)} | {complete} of {len(runs)} |")


if __name__ == "__main__":
    main()
