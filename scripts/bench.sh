#!/usr/bin/env bash
# Builds the Release benchmarks (build/release) and runs them all, or only those named as arguments
# (e.g. scripts/bench.sh IB_Parse_bench). Extra Google Benchmark flags can go in BENCH_ARGS.
#
# BENCH_CALLGRIND=1 also runs each comparison (library against plain client calls) under callgrind, on a
# small row count so that it takes minutes, and prints its instruction ratio (library / plain) with its
# target: instruction counts stay put on a busy machine where times move. The programs mark the measured
# parts (bench::Counted); instrumentation is off everywhere else. BENCH_CALLGRIND=only skips the timed runs.
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

# The arguments of a program's run under callgrind (about 20,000 rows a side); none: no comparison to count.
callgrind_args() {
  case "$1" in
    IB_Statement_bench) echo "2 10000" ;;
    IB_Fetch_bench) echo "2 20000" ;;
    IB_Buffered_bench) echo "--rows 20000 2" ;;
    IB_BlobStream_bench) echo "2 8" ;;
    *) return 1 ;;
  esac
}

# Runs program $1 (arguments $2...) under callgrind and prints, per comparison, the instructions of each
# side and their ratio beside the target. Each measured part is dumped as "comparison|side|target"; a plain
# side shared by several comparisons names them all, separated by ";". A part dumped as "what|count|rows"
# is no comparison: its instructions a row are printed.
count_instructions() {
  local out
  out=$(mktemp -d)
  BENCH_NO_PREPARE=1 valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file="$out/cg.%p" "$@" \
    >"$out/stdout" 2>"$out/valgrind" || {
    echo "  the run under callgrind failed:"
    tail -n 20 "$out/valgrind" "$out/stdout"
    rm -rf "$out"
    return 1
  }
  awk '
    /^desc: Trigger: Client Request: / { sub(/^desc: Trigger: Client Request: /, ""); label = $0 }
    /^totals: / && label != "" { n[label] += $2; label = "" }
    END {
      for (l in n) {
        split(l, f, "|")
        if (f[2] == "plain") {
          m = split(f[1], names, ";")
          for (i = 1; i <= m; ++i) plain[names[i]] += n[l]
        } else if (f[2] == "count") {
          count[f[1]] += n[l]
          rows[f[1]] = f[3]
        } else {
          lib[f[1]] += n[l]
          target[f[1]] = f[3]
        }
      }
      for (c in lib) {
        if (plain[c] > 0) {
          r = lib[c] / plain[c]
          split(target[c], t, " ")
          missed = (t[1] == "<=" && r > t[2] + 0) || (t[1] == ">=" && r < t[2] + 0)
          printf "  %-58s %6.3f  (target %s)%s  library %d, plain %d\n", c, r, target[c], missed ? "  MISSED" : "", \
                 lib[c], plain[c]
        } else {
          printf "  %-58s no plain side counted\n", c
        }
      }
      for (c in count) printf "  %-58s %.0f instructions a row (%d rows)\n", c, count[c] / rows[c], rows[c]
    }' "$out"/cg.* | sort
  rm -rf "$out"
}

for b in "${benches[@]}"; do
  echo "== $b"
  if [ "${BENCH_CALLGRIND:-}" != only ]; then
    # shellcheck disable=SC2086
    "$build/bench/$b" ${BENCH_ARGS:-}
  fi
  if [ -n "${BENCH_CALLGRIND:-}" ]; then
    if ! command -v valgrind >/dev/null; then
      echo "-- instructions: valgrind is not installed (scripts/setup.sh installs it)"
    elif args=$(callgrind_args "$b"); then
      echo "-- instructions under callgrind (library / plain client calls; $b $args):"
      # shellcheck disable=SC2086
      count_instructions "$build/bench/$b" $args
    fi
  fi
done
