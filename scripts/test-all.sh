#!/usr/bin/env bash
# Installs what is missing, builds the native (sanitized) and the Win32 build, and runs every
# test: the Win32 tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in native win32; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
for preset in native win32; do
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done
