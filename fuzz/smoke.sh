#!/usr/bin/env bash
# A short run of one fuzz target: smoke.sh BINARY SEEDS SECONDS [DICT]
# New inputs go to a scratch directory, never into the committed seeds. The
# run fails on any finding (crash, sanitizer report, time-out, leak).
set -euo pipefail
binary="$1" seeds="$2" seconds="$3" dict="${4:-}"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=4096
      -print_final_stats=1 -artifact_prefix="$scratch/")
[ -n "$dict" ] && args+=(-dict="$dict")
if ! "$binary" "${args[@]}" "$scratch" "$seeds"; then
  echo "fuzz finding in $(basename "$binary"); the input:" >&2
  for f in "$scratch"/crash-* "$scratch"/timeout-* "$scratch"/leak-* "$scratch"/oom-*; do
    [ -e "$f" ] && { echo "$f" >&2; od -c "$f" | head -40 >&2; }
  done
  exit 1
fi
