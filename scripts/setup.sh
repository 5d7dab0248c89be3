#!/usr/bin/env bash
# Installs whatever this project needs and is missing: tool chain, CMake, Ninja, GoogleTest,
# Google Benchmark, clang (fuzzing), Firebird 3 (client, embedded engine, utilities, headers, server) and
# Qt 5 Widgets (the optional dialogs target and its tests), valgrind (instruction counts of the benchmarks).
# ICU's common library (libicuuc, loaded at run time for case folding in the character sets) comes with the
# engine package; libicu-dev names it for any release (it pulls in that release's libicuNN).
# Quick when everything is already there.
set -euo pipefail

pkgs=(build-essential g++ cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev
      libbenchmark-dev clang libclang-rt-14-dev
      libfbclient2 firebird3.0-server-core firebird3.0-utils firebird-dev firebird3.0-server
      qtbase5-dev valgrind libicu-dev)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  # The server package must not start a system-wide service on install: tests run their own.
  if [ ! -x /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
