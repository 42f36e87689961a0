#!/usr/bin/env bash
# Installs what is missing, then builds and tests every configuration: Linux
# debug, ThreadSanitizer, AddressSanitizer+UBSan, and the Windows build under
# Wine. Tests that need a sound server or a display get a private PulseAudio
# server and an Xvfb display. Then builds the .deb and the Windows zip and
# checks them. Finishes with the benchmark figures.
#
# The end-to-end tests spend most of their time waiting (on the program, its
# sound servers, Wine), so the builds run one after another in the background,
# below the tests' priority, and each configuration's end-to-end test starts
# as soon as the programs it runs are built. Every stream writes a log of its
# own in build/logs; they are printed in the order above.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

presets=(linux-debug linux-tsan linux-asan windows)
# Build steps, one after another: each configuration's end-to-end programs
# first, so that its end-to-end test starts while the rest of it builds; the
# configurations whose tests take longest first, the optimised builds last, as
# only the packages and the benchmark wait for them.
build_steps=(linux-debug:end_to_end_programs linux-debug windows:end_to_end_programs windows
             linux-tsan:end_to_end_programs linux-tsan linux-asan:end_to_end_programs linux-asan
             linux-release linux-bench)
logs=build/logs
rm -rf "$logs" build/*/ctest*.log
mkdir -p "$logs"
passed=0
failed=0
skipped=0
failures=()

# Each background stream is a process group of its own, ended with the script.
set -m
trap 'for job in $(jobs -p); do kill -- -"$job" 2>/dev/null; done' EXIT

await() {  # await FILE PID: until FILE exists or the process that makes it has gone
    while [ ! -e "$1" ] && kill -0 "$2" 2>/dev/null; do sleep 1; done
    [ -e "$1" ]
}

# A new Wine prefix takes a while to create: it is made while the Linux
# program builds. The same prefix and settings as the windows test preset.
(
    export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -e "$WINEPREFIX/system.reg" ] && command -v wineboot >/dev/null; then
        mkdir -p "$WINEPREFIX"
        nice -n 19 wineboot -i
        wineserver -w
    fi
    touch "$logs/wineprefix.done"
) >"$logs/wineprefix.log" 2>&1 &
wine_job=$!

# Below the tests' priority: a build must not take the processor from a program under test.
(
    configured=" "
    for step in "${build_steps[@]}"; do
        preset=${step%%:*}
        target=()
        [ "$step" = "$preset" ] || target=(--target "${step#*:}")
        status=1
        if [[ "$configured" == *" $preset "* ]] ||
           { nice -n 19 cmake --preset "$preset" >"$logs/build-$preset.log" 2>&1 && configured+="$preset "; }; then
            nice -n 19 cmake --build --preset "$preset" "${target[@]}" >>"$logs/build-$preset.log" 2>&1
            status=$?
        fi
        echo "$status" >"$logs/build-${step/:/-}.status"
    done
) &
build_job=$!

built() {  # built PRESET [TARGET]: waits for that build step; true when it succeeded
    local status=$logs/build-$1${2:+-$2}.status
    await "$status" "$build_job" && [ "$(cat "$status")" = 0 ]
}

# Each configuration's tests: the end-to-end test, then the others once built,
# beside it; under Wine after it, as its end of session reaches every program
# in the prefix. The Linux end-to-end tests run one after another, beside the
# Wine one: more programs under test at once would starve each other on two
# processors (a window that takes a minute to appear, a level meter that lags).
test_jobs=()
previous_linux=""
for preset in "${presets[@]}"; do
    after=$previous_linux
    [ "$preset" != windows ] || after=""  # beside them, not after the last
    (
        if built "$preset" end_to_end_programs; then
            [ "$preset" != windows ] || await "$logs/wineprefix.done" "$wine_job"
            [ -z "$after" ] || await "$logs/end_to_end-$after.done" "$after_job"
            ( ctest --preset "$preset" -L end_to_end >"build/$preset/ctest-end_to_end.log" 2>&1
              touch "$logs/end_to_end-$preset.done" ) &
            [ "$preset" != windows ] || wait
        fi
        if built "$preset"; then
            ctest --preset "$preset" -LE end_to_end >"build/$preset/ctest.log" 2>&1
        fi
        wait
        touch "$logs/end_to_end-$preset.done" "$logs/ctest-$preset.done"
    ) &
    test_jobs+=($!)
    if [ "$preset" != windows ]; then
        previous_linux=$preset
        after_job=$!
    fi
done

count() {  # count PRESET LOG: prints one ctest run's output and counts its tests
    local preset=$1 log=$2 summary f t s
    cat "$log"
    # ctest's own summary: "N% tests passed, F tests failed out of T"
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        failed=$((failed + 1))
        failures+=("$preset: no test summary")
        return
    fi
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    t=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
    # ctest counts a skipped test (exit code 77: a tool or a mount it needs is
    # missing) among the passed ones; here it is counted apart, and under CI,
    # where everything must be able to run, it fails the run.
    s=$(grep -c -E '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
    passed=$((passed + t - f - s))
    failed=$((failed + f))
    if [ "${CI:-}" = true ]; then
        failed=$((failed + s))
        [ "$s" -eq 0 ] || failures+=("$preset: $s could not run")
    else
        skipped=$((skipped + s))
    fi
    [ "$f" -eq 0 ] || failures+=("$preset: $f failed")
}

for i in "${!presets[@]}"; do
    preset=${presets[$i]}
    echo "=== $preset ==="
    await "$logs/ctest-$preset.done" "${test_jobs[$i]}"
    [ ! -e "build/$preset/ctest-end_to_end.log" ] || count "$preset" "build/$preset/ctest-end_to_end.log"
    if ! built "$preset"; then
        cat "$logs/build-$preset.log"
        failed=$((failed + 1))
        failures+=("$preset: build")
        continue
    fi
    count "$preset" "build/$preset/ctest.log"
done

echo "=== packages ==="
# The .deb from the optimised Linux build, the zip and the MSI from the Windows
# build above; each check of tests/packaging/check_packages.sh counts as one test.
built linux-release  # built in the background: two builds in one tree would collide
rm -rf build/packages
if cmake --preset linux-release >build-packages.log 2>&1 &&
   cmake --build --preset linux-release >>build-packages.log 2>&1 &&
   cpack --config build/linux-release/CPackConfig.cmake -B build/packages >>build-packages.log 2>&1 &&
   cpack --config build/windows/CPackConfig.cmake -B build/packages >>build-packages.log 2>&1; then
    rm -f build-packages.log
    checks=$(tests/packaging/check_packages.sh build/packages/quorvel_*_amd64.deb build/packages/quorvel-*-windows-x64.zip \
             build/packages/quorvel-*-x64.msi build/windows)
    status=$?
    echo "$checks"
    p=$(grep -c '^PASS:' <<<"$checks")
    f=$(grep -c '^FAIL:' <<<"$checks")
    # A checker that stopped before reporting a check still fails.
    [ "$status" -eq 0 ] || [ "$f" -gt 0 ] || f=1
    passed=$((passed + p))
    failed=$((failed + f))
    [ "$f" -eq 0 ] || failures+=("packages: $f failed")
else
    cat build-packages.log
    failed=$((failed + 1))
    failures+=("packages: build")
fi

echo "=== benchmarks (figures, not tests) ==="
# Run alone: the figures are only worth something on a quiet machine.
if built linux-bench; then
    build/linux-bench/bench/spectrum_bench --benchmark_min_time=0.2 || true
fi

for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
