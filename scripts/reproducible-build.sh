#!/usr/bin/env bash
# Builds the release packages of this tree twice, in two folders of different names and depths,
# and compares them: the same sources must give byte-identical ZIPs and SHA256SUMS.
#
#   bash scripts/reproducible-build.sh [--against BUILD] [win32|win64|native ...]
#
# Without a system named, all three. Only the shipped targets are built (the `release` target).
# --against BUILD takes an existing build folder of this tree (configured for the one system named)
# as the first of the two builds, so that only the second is built here.
set -euo pipefail
shopt -s inherit_errexit  # a failed step inside $(...) stops the script too
cd "$(dirname "$0")/.."

against=""
if [ "${1:-}" = --against ]; then
  against=$(cd "$2" && pwd)
  shift 2
fi
systems=("$@")
[ ${#systems[@]} -gt 0 ] || systems=(win32 win64 native)
if [ -n "$against" ] && [ ${#systems[@]} -ne 1 ]; then
  echo "reproducible-build: --against takes one system" >&2
  exit 2
fi

# Both builds date the package alike; by default, the commit's time.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
export SOURCE_DATE_EPOCH

work=$(mktemp -d "${TMPDIR:-/tmp}/quorrin-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
copies=("$work/a/quorrin" "$work/second-place/deeper/quorrin-again")

# The files git knows of, as they are in the work tree now: the same sources, in other folders.
copy_tree() {
  mkdir -p "$1"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      if [ -f "$file" ]; then printf '%s\0' "$file"; fi
    done | xargs -0 cp --parents -t "$1"
}
[ -n "$against" ] || copy_tree "${copies[0]}"
copy_tree "${copies[1]}"

preset_of() { [ "$1" = native ] && echo native-release || echo "$1"; }

# Runs a build step with its output in LOG; on failure shows the end of LOG and stops.
logged() {
  local log=$1
  shift
  "$@" >>"$log" 2>&1 || { echo "reproducible-build: failed: $*; the end of its output:" >&2; tail -n 60 "$log" >&2; exit 1; }
}

# Builds the package of SYSTEM in the source tree SOURCE; prints the package's path.
build_package() {
  local system=$1 source=$2 preset log="$work/build-$system.log"
  preset=$(preset_of "$system")
  (cd "$source" && logged "$log" cmake --preset "$preset" -DQUORRIN_TESTS=OFF -DQUORRIN_BENCHMARKS=OFF)
  logged "$log" cmake --build "$source/build/$preset" --target release -j "$(nproc 2>/dev/null || echo 2)"
  ls "$source/build/$preset"/quorrin-*.zip
}

status=0
for system in "${systems[@]}"; do
  start=$(date +%s)
  if [ -n "$against" ]; then
    rm -f "$against"/quorrin-*.zip  # an older version's package would be taken too
    logged "$work/build-$system.log" cmake --build "$against" --target release
    first=$(ls "$against"/quorrin-*.zip)
  else
    first=$(build_package "$system" "${copies[0]}")
  fi
  second=$(build_package "$system" "${copies[1]}")
  name=$(basename "$first")
  for zip in "$first" "$second"; do
    unzip -p "$zip" "${name%.zip}/SHA256SUMS" >"$zip.SHA256SUMS"
    echo "$zip"
    echo "  zip $(sha256sum <"$zip" | cut -d' ' -f1), its SHA256SUMS $(sha256sum <"$zip.SHA256SUMS" | cut -d' ' -f1)"
    grep -E ' (bin|lib)/[^/]*$' "$zip.SHA256SUMS" | sed 's/^/  /'
  done
  if cmp -s "$first" "$second" && cmp -s "$first.SHA256SUMS" "$second.SHA256SUMS"; then
    echo "reproducible: $name and its SHA256SUMS are the same from both folders ($(( $(date +%s) - start )) s)"
  else
    echo "NOT reproducible: $name differs between the two folders; the files that differ:" >&2
    diff "$first.SHA256SUMS" "$second.SHA256SUMS" >&2 || true
    status=1
  fi
done
exit "$status"
