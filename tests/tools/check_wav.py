#!/usr/bin/env python3
"""Checks a take recorded from a steady sine tone.

usage: check_wav.py FILE --min-seconds S --max-seconds S
                    [--freq HZ] [--rate HZ] [--channels N]

Fails (exit 1) unless the file is 16-bit PCM at the given rate and channel
count (default 48,000 Hz stereo) with a well-formed 44-byte header, lasts between the given bounds, carries the tone
at the expected frequency and runs without a gap or a repeated stretch while
the tone plays. Leading and trailing silence (device start-up, tone ending)
is allowed; a break inside the tone is not.
"""
import argparse
import math
import struct
import sys

BITS = 16
# Just off 1 kHz: a 1 kHz period divides 10 ms packets at 48 kHz, so a lost
# packet would leave no break in the sine.
TONE_HZ = 997.0


def fail(message):
    print("check_wav: FAIL: " + message)
    sys.exit(1)


def read_take(path, RATE, CHANNELS):
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 44:
        fail(f"{path}: {len(data)} bytes, shorter than a WAV header")
    (riff, riff_size, wave, fmt, fmt_size, tag, channels, rate, byte_rate, align, bits, data_id,
     data_size) = struct.unpack("<4sI4s4sIHHIIHH4sI", data[:44])
    header = {
        "RIFF id": (riff, b"RIFF"),
        "RIFF size": (riff_size, len(data) - 8),
        "WAVE id": (wave, b"WAVE"),
        "fmt id": (fmt, b"fmt "),
        "fmt size": (fmt_size, 16),
        "format tag": (tag, 1),
        "channels": (channels, CHANNELS),
        "sample rate": (rate, RATE),
        "byte rate": (byte_rate, RATE * CHANNELS * BITS // 8),
        "block align": (align, CHANNELS * BITS // 8),
        "bits": (bits, BITS),
        "data id": (data_id, b"data"),
        "data size": (data_size, len(data) - 44),
    }
    for name, (got, want) in header.items():
        if got != want:
            fail(f"{path}: header {name} is {got!r}, expected {want!r}")
    if data_size % align:
        fail(f"{path}: data size {data_size} is not a whole number of frames")
    count = data_size // 2
    samples = struct.unpack(f"<{count}h", data[44:44 + 2 * count])
    return [samples[c::CHANNELS] for c in range(CHANNELS)]


def tone_span(x, threshold):
    """First and last index of a sample at least as loud as threshold."""
    loud = [i for i in range(len(x)) if abs(x[i]) >= threshold]
    return loud[0], loud[-1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("path")
    parser.add_argument("--freq", type=float, default=TONE_HZ)
    parser.add_argument("--rate", type=int, default=48000)
    parser.add_argument("--channels", type=int, default=2)
    parser.add_argument("--min-seconds", type=float, required=True)
    parser.add_argument("--max-seconds", type=float, required=True)
    args = parser.parse_args()

    RATE = args.rate
    channels = read_take(args.path, RATE, args.channels)
    left = channels[0]
    seconds = len(left) / RATE
    if not args.min_seconds <= seconds <= args.max_seconds:
        fail(f"{args.path}: {seconds:.2f} s long, expected {args.min_seconds} to {args.max_seconds} s")

    peak = max((abs(s) for s in left), default=0)
    if peak < 1000:
        fail(f"{args.path}: peak {peak}, the tone is missing")
    first, last = tone_span(left, peak / 4)
    # Trim a period at each end: the tone starts and stops mid-cycle there.
    period = RATE / args.freq
    first += int(period)
    last -= int(period)
    tone_seconds = (last - first) / RATE
    if tone_seconds < args.min_seconds / 2:
        fail(f"{args.path}: the tone lasts only {tone_seconds:.2f} s of {seconds:.2f} s")

    # Frequency from the zero crossings of the tone stretch.
    crossings = sum(1 for i in range(first + 1, last + 1) if (left[i - 1] < 0) != (left[i] < 0))
    freq = crossings / 2 / tone_seconds
    if abs(freq - args.freq) > args.freq * 0.01:
        fail(f"{args.path}: tone at {freq:.1f} Hz, expected {args.freq} Hz")

    # A sine obeys x[n+1] = 2cos(w)x[n] - x[n-1]; a dropped, repeated or
    # zeroed stretch breaks the recurrence by a good fraction of the amplitude.
    c = 2 * math.cos(2 * math.pi * args.freq / RATE)
    limit = peak * 0.02 + 8
    breaks = []
    for n in range(first + 1, last):
        residual = left[n + 1] - c * left[n] + left[n - 1]
        if abs(residual) > limit:
            breaks.append((n, residual))
    if breaks:
        where = ", ".join(f"{n / RATE:.4f} s ({r:+.0f})" for n, r in breaks[:5])
        fail(f"{args.path}: the tone breaks {len(breaks)} times (limit {limit:.0f}), first at {where}")

    mismatched = sum(1 for other in channels[1:] for a, b in zip(left, other) if a != b)
    if mismatched:
        fail(f"{args.path}: {mismatched} frames differ between the channels of a centred tone")

    print(f"check_wav: OK: {args.path}: {seconds:.2f} s, peak {peak}, tone {freq:.1f} Hz over {tone_seconds:.2f} s, "
          f"no break")


if __name__ == "__main__":
    main()
