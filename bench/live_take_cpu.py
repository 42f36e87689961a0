#!/usr/bin/env python3
"""What a live take costs beside the tools people already run: the Linux
program (release build) recording with its three views live, cava drawing a
live spectrum, parecord writing a file, and the sound server during each, with
the same tone and server. On a virtual machine a context switch costs several
times more when the host is busy, and the host's load changes from minute to
minute: so each round measures every case in turn over the same window, and
the figures are the median over the rounds with the lowest and highest beside
it. Prints two markdown tables, CPU then wake-ups, and the program's peak
resident memory.

--awake-cpus keeps every processor busy with a loop at the lowest scheduling
class (SCHED_IDLE) while measuring. On a virtual machine a processor that
halts when idle must be brought back by the host at each wake-up, and the
guest charges that delay to whichever thread was woken: periodic wakers then
cost up to ten times more in some minutes than in others, for the same system
calls. The loops give way to every other thread at once, so the figures keep
each thread's own work and drop the host's.

usage: bench/live_take_cpu.py [--rounds 5] [--seconds 20] [--warm-up 3] [--awake-cpus]"""
import argparse
import os
import statistics
import subprocess
import time
from collections import defaultdict

from desktop_session import (CAPTION, CLOCK_TICKS, MONITOR, Services, build_linux_program, cpu_ticks,
                             install_missing, status_kib, stop, thread_stats, wait_for, wav_complete)

CASES = {"tone": "nothing but the tone", "quorvel": "`quorvel` recording",
         "cava": "`cava` (a live spectrum, raw output)", "parecord": "`parecord` (to a file)"}
THREAD_NAMES = {"QXcbEventQueue": "X event thread", "QDBusConnection": "D-Bus thread",
                "Thread (pooled)": "Qt thread pool"}
# The program's own threads carry its name: Start starts the recording
# thread (which also runs libpulse's loop), which starts the spectrum worker.
TAKE_THREADS = ["recording thread", "spectrum worker"]
# The recording thread names itself for the capture; the worker it starts inherits that name.
OWN_THREAD_NAMES = ("quorvel", "quorvel-capture")
CAVA_CONFIG = f"""[general]
framerate = 60
[input]
method = pulse
source = {MONITOR}
[output]
method = raw
raw_target = /dev/null
"""
PARECORD = ["parecord", f"--device={MONITOR}", "--file-format=wav", "--format=s16le", "--rate=48000",
            "--channels=2", "parecord.wav"]


def measure(seconds, server_pid, pid=None):
    """One window, CPU as % of one core and wake-ups per second: the process's
    (if any), each of its threads' by tid as (name, cpu, wake-ups), the server's."""
    def snapshot():
        return (time.monotonic(), cpu_ticks(f"/proc/{pid}/stat") if pid else 0, thread_stats(pid) if pid else {},
                cpu_ticks(f"/proc/{server_pid}/stat"), thread_stats(server_pid))

    t0, own0, threads0, server0, server_threads0 = snapshot()
    time.sleep(seconds)
    t1, own1, threads1, server1, server_threads1 = snapshot()
    elapsed = t1 - t0

    def per_thread(before, after):
        # A thread born during the window counts from zero; one that ended
        # takes its switches along (its CPU stays in the process's total).
        return {tid: (name, 100.0 * (ticks - before.get(tid, (name, 0, 0))[1]) / CLOCK_TICKS / elapsed,
                      (switches - before.get(tid, (name, 0, 0))[2]) / elapsed)
                for tid, (name, ticks, switches) in after.items()}

    threads = per_thread(threads0, threads1)
    return {"cpu": 100.0 * (own1 - own0) / CLOCK_TICKS / elapsed,
            "wake-ups": sum(wake_ups for _, _, wake_ups in threads.values()),
            "server cpu": 100.0 * (server1 - server0) / CLOCK_TICKS / elapsed,
            "server wake-ups": sum(w for _, _, w in per_thread(server_threads0, server_threads1).values()),
            "threads": threads}


def measure_take(services, args, binary, take):
    """A fresh program and take; its threads by what they do, peak memory and take size."""
    program = services.spawn([str(binary)], cwd=services.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = services.find_window(CAPTION, 30)
    before_take = set(thread_stats(program.pid))
    services.start_take(window, str(take))
    wait_for(take.exists, 20, "the take's file")
    # The spectrum's first analysis needs 1.4 s of sound.
    time.sleep(args.warm_up)
    figures = measure(args.seconds, services.server.pid, program.pid)
    services.stop_take(window)
    wait_for(lambda: wav_complete(take), 60, "the take to be written")
    figures["peak KiB"] = status_kib(program.pid, "VmHWM")
    figures["take bytes"] = os.path.getsize(take) - 44
    stop(program)
    take.unlink()

    threads = figures["threads"]
    new_own = sorted(t for t, (name, _, _) in threads.items() if t not in before_take and name in OWN_THREAD_NAMES)
    labels = {program.pid: "window thread", **dict(zip(new_own, TAKE_THREADS))}
    # Threads without a role of their own (a pool's) are summed under their name.
    by_label = defaultdict(lambda: (0.0, 0.0))
    for tid, (name, cpu, wake_ups) in threads.items():
        label = labels.get(tid) or THREAD_NAMES.get(name, name)
        by_label[label] = (by_label[label][0] + cpu, by_label[label][1] + wake_ups)
    figures["threads"] = dict(by_label)
    return figures


def measure_tool(services, args, command):
    tool = services.spawn(command, cwd=services.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(args.warm_up)
    if tool.poll() is not None:
        raise RuntimeError(f"{command[0]} ended with {tool.returncode} before the measurement")
    figures = measure(args.seconds, services.server.pid, tool.pid)
    stop(tool)
    return figures


def spread(values, digits, unit=""):
    """The median, then the lowest and highest when there are several."""
    middle = f"{statistics.median(values):.{digits}f}{unit}"
    return middle if len(values) == 1 else f"{middle} ({min(values):.{digits}f}–{max(values):.{digits}f})"


def digits(figure, values):
    """Wake-ups whole; CPU below 1 % with the tick's resolution (0.05 % over 20 s)."""
    return 0 if figure == "wake-ups" else 2 if statistics.median(values) < 1 else 1


def breakdown(runs, figure, least):
    """Each thread's median and spread, busiest first, those under least left out."""
    index, places = (0, 1) if figure == "cpu" else (1, 0)
    labels = sorted({label for run in runs for label in run["threads"]})
    figures = [[run["threads"].get(label, (0.0, 0.0))[index] for run in runs] for label in labels]
    ranked = sorted(zip(map(statistics.median, figures), labels, figures), reverse=True)
    return ", ".join(f"{label} {spread(values, places)}" for middle, label, values in ranked if middle >= least)


def table(results, heading, figure, unit, least):
    """One row per case: the process's figure ("cpu" or "wake-ups"), the server's meanwhile."""
    print(heading)
    print("|---|---|---|")
    for case, title in CASES.items():
        runs = results[case]
        own = [run[figure] for run in runs]
        server = [run["server " + figure] for run in runs]
        own_cell = "—" if case == "tone" else spread(own, digits(figure, own), unit)
        server_cell = spread(server, digits(figure, server), unit)
        if case == "quorvel":
            own_cell = f"**{own_cell}**: {breakdown(runs, figure, least)}"
            server_cell = f"**{server_cell}**"
        print(f"| {title} | {own_cell} | {server_cell} |")


def verdict(met):
    return "met" if met else "**not met**"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    # Five: the host's busy minutes come and go, and two busy rounds move the
    # median of three but not of five.
    parser.add_argument("--rounds", type=int, default=5, help="each case measured once per round (default %(default)s)")
    parser.add_argument("--seconds", type=float, default=20, help="the measuring window (default 20 s)")
    parser.add_argument("--warm-up", type=float, default=3, help="settling time before each window")
    parser.add_argument("--awake-cpus", action="store_true",
                        help="keep the processors from halting with SCHED_IDLE loops (virtual machines)")
    args = parser.parse_args()
    install_missing("pulseaudio", "pactl", "pacat", "parecord", "Xvfb", "xdotool", "sox", "cava")
    binary = build_linux_program()

    results = defaultdict(list)
    began = time.monotonic()
    with Services() as services:
        if args.awake_cpus:
            for _ in range(os.cpu_count()):
                services.spawn(["chrt", "--idle", "0", "sh", "-c", "while :; do :; done"], start_new_session=True)
        config = services.dir / "cava.conf"
        config.write_text(CAVA_CONFIG)
        for round_number in range(1, args.rounds + 1):
            time.sleep(args.warm_up)
            results["tone"].append(measure(args.seconds, services.server.pid))
            results["quorvel"].append(measure_take(services, args, binary, services.dir / "take.wav"))
            results["cava"].append(measure_tool(services, args, ["cava", "-p", str(config)]))
            results["parecord"].append(measure_tool(services, args, PARECORD))
            print(f"round {round_number} of {args.rounds} measured ({time.monotonic() - began:.0f} s)", flush=True)

    print(f"\nMedian of {args.rounds} rounds (lowest–highest); each round measures the four cases in turn, "
          f"each over the same {args.seconds:g} s window"
          f"{'; processors kept awake by SCHED_IDLE loops' if args.awake_cpus else ''}.\n")
    table(results, "| process | own CPU, % of one core | sound server's CPU meanwhile |", "cpu", " %", 0.05)
    print("\nWake-ups (voluntary + involuntary context switches, summed over all threads), per second:\n")
    table(results, "| process | own wake-ups per second | sound server's wake-ups meanwhile |", "wake-ups", "", 1)
    print("\nTargets (medians of this run):\n")
    print("| figure | measured | target | |")
    print("|---|---|---|---|")
    for figure, unit, limit in (("cpu", " % of one core", 1.0), ("wake-ups", " per second", 100)):
        own = statistics.median(run[figure] for run in results["quorvel"])
        print(f"| quorvel's {figure} | {own:.2f}{unit} | at most {limit}{unit} | {verdict(own <= limit)} |")
    for figure in ("cpu", "wake-ups"):
        server = {case: statistics.median(run["server " + figure] for run in results[case])
                  for case in ("quorvel", "cava")}
        print(f"| the server's {figure} beside quorvel | {server['quorvel']:.2f} | at most beside cava: "
              f"{server['cava']:.2f} | {verdict(server['quorvel'] <= server['cava'])} |")
    takes = results["quorvel"]
    print(f"\nquorvel's peak resident memory (VmHWM): {spread([t['peak KiB'] / 1024 for t in takes], 1, ' MiB')}, "
          f"for a take of {statistics.median(t['take bytes'] for t in takes) / 2**20:.1f} MiB of samples")


if __name__ == "__main__":
    main()
