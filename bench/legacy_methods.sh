#!/usr/bin/env bash
# Whole-process comparison of `dvl t` with `unzip -tqq` and `7zz t` on archives of the legacy
# ZIP methods (shrink, reduce 1 to 4, implode 4K/2 trees and 8K/3 trees), each at least 20 MB,
# written by the test encoders, in a tmpfs folder. No peer here decodes reduce: each reduced
# archive is compared with `dvl t` on the same entries deflated by Info-ZIP zip -6. Prints the
# median wall time of each command and dvl's ratio to the fastest peer (or to the deflated run).
#
# usage: bench/legacy_methods.sh [BUILD_DIR] [RUNS]    (default build/legacy-release, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/legacy-release}
runs=${2:-5}
dvl=$(realpath "$build/bin/dvl")
tests=$(realpath "$build/bin/dvl_archive_tests")
work=$(mktemp -d /dev/shm/dvl-legacy.XXXXXX)
trap 'rm -rf "$work"' EXIT

DVL_LEGACY_BENCH_OUT="$work" "$tests" --gtest_also_run_disabled_tests \
  --gtest_filter='LegacyBenchArchives.DISABLED_Write' | grep -E '^(shrink|reduce|implode)'

median() { # command...; median wall time in seconds over $runs runs, or "fail"
  local times=() i start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo fail; return; }
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p"
}

printf '%-20s %10s %10s %10s %10s %10s %8s\n' archive MB dvl unzip 7zz deflate6 ratio
for archive in "$work"/*.zip; do
  name=$(basename "$archive" .zip)
  size=$(echo "scale=1; $(stat -c %s "$archive") / 1000000" | bc)
  ours=$(median "$dvl" t "$archive")
  if [[ $name == reduce* ]]; then
    deflated="$work/deflate/$name.zip"
    mkdir -p "$work/deflate"
    (cd "$work/data" && zip -q -6 "$deflated" $(unzip -Z1 "$archive"))
    ref=$(median "$dvl" t "$deflated")
    printf '%-20s %10s %10s %10s %10s %10s %8s\n' "$name" "$size" "$ours" - - "$ref" \
      "$(echo "scale=2; $ours / $ref" | bc)"
    rm -f "$deflated"
  else
    u=$(median unzip -tqq "$archive")
    s=$(median 7zz t "$archive")
    best=$(printf '%s\n%s\n' "$u" "$s" | grep -v fail | sort -g | head -1)
    printf '%-20s %10s %10s %10s %10s %10s %8s\n' "$name" "$size" "$ours" "$u" "$s" - \
      "$(echo "scale=2; $ours / $best" | bc)"
  fi
done
