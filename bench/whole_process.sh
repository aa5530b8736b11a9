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

make_text() { # about 50 MB of English-like text in 100 files
  python3 - "$1" <<'PY'
import os, random, re, sys
out = sys.argv[1]
words = []
for name in sorted(os.listdir('/usr/share/common-licenses')):
    path = os.path.join('/usr/share/common-licenses', name)
    if os.path.isfile(path):
        words += re.findall(r"[A-Za-z][A-Za-z'-]*|[.,;:()]", open(path, errors='ignore').read())
rng = random.Random(1980)
os.makedirs(out, exist_ok=True)
for i in range(100):
    parts, size = [], 0
    while size < 500_000:
        line = ' '.join(rng.choice(words) for _ in range(rng.randint(6, 14))) + '\n'
        parts.append(line)
        size += len(line)
    open(os.path.join(out, 'part%03d.txt' % i), 'w').write(''.join(parts))
PY
}

make_binaries() { # about 50 MB of shared libraries
  mkdir -p "$1"
  local total=0 f
  while IFS= read -r f; do
    cp "$f" "$1/" 2>/dev/null || continue
    total=$((total + $(stat -c %s "$f")))
    [ "$total" -ge 52428800 ] && break
  done < <(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size +100k | sort)
}

median_ms() { # runs a command line $runs times; prints the median in ms
  local times=() i start end
  for ((i = 0; i < runs; i++)); do
    [ -n "${PREPARE:-}" ] && eval "$PREPARE"
    start=$(date +%s%N)
    eval "$1" >/dev/null 2>&1
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

report() { # name, dvl's time, peers' "label=time" ...
  local name=$1 ours=$2 best=999999999 label t line=""
  shift 2
  for pair in "$@"; do
    label=${pair%%=*}
    t=${pair#*=}
    line+="  $label ${t} ms"
    [ "$t" -lt "$best" ] && best=$t
  done
  awk -v n="$name" -v o="$ours" -v b="$best" -v l="$line" \
    'BEGIN {printf "%-22s dvl %d ms%s  ratio to fastest %.2f\n", n, o, l, o / b}'
}

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
