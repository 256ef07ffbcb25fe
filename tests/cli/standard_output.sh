#!/usr/bin/env bash
# Tables written to standard output ("-", and /dev/stdout into a pipe) are byte for byte the
# tables written to a file, with the progress lines moved to standard error; the thread
# options change no byte. Called by CTest as:
#   standard_output.sh SITECOUNT SCOREFIT EXAMPLES_DIR
set -u
sitecount=$1
scorefit=$2
examples=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/checks.sh"

cd "$work" || exit 1
cp "$examples/peaks.fa" "$examples/motifs.mot" "$examples/coefficients.tab" .
progress=$'SeqSet fload\nMotifSet fload\nMots presence calculation'
"$sitecount" peaks.fa motifs.mot file.tab 1 >file.out

for output in - /dev/stdout; do
  "$sitecount" peaks.fa motifs.mot "$output" 1 2>piped.err | cat >piped.tab
  check "Sitecount $output: the table alone on standard output" cmp -s piped.tab file.tab
  check "Sitecount $output: progress on standard error" same_text piped.err "$progress"
done
check "Sitecount file: progress on standard output" same_text file.out "$progress"

mkdir fit
(cd fit && "$scorefit" ../coefficients.tab ../file.tab predicted.tab >/dev/null)
for output in - /dev/stdout; do
  folder=piped_${output//\//_}
  mkdir "$folder"
  (cd "$folder" &&
    "$scorefit" ../coefficients.tab ../file.tab "$output" 2>piped.err | cat >piped.tab)
  check "Scorefit $output: the table alone on standard output" \
    cmp -s "$folder/piped.tab" fit/predicted.tab
  check "Scorefit $output: out_b.tab still written" cmp -s "$folder/out_b.tab" fit/out_b.tab
  check "Scorefit $output: progress on standard error" \
    same_text "$folder/piped.err" $'Coeffs fload\nSitecount fload and calc'
done

# Thread counts, as options before the file names, against the environment variable.
for threads in "-j 1" "-j 3" "--threads=3" "-j3" "--threads 1"; do
  # shellcheck disable=SC2086
  "$sitecount" $threads peaks.fa motifs.mot threads.tab 1 >/dev/null
  check "Sitecount $threads: same table" cmp -s threads.tab file.tab
  # shellcheck disable=SC2086
  (cd fit && "$scorefit" $threads ../coefficients.tab ../file.tab threads.tab >/dev/null)
  check "Scorefit $threads: same table" cmp -s fit/threads.tab fit/predicted.tab
done
SITECOUNT_THREADS=1 "$sitecount" -j 3 -- peaks.fa motifs.mot threads.tab 1 >/dev/null
check "-j over SITECOUNT_THREADS, then --: same table" cmp -s threads.tab file.tab

# Bad option values stop the run before anything is read or written.
"$sitecount" -j 0 peaks.fa motifs.mot zero.tab 1 >zero.out 2>zero.err
check "-j 0: exit 1" test $? -eq 1
check "-j 0: message" same_text zero.err "Sitecount: --threads takes a whole number from 1 up, not '0'"
check "-j 0: nothing written" test ! -e zero.tab -a ! -s zero.out
"$scorefit" --threads >none.out 2>none.err
check "--threads without a value: exit 1" test $? -eq 1
check "--threads without a value: message" same_text none.err \
  "Scorefit: option --threads needs a value (N)"

finish_checks
