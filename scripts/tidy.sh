#!/usr/bin/env bash
# clang-tidy over src/ with the checks of .clang-tidy; any finding fails.
#   scripts/tidy.sh [BUILD_DIR]   (default: build, configured with the default
#                                  preset when it has no compile_commands.json)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
fi
jobs="$(nproc 2>/dev/null || echo 2)"
run-clang-tidy -p "$build" -quiet -j "$jobs" \
  -extra-arg=-Wno-unknown-warning-option "$PWD/src/.*\.cc$"
