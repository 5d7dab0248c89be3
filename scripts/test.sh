#!/usr/bin/env bash
# Installs what is missing, builds the Debug build with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs every test. Prints ctest's summary; exits non-zero when anything fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build="$root/build/debug"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDBLIB_SANITIZE=ON -DDBLIB_TESTS=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
jobs=$(nproc)
cd "$build"
ctest --output-on-failure -j "$jobs" --timeout 600
