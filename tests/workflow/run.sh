#!/usr/bin/env bash
# Runs workflow/Snakefile on the example data cut into three peak sets, each split into
# pieces of 40 records, and checks that every table it writes is byte for byte the table
# of a single run of the program on the whole set.
#
#   tests/workflow/run.sh SOURCE_DIR BUILD_DIR
#
# BUILD_DIR holds sitecount/Sitecount, motiffit/Motiffit and scorefit/Scorefit. Needs
# snakemake and seqkit on the PATH.
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/workflow_test_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Peaks 1-150, 151-300 and 301-400. The third set starts with text before its first header
# and has Windows line ends, which the pieces must not change.
awk -v RS='>' -v ORS='' 'NR > 1 {
  set = (NR <= 151) ? "a" : (NR <= 301) ? "b" : "c"
  print ">" $0 > (set ".fa")
}' "$source_dir/examples/peaks.fa"
{ printf 'text before the first header\n'; sed 's/$/\r/' c.fa; } > c_crlf.fa
mv c_crlf.fa c.fa

cat > config.yaml <<CONFIG
programs: $build_dir
results: results
peak_sets:
  a: a.fa
  b: b.fa
  c: c.fa
motif_files:
  example: $source_dir/examples/motifs.mot
format: 1
chunk_records: 40
sitecount_threads: 1
plot: false
CONFIG

if ! snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml \
    --cores 2 --quiet > snakemake.log 2>&1; then
  cat snakemake.log >&2
  echo "workflow test: snakemake failed" >&2
  exit 1
fi

passed=0
failed=0
same() {
  if cmp -s "$1" "$2"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "workflow test: $1 differs from $2" >&2
  fi
}
for set in a b c; do
  chunks=$(ls results/$set/chunks | wc -l)
  if [ "$chunks" -lt 3 ]; then
    failed=$((failed + 1))
    echo "workflow test: peak set $set was split into $chunks pieces, expected 3 or more" >&2
  fi
  folder=results/$set/example
  mkdir -p single/$set
  "$build_dir/sitecount/Sitecount" $set.fa "$source_dir/examples/motifs.mot" \
    single/$set/presence.tab 1 > /dev/null
  same "$folder/presence.tab" single/$set/presence.tab
  "$build_dir/motiffit/Motiffit" single/$set/presence.tab single/$set/coefficients.tab > /dev/null
  same "$folder/coefficients.tab" single/$set/coefficients.tab
  (cd single/$set && "$build_dir/scorefit/Scorefit" coefficients.tab presence.tab predicted.tab \
    > /dev/null)
  same "$folder/predicted.tab" single/$set/predicted.tab
done

# Names that a shell would take apart or run: a blank, both quotes, a backslash, ";" and
# "$(...)" in the peak file, the motif file, the programs' folder and the results folder,
# and all but the blank in the peak set's and motif file's names. Every rule, pieces and
# whole sets, must give the plain run's tables and run nothing from the names.
odd=$' \'q\' "d" b\\s; $(touch pwned)'
odd_key=$'k\'"\\;$(touch$IFS"pwned")'
mkdir "bin$odd"
for program in sitecount/Sitecount motiffit/Motiffit scorefit/Scorefit; do
  ln -s "$build_dir/$program" "bin$odd/"
done
cp a.fa "peaks$odd.fa"
cp "$source_dir/examples/motifs.mot" "motifs$odd.mot"
for chunks in 40 0; do
  python3 - "$work" "$odd" "$odd_key" "$chunks" > odd.yaml <<'CONFIG'
import json, shutil, sys
work, odd, key, chunks = sys.argv[1:]
print(json.dumps({
    "programs": f"{work}/bin{odd}", "results": f"results{odd}/{chunks}",
    "peak_sets": {key: f"peaks{odd}.fa"}, "motif_files": {key: f"motifs{odd}.mot"},
    "format": 1, "chunk_records": int(chunks), "sitecount_threads": 1,
    "plot": shutil.which("gnuplot") is not None,
}))
CONFIG
  if ! snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile odd.yaml \
      --cores 2 --quiet > odd.log 2>&1; then
    cat odd.log >&2
    failed=$((failed + 1))
    echo "workflow test: snakemake failed on odd names (chunk_records $chunks)" >&2
    continue
  fi
  folder="results$odd/$chunks/$odd_key/$odd_key"
  for table in presence.tab coefficients.tab predicted.tab; do
    same "$folder/$table" "single/a/$table"
  done
  if command -v gnuplot > /dev/null && [ ! -s "$folder/fit.png" ]; then
    failed=$((failed + 1))
    echo "workflow test: no plot on odd names (chunk_records $chunks)" >&2
  fi
done
if [ -n "$(find . -name pwned)" ]; then
  failed=$((failed + 1))
  echo "workflow test: a command in a file name was run" >&2
fi

# The cluster profile's options are those of this snakemake (a dry run submits nothing).
if ! snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml \
    --profile "$source_dir/workflow/profiles/slurm" --dry-run --quiet > dry_run.log 2>&1; then
  cat dry_run.log >&2
  failed=$((failed + 1))
  echo "workflow test: the slurm profile does not parse" >&2
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
