#!/usr/bin/env bash
# Whole-process comparison of dvl with unzip, 7zz and bsdtar on about 50 MB of
# text and 50 MB of binaries, zipped by Info-ZIP zip -6, in a tmpfs folder
# (the disk is too noisy for ratios). Prints the median wall time of each
# command, dvl's ratio to the fastest peer, and dvl's peak memory.
#
# usage: bench/whole_process.sh [BUILD_DIR] [RUNS]    (default build/release, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
dvl=$(realpath "$build/bin/dvl")
work=$(mktemp -d /dev/shm/dvl-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

. bench/common.sh

make_text "$work/text"
make_binaries "$work/binaries"
(cd "$work/text" && zip -q -6 ../text.zip ./*)
(cd "$work/binaries" && zip -q -6 ../binaries.zip ./*)
ls -l "$work"/*.zip | awk '{printf "%s %d bytes\n", $NF, $5}'

for set in text binaries; do
  a="$work/$set.zip"
  out="$work/out"
  ours=$(median_ms "'$dvl' t '$a'")
  report "$set: test" "$ours" \
    "unzip=$(median_ms "unzip -tqq '$a'")" \
    "7zz=$(median_ms "7zz t '$a'")" \
    "bsdtar=$(median_ms "bsdtar -xOf '$a' >/dev/null")"
  PREPARE="rm -rf '$out' && mkdir '$out'"
  ours=$(median_ms "'$dvl' x -o '$out' '$a'")
  report "$set: extract" "$ours" \
    "unzip=$(median_ms "unzip -qq -o '$a' -d '$out'")" \
    "7zz=$(median_ms "7zz x -y -o'$out' '$a'")" \
    "bsdtar=$(median_ms "bsdtar -xf '$a' -C '$out'")"
  unset PREPARE
  rm -rf "$out" && mkdir "$out"
  peak=$(/usr/bin/time -f %M "$dvl" x -o "$out" "$a" 2>&1 >/dev/null | tail -n 1)
  echo "$set: dvl x peak memory ${peak} KB"
done
