#!/usr/bin/env bash
# Drives quorvel.exe under Wine the way a user would: clicks its buttons,
# types into its Save As dialog, plays a tone into the capture device and
# closes its window, then checks the files it wrote and what it showed.
#
# usage: end_to_end_test.sh QUORVEL_EXE WINDOW_PROBE_EXE CHECK_WAV_PY WORK_DIR SCREENSHOT_PNG
# Needs the X display and PulseAudio server of scripts/with-services.sh
# (DISPLAY, PULSE_SERVER, null sink quorvel_sink); exits 77 (skipped) without them.
set -u

APP_EXE=$1
PROBE_EXE=$2
CHECK_WAV=$3
WORK=$4
SCREENSHOT=$5

CAPTION='Quorvel: Thread-Safe GUI 64K FFT'
SINK=${QUORVEL_SINK:-quorvel_sink}
# Close to 1,000 Hz but not a whole number of periods per 10 ms packet or per
# waveform column: at exactly 1,000 Hz a lost packet would leave the sine
# seamless and the waveform panel would sample one phase only (a flat line).
TONE_HZ=997

skip() {
    echo "skipped: $*"
    exit 77
}

[ -n "${DISPLAY:-}" ] || skip "no DISPLAY (run under scripts/with-services.sh)"
[ -n "${PULSE_SERVER:-}" ] || skip "no PULSE_SERVER (run under scripts/with-services.sh)"
for tool in wine wineboot wineserver xdotool import convert sox pacat python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

export WINEPREFIX="$WORK/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

OUT="$WORK/out"
LOGS="$WORK/logs"
rm -rf "$OUT" "$LOGS"
mkdir -p "$OUT" "$LOGS" "$(dirname "$SCREENSHOT")"

failures=0
app_pid=""
tone_pid=""

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

cleanup() {
    [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    # Only this test's prefix: its wineserver and whatever still runs in it.
    wineserver -k 2>/dev/null
}
trap cleanup EXIT

# Windows path of a Linux path through Wine's Z: drive.
winpath() {
    local path=$1
    echo "Z:${path//\//\\}"
}

# xdotool complains on stderr about the focus of a display without a window
# manager; that is noise here.
xdo() {
    xdotool "$@" 2>/dev/null
}

# Prints the id of the first window whose name matches, waiting up to $2 s.
wait_window() {
    local pattern=$1 seconds=$2 id
    for _ in $(seq $((seconds * 10))); do
        id=$(xdo search --name "$pattern" | head -n 1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Waits up to $2 s until no window's name matches.
wait_window_gone() {
    local pattern=$1 seconds=$2
    for _ in $(seq $((seconds * 10))); do
        [ -z "$(xdo search --name "$pattern")" ] && return 0
        sleep 0.1
    done
    return 1
}

probe() {
    wine "$PROBE_EXE" "$@" 2>/dev/null | tr -d '\r'
}

# Waits up to $2 s for the status line to start with $1; prints the last text seen.
wait_status() {
    local prefix=$1 seconds=$2 text=""
    local deadline=$((SECONDS + seconds))
    while [ $SECONDS -le $deadline ]; do
        text=$(probe status)
        if [[ "$text" == "$prefix"* ]]; then
            echo "$text"
            return 0
        fi
        sleep 0.3
    done
    echo "$text"
    return 1
}

start_app() {
    local name=$1
    (cd "$OUT" && exec wine "$APP_EXE" >"$LOGS/$name.log" 2>&1) &
    app_pid=$!
    main_window=$(wait_window "^$CAPTION\$" 60) || {
        fail "$name: the main window did not appear"
        return 1
    }
}

# Waits up to $1 s for the program to end; fails unless its exit code is 0.
expect_exit_0() {
    local name=$1 seconds=$2 rc
    for _ in $(seq $((seconds * 10))); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$app_pid" 2>/dev/null; then
        fail "$name: the program still runs ${seconds} s after the close"
        kill "$app_pid" 2>/dev/null
        wait "$app_pid" 2>/dev/null
    else
        wait "$app_pid"
        rc=$?
        [ "$rc" -eq 0 ] || fail "$name: exit code $rc, expected 0"
    fi
    app_pid=""
}

click_start() { xdo mousemove --window "$main_window" 90 35 click 1; }
click_stop() { xdo mousemove --window "$main_window" 220 35 click 1; }

# Alt+F4 on the focused main window arrives as WM_CLOSE. A click on the
# window's empty corner gives it the focus first.
close_main_window() {
    xdo mousemove --window "$main_window" 385 235 click 1
    xdo key --clearmodifiers alt+F4
}

# Clicks Start and answers the Save As dialog with a typed path.
save_as() {
    local name=$1 path=$2 dialog
    click_start
    dialog=$(wait_window '^Save As$' 20) || {
        fail "$name: Start did not open the Save As dialog"
        return 1
    }
    xdo key --window "$dialog" ctrl+a
    xdo type --delay 10 "$path"
    xdo key Return
    wait_window_gone '^Save As$' 20 || {
        fail "$name: the Save As dialog did not close on Enter"
        return 1
    }
}

start_tone() {
    sox -q -n -t raw -r 48000 -e float -b 32 -c 2 - synth "$1" sine "$TONE_HZ" vol 0.5 |
        pacat --device="$SINK" --format=float32le --rate=48000 --channels=2 &
    tone_pid=$!
}

stop_tone() {
    [ -n "$tone_pid" ] && kill "$tone_pid" 2>/dev/null && wait "$tone_pid" 2>/dev/null
    tone_pid=""
}

# Pixels of one exact colour in a rectangle of the screenshot, as "x" lines.
colour_columns() {
    local png=$1 x=$2 y=$3 w=$4 h=$5 hex=$6
    convert "$png" -crop "${w}x${h}+${x}+${y}" +repage txt:- | awk -F'[,:]' -v c="#$hex" 'index($0, c) { print $1 }'
}

# Checks that the three panels show live data: the level bar, the waveform
# trace, the spectrum trace and a peak marker where 1,000 Hz lies.
check_panels() {
    local png=$1 X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdo getwindowgeometry --shell "$main_window")"
    local level wave spectrum marker
    level=$(colour_columns "$png" $((X + 20)) $((Y + 90)) 340 20 00C800 | wc -l)
    wave=$(colour_columns "$png" $((X + 20)) $((Y + 120)) 340 40 0096FF | wc -l)
    spectrum=$(colour_columns "$png" $((X + 20)) $((Y + 170)) 340 40 DC783C | wc -l)
    # Left part of the spectrum only: the label on the right shares the colour.
    marker=$(colour_columns "$png" $((X + 20)) $((Y + 170)) 200 40 FF2828 | sort -n | uniq -c |
        awk '$1 >= 30 { print $2 }' | tr '\n' ' ')
    echo "panels: level bar ${level} px, waveform ${wave} px, spectrum ${spectrum} px, peak marker at x = ${marker:-none}"
    # A 0.5-amplitude sine has an RMS level of 0.35: a bar about 120 px wide.
    [ "$level" -ge $((100 * 20)) ] && [ "$level" -le $((140 * 20)) ] || fail "level bar of ${level} px, expected about 120 x 20"
    [ "$wave" -ge 300 ] || fail "waveform trace missing (${wave} px)"
    [ "$spectrum" -ge 300 ] || fail "spectrum trace missing (${spectrum} px)"
    # 1,000 Hz is bin 1,365 of 32,768 at 48 kHz: x = 340 * 1365 / 32768 = 14.
    local column ok=0
    for column in $marker; do
        [ "$column" -ge 12 ] && [ "$column" -le 16 ] && ok=1
    done
    [ "$ok" -eq 1 ] || fail "no peak marker near x = 14 (1,000 Hz); red columns: ${marker:-none}"
}

# ---------------------------------------------------------------------------
if [ ! -f "$WINEPREFIX/.quorvel-ready" ]; then
    echo "initialising the Wine prefix (once)..."
    rm -rf "$WINEPREFIX"
    wineboot -i >"$WORK/wineboot.log" 2>&1
    wineserver -w
    touch "$WINEPREFIX/.quorvel-ready"
fi

# --- A complete take: Start, Save As, tone, Stop --------------------------
echo "case: complete take"
if start_app take; then
    take="$OUT/take.wav"
    start_tone 30
    sleep 0.5
    if save_as take "$(winpath "$take")"; then
        status=$(wait_status "Recording..." 15) || fail "take: status '$status', expected 'Recording...'"
        # The spectrum needs 65,536 samples (1.4 s) before its first analysis.
        sleep 3
        import -window root "$SCREENSHOT"
        echo "screenshot: $SCREENSHOT"
        check_panels "$SCREENSHOT"

        # A second Start during the take opens no dialog.
        click_start
        sleep 1
        [ -z "$(xdo search --name '^Save As$')" ] || fail "take: Start during the take opened a dialog"

        click_stop
        status=$(wait_status "Saved to: " 15)
        [ "$status" = "Saved to: $(winpath "$take")" ] || fail "take: status '$status' after Stop"
        python3 "$CHECK_WAV" "$take" --freq "$TONE_HZ" --min-seconds 2.5 --max-seconds 15 || fail "take: bad WAV"

        # After the take Start asks again, proposing "output.wav", not the last name.
        click_start
        if dialog=$(wait_window '^Save As$' 20); then
            name=$(probe savename)
            [ "$name" = "output.wav" ] || fail "take: the dialog proposes '$name' after a take"
            xdo key --window "$dialog" Escape
            wait_window_gone '^Save As$' 10 || fail "take: Escape did not close the dialog"
        else
            fail "take: Start after the take opened no dialog"
        fi
    fi
    stop_tone
    close_main_window
    expect_exit_0 take 15
fi

# --- Cancel in the dialog ---------------------------------------------------
echo "case: cancel"
if start_app cancel; then
    click_start
    if dialog=$(wait_window '^Save As$' 20); then
        xdo key --window "$dialog" Escape
        wait_window_gone '^Save As$' 10 || fail "cancel: Escape did not close the dialog"
        sleep 1
        kill -0 "$app_pid" 2>/dev/null || fail "cancel: the program ended"
        status=$(probe status)
        [ "$status" = "Ready" ] || fail "cancel: status '$status', expected 'Ready'"
        written=$(ls -A "$OUT" | grep -v '^take.wav$')
        [ -z "$written" ] || fail "cancel: files were written: $written"
    else
        fail "cancel: Start did not open the Save As dialog"
    fi
    close_main_window
    expect_exit_0 cancel 15
fi

# --- Close during a take ----------------------------------------------------
echo "case: close during a take"
if start_app close; then
    take="$OUT/closed.wav"
    start_tone 30
    sleep 0.5
    if save_as close "$(winpath "$take")"; then
        wait_status "Recording..." 15 >/dev/null || fail "close: the take did not start"
        sleep 2
        close_main_window
        expect_exit_0 close 20
        # The capture stream starts some hundred milliseconds after "Recording...",
        # so the take is shorter than the time the test waited.
        python3 "$CHECK_WAV" "$take" --freq "$TONE_HZ" --min-seconds 1 --max-seconds 15 ||
            fail "close: bad WAV"
    else
        close_main_window
        expect_exit_0 close 20
    fi
    stop_tone
fi

# --- Path in a missing folder -----------------------------------------------
echo "case: unwritable path"
if start_app unwritable; then
    missing='Z:\nonexistent\dir\x.wav'
    if save_as unwritable "$missing"; then
        if box=$(wait_window '^Error$' 15); then
            text=$(probe errorbox)
            [ "$text" = "Cannot open file for writing" ] || fail "unwritable: error box says '$text'"
            # While the box is open the window keeps answering; the take's end
            # reaches it once the box is closed.
            status=$(probe status)
            case "$status" in
            "Saved to: "*) fail "unwritable: status '$status' while the box is open" ;;
            esac
            eval "$(xdo getwindowgeometry --shell "$box")"
            # The box's only button, OK, sits centred near its bottom edge.
            xdo mousemove --window "$box" $((WIDTH / 2)) $((HEIGHT - 21)) click 1
            wait_window_gone '^Error$' 10 || fail "unwritable: OK did not close the error box"
            status=$(probe status)
            for _ in $(seq 20); do
                [ "$status" != "Ready" ] && [ "$status" != "Recording..." ] && break
                sleep 0.25
                status=$(probe status)
            done
            echo "status after the failed open: $status"
            case "$status" in
            "Saved to: "* | "Ready" | "Recording...") fail "unwritable: status '$status' after the failed open" ;;
            esac
        else
            fail "unwritable: no error box"
        fi
        [ ! -e /nonexistent ] || fail "unwritable: /nonexistent was created"
        kill -0 "$app_pid" 2>/dev/null || fail "unwritable: the program ended"
    fi
    close_main_window
    expect_exit_0 unwritable 15
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; program logs in $LOGS"
    exit 1
fi
echo "all end-to-end checks passed"
