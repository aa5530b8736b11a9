#!/usr/bin/env bash
# Extraction of archives with many small files in one folder, dvl x beside
# unzip, in a tmpfs folder: the time must grow with the number of files, not
# with its square. Prints the median wall time of each and dvl's ratio.
#
# usage: bench/many_files.sh [BUILD_DIR] [RUNS] [COUNTS...]
#        (default build/release, 3, 1000 8000 70000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-3}
shift 2 2>/dev/null || shift $#
counts=("$@")
[ ${#counts[@]} -eq 0 ] && counts=(1000 8000 70000)
dvl=$(realpath "$build/bin/dvl")
work=$(mktemp -d /dev/shm/dvl-many.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Median wall time in seconds of a command run in a fresh output folder.
median_time() {
  local times=() i start end
  for ((i = 0; i < runs; ++i)); do
    rm -rf "$work/out" && mkdir "$work/out"
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    times+=("$(python3 -c "print($end - $start)")")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

printf '%8s %10s %10s %7s\n' files dvl unzip ratio
for n in "${counts[@]}"; do
  rm -rf "$work/src" && mkdir -p "$work/src/d"
  python3 - "$work/src/d" "$n" <<'PY'
import os, sys
folder, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    with open(os.path.join(folder, 'f%06d.txt' % i), 'w') as f:
        f.write('file %d\n' % i)
PY
  rm -f "$work/many.zip"
  (cd "$work/src" && zip -qr -0 ../many.zip d)
  dvl_time=$(median_time "$dvl" x -o "$work/out" "$work/many.zip")
  unzip_time=$(median_time unzip -qo "$work/many.zip" -d "$work/out")
  printf '%8d %10.3f %10.3f %7.2f\n' "$n" "$dvl_time" "$unzip_time" \
    "$(python3 -c "print($dvl_time / $unzip_time)")"
done
