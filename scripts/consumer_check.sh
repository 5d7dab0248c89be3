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

check() {  # check WAY BUILD_DIR [PROGRAM EXPECTED]: runs a consumer built in BUILD_DIR
  local program=${3:-consumer} expected=${4:-answer 42} got
  got=$(QT_QPA_PLATFORM=offscreen "$2/$program" "$work/$1-$program.fdb")
  if [[ $got != "$expected" ]]; then
    echo "$program ($1): unexpected output: $got" >&2
    return 1
  fi
  echo "$program ($1): built and ran"
}

# The dialogs are checked where Qt 5 Widgets is installed (Debian: qtbase5-dev).
dialogs=OFF
if (cd "$work" && cmake --find-package -DNAME=Qt5Widgets -DCOMPILER_ID=GNU -DLANGUAGE=CXX -DMODE=EXIST) >/dev/null 2>&1; then
  dialogs=ON
fi

# add_subdirectory: a program that does not link the dialogs does not build them.
cmake -S "$root/tests/consumer" -B "$out/subdirectory" -G Ninja -DDBLIB_SOURCE_DIR="$root" >/dev/null
cmake --build "$out/subdirectory" -j "$jobs" >/dev/null
check add_subdirectory "$out/subdirectory"
if [[ -n $(find "$out/subdirectory" -name 'libdblib_dialogs.a' -print -quit) ]]; then
  echo "consumer (add_subdirectory): the dialogs were built for a program that does not link them" >&2
  exit 1
fi
if [[ $dialogs == ON ]]; then
  cmake -S "$root/tests/consumer" -B "$out/subdirectory" -G Ninja -DDBLIB_CONSUMER_DIALOGS=ON >/dev/null
  cmake --build "$out/subdirectory" -j "$jobs" >/dev/null
  check add_subdirectory "$out/subdirectory" consumer_dialogs "dialog shown"
fi

cmake -S "$root" -B "$out/library" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDBLIB_SANITIZE=OFF -DDBLIB_TESTS=OFF \
  -DDBLIB_EXAMPLES=OFF >/dev/null
cmake --build "$out/library" -j "$jobs" >/dev/null
cmake --install "$out/library" --prefix "$work/prefix" >/dev/null
cmake -S "$root/tests/consumer" -B "$out/package" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DDBLIB_CONSUMER_DIALOGS=$dialogs >/dev/null
cmake --build "$out/package" -j "$jobs" >/dev/null
check find_package "$out/package"
if [[ $dialogs == ON ]]; then
  check find_package "$out/package" consumer_dialogs "dialog shown"
else
  echo "consumer_dialogs: skipped (Qt 5 Widgets is not installed)"
fi
