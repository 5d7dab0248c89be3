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
ctest_log="$build/ctest-summary.log"
ctest --output-on-failure -j "$jobs" --timeout 600 | tee "$ctest_log"

# A program of another project builds and runs against the library, through add_subdirectory and through
# find_package after an install.
bash "$root/scripts/consumer_check.sh"

# The README's C++ blocks, as they stand, build into one program that runs twice on embedded databases in a
# temporary folder.
bash "$root/scripts/readme_check.sh"

# Fuzz the SQL text toolkit for a bounded time (FUZZ_SECONDS, default 60) with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; any crash, hang or sanitizer report fails the script.
fuzz_build="$root/build/fuzz"
cmake -S "$root" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DDBLIB_SANITIZE=OFF -DDBLIB_TESTS=OFF -DDBLIB_FUZZ=ON >/dev/null
cmake --build "$fuzz_build" -j "$jobs" --target IB_Parse_fuzz IB_ParseQBE_fuzz
# Runs one fuzz target over a copy of its corpus for Seconds; a failure prints the log's tail and fails.
run_fuzz() {
  local target=$1 seconds=$2 corpus log
  corpus=$(mktemp -d)
  cp "$root/fuzz/corpus/$target"/* "$corpus"/
  log="$fuzz_build/${target}_fuzz.log"
  if ! (cd "$fuzz_build" && "./fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -max_len=4096 \
        -rss_limit_mb=2048 "$corpus" >"$log" 2>&1); then
    tail -n 60 "$log"
    echo "${target}_fuzz found a failure (full log: $log)"
    rm -rf "$corpus"
    exit 1
  fi
  rm -rf "$corpus"
  echo "${target}_fuzz: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1), no failure"
}
run_fuzz IB_Parse "${FUZZ_SECONDS:-60}"
# The query-by-example and filter translators, for a shorter time (QBE_FUZZ_SECONDS, default 30): their output
# must never hold a second statement, a comment or an unbalanced quote or parenthesis.
run_fuzz IB_ParseQBE "${QBE_FUZZ_SECONDS:-30}"

# The tests' summary, last, where it is easy to find.
grep -E "tests passed|tests failed out of|Total Test time" "$ctest_log" || true
