#!/usr/bin/env bash
# Whole-process `dvl t` on the formats of the extraction layer against the
# fastest peer that checks or unpacks the same data to /dev/null, in a tmpfs
# folder: about 50 MB of text and 50 MB of binaries in a TAR, compressed by
# each compressor, in MSZIP cabinets, and the fixtures' LZX cabinet. Prints the median wall time of each
# command, dvl's ratio to the fastest peer and dvl's peak memory.
#
# usage: bench/layer_formats.sh [BUILD_DIR] [RUNS]    (default build/release, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-5}
dvl=$(realpath "$build/bin/dvl")
work=$(mktemp -d /dev/shm/dvl-layer.XXXXXX)
trap 'rm -rf "$work"' EXIT
. bench/common.sh

make_text "$work/data/text"
make_binaries "$work/data/binaries"
(cd "$work/data" && tar -cf ../data.tar text binaries)
gzip -6 -c "$work/data.tar" > "$work/data.tar.gz"
bzip2 -9 -c "$work/data.tar" > "$work/data.tar.bz2"
xz -6 -T1 -c "$work/data.tar" > "$work/data.tar.xz"
zstd -q -19 -c "$work/data.tar" > "$work/data.tar.zst"
compress -c "$work/data.tar" > "$work/data.tar.Z"
# gcab keeps each cabinet below 2 GB and each file below its folder's limit.
(cd "$work/data/text" && gcab -c -z "$work/text.cab" ./*)
(cd "$work/data/binaries" && gcab -c -z "$work/binaries.cab" ./*)
ls -l "$work"/data.tar* "$work"/*.cab | awk '{printf "%s %d bytes\n", $NF, $5}'

t() { median_ms "$1"; }
a=$work/data
report "tar" "$(t "'$dvl' t '$a.tar'")" \
  "tar=$(t "tar -xOf '$a.tar' >/dev/null")" "bsdtar=$(t "bsdtar -xOf '$a.tar' >/dev/null")"
report "tar.gz" "$(t "'$dvl' t '$a.tar.gz'")" \
  "gzip=$(t "gzip -t '$a.tar.gz'")" "bsdtar=$(t "bsdtar -xOf '$a.tar.gz' >/dev/null")" \
  "7zz=$(t "7zz t '$a.tar.gz'")"
report "tar.bz2" "$(t "'$dvl' t '$a.tar.bz2'")" \
  "bzip2=$(t "bzip2 -t '$a.tar.bz2'")" "bsdtar=$(t "bsdtar -xOf '$a.tar.bz2' >/dev/null")"
report "tar.xz" "$(t "'$dvl' t '$a.tar.xz'")" \
  "xz=$(t "xz -t -T1 '$a.tar.xz'")" "bsdtar=$(t "bsdtar -xOf '$a.tar.xz' >/dev/null")"
report "tar.zst" "$(t "'$dvl' t '$a.tar.zst'")" \
  "zstd=$(t "zstd -q -t '$a.tar.zst'")" "bsdtar=$(t "bsdtar -xOf '$a.tar.zst' >/dev/null")"
report "tar.Z" "$(t "'$dvl' t '$a.tar.Z'")" \
  "uncompress=$(t "uncompress -c '$a.tar.Z' >/dev/null")" \
  "gzip=$(t "gzip -dc '$a.tar.Z' >/dev/null")"
for cab in text binaries; do
  report "$cab.cab (MSZIP)" "$(t "'$dvl' t '$work/$cab.cab'")" \
    "cabextract=$(t "cabextract -q -t '$work/$cab.cab'")" \
    "7zz=$(t "7zz t '$work/$cab.cab'")"
done
# No installed tool writes LZX: the peer fixtures' LZX cabinet (14.7 MB out).
lzx=$(realpath -m "${DVL_PEER_FIXTURES:-../shared/fixtures}")/cab/lzx21-large-files.cab
if [ -f "$lzx" ]; then
  cp "$lzx" "$work/lzx.cab"
  report "lzx.cab (LZX)" "$(t "'$dvl' t '$work/lzx.cab'")" \
    "cabextract=$(t "cabextract -q -t '$work/lzx.cab'")" "7zz=$(t "7zz t '$work/lzx.cab'")"
fi
peak=$(/usr/bin/time -f %M "$dvl" t "$a.tar.xz" 2>&1 >/dev/null | tail -n 1)
echo "dvl t data.tar.xz peak memory ${peak} KB"
