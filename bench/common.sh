# What the whole-process benchmarks share: data made from files on the
# machine, a median timer and the ratio line. Source it; it expects $runs.

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

