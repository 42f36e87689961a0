"""Judges a take recorded while the test tone played: a canonical 16-bit PCM
header, a length within bounds, the tone at its frequency and unbroken sample
by sample, and in stereo the right channel at exactly half the left's level
(the tone is played that way so that swapped channels show)."""
import array
import math
import re
import struct

# Just off 1 kHz: a 1 kHz period divides a 10 ms packet, so a lost packet
# would leave the sine seamless; 997 Hz leaves a visible jump.
TONE_HZ = 997.0
HEADER_FIELDS = ("RIFF id,RIFF size,WAVE id,fmt id,fmt size,format tag,channels,sample rate,byte rate,"
                 "block align,bits,data id,data size").split(",")


def check_take(path, rate, channels, min_seconds, max_seconds, jumps=0, silence=0):
    """Returns what is wrong with the take at path, or None; the tone may jump
    at `jumps` places (where the test had a device drop what it held), and
    holds one stretch of digital silence at least `silence` seconds long
    (where the test took the device away), or none when `silence` is 0."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 44:
        return f"{len(data)} bytes, shorter than a WAV header"
    expected = (b"RIFF", len(data) - 8, b"WAVE", b"fmt ", 16, 1, channels, rate, rate * channels * 2,
                channels * 2, 16, b"data", len(data) - 44)
    for name, got, want in zip(HEADER_FIELDS, struct.unpack("<4sI4s4sIHHIIHH4sI", data[:44]), expected):
        if got != want:
            return f"header field {name} is {got!r}, expected {want!r}"
    if (len(data) - 44) % (2 * channels):
        return "the data is not a whole number of frames"
    samples = array.array("h", data[44:])  # the file is little-endian, as is every machine we test on
    tracks = [samples[c::channels] for c in range(channels)]
    seconds = len(tracks[0]) / rate
    if not min_seconds <= seconds <= max_seconds:
        return f"{seconds:.2f} s long, expected {min_seconds:.2f} to {max_seconds:.2f} s"
    if channels == 2 and any(abs(2 * r - l) > 2 for l, r in zip(*tracks)):
        return "the right channel is not the left one at half level (swapped or mixed channels?)"
    for track in tracks:
        problem = tone_problem(track, rate, jumps, silence)
        if problem:
            return problem
    return None


def tone_problem(track, rate, jumps=0, silence=0):
    """What is wrong with one channel's tone, or None."""
    peak = max(map(abs, track))
    if peak < 1000:
        return f"peak {peak}: the tone is missing"
    # From the first to the last loud sample, less a period at each end:
    # the device may start late and the take ends mid-cycle.
    first = next(i for i, s in enumerate(track) if abs(s) >= peak / 4) + int(rate / TONE_HZ)
    last = len(track) - 1 - next(i for i, s in enumerate(reversed(track)) if abs(s) >= peak / 4) - int(rate / TONE_HZ)
    # A sine is never zero for a tenth of a second: such a stretch is input the take did not get. Shorter
    # runs of zeros (a hole a server left) are no tone either, and count in the jumps instead.
    zeros = [len(m[0]) // 2 for m in re.finditer(b"\0{%d,}" % (rate // 50), track[first:last + 1].tobytes())]
    quiet = [n for n in zeros if n >= rate // 10]
    if len(quiet) != (silence > 0) or quiet and quiet[0] < silence * rate:
        return (f"silent for {', '.join(f'{n / rate:.2f} s' for n in quiet) or 'no stretch'} within the tone, "
                f"expected {f'once for {silence} s or more' if silence else 'never'}")
    crossings = sum((track[i - 1] < 0) != (track[i] < 0) for i in range(first + 1, last + 1))
    hz = crossings / 2 / ((last - first - sum(zeros)) / rate)
    if abs(hz - TONE_HZ) > 10:
        return f"the tone is at {hz:.1f} Hz, expected {TONE_HZ} Hz"
    # A sine obeys x[n+1] = 2cos(w)x[n] - x[n-1]; a lost, repeated or
    # zeroed stretch breaks it by a good part of the amplitude, at the two
    # samples either side of the jump. A server that throws input away or
    # comes back from a stall may leave a few samples, or a period of its
    # graph, of other phases there: breaks within 50 ms of a jump's first are
    # that jump.
    c = 2 * math.cos(2 * math.pi * TONE_HZ / rate)
    breaks = [n for n in range(first + 1, last) if abs(track[n + 1] - c * track[n] + track[n - 1]) > peak / 50 + 8]
    places = []
    for n in breaks:
        if not places or n - places[-1] > rate // 20:
            places.append(n)
    if len(places) > jumps:
        return f"the tone jumps at {len(places)} place(s), first at {places[0] / rate:.4f} s"
    return None

