#!/usr/bin/env python3
"""The program's own share of the delay from a sound's onset to the level bar
on screen: the Linux program (release build) records a silent sink into which
this script plays tone bursts (997 Hz, vol 0.5) at random moments; each
onset is timed twice, on the same clock (CLOCK_MONOTONIC):

- T_reader: when `parec --latency-msec=5` on the same source (the sink's
  monitor) hands this script the first read holding a sample that is not
  silent;
- T_screen: when the level meter panel of the program's window, read back
  from the X server every --poll-ms, first shows anything but its empty look.

The figure per onset is T_screen − T_reader. The bursts are one stream
(silence, then a burst, then silence...) fed to the sink by one pacat that
never runs dry, so the onsets are not smeared by a starving sink; they are
--gap seconds or more apart, so the meter is back at zero before each.

The watcher runs in a process of its own and the reader in this one, both at
real-time priority when allowed, so neither waits on the other. T_screen is
the first look that finds the bar: the bar appeared at most one poll interval
earlier, and that interval (the look's own round trip to the X server
included) is printed as the error bound. The reader's own delay is estimated
from its stream: a sample is due at (its index / rate) plus the earliest
offset seen over all reads, and the onset's read is late by the position of
the onset in its packet plus the delivery.

usage: bench/onset_latency.py [--onsets 20] [--gap 1.0 2.0] [--poll-ms 1]"""
import argparse
import array
import math
import multiprocessing
import os
import random
import statistics
import subprocess
import time

from desktop_session import (CAPTION, LEVEL_METER, MONITOR, TONE_HZ, Services, XDisplay, build_linux_program,
                             install_missing, stop, wait_for, wav_complete)

TARGET_MS = 10
RATE = 48000
BURST_S = 0.3
LEAD_S = 2.0  # silence before the first burst, while the reader and watcher settle
# A sample this far from zero (of 32768) is sound: the silent sink gives zeros.
SOUND = 100
# The reader's clock offset is taken once the stream has settled.
SETTLED_S = 0.5


def realtime():
    """SCHED_FIFO for the calling process when allowed, so its timestamps are taken when due."""
    try:
        os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(1))
    except PermissionError:
        pass


def burst_stream(path, onsets, gap, seed):
    """Writes the played sound (float32le stereo) and returns the bursts' starting frames."""
    rng = random.Random(seed)
    tone = array.array("f", [0.0]) * int(BURST_S * RATE * 2)
    for i in range(int(BURST_S * RATE)):
        tone[2 * i] = tone[2 * i + 1] = 0.5 * math.sin(2 * math.pi * TONE_HZ * i / RATE)
    starts = []
    frame = int(LEAD_S * RATE)
    with open(path, "wb") as out:
        out.write(bytes(frame * 8))
        for _ in range(onsets):
            starts.append(frame)
            out.write(tone.tobytes())
            silence = int(rng.uniform(*gap) * RATE)
            out.write(bytes(silence * 8))
            frame += int(BURST_S * RATE) + silence
    return starts


def watch(display_name, rect, interval, stopping, results):
    """Polls the rectangle; sends back [(time, lit, previous look's time)] at each change."""
    realtime()
    display = XDisplay(display_name)
    empty = display.pixels(*rect)
    changes, gaps = [], []
    lit = False
    previous = time.monotonic()
    while not stopping.is_set():
        now_lit = display.pixels(*rect) != empty
        now = time.monotonic()
        gaps.append(now - previous)
        if now_lit != lit:
            changes.append((now, now_lit, previous))
            lit = now_lit
        previous = now
        time.sleep(max(0.0, interval - (time.monotonic() - now)))
    display.close()
    results.send((empty, changes, statistics.median(gaps)))


def read_onsets(reader, until, quiet_frames):
    """Reads parec's stream until the monotonic time until: the onsets as
    (read's time, onset's frame), and the earliest (read's time − its end frame / rate)."""
    realtime()
    fd = reader.stdout.fileno()
    pending = b""
    frames = 0
    last_sound = -quiet_frames
    onsets = []
    offset = math.inf
    while time.monotonic() < until:
        data = os.read(fd, 65536)
        now = time.monotonic()
        if not data:
            raise RuntimeError("parec ended")
        pending += data
        whole = len(pending) // 4 * 4
        samples = array.array("h", pending[:whole])
        pending = pending[whole:]
        if not samples:
            continue
        if frames / RATE > SETTLED_S:
            offset = min(offset, now - (frames + len(samples) // 2) / RATE)
        if max(samples) > SOUND or min(samples) < -SOUND:
            first = next(i for i, s in enumerate(samples) if abs(s) > SOUND) // 2
            if frames + first - last_sound >= quiet_frames:
                onsets.append((now, frames + first))
            last = len(samples) - 1 - next(i for i, s in enumerate(reversed(samples)) if abs(s) > SOUND)
            last_sound = frames + last // 2
        frames += len(samples) // 2
    return onsets, offset


def percentile(values, share):
    ranked = sorted(values)
    return ranked[min(len(ranked) - 1, math.ceil(share * len(ranked)) - 1)]


def row(title, values, target):
    ms = [v * 1000 for v in values]
    return (f"| {title} | **{statistics.median(ms):.1f}** ({min(ms):.1f}–{max(ms):.1f}) "
            f"| {percentile(ms, 0.9):.1f} | {target} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--onsets", type=int, default=20, help="tone bursts played (default 20)")
    parser.add_argument("--gap", type=float, nargs=2, default=[1.0, 2.0], metavar=("LEAST", "MOST"),
                        help="silence after each burst, drawn at random in seconds (default 1.0 2.0)")
    parser.add_argument("--poll-ms", type=float, default=1.0, help="the screen watcher's interval (default 1 ms)")
    parser.add_argument("--seed", type=int, help="of the random gaps (default: a new one each run)")
    args = parser.parse_args()
    install_missing("pulseaudio", "pactl", "pacat", "parecord", "Xvfb", "xdotool")
    binary = build_linux_program()

    with Services(tone=False) as services:
        sound = services.dir / "bursts.raw"
        starts = burst_stream(sound, args.onsets, args.gap, args.seed)
        program = services.spawn([str(binary)], cwd=services.dir, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        take = services.dir / "take.wav"
        watcher = None
        try:
            window = services.find_window(CAPTION, 30)
            services.start_take(window, str(take))
            wait_for(take.exists, 20, "the take's file")
            time.sleep(1)
            x, y = services.window_origin(window)
            left, top, width, height = LEVEL_METER
            # A short row across the bar's start, halfway down: the bar grows from the left.
            rect = (x + left, y + top + height // 2, 4, 1)
            fork = multiprocessing.get_context("fork")
            stopping = fork.Event()
            results, sender = fork.Pipe(duplex=False)
            watcher = fork.Process(target=watch, args=(services.env["DISPLAY"], rect, args.poll_ms / 1000,
                                                        stopping, sender))
            watcher.start()
            reader = services.spawn(["parec", "--latency-msec=5", f"--device={MONITOR}", "--format=s16le",
                                     f"--rate={RATE}", "--channels=2", "--raw"], stdout=subprocess.PIPE)
            time.sleep(0.5)
            services.play(f"cat {sound}")
            seconds = os.path.getsize(sound) / 8 / RATE
            print(f"playing {args.onsets} bursts over {seconds:.0f} s", flush=True)
            onsets, offset = read_onsets(reader, time.monotonic() + seconds + 1.5, int(min(args.gap) / 2 * RATE))
            stopping.set()
            empty, changes, poll_gap = results.recv()
            watcher.join()
            stop(reader)
            services.stop_take(window)
            wait_for(lambda: wav_complete(take), 20, "the take to be written")
        finally:
            if watcher and watcher.is_alive():
                watcher.terminate()
            stop(program)

    if len(onsets) != len(starts):
        print(f"warning: the reader found {len(onsets)} onsets of the {len(starts)} played")
    shares, reader_delays, bounds, missed = [], [], [], 0
    for t_reader, frame in onsets:
        before = [lit for t, lit, _ in changes if t < t_reader - 0.05]
        shown = [(t, previous) for t, lit, previous in changes if lit and t_reader - 0.1 <= t <= t_reader + 0.5]
        if (before and before[-1]) or not shown:
            missed += 1
            continue
        t_screen, previous = shown[0]
        shares.append(t_screen - t_reader)
        bounds.append(t_screen - previous)
        reader_delays.append(t_reader - (offset + frame / RATE))

    print(f"\n{len(shares)} of {len(onsets)} onsets seen on screen"
          f"{f' ({missed} not: the bar was lit already or never lit within 0.5 s)' if missed else ''}; "
          f"the meter's empty look: {' '.join(f'#{p:06x}' for p in empty[:1])}; "
          f"the watcher looked every {poll_gap * 1000:.2f} ms (median).\n")
    if not shares:
        return
    print("| per onset, ms | median (lowest–highest) | 90th percentile | target |")
    print("|---|---|---|---|")
    print(row("the program's share: bar on screen after the reader's read (T_screen − T_reader)", shares,
              f"at most {TARGET_MS}"))
    print(row("the watcher's error bound: time since its previous look", bounds, "—"))
    print(row("the reader's own delay after the onset sample (estimate)", reader_delays, "—"))


if __name__ == "__main__":
    main()
