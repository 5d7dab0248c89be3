#!/usr/bin/env bash
# Builds and runs a small program of another project against the library both ways a project takes it
# in: through add_subdirectory, and through find_package after `cmake --install` into a temporary prefix.
# Exits non-zero when either build or run fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/consumer"
jobs=${JOBS:-$(nproc)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$out"

check() {  # check WAY BUILD_DIR: runs the consumer built in BUILD_DIR
  local got
  got=$("$2/consumer" "$work/$1.fdb")
  if [[ $got != "answer 42" ]]; then
    echo "consumer ($1): unexpected output: $got" >&2
    return 1
  fi
  echo "consumer ($1): built and ran"
}

cmake -S "$root/tests/consumer" -B "$out/subdirectory" -G Ninja -DDBLIB_SOURCE_DIR="$root" >/dev/null
cmake --build "$out/subdirectory" -j "$jobs" >/dev/null
check add_subdirectory "$out/subdirectory"

cmake -S "$root" -B "$out/library" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDBLIB_SANITIZE=OFF -DDBLIB_TESTS=OFF \
  -DDBLIB_EXAMPLES=OFF >/dev/null
cmake --build "$out/library" -j "$jobs" >/dev/null
cmake --install "$out/library" --prefix "$work/prefix" >/dev/null
cmake -S "$root/tests/consumer" -B "$out/package" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$out/package" -j "$jobs" >/dev/null
check find_package "$out/package"
