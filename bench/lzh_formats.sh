#!/usr/bin/env bash
# Whole-process `dvl t` on LHA and ARJ archives against the fastest peer that
# tests (or unpacks to nowhere) the same archive, in a tmpfs folder: about
# 50 MB of text and 50 MB of binaries packed by jlha with -lh5-, -lh6-, -lh7-
# (and -lh1-, through the jLHA library, for the text alone), and by arj with
# methods 1 and 4. Prints the median wall time of each command, dvl's ratio to
# the fastest peer and dvl's peak memory on a small and the large -lh5- archive.
#
# usage: bench/lzh_formats.sh [BUILD_DIR] [RUNS]    (default build/release, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
runs=${2:-5}
dvl=$(realpath "$build/bin/dvl")
work=$(mktemp -d /dev/shm/dvl-lzh.XXXXXX)
trap 'rm -rf "$work"' EXIT
. bench/common.sh

make_text "$work/data/text"
make_binaries "$work/data/binaries"
cd "$work/data"
for method in 5 6 7; do
  jlha "aq0o$method" "../lh$method.lzh" text binaries >/dev/null
done
# No command writes -lh1-: the jLHA library under jlha does, through the
# tests' encoder, for one file (the text as a TAR).
tar -cf ../text.tar text
java -cp /usr/share/java/jlha.jar "$root/tests/archive/codecs/JlhaEncode.java" archive \
  ../text.tar ../lh1 -lh1- >/dev/null && mv ../lh1-lh1- ../lh1.lzh
arj a -m1 -r -y -i ../arj1.arj '*' >/dev/null
arj a -m4 -r -y -i ../arj4.arj '*' >/dev/null
jlha aq0o5 ../small.lzh text/part000.txt >/dev/null
cd "$work"
ls -l ./*.lzh ./*.arj | awk '{printf "%s %d bytes\n", $NF, $5}'

t() { median_ms "$1"; }
unar_to_scratch() { # unar writes files; give it a fresh folder each time
  echo "rm -rf '$work/unar' && unar -q -o '$work/unar' '$1'"
}
for method in 5 6 7 1; do
  a=$work/lh$method.lzh
  grep -q -- "-lh$method-" <(lhasa v "$a" 2>/dev/null | head -n 5) ||
    { echo "lh$method.lzh: jlha wrote no -lh$method- members; skipped"; continue; }
  peers=("lhasa=$(t "lhasa t '$a'")" "jlha=$(t "jlha tq0 '$a'")"
    "unar=$(t "$(unar_to_scratch "$a")")")
  # 7zz and bsdtar read -lh5- to -lh7- only.
  [ "$method" = 1 ] || peers+=("7zz=$(t "7zz t '$a'")" "bsdtar=$(t "bsdtar -xOf '$a' >/dev/null")")
  report "-lh$method-" "$(t "'$dvl' t '$a'")" "${peers[@]}"
done
for method in 1 4; do
  a=$work/arj$method.arj
  report "ARJ $method" "$(t "'$dvl' t '$a'")" \
    "arj=$(t "arj t -y '$a'")" "7zz=$(t "7zz t '$a'")" "unar=$(t "$(unar_to_scratch "$a")")"
done
for a in small.lzh lh5.lzh; do
  peak=$(/usr/bin/time -f %M "$dvl" t "$work/$a" 2>&1 >/dev/null | tail -n 1)
  echo "dvl t $a ($(stat -c %s "$work/$a") bytes) peak memory ${peak} KB"
done
