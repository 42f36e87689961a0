#!/usr/bin/env bash
# Drives the real quorvel on an X display as a user would: mouse clicks on the
# buttons, a path typed into the Save As dialog, a 997 Hz tone playing into the
# PulseAudio sink whose monitor is the default source. Checks the files the
# takes leave behind and the program's exit code.
#   e2e_recording.sh QUORVEL_BINARY ARTIFACTS_DIR
# Needs DISPLAY and PULSE_SERVER (scripts/with-services.sh); exits 77 without.
set -uo pipefail

if [ -z "${DISPLAY:-}" ] || [ -z "${PULSE_SERVER:-}" ]; then
    echo "skipped: needs DISPLAY and PULSE_SERVER (run under scripts/with-services.sh)"
    exit 77
fi
for tool in xdotool import sox pacat python3; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

here=$(cd "$(dirname "$0")" && pwd)
binary=$(realpath "$1")
mkdir -p "$2"
artifacts=$(realpath "$2")
work=$(mktemp -d /tmp/quorvel-e2e.XXXXXX)
sink=${QUORVEL_SINK:-quorvel_sink}
caption='Quorvel: Thread-Safe GUI 64K FFT'
# The buttons' centres in client coordinates.
start_button=(90 35)
stop_button=(220 35)
export QT_QPA_PLATFORM=xcb

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
note() { echo "--- $*"; }

app_pid=
tone_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$tone_pid" ] && kill -- "-$tone_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# A 997 Hz tone (see check_wav.py) for the whole test, in its own process group. pacat's short
# latency keeps the null sink from rendering seconds ahead of its listeners.
setsid bash -c "sox -D -n -t raw -r 48000 -e float -b 32 -c 2 - synth 600 sine 997 vol 0.5 |
    pacat --latency-msec=200 --device='$sink' --format=float32le --rate=48000 --channels=2" &
tone_pid=$!

# Polls a shell condition every 100 ms for up to $1 seconds.
wait_until() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 10))); do
        if eval "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Prints the first visible window named exactly $1, waiting up to $2 seconds.
# Searches again after an X error: a window that vanishes while xdotool walks
# the tree (a dialog closing) makes that one search fail.
find_window() {
    local id deadline=$((SECONDS + $2))
    while [ "$SECONDS" -lt "$deadline" ]; do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}

launch() {
    (cd "$work" && exec "$binary") &
    app_pid=$!
    window=$(find_window "^${caption}\$" 30)
    [ -n "$window" ] || { fail "no window captioned '$caption'"; return 1; }
}

click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }

# Waits up to $1 seconds for the program to end; sets rc to its exit code
# (or "timeout").
wait_exit() {
    rc=timeout
    if wait_until "$1" "! kill -0 $app_pid 2>/dev/null"; then
        wait "$app_pid"
        rc=$?
    else
        # Leave no window behind to confuse the next case.
        kill -9 "$app_pid" 2>/dev/null
        wait "$app_pid" 2>/dev/null
    fi
    app_pid=
}

# The Save As dialog (Qt's own; its title is "Save As"), focused.
save_dialog() {
    dialog=$(find_window '^Save As$' 20)
    [ -n "$dialog" ] || { fail "no Save As dialog"; return 1; }
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    sleep 0.3
}

# Clicks Start and types a full path into the dialog's file name field.
choose_path() {
    click "${start_button[@]}"
    save_dialog || return 1
    xdotool key ctrl+a
    # xdotool maps each non-ASCII character to a spare key code in turn;
    # typing slowly gives the program time to look each one up.
    local delay=15
    if printf '%s' "$1" | LC_ALL=C grep -q '[^ -~]'; then delay=100; fi
    xdotool type --delay "$delay" "$1"
    xdotool key Return
}

file_complete() { python3 - "$1" <<'PY'
import os, struct, sys
try:
    data = open(sys.argv[1], "rb").read(44)
    size = os.path.getsize(sys.argv[1])
except OSError:
    sys.exit(1)
sys.exit(0 if len(data) == 44 and struct.unpack("<I", data[40:44])[0] + 44 == size and size > 44 else 1)
PY
}

check() { python3 "$here/../tools/check_wav.py" "$@" || fail "$1 is not the expected take"; }

note "a complete take: Start, a path, the tone, Stop"
if launch; then
    geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
    [ "$geometry" = "384x231" ] || fail "client area is $geometry, expected 384x231"
    take="$work/take.wav"
    choose_path "$take"
    if wait_until 20 "[ -e '$take' ]"; then
        began=$(date +%s.%N)
        # Long enough for a full waveform history and a few spectra.
        sleep 4
        import -window root "$artifacts/linux-recording.png"
        click "${stop_button[@]}"
        wait_until 20 "file_complete '$take'" || fail "take.wav was not written after Stop"
        elapsed=$(python3 -c "import time; print(time.time() - $began + 0.5)")
        # The null sink may deliver a new listener's first data up to 2 s late.
        check "$take" --rate 48000 --channels 2 --min-seconds 1.5 --max-seconds "$elapsed"
        import -window root "$artifacts/linux-saved.png"
    else
        fail "the take's file was never created"
    fi
    python3 "$here/send_close.py" "$window"
    wait_exit 20
    [ "$rc" = 0 ] || fail "exit code $rc after closing an idle window"
fi

note "Cancel in the dialog writes nothing"
if launch; then
    click "${start_button[@]}"
    if save_dialog; then
        xdotool key Escape
        sleep 1.5
        [ -z "$(ls -A "$work" | grep -v '^take.wav$')" ] || fail "Cancel left files: $(ls "$work")"
    fi
    python3 "$here/send_close.py" "$window"
    wait_exit 20
    [ "$rc" = 0 ] || fail "exit code $rc after Cancel and close"
fi

note "closing the window during a take writes the whole take, then exits 0"
if launch; then
    take="$work/closed during take.wav"
    choose_path "$take"
    if wait_until 20 "[ -e '$take' ]"; then
        sleep 3
        python3 "$here/send_close.py" "$window"
        wait_exit 30
        [ "$rc" = 0 ] || fail "exit code $rc after closing during a take"
        check "$take" --rate 48000 --channels 2 --min-seconds 0.5 --max-seconds 10
    else
        fail "the take's file was never created"
        kill "$app_pid" 2>/dev/null
        app_pid=
    fi
fi

note "an unwritable path shows the error box"
if launch; then
    choose_path /nonexistent/dir/x.wav
    box=$(find_window '^Error$' 20)
    if [ -n "$box" ]; then
        sleep 0.5
        import -window root "$artifacts/linux-error.png"
        xdotool windowfocus --sync "$box" 2>/dev/null
        xdotool key Return
        wait_until 10 "[ -z \"\$(xdotool search --onlyvisible --name '^Error\$')\" ]" ||
            fail "the error box did not close on Enter"
        sleep 0.3
        # The status line must not claim the take was saved; look at it here.
        import -window root "$artifacts/linux-error-status.png"
    else
        fail "no error box for an unwritable path"
    fi
    [ ! -e /nonexistent/dir/x.wav ] || fail "/nonexistent/dir/x.wav exists"
    python3 "$here/send_close.py" "$window"
    wait_exit 20
    [ "$rc" = 0 ] || fail "exit code $rc after the failed take"
fi

note "a path with non-ASCII characters is written under exactly that name"
if launch; then
    mkdir -p "$work/names"
    take="$work/names/Aufnahme-äöü-日本.wav"
    choose_path "$take"
    if wait_until 20 "[ -e '$take' ]"; then
        sleep 2
        click "${stop_button[@]}"
        wait_until 20 "file_complete '$take'" || fail "the non-ASCII take was not written"
        check "$take" --rate 48000 --channels 2 --min-seconds 0.1 --max-seconds 10
        [ "$(ls "$work/names")" = "Aufnahme-äöü-日本.wav" ] || fail "files written: $(ls "$work/names")"
    else
        fail "no file named $take; found: $(ls "$work/names")"
    fi
    python3 "$here/send_close.py" "$window"
    wait_exit 20
    [ "$rc" = 0 ] || fail "exit code $rc after the non-ASCII take"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all end-to-end checks passed"
