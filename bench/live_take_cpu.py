#!/usr/bin/env python3
"""What a live take costs beside the tools people already run: the Linux
program (release build) recording with its three views live, cava drawing a
live spectrum, parecord writing a file, and the sound server's own CPU during
each, one after another over the same fixed window, with the same tone and
server. Prints a markdown table and the program's peak resident memory.

usage: bench/live_take_cpu.py [--seconds 20] [--warm-up 3]"""
import argparse
import os
import subprocess
import time

from desktop_session import (CAPTION, CLOCK_TICKS, MONITOR, Services, build_linux_program, cpu_ticks,
                             install_missing, status_kib, stop, thread_ticks, wait_for, wav_complete)

THREAD_NAMES = {"QXcbEventQueue": "X event thread", "threaded-ml": "libpulse loop"}
# The program's own threads carry its name: Start starts the recording
# thread, which starts the spectrum worker.
TAKE_THREADS = ["recording thread", "spectrum worker"]
CAVA_CONFIG = f"""[general]
framerate = 60
[input]
method = pulse
source = {MONITOR}
[output]
method = raw
raw_target = /dev/null
"""


def measure(seconds, server_pid, pid=None):
    """CPU as % of one core over the window: (own, {tid: (name, %)}, server's)."""
    def snapshot():
        own = cpu_ticks(f"/proc/{pid}/stat") if pid else 0
        return time.monotonic(), own, thread_ticks(pid) if pid else {}, cpu_ticks(f"/proc/{server_pid}/stat")

    t0, own0, threads0, server0 = snapshot()
    time.sleep(seconds)
    t1, own1, threads1, server1 = snapshot()

    def percent(ticks):
        return 100.0 * ticks / CLOCK_TICKS / (t1 - t0)

    threads = {tid: (name, percent(ticks - threads0.get(tid, (name, 0))[1])) for tid, (name, ticks) in threads1.items()}
    return percent(own1 - own0), threads, percent(server1 - server0)


def measure_quorvel(services, args, binary):
    program = services.spawn([str(binary)], cwd=services.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = services.find_window(CAPTION, 30)
    before_take = set(thread_ticks(program.pid))
    take = services.dir / "take.wav"
    services.start_take(window, str(take))
    wait_for(take.exists, 20, "the take's file")
    # The spectrum's first analysis needs 1.4 s of sound.
    time.sleep(args.warm_up)
    own, threads, server = measure(args.seconds, services.server.pid, program.pid)
    services.stop_take(window)
    wait_for(lambda: wav_complete(take), 60, "the take to be written")
    peak_kib = status_kib(program.pid, "VmHWM")
    take_bytes = os.path.getsize(take) - 44
    stop(program)

    new_own = sorted(t for t, (name, _) in threads.items() if t not in before_take and name == binary.name[:15])
    labels = {program.pid: "window thread", **dict(zip(new_own, TAKE_THREADS))}
    parts = sorted(((p, labels.get(t) or THREAD_NAMES.get(name) or f"{name} {t}") for t, (name, p) in threads.items()),
                   reverse=True)
    breakdown = ", ".join(f"{label} {p:.1f}" for p, label in parts if p >= 0.05)
    return own, breakdown, server, peak_kib, take_bytes


def measure_tool(services, args, command):
    tool = services.spawn(command, cwd=services.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(args.warm_up)
    if tool.poll() is not None:
        raise RuntimeError(f"{command[0]} ended with {tool.returncode} before the measurement")
    own, _, server = measure(args.seconds, services.server.pid, tool.pid)
    stop(tool)
    return own, server


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seconds", type=float, default=20, help="the measuring window (default 20 s)")
    parser.add_argument("--warm-up", type=float, default=3, help="settling time before each window")
    args = parser.parse_args()
    install_missing("pulseaudio", "pactl", "pacat", "parecord", "Xvfb", "xdotool", "sox", "cava")
    binary = build_linux_program()

    with Services() as services:
        time.sleep(args.warm_up)
        _, _, baseline = measure(args.seconds, services.server.pid)
        print(f"measured: tone only ({args.seconds:g} s)", flush=True)
        own, breakdown, server, peak_kib, take_bytes = measure_quorvel(services, args, binary)
        print("measured: quorvel", flush=True)
        config = services.dir / "cava.conf"
        config.write_text(CAVA_CONFIG)
        cava = measure_tool(services, args, ["cava", "-p", str(config)])
        print("measured: cava", flush=True)
        parecord = measure_tool(services, args, ["parecord", f"--device={MONITOR}", "--file-format=wav",
                                                 "--format=s16le", "--rate=48000", "--channels=2", "parecord.wav"])
        print("measured: parecord\n", flush=True)

    print(f"Each figure over the same {args.seconds:g} s window, % of one core, one run:\n")
    print("| process | own CPU, % of one core | sound server's CPU meanwhile |")
    print("|---|---|---|")
    print(f"| nothing but the tone | — | {baseline:.1f} % |")
    print(f"| `quorvel` recording | **{own:.1f} %** ({breakdown}) | **{server:.1f} %** |")
    print(f"| `cava` (a live spectrum, raw output) | {cava[0]:.1f} % | {cava[1]:.1f} % |")
    print(f"| `parecord` (to a file) | {parecord[0]:.2f} % | {parecord[1]:.1f} % |")
    print(f"\nquorvel's peak resident memory (VmHWM): {peak_kib / 1024:.1f} MiB, "
          f"for a take of {take_bytes / 2**20:.1f} MiB of samples")


if __name__ == "__main__":
    main()
