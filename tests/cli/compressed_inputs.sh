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
gzip -c peaks.fa > one.fa.gz
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

finish_checks
