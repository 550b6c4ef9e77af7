#!/usr/bin/env bash
# Builds Kalventa Checkout (installing what the build needs) and starts it.
# Without options it runs against the built-in simulated oscilloscope.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh run >&2
cmake --preset default >/dev/null
cmake --build --preset default --target kalventa-checkout kalventa-sim >&2
exec ./build/kalventa-checkout "$@"
