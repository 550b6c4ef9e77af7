#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
# ./test.sh          the normal build
# ./test.sh asan     the same under AddressSanitizer and UndefinedBehaviorSanitizer
# ./test.sh fuzz     the fuzz targets (clang) and a short run of each
set -euo pipefail
cd "$(dirname "$0")"
preset="${1:-default}"
./scripts/install-deps.sh test
cmake --preset "$preset"
cmake --build --preset "$preset"
ctest --preset "$preset"
