#!/usr/bin/env bash
# Builds the libFuzzer harness with clang (preset "fuzz", in build/fuzz) and fuzzes the plug-in
# for about SECONDS (default 60) with one worker, starting from the committed seed corpus.
# Exits non-zero on any finding: a crash, a sanitizer report, a leak, a timeout or a broken
# invariant. Findings are written to build/fuzz/findings/; new inputs go to build/fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
QUORRIN_NO_WINE=1 bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

work=build/fuzz
mkdir -p "$work/corpus" "$work/findings"
rm -f "$work"/findings/*
status=0
"$work/bin/quorrin_fuzzer" -max_total_time="$seconds" -max_len=2048 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/findings/" "$work/corpus" fuzz/corpus || status=$?
if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/findings")" ]; then
  echo "fuzz: finding(s) in $work/findings (exit $status); replay one with $work/bin/quorrin_fuzzer FILE" >&2
  exit 1
fi
echo "fuzz: no finding in ${seconds}s"
