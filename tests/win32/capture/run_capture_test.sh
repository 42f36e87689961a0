#!/usr/bin/env bash
# Runs one case of wasapi_record_test.exe under Wine.
#   run_capture_test.sh tone|no_server TEST_EXE WINEPREFIX_DIR
# tone:      plays a 997 Hz sine into the sink whose monitor is the default
#            capture device and records it (needs PULSE_SERVER, as exported by
#            scripts/with-services.sh).
# no_server: points the sound client at a socket that does not exist, so the
#            capture device cannot be set up.
# Exits 77 (skipped) when what the case needs is missing.
set -euo pipefail

mode=$1
exe=$2
prefix=$3

# 997 Hz rather than 1 kHz: a 1 kHz period is exactly 48 samples, so a lost or
# repeated packet of 480 frames would leave the sine seamless and unnoticed.
TONE_HZ=997

skip() { echo "skipped: $*"; exit 77; }

command -v wine >/dev/null || skip "wine is not installed"
if [ "$mode" = tone ]; then
    [ -n "${PULSE_SERVER:-}" ] || skip "PULSE_SERVER is not set (run under scripts/with-services.sh)"
    command -v sox >/dev/null && command -v pacat >/dev/null || skip "sox or pacat is missing"
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

# The first run creates the prefix (half a minute or more); later runs reuse
# it. The lock keeps concurrent runs from sharing a half-made prefix.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -e "$prefix/.quorvel-ready" ]; then
    rm -rf "$prefix"
    echo "creating Wine prefix $prefix"
    wineboot -i >"$prefix.log" 2>&1 || { cat "$prefix.log"; exit 1; }
    wineserver -w
    touch "$prefix/.quorvel-ready"
fi

tone_pid=
cleanup() {
    if [ -n "$tone_pid" ]; then
        kill "$tone_pid" 2>/dev/null || true
        wait "$tone_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

case "$mode" in
tone)
    sink=${QUORVEL_SINK:-quorvel_sink}
    # Far longer than the take; stopped once the test is over. Killing pacat
    # (the pipeline's last process) ends sox through the broken pipe.
    sox -q -n -t raw -r 48000 -e float -b 32 -c 2 - synth 120 sine $TONE_HZ vol 0.5 |
        pacat --device="$sink" --format=float32le --rate=48000 --channels=2 --latency-msec=200 &
    tone_pid=$!
    for _ in $(seq 50); do
        [ -n "$(pactl list short sink-inputs 2>/dev/null)" ] && break
        sleep 0.1
    done
    [ -n "$(pactl list short sink-inputs 2>/dev/null)" ] || { echo "the tone did not start"; exit 1; }
    # With the player's default latency the null sink runs with a latency near
    # 2 s, and a capture stream opened right after the player started got its
    # first packet up to 1.7 s late. A 200 ms player latency and a moment for
    # the sink to settle bring the first packet within 0.1 s of the start;
    # 20 ms was too short for a busy machine: the player ran dry and the sink
    # filled the gap with silence, which the continuity check rightly flags.
    sleep 1
    QUORVEL_TONE_HZ=$TONE_HZ wine "$exe" --gtest_filter='WasapiCapture.*'
    ;;
no_server)
    # Only the sound server is taken away; Wine's other audio back ends are
    # disabled so that it cannot find a device some other way.
    PULSE_SERVER="unix:$prefix.no-such-server/native" QUORVEL_EXPECT_NO_SERVER=1 \
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winealsa.drv,wineoss.drv=d" \
        wine "$exe" --gtest_filter='WasapiCaptureNoServer.*'
    ;;
*)
    echo "unknown case: $mode"
    exit 2
    ;;
esac
