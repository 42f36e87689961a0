#!/usr/bin/env python3
"""Checks a take written by quorvel: a 44-byte 16-bit PCM header whose sizes
match the file, the expected rate and channel count, a length within bounds,
and an unbroken 997 Hz tone (no lost, repeated or zeroed samples).

    check_wav.py FILE --rate 48000 --channels 2 --min-seconds 1 --max-seconds 9
Exit status 0 when every check passes; the first failure is printed."""
import argparse
import math
import struct
import sys

# Just off 1 kHz: a 1 kHz period divides 10 ms packets at 48 kHz, so a lost
# packet would leave no break in the sine.
TONE_HZ = 997.0
# Rounding to 16 bits leaves a few LSB in the sine recurrence; one lost sample
# of a half-scale tone near 1 kHz leaves thousands.
MAX_RECURRENCE_ERROR = 50.0
LOUD = 1000


def fail(message):
    print("check_wav: " + message)
    sys.exit(1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("file")
    parser.add_argument("--rate", type=int, required=True)
    parser.add_argument("--channels", type=int, required=True)
    parser.add_argument("--min-seconds", type=float, required=True)
    parser.add_argument("--max-seconds", type=float, required=True)
    args = parser.parse_args()

    with open(args.file, "rb") as f:
        data = f.read()
    if len(data) < 44:
        fail("%d bytes, shorter than the header" % len(data))
    (riff, riff_size, wave, fmt, fmt_size, audio_format, channels, rate, byte_rate,
     block_align, bits, data_tag, data_size) = struct.unpack("<4sI4s4sIHHIIHH4sI", data[:44])
    header_ok = (riff == b"RIFF" and wave == b"WAVE" and fmt == b"fmt " and data_tag == b"data"
                 and fmt_size == 16 and audio_format == 1 and bits == 16
                 and riff_size == data_size + 36 and len(data) == 44 + data_size
                 and block_align == channels * 2 and byte_rate == rate * channels * 2)
    if not header_ok:
        fail("bad header or size: %r, file %d bytes" % (data[:44], len(data)))
    if rate != args.rate or channels != args.channels:
        fail("%d Hz %d channels, expected %d Hz %d channels" % (rate, channels, args.rate, args.channels))
    frames = data_size // (2 * channels)
    seconds = frames / rate
    if not args.min_seconds <= seconds <= args.max_seconds:
        fail("%.2f s long, expected %.2f to %.2f s" % (seconds, args.min_seconds, args.max_seconds))

    samples = struct.unpack("<%dh" % (data_size // 2), data[44:])
    two_cos = 2.0 * math.cos(2.0 * math.pi * TONE_HZ / rate)
    for channel in range(channels):
        x = samples[channel::channels]
        start = next((i for i, s in enumerate(x) if abs(s) > LOUD), len(x))
        if start > rate // 2:
            fail("channel %d: no tone in the first half second" % channel)
        start += rate // 100  # a stream may open with a short fade
        cross = sum(x[n] * (x[n + 1] + x[n - 1]) for n in range(start + 1, len(x) - 1))
        energy = sum(x[n] * x[n] for n in range(start + 1, len(x) - 1))
        if energy == 0:
            fail("channel %d: silent" % channel)
        hz = math.acos(max(-1.0, min(1.0, cross / (2.0 * energy)))) * rate / (2.0 * math.pi)
        if abs(hz - TONE_HZ) > 2.0:
            fail("channel %d: tone at %.1f Hz" % (channel, hz))
        worst, at = max((abs(x[n + 1] - two_cos * x[n] + x[n - 1]), n) for n in range(start + 1, len(x) - 1))
        if worst > MAX_RECURRENCE_ERROR:
            fail("channel %d: tone broken at frame %d of %d (error %.0f)" % (channel, at, len(x), worst))
    print("check_wav: %s: %d Hz, %d channels, %.2f s, unbroken %.0f Hz tone"
          % (args.file, rate, channels, seconds, TONE_HZ))


if __name__ == "__main__":
    main()
