#!/usr/bin/env bash
# Builds the Release benchmarks (build/release) and runs them all, or only those named as arguments
# (e.g. scripts/bench.sh IB_Parse_bench). Extra Google Benchmark flags can go in BENCH_ARGS.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDBLIB_SANITIZE=OFF -DDBLIB_TESTS=OFF \
  -DDBLIB_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
if [ $# -gt 0 ]; then
  benches=("$@")
else
  benches=()
  for f in "$build"/bench/*_bench; do benches+=("$(basename "$f")"); done
fi
for b in "${benches[@]}"; do
  echo "== $b"
  # shellcheck disable=SC2086
  "$build/bench/$b" ${BENCH_ARGS:-}
done
