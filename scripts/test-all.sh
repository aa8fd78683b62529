#!/usr/bin/env bash
# Installs what is missing, builds the native (sanitized) and the Win32 build, and runs every
# test: the second-thread tests also under ThreadSanitizer, the Win32 tests under Wine.
#
# Where the kernel runs no 32-bit programs, Wine runs under qemu's emulator (install-deps.sh) and
# each Win32 program takes a minute or more just to start. There the Win32 run keeps the tests of
# the module itself (unit, module boundary with the second-thread test, fuzz corpus replay, the
# example host built against the installed SDK, the version) and leaves the simulator's tests,
# which start Wine a dozen times, to the native run. QUORRIN_WIN32_TESTS=all runs them all anyway.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

emulated=0
grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && emulated=1

# Where Wine runs emulated, starting a Wine session (its services and device manager) costs
# minutes, and a test program that finds no session running pays it again. There one session
# stays up for the whole Win32 run: a persistent wineserver, its services started by a program
# whose output goes nowhere, so that no test's output pipe is held open by them.
keep_session() {
  [ "$emulated" = 1 ] || return 0
  wineserver -p </dev/null >/dev/null 2>&1 || true
  cmake/wine-run.sh cmd /c exit </dev/null >/dev/null 2>&1 || true
  echo "wine-prefix: session up"
}
[ "$emulated" = 1 ] && trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Wine makes its prefix on first use, and the Win32 tests start in parallel: it is made once,
# before them. Where Wine runs emulated that takes many minutes, so it goes on beside the builds
# and the native tests.
mkdir -p build
prefix_log=build/wine-prefix.log
(cmake/wine-prefix.sh && keep_session) >"$prefix_log" 2>&1 &
prefix_pid=$!

jobs=$(nproc 2>/dev/null || echo 2)
for preset in native win32; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== native: tests"
ctest --preset native -j "$jobs"

echo "== tsan: configure, build and the second-thread tests under ThreadSanitizer"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan

echo "== win32: Wine prefix"
prefix_status=0
wait "$prefix_pid" || prefix_status=$?
grep '^wine-prefix:' "$prefix_log" || true
if [ "$prefix_status" -ne 0 ]; then
  cat "$prefix_log" >&2
  exit "$prefix_status"
fi

win32_only=()
if [ "$emulated" = 1 ] && [ "${QUORRIN_WIN32_TESTS:-}" != all ]; then
  echo "== win32: Wine runs emulated here; the simulator's tests run natively only"
  # Each death test starts Wine again: a test program may take many minutes.
  win32_only=(-E '^sim_(builtin_scenario|scenario_file|scenario_checks|cli_rejects_bad_file)$' --timeout 2400)
  # Under qemu, Wine cannot turn a fault into an exception, so IsBadCodePtr on an unreadable page
  # kills the process: the test that hands the module unreadable objects runs natively only.
  export GTEST_FILTER=-DataWrapper.UnreadableSourcesAreNotFollowed
fi
echo "== win32: tests"
ctest --preset win32 -j "$jobs" "${win32_only[@]}"
