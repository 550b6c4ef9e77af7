#!/usr/bin/env bash
# Long fuzz runs: builds the fuzz preset, then runs each target (or those
# named) for RUNS executions or SECONDS, whichever comes first, on one core.
# New inputs collect in build-fuzz/corpus/<target> (kept between runs);
# findings go to build-fuzz/findings/<target>.
#
#   fuzz/run-long.sh                 every target, 10^6 runs, 300 s at most
#   RUNS=100000 SECONDS_EACH=60 fuzz/run-long.sh checks adapter
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${RUNS:-1000000}"
seconds="${SECONDS_EACH:-300}"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(checks scope adapter cli)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
status=0
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  findings="build-fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  args=(-runs="$runs" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "fuzz/$target.dict" ] && args+=(-dict="fuzz/$target.dict")
  echo "== fuzz_$target"
  if ! "build-fuzz/fuzz/fuzz_$target" "${args[@]}" "$corpus" "fuzz/corpus/$target" \
      2>"build-fuzz/findings/$target.log"; then
    status=1
    echo "finding: see build-fuzz/findings/$target.log" >&2
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ *DONE" \
    "build-fuzz/findings/$target.log" || true
done
exit $status
