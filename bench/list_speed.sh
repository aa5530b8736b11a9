#!/usr/bin/env bash
# Listing speed of dvl l beside unzip -l, in a tmpfs folder (the disk is too
# noisy for ratios): a ZIP of 20,000 small entries, and two ZIPs of 2,000
# entries that differ only in the size of the entries' data (1 byte against
# 50 KB each, about 100 MB), which a listing never reads. Prints the median
# wall time of each command and dvl's ratio to unzip.
#
# usage: bench/list_speed.sh [BUILD_DIR] [RUNS]    (default build/release, 7)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-7}
dvl=$(realpath "$build/bin/dvl")
work=$(mktemp -d /dev/shm/dvl-list-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

make_tree() { # folder, entries, bytes per entry
  python3 - "$@" <<'PY'
import os, random, sys
out, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(1980)
for i in range(count):
    folder = os.path.join(out, 'd%02d' % (i % 50))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'file%05d.txt' % i), 'wb') as f:
        f.write(rng.randbytes(size))
PY
}

median_ms() { # runs a command line $runs times; prints the median in ms
  local times=() i start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    eval "$1" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

make_tree "$work/many" 20000 16
make_tree "$work/small" 2000 1
make_tree "$work/large" 2000 51200
(cd "$work/many" && zip -q -r ../many.zip .)
(cd "$work/small" && zip -q -0 -r ../small.zip .)
(cd "$work/large" && zip -q -0 -r ../large.zip .)
ls -l "$work"/*.zip | awk '{printf "%s %d bytes\n", $NF, $5}'

for set in many small large; do
  a="$work/$set.zip"
  ours=$(median_ms "'$dvl' l '$a'")
  peer=$(median_ms "unzip -l '$a'")
  awk -v n="$set" -v o="$ours" -v p="$peer" \
    'BEGIN {printf "%-6s dvl l %d ms  unzip -l %d ms  ratio %.2f\n", n, o, p, o / (p ? p : 1)}'
done
