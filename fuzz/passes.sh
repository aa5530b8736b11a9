# The two passes of one fuzz target, shared by fuzz/run and fuzz/campaign
# (sourced, from the repository's root):
# 1. from the target's corpus fuzz/corpus/<name>/ and its seeds, inputs capped
#    at max_len; new inputs land in a scratch folder, and -merge=1 then adds to
#    the corpus only those that reach new edges (-use_counters=0: hit counts
#    alone would grow the corpus several times over);
# 2. from the peer fixtures and the corpus, in a scratch folder that is thrown
#    away, so that nothing derived from a fixture reaches the repository.
# A crashing, hanging or memory-hungry input is left as crash-*, timeout-* or
# oom-* in the repository's root.

fixtures=$(realpath -m "${DVL_PEER_FIXTURES:-../shared/fixtures}")
# Undefined behaviour is a finding too, not a line in a log.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

# The longest input the first pass makes: room for a few small entries.
max_len() {
  case "$1" in
    inflate | unshrink | unreduce | explode | ace_decoder | ace) echo 4096 ;;
    *) echo 8192 ;;
  esac
}

# The fixture folders the second pass starts from.
fixture_folders() {
  local folder
  case "$1" in
    lister_gz) folder=$fixtures/gzip ;;
    lister_lzh) folder=$fixtures/lha ;;
    lister_*) folder=$fixtures/${1#lister_} ;;
    ace) folder=$fixtures/ace ;;
    *) folder=$fixtures ;;
  esac
  if [ -d "$folder" ]; then echo "$folder"; fi
}

# Files and bytes of a folder, as "FILES BYTES".
corpus_size() {
  find "$1" -type f -printf '%s\n' 2>/dev/null | awk '{ n++; b += $1 } END { print n + 0, b + 0 }'
}

# Reads a pass's log into runs (executions), cov and ft (the last status
# line) and adds the inputs it left in the repository's root to findings.
read_log() {
  local line
  runs=$(awk '/^stat::number_of_executed_units:/ { print $2 }' "$1" | tail -n 1)
  line=$(grep -E '^#[0-9]+.* cov: ' "$1" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<< "$line")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<< "$line")
  local unit
  for unit in $(sed -n 's/.*Test unit written to \([^ ]*\).*/\1/p' "$1"); do
    findings+=("$(basename "$unit")")
  done
}

# fuzz_target NAME SECONDS SEEDS LOGS: both passes of build/fuzz/bin/NAME_fuzz,
# a third of the time (when there are fixtures) for the second one. SEEDS
# holds make-seeds' output, LOGS receives NAME.corpus.log, NAME.merge.log and
# NAME.fixtures.log. Sets runs_total, acc_cov, acc_ft, fix_cov, fix_ft, added
# (the files the merge added), findings and failed (the logs of the passes
# that failed); fails on a finding.
fuzz_target() {
  local name=$1 seconds=$2 seeds=$3 logs=$4
  local bin=build/fuzz/bin/${name}_fuzz corpus=$PWD/fuzz/corpus/$name
  local common=(-timeout=10 -rss_limit_mb=2048 -artifact_prefix="$PWD/")
  local inputs=() folders fix_time acc_time scratch before
  mkdir -p "$corpus"
  [ -d "fuzz/seeds/$name" ] && inputs+=("$PWD/fuzz/seeds/$name")
  [ -d "$seeds/$name" ] && inputs+=("$seeds/$name")
  mapfile -t folders < <(fixture_folders "$name")
  fix_time=0
  [ ${#folders[@]} -gt 0 ] && fix_time=$((seconds / 3))
  acc_time=$((seconds - fix_time))
  runs_total=0 acc_cov=- acc_ft=- fix_cov=- fix_ft=- added=0 findings=() failed=()

  scratch=$(mktemp -d)
  "$bin" -max_total_time="$acc_time" -max_len="$(max_len "$name")" -print_final_stats=1 \
    "${common[@]}" "$scratch" "$corpus" "${inputs[@]}" > "$logs/$name.corpus.log" 2>&1 ||
    failed+=("$logs/$name.corpus.log")
  read_log "$logs/$name.corpus.log"
  runs_total=$((runs_total + ${runs:-0})) acc_cov=${cov:--} acc_ft=${ft:--}
  before=$(find "$corpus" -type f | wc -l)
  "$bin" -merge=1 -use_counters=0 -max_len="$(max_len "$name")" "${common[@]}" "$corpus" "$scratch" \
    "${inputs[@]}" > "$logs/$name.merge.log" 2>&1 || failed+=("$logs/$name.merge.log")
  added=$(($(find "$corpus" -type f | wc -l) - before))
  rm -rf "$scratch"

  if [ "$fix_time" -gt 0 ]; then
    scratch=$(mktemp -d)
    "$bin" -max_total_time="$fix_time" -print_final_stats=1 "${common[@]}" \
      "$scratch" "${folders[@]}" "$corpus" > "$logs/$name.fixtures.log" 2>&1 ||
      failed+=("$logs/$name.fixtures.log")
    read_log "$logs/$name.fixtures.log"
    runs_total=$((runs_total + ${runs:-0})) fix_cov=${cov:--} fix_ft=${ft:--}
    rm -rf "$scratch"
  fi
  [ ${#failed[@]} -eq 0 ]
}
