#!/usr/bin/env bash
# Compressed inputs and standard input give the very tables that plain files give; damaged
# or unreadable compressed files are reported with nothing written. Called by CTest as:
#   compressed_inputs.sh SITECOUNT SCOREFIT EXAMPLES_DIR
set -u
sitecount=$1
scorefit=$2
examples=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/checks.sh"

cd "$work" || exit 1
cp "$examples/peaks.fa" "$examples/motifs.mot" "$examples/coefficients.tab" .
"$sitecount" peaks.fa motifs.mot plain.tab 1 >/dev/null

# One gzip member; several members, as block-compressing tools write them; standard input,
# plain and compressed.
# -n: no name nor time stamp in the header, whose bytes (a line feed among them) would move
# the line where the damaged copies below first hold a NUL byte.
gzip -n -c peaks.fa > one.fa.gz
split -b 30000 peaks.fa part.
for part in part.*; do gzip -c "$part"; done > members.fa.gz
rm part.*
"$sitecount" one.fa.gz motifs.mot one.tab 1 >/dev/null
check "gzip: same table" cmp -s one.tab plain.tab
"$sitecount" members.fa.gz motifs.mot members.tab 1 >/dev/null
check "several members: same table" cmp -s members.tab plain.tab
if command -v bgzip >/dev/null 2>&1; then
  bgzip -c peaks.fa > blocks.fa.gz
  "$sitecount" blocks.fa.gz motifs.mot blocks.tab 1 >/dev/null
  check "block-compressed: same table" cmp -s blocks.tab plain.tab
fi
"$sitecount" - motifs.mot stdin.tab 1 < peaks.fa >/dev/null
check "standard input: same table" cmp -s stdin.tab plain.tab
gzip -c peaks.fa | "$sitecount" - motifs.mot stdin_gz.tab 1 >/dev/null
check "compressed standard input: same table" cmp -s stdin_gz.tab plain.tab

# Damaged and unreadable files: one message naming the file and what was wrong, exit 1,
# and the older table untouched.
head -c 20000 one.fa.gz > truncated.fa.gz
cp one.fa.gz corrupt.fa.gz
printf '\xff\xff\xff\xff' | dd of=corrupt.fa.gz bs=1 seek=5000 conv=notrunc 2>/dev/null
if command -v xz >/dev/null 2>&1; then
  xz -c peaks.fa > peaks.fa.xz
else
  printf '\xfd7zXZ\x00rest' > peaks.fa.xz
fi
for input in truncated.fa.gz corrupt.fa.gz peaks.fa.xz; do
  echo "older table" > t.tab
  "$sitecount" "$input" motifs.mot t.tab 1 >/dev/null 2>err.txt
  check "$input: exit 1" [ $? -eq 1 ]
  check "$input: older table kept" same_text t.tab "older table"
  check "$input: no temporary file" no_temporary_files .
  case $input in
    truncated.fa.gz)
      check "$input: message" same_text err.txt \
        "truncated.fa.gz: truncated compressed data: the file ends inside a gzip member" ;;
    corrupt.fa.gz)
      check "$input: message" grep -q '^corrupt.fa.gz: corrupt compressed data (' err.txt ;;
    peaks.fa.xz)
      check "$input: message" same_text err.txt \
        "peaks.fa.xz: is compressed with xz, which is not read; decompress it first (xz -d)" ;;
  esac
done

# Scorefit reads a compressed presence table, and one from standard input.
"$scorefit" coefficients.tab plain.tab predicted.tab >/dev/null
gzip -c plain.tab > plain.tab.gz
"$scorefit" coefficients.tab plain.tab.gz predicted_gz.tab >/dev/null
check "compressed presence table: same prediction" cmp -s predicted_gz.tab predicted.tab
"$scorefit" coefficients.tab - predicted_stdin.tab < plain.tab >/dev/null
check "presence table on standard input: same prediction" cmp -s predicted_stdin.tab predicted.tab
gzip -c coefficients.tab > coefficients.tab.gz
"$scorefit" coefficients.tab.gz plain.tab predicted_coef_gz.tab >/dev/null
check "compressed coefficient table: same prediction" cmp -s predicted_coef_gz.tab predicted.tab

# Every input is opened the same way: the motif file and both tables are decompressed,
# and text that holds a NUL byte is binary data, refused with its line, nothing written.
motiffit=$(dirname "$sitecount")/../motiffit/Motiffit
gzip -c motifs.mot > motifs.mot.gz
"$sitecount" peaks.fa motifs.mot.gz gz_motifs.tab 1 >/dev/null
check "compressed motif file: same table" cmp -s gz_motifs.tab plain.tab
"$sitecount" peaks.fa - stdin_motifs.tab 1 < motifs.mot >/dev/null
check "motif file on standard input: same table" cmp -s stdin_motifs.tab plain.tab
printf '\xfd7zXZ\x00rest' > motifs.mot.xz
cp one.fa.gz bad_magic.fa.gz
printf '\x8a' | dd of=bad_magic.fa.gz bs=1 seek=1 conv=notrunc 2>/dev/null
cat peaks.fa one.fa.gz > text_then_gzip.fa
{ head -n 5 motifs.mot; printf 'ACGT\t1\t2\x003\n'; } > nul.mot
{ head -n 3 coefficients.tab; printf 'TTGACA\t0\t0\t\0\n'; } > nul_coefficients.tab
{ head -n 7 plain.tab; printf '\0'; } > nul_presence.tab
binary="holds binary data (a NUL byte); is it compressed?"
while IFS='|' read -r name expected command; do
  echo "older table" > t.tab
  bash -c "$command" >/dev/null 2>err.txt
  check "$name: exit 1" [ $? -eq 1 ]
  check "$name: message" same_text err.txt "$expected"
  check "$name: older output kept" same_text t.tab "older table"
  check "$name: no temporary file" no_temporary_files .
done <<CASES
xz motif file|motifs.mot.xz: is compressed with xz, which is not read; decompress it first (xz -d)|"$sitecount" peaks.fa motifs.mot.xz t.tab 1
gzip magic damaged|bad_magic.fa.gz:1: $binary|"$sitecount" bad_magic.fa.gz motifs.mot t.tab 1
FASTA text then gzip|text_then_gzip.fa:2401: $binary|"$sitecount" text_then_gzip.fa motifs.mot t.tab 1
NUL in a motif line|nul.mot:6: $binary|"$sitecount" peaks.fa nul.mot t.tab 1
NUL in the coefficient table|nul_coefficients.tab:4: $binary|"$scorefit" nul_coefficients.tab plain.tab t.tab
NUL in the presence table|nul_presence.tab:8: $binary|"$scorefit" coefficients.tab nul_presence.tab t.tab
NUL in Motiffit's table|nul_presence.tab:8: $binary|"$motiffit" nul_presence.tab t.tab
CASES

# Standard input redirected from a file is that file: no output may replace it. A pipe
# cannot be an output file and needs no check.
refusal="is the input file - (standard input); refusing to overwrite it, choose another output file"
cp plain.tab presence.tab
while IFS='|' read -r name expected command; do
  cp peaks.fa peaks_copy.fa
  cp presence.tab presence_copy.tab
  cp coefficients.tab coefficients_copy.tab
  rm -f out_b.tab
  bash -c "$command" >/dev/null 2>err.txt
  check "$name: exit 1" [ $? -eq 1 ]
  check "$name: message" same_text err.txt "$expected"
  check "$name: inputs kept" cmp -s peaks_copy.fa peaks.fa
  check "$name: inputs kept" cmp -s presence_copy.tab presence.tab
  check "$name: inputs kept" cmp -s coefficients_copy.tab coefficients.tab
  check "$name: no dump" [ ! -e out_b.tab ]
done <<CASES
Sitecount table over its FASTA|peaks.fa: $refusal|"$sitecount" - motifs.mot peaks.fa 1 < peaks.fa
Sitecount table over a linked FASTA|peaks.fa: $refusal|ln -sf peaks.fa link.fa; "$sitecount" - motifs.mot peaks.fa 1 < link.fa
Sitecount two inputs on standard input|-: standard input can be only one of the two inputs|"$sitecount" - - t.tab 1 < peaks.fa
Scorefit prediction over its presence table|presence.tab: $refusal|"$scorefit" coefficients.tab - presence.tab < presence.tab
Scorefit prediction over its coefficients|coefficients.tab: $refusal|"$scorefit" - presence.tab coefficients.tab < coefficients.tab
Motiffit coefficients over its table|presence.tab: $refusal|"$motiffit" - presence.tab < presence.tab
CASES
cp plain.tab out_b.tab
"$scorefit" coefficients.tab - p.tab < out_b.tab >/dev/null 2>err.txt
check "standard input from out_b.tab: exit 1" [ $? -eq 1 ]
check "standard input from out_b.tab: message" grep -q '^-: this input is the coefficient dump out_b.tab' err.txt
check "standard input from out_b.tab: kept" cmp -s out_b.tab plain.tab
rm out_b.tab
cat presence.tab | "$scorefit" coefficients.tab - piped.tab >/dev/null
check "presence table through a pipe: same prediction" cmp -s piped.tab predicted.tab

finish_checks
