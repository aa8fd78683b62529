#!/usr/bin/env bash
# Installs what is missing, builds the native (sanitized), the Win32 and the Win64 build, and runs
# every test: the second-thread tests also under ThreadSanitizer, the Win32 tests under Wine, the
# Win64 tests under 64-bit Wine (a prefix of its own), and the check that the Windows packages
# build byte for byte the same from another folder.
#
# Where the kernel runs no 32-bit programs, 32-bit Wine runs under qemu's emulator
# (install-deps.sh) and each Win32 program takes a minute or more just to start; 64-bit Wine still
# runs natively. There the Win32 run keeps the tests of the module itself (unit, module boundary
# with the second-thread test, fuzz corpus replay, the package with its example host, the version)
# and leaves the simulator's tests, which start Wine a dozen times, to the native and Win64 runs.
# QUORRIN_WIN32_TESTS=all runs them all anyway. Everything that needs no 32-bit Wine runs while its
# prefix is still being made.
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

# Wine makes its prefix on first use, and the Windows tests start in parallel: each prefix is made
# once, before them. Where Wine runs emulated that takes many minutes, so both go on beside the
# builds and the tests that need no 32-bit Wine.
mkdir -p build
prefix_log=build/wine-prefix.log
(cmake/wine-prefix.sh && keep_session) >"$prefix_log" 2>&1 &
prefix_pid=$!
prefix64_log=build/wine64-prefix.log
cmake/wine64-run.sh cmd /c exit >"$prefix64_log" 2>&1 </dev/null &
prefix64_pid=$!

# Waits for a prefix made in the background: wait_prefix PID LOG
wait_prefix() {
  local status=0
  wait "$1" || status=$?
  grep '^wine-prefix:' "$2" || true
  if [ "$status" -ne 0 ]; then
    cat "$2" >&2
    exit "$status"
  fi
}

seconds() { echo "($(( $(date +%s) - $1 )) s)"; }

jobs=$(nproc 2>/dev/null || echo 2)
for preset in native win32 win64; do
  echo "== $preset: configure and build"
  start=$(date +%s)
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: built $(seconds "$start")"
done

echo "== native: tests"
start=$(date +%s)
ctest --preset native -j "$jobs"
echo "== native: tested $(seconds "$start")"

echo "== tsan: configure, build and the second-thread tests under ThreadSanitizer"
start=$(date +%s)
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan
echo "== tsan: built and tested $(seconds "$start")"

echo "== win64: tests (64-bit Wine)"
start=$(date +%s)
wait_prefix "$prefix64_pid" "$prefix64_log"
ctest --preset win64 -j "$jobs"
echo "== win64: tested $(seconds "$start")"

# The shipped targets once more, in another folder, against the packages of the builds above.
echo "== reproducible: the Windows packages built again elsewhere"
start=$(date +%s)
for system in win32 win64; do
  bash scripts/reproducible-build.sh --against "build/$system" "$system"
done
echo "== reproducible: checked $(seconds "$start")"

echo "== win32: Wine prefix"
wait_prefix "$prefix_pid" "$prefix_log"

win32_only=()
if [ "$emulated" = 1 ] && [ "${QUORRIN_WIN32_TESTS:-}" != all ]; then
  echo "== win32: Wine runs emulated here; the simulator's tests run natively and on Win64 only"
  # Each death test starts Wine again: a test program may take many minutes.
  win32_only=(-E '^sim_(builtin_scenario|scenario_file|scenario_checks|cli_rejects_bad_file|virtual_.*)$' --timeout 2400)
  # Under qemu, Wine cannot turn a fault into an exception, so IsBadCodePtr on an unreadable page
  # kills the process: the test that hands the module unreadable objects runs natively only.
  export GTEST_FILTER=-DataWrapper.UnreadableSourcesAreNotFollowed
fi
echo "== win32: tests"
# (ctest's summary closes the log, and its "Total Test time" is this step's time)
ctest --preset win32 -j "$jobs" "${win32_only[@]}"
