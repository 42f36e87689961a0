#!/usr/bin/env bash
# Runs a command with a private PulseAudio server (a null sink whose monitor is
# the default capture source) and an Xvfb display, then stops both.
#   scripts/with-services.sh COMMAND [ARGS...]
# Exports XDG_RUNTIME_DIR, PULSE_SERVER, DISPLAY and QUORVEL_SINK for the command.
set -euo pipefail

runtime=$(mktemp -d /tmp/quorvel-services.XXXXXX)
export XDG_RUNTIME_DIR="$runtime"
export PULSE_RUNTIME_PATH="$runtime/pulse"
export HOME="${HOME:-/root}"
mkdir -p "$PULSE_RUNTIME_PATH"
export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
export QUORVEL_SINK=quorvel_sink

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$runtime"
}
trap cleanup EXIT

cat > "$runtime/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$PULSE_RUNTIME_PATH/native
load-module module-null-sink sink_name=$QUORVEL_SINK format=float32le rate=48000 channels=2
set-default-sink $QUORVEL_SINK
set-default-source $QUORVEL_SINK.monitor
PA
pulseaudio --daemonize=no --system=false -n --exit-idle-time=-1 --disallow-exit \
    -F "$runtime/default.pa" --log-target=file:"$runtime/pulse.log" &
pids+=($!)

display_num=$((90 + RANDOM % 400))
while [ -e "/tmp/.X11-unix/X$display_num" ] || [ -e "/tmp/.X$display_num-lock" ]; do
    display_num=$((display_num + 1))
done
# -noreset: by default the server resets whenever its last client leaves, and a
# program that connects during that moment is refused.
Xvfb ":$display_num" -screen 0 1024x768x24 -nolisten tcp -noreset >"$runtime/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display_num"

for _ in $(seq 100); do
    if pactl info >/dev/null 2>&1 && [ -e "/tmp/.X11-unix/X$display_num" ]; then break; fi
    sleep 0.1
done
pactl info >/dev/null || { echo "PulseAudio did not start:"; cat "$runtime/pulse.log"; exit 1; }
[ -e "/tmp/.X11-unix/X$display_num" ] || { echo "Xvfb did not start"; cat "$runtime/xvfb.log"; exit 1; }

set +e
"$@"
status=$?
exit $status
