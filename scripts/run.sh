#!/usr/bin/env bash
# Builds the Linux program (optimised, no tests) and starts it.
# Installs the build and run dependencies with apt-get when they are missing.
#   scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh run
cmake --preset linux-release
cmake --build --preset linux-release
exec build/linux-release/platform/linux/quorvel
