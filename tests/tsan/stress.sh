#!/usr/bin/env bash
# Sitecount, Motiffit and Scorefit built with ThreadSanitizer, on a generated input of over
# 20 MB: Sitecount counts it with 1, 2, 3 and 8 threads, writing counts and presence marks,
# and every table must be the same, byte for byte, as the one-thread table; Scorefit
# predicts a table of over 20 MB made of one table repeated, and its rows must be that
# table's predicted rows repeated; Motiffit fits that table with 1 and 2 threads alike, and
# stops cleanly on a bad row after it. Any sanitizer report, non-zero exit or output on
# standard error fails the run.
#   tests/tsan/stress.sh BUILD_DIR       # e.g. build/tsan, after make tsan-test built it
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: tests/tsan/stress.sh BUILD_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
sitecount=$build/sitecount/Sitecount
motiffit=$build/motiffit/Motiffit
scorefit=$build/scorefit/Scorefit
for program in "$sitecount" "$motiffit" "$scorefit"; do
  [[ -x $program ]] || { echo "tests/tsan/stress.sh: $program not built" >&2; exit 1; }
done

# A report stops the program with its own exit code, so no run can pass over one.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:exitcode=66:second_deadlock_stack=1}"

work=$build/tsan_stress
rm -rf "$work"
mkdir -p "$work"
cd "$work"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs NAME COMMAND...: standard error goes to NAME.err, which must stay empty, and the
# exit code must be 0.
run() {
  local name=$1
  shift
  local code=0
  "$@" >"$name.out" 2>"$name.err" || code=$?
  if [[ $code -ne 0 || -s $name.err ]]; then
    fail "$name: exit $code"
    head -n 60 "$name.err" >&2
    return 1
  fi
}

python3 "$root/tests/tsan/make_peaks.py" peaks.fa
cp "$root/examples/motifs.mot" motifs.mot
echo "tsan stress: peaks.fa $(wc -c <peaks.fa) bytes, $(grep -c '^>' peaks.fa) records"

# Counts (format 1) and presence marks (format 0) are formatted on different paths.
for format in 1 0; do
  for threads in 1 2 3 8; do
    table=presence_f${format}_$threads.tab
    if run "sitecount_f${format}_$threads" env SITECOUNT_THREADS=$threads \
        "$sitecount" peaks.fa motifs.mot "$table" $format; then
      if [[ $threads -ne 1 ]] && ! cmp -s "presence_f${format}_1.tab" "$table"; then
        fail "Sitecount, format $format, $threads threads: table differs from the one-thread table"
      fi
    fi
  done
done
echo "tsan stress: Sitecount with 1, 2, 3 and 8 threads done"

# Scorefit reads a table of over 20 MB: the one-thread table's rows repeated under its
# header, with the coefficients that Motiffit fits to the table itself.
if [[ -s presence_f1_1.tab ]]; then
  run motiffit "$motiffit" presence_f1_1.tab coefficients.tab || true
  {
    cat presence_f1_1.tab
    copies=1
    rows_bytes=$(tail -n +2 presence_f1_1.tab | wc -c)
    while (( rows_bytes * copies < 20000000 )); do
      tail -n +2 presence_f1_1.tab
      copies=$((copies + 1))
    done
  } >big.tab
  echo "tsan stress: big.tab $(wc -c <big.tab) bytes"
  if [[ -s coefficients.tab ]]; then
    run scorefit_small "$scorefit" coefficients.tab presence_f1_1.tab predicted_small.tab || true
    run scorefit_big "$scorefit" coefficients.tab big.tab predicted_big.tab || true
    if [[ -s predicted_small.tab && -s predicted_big.tab ]]; then
      copies=$(( ($(wc -l <big.tab) - 1) / ($(wc -l <presence_f1_1.tab) - 1) ))
      {
        cat predicted_small.tab
        for ((copy = 1; copy < copies; ++copy)); do tail -n +2 predicted_small.tab; done
      } >predicted_expected.tab
      cmp -s predicted_expected.tab predicted_big.tab ||
        fail "Scorefit: the big table's rows are not the small table's rows repeated"
    fi
    echo "tsan stress: Scorefit done"
  fi
  # Motiffit sums the big table's blocks on a second thread while it reads: the coefficients
  # must be the one-thread ones, bit for bit. A row too wide at the end stops the fit with
  # blocks still handed over: one line of error, exit 1, and no report.
  run motiffit_big_1 "$motiffit" -j 1 big.tab coefficients_big_1.tab || true
  run motiffit_big_2 "$motiffit" -j 2 big.tab coefficients_big_2.tab || true
  cmp -s coefficients_big_1.tab coefficients_big_2.tab ||
    fail "Motiffit: two threads fitted other coefficients than one"
  { cat big.tab; tail -n 1 presence_f1_1.tab | sed 's/$/\t7/'; } >wide.tab
  code=0
  "$motiffit" -j 2 wide.tab coefficients_wide.tab >motiffit_wide.out 2>motiffit_wide.err || code=$?
  if [[ $code -ne 1 || $(wc -l <motiffit_wide.err) -ne 1 || -e coefficients_wide.tab ]]; then
    fail "Motiffit on a row too wide after the blocks: exit $code"
    head -n 60 motiffit_wide.err >&2
  fi
  echo "tsan stress: Motiffit done"
fi

if [[ $failures -ne 0 ]]; then
  echo "tsan stress: $failures failures (outputs in $work)" >&2
  exit 1
fi
echo "tsan stress: passed"
rm -rf "$work"
