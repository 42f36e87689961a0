#!/usr/bin/env bash
# Runs one case of wasapi_record_test.exe under Wine.
#   run_capture_test.sh tone|no_server|server_vanishes TEST_EXE DEFAULT_WINEPREFIX
# tone:            plays a 997 Hz sine into the sink whose monitor is the
#                  default capture device and records it (needs PULSE_SERVER,
#                  as exported by scripts/with-services.sh).
# no_server:       points the sound client at a socket that does not exist,
#                  so the capture device cannot be set up.
# server_vanishes: starts a sound server of its own, plays the tone into it
#                  and kills the server in the middle of the take.
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
case "$mode" in
tone)
    [ -n "${PULSE_SERVER:-}" ] || skip "PULSE_SERVER is not set (run under scripts/with-services.sh)"
    ;;
server_vanishes)
    command -v pulseaudio >/dev/null || skip "pulseaudio is not installed"
    ;;
esac
if [ "$mode" != no_server ]; then
    for tool in sox pacat pactl; do command -v $tool >/dev/null || skip "$tool is missing"; done
fi

# The prefix the test environment names (the Windows test preset gives one to
# all its tests), else the one passed in.
export WINEPREFIX=${WINEPREFIX:-$prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The first run creates the prefix (half a minute or more); later runs reuse
# it. Creating it here, before the tone starts, keeps that time out of the
# takes. The lock keeps concurrent runs from both creating it.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    wineboot -i >"$WINEPREFIX.log" 2>&1 || { cat "$WINEPREFIX.log"; exit 1; }
    wineserver -w
fi

tone_pid=
server_pid=
private_dir=
cleanup() {
    for pid in $tone_pid $server_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ -n "$private_dir" ]; then rm -rf "$private_dir"; fi
}
trap cleanup EXIT

# Plays the tone into sink $1 until killed, and returns once it flows.
start_tone() {
    # Far longer than any take. Killing pacat (the pipeline's last process)
    # ends sox through the broken pipe.
    sox -q -n -t raw -r 48000 -e float -b 32 -c 2 - synth 120 sine $TONE_HZ vol 0.5 |
        pacat --device="$1" --format=float32le --rate=48000 --channels=2 --latency-msec=200 &
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
}

case "$mode" in
tone)
    start_tone "${QUORVEL_SINK:-quorvel_sink}"
    QUORVEL_TONE_HZ=$TONE_HZ wine "$exe" --gtest_filter='WasapiCapture.*'
    ;;
no_server)
    # Only the sound server is taken away; Wine's other audio back ends are
    # disabled so that it cannot find a device some other way.
    PULSE_SERVER="unix:$WINEPREFIX.no-such-server/native" QUORVEL_EXPECT_NO_SERVER=1 \
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winealsa.drv,wineoss.drv=d" \
        wine "$exe" --gtest_filter='WasapiCaptureNoServer.*'
    ;;
server_vanishes)
    # A server of our own: the shared one must outlive this case.
    private_dir=$(mktemp -d /tmp/quorvel-vanish.XXXXXX)
    export XDG_RUNTIME_DIR=$private_dir
    export PULSE_RUNTIME_PATH=$private_dir/pulse
    export PULSE_SERVER=unix:$private_dir/pulse/native
    mkdir -p "$PULSE_RUNTIME_PATH"
    cat >"$private_dir/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$private_dir/pulse/native
load-module module-null-sink sink_name=vanish_sink format=float32le rate=48000 channels=2
set-default-sink vanish_sink
set-default-source vanish_sink.monitor
PA
    pulseaudio --daemonize=no --system=false -n --exit-idle-time=-1 --disallow-exit \
        -F "$private_dir/default.pa" --log-target=file:"$private_dir/pulse.log" &
    server_pid=$!
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl info >/dev/null || { echo "PulseAudio did not start:"; cat "$private_dir/pulse.log"; exit 1; }
    start_tone vanish_sink

    signal=$private_dir/kill-now
    QUORVEL_TONE_HZ=$TONE_HZ QUORVEL_KILL_SIGNAL=$(winepath -w "$signal") \
        wine "$exe" --gtest_filter='WasapiCaptureServerVanishes.*' &
    test_pid=$!
    while [ ! -e "$signal" ] && kill -0 "$test_pid" 2>/dev/null; do sleep 0.05; done
    if [ -e "$signal" ]; then
        kill "$server_pid"
        wait "$server_pid" 2>/dev/null || true
        server_pid=
    fi
    wait "$test_pid"
    ;;
*)
    echo "unknown case: $mode"
    exit 2
    ;;
esac
