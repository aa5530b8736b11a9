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
. bench/common.sh

PREPARE="rm -rf '$work/out' && mkdir '$work/out'"
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
  report "$n files" "$(median_ms "'$dvl' x -o '$work/out' '$work/many.zip'")" \
    "unzip=$(median_ms "unzip -qo '$work/many.zip' -d '$work/out'")"
done
