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
# A private Firebird server on loopback for the TCP/IP tests; without it those tests report themselves skipped.
if fbenv=$(bash "$root/scripts/fbserver.sh" start); then
  eval "$fbenv"
  trap 'bash "$root/scripts/fbserver.sh" stop "$DBLIB_FBSERVER_ROOT"' EXIT
else
  echo "test.sh: no private Firebird server; the TCP/IP tests will be skipped" >&2
fi
cd "$build"
ctest --output-on-failure -j "$jobs" --timeout 600
