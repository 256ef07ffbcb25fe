#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ and runs each for SECONDS (default 30) on a
# copy of its seed corpus, with its dictionary. Prints per target the executions, the
# coverage and any crash; exits non-zero when a target crashed or could not run.
#   tests/fuzz/run.sh          # 30 s per target
#   tests/fuzz/run.sh 3600     # an hour per target
#   tests/fuzz/run.sh 0        # each seed once, no fuzzing: a repeatable check
# Crash inputs land in build/fuzz/artifacts/; replay one with build/fuzz/<target> FILE.
set -euo pipefail

seconds=${1:-30}
if ! [[ $seconds =~ ^[0-9]+$ ]]; then
  echo "usage: tests/fuzz/run.sh [SECONDS]" >&2
  exit 2
fi

fuzz_dir=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$fuzz_dir/../.." && pwd)
build="$root/build/fuzz"
artifacts="$build/artifacts"

cmake -S "$fuzz_dir" -B "$build" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" >/dev/null
cmake --build "$build" --parallel "${JOBS:-2}"
mkdir -p "$artifacts"

# The largest input each target takes: FASTA and tables need a few lines of some length,
# the text target a line.
declare -A max_len=([fasta_reader]=4096 [motif_reader]=2048 [scorefit_tables]=4096
                    [text_utils]=1024 [motif_engine]=2048)

# Readers take blocks of a megabyte; the sanitizer clears their shadow in place instead of
# remapping it for every block, which would cost more than the code under test.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}clear_shadow_mmap_threshold=16777216"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
crashed=0
summary=()
for source in "$fuzz_dir"/*_fuzz.cpp; do
  target=$(basename "$source" .cpp)
  name=${target%_fuzz}
  # The seeds are copied: whatever the run adds stays out of the committed corpus.
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [[ -d $fuzz_dir/corpus/$name ]]; then cp -R "$fuzz_dir/corpus/$name/." "$corpus/"; fi
  dict=()
  if [[ -f $fuzz_dir/$name.dict ]]; then dict=(-dict="$fuzz_dir/$name.dict"); fi
  log="$build/$name.log"
  # libFuzzer reads a time of 0 as no limit: a run of 0 seconds replays the seeds instead.
  if [[ $seconds -eq 0 ]]; then
    limit=(-runs=0)
  else
    limit=(-max_total_time="$seconds")
  fi
  echo "== $name: ${seconds}s"
  set +e
  "$build/$target" "$corpus" \
    "${dict[@]}" \
    -max_len="${max_len[$name]:-4096}" \
    "${limit[@]}" \
    -timeout=10 \
    -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" \
    >"$log" 2>&1
  code=$?
  set -e
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  # The last status line, "#N DONE cov: C ft: F corp: ...", or the last progress line.
  coverage=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  line="$name: ${executions:-?} executions, ${coverage:-no coverage line}"
  if [[ $code -ne 0 ]]; then
    status=1
    crash=$(grep -oE "Test unit written to [^ ]+" "$log" | tail -n 1 | sed 's/Test unit written to //')
    line+=", CRASH (exit $code) ${crash:-see $log}"
    crashed=$((crashed + 1))
    echo "$line"
    grep -m 1 -E 'ERROR: |invariant violated|runtime error' "$log" || tail -n 20 "$log"
  else
    echo "$line"
  fi
  summary+=("$line")
done

echo "== summary (${seconds}s per target; logs in $build/*.log)"
printf '%s\n' "${summary[@]}"
echo "fuzz: $((${#summary[@]} - crashed)) passed, $crashed failed"
exit $status
