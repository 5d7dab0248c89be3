#!/usr/bin/env bash
# Installs what is missing, builds the example program and runs it on an embedded database file
# that it creates in a temporary folder, twice on the same path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDBLIB_SANITIZE=OFF -DDBLIB_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target example_query
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$build/examples/example_query" "$dir/example.fdb"
"$build/examples/example_query" "$dir/example.fdb" >/dev/null  # a second run starts afresh on the same path
