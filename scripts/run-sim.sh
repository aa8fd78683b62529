#!/usr/bin/env bash
# The main job: installs what is missing, builds quorrin-sim and the module natively (Release),
# and plays the built-in scenario. Reports go to stdout (one JSON object a line); progress and
# the summary go to stderr. Arguments are passed to quorrin-sim, e.g. --html session.html or
# --scenario FILE. Wine is not needed for this; set QUORRIN_NO_WINE=0 to install it as well.
set -euo pipefail
cd "$(dirname "$0")/.."

QUORRIN_NO_WINE=${QUORRIN_NO_WINE:-1} bash scripts/install-deps.sh >&2

build=build/sim-release
echo "run-sim: building quorrin-sim in $build" >&2
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORRIN_TESTS=OFF &&
       cmake --build "$build" --target quorrin-sim -j "$(nproc 2>/dev/null || echo 2)"; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  echo "run-sim: the build failed (log: $build/build.log)" >&2
  exit 1
fi
exec "$build/bin/quorrin-sim" "$@"
