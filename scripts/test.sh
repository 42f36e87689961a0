#!/usr/bin/env bash
# Installs what is missing, then builds and tests every configuration: Linux
# debug, ThreadSanitizer, AddressSanitizer+UBSan, and the Windows build under
# Wine. Tests that need a sound server or a display get a private PulseAudio
# server and an Xvfb display. Then builds the .deb and the Windows zip and
# checks them. Finishes with the benchmark figures.
set -uo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh || exit 1

presets=(linux-debug linux-tsan linux-asan windows)
passed=0
failed=0
skipped=0
failures=()

for preset in "${presets[@]}"; do
    echo "=== $preset ==="
    if ! cmake --preset "$preset" >"build-$preset.log" 2>&1 ||
       ! cmake --build --preset "$preset" >>"build-$preset.log" 2>&1; then
        cat "build-$preset.log"
        failed=$((failed + 1))
        failures+=("$preset: build")
        continue
    fi
    rm -f "build-$preset.log"
    log="build/$preset/ctest.log"
    ctest --preset "$preset" 2>&1 | tee "$log"
    # ctest's own summary: "N% tests passed, F tests failed out of T"
    summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        failed=$((failed + 1))
        failures+=("$preset: no test summary")
        continue
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
done

echo "=== packages ==="
# The .deb from the optimised Linux build, the zip and the MSI from the Windows
# build above; each check of tests/packaging/check_packages.sh counts as one test.
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
if cmake --preset linux-bench >/dev/null && cmake --build --preset linux-bench >/dev/null; then
    build/linux-bench/bench/spectrum_bench --benchmark_min_time=0.2 || true
fi

for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "tests: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
