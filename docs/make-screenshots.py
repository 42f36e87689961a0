#!/usr/bin/env python3
# Makes the README's screenshots from the built programs: each records the
# test tone on an X display and a sound server of its own, set up as the
# end-to-end tests do, and its window is captured once the tone shows in all
# three panels. Needs the tests' text probes, so a build with tests.
#
#   docs/make-screenshots.py [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
#   (defaults build/linux-debug and build/windows; a missing build is skipped)
import sys, tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "tools"))
import end_to_end as e2e  # noqa: E402


def shoot(kind, binary, probe, picture):
    if not binary.exists() or not (xvfb := e2e.prepare(kind, binary)):
        return print(f"no {kind} screenshot: {binary} or a tool is missing")
    with tempfile.TemporaryDirectory(prefix="quorvel-shot.") as work, e2e.sound(work) as sound:
        program = e2e.Program((kind, binary, probe, Path(work)), Path(work))
        if program.launch("screenshot", sound.address) and program.save_as(Path(work, "tone.wav")) \
                and program.wait_status("Recording...") and e2e.check(e2e.wait(program.shows_tone, 15, 1), "no tone"):
            # A few colours, undithered, keep the picture small and its flat surfaces flat.
            e2e.run("import", "-window", program.window, "-strip", "+dither", "-colors", "64", picture)
            print("wrote", picture)
        if program.process and program.process.poll() is None:
            program.click(e2e.STOP)
            program.close()
    xvfb.kill()


def main():
    builds = sys.argv[1:] + [ROOT / "build/linux-debug", ROOT / "build/windows"][len(sys.argv) - 1:]
    linux, windows = (Path(build).resolve() for build in builds[:2])
    shoot("linux", linux / "platform/linux/quorvel", linux / "tests/linux/plugins", ROOT / "docs/linux-recording.png")
    shoot("wine", windows / "platform/win32/quorvel.exe", windows / "tests/win32/quorvel_texts_probe.exe",
          ROOT / "docs/win32-recording.png")
    return 1 if e2e.failures else 0


if __name__ == "__main__":
    sys.exit(main())
