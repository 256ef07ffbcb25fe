#!/usr/bin/env bash
# Runs workflow/Snakefile from what users have: a narrowPeak file, a small genome (plain, and
# bgzip-compressed without an index) and a JASPAR file of matrices, with the programs taken
# from the PATH; and with a peak past the end of its chromosome, which must be refused by
# name. Checks the windows against the genome, the peak table joined back to the
# narrowPeak file by name, and the chunked count of a gzip-compressed FASTA peak set.
#
#   tests/workflow/peaks.sh SOURCE_DIR BUILD_DIR
#
# Needs snakemake, seqkit, samtools, bgzip and python3 on the PATH.
set -euo pipefail

source_dir=$(cd "$1" && pwd)
build_dir=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/workflow_peaks_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

source "$source_dir/tests/cli/checks.sh"

# The programs as an installation has them: on the PATH, no build folder configured.
mkdir bin
for program in sitecount/Sitecount motiffit/Motiffit scorefit/Scorefit motifconv/Motifconv; do
  ln -s "$build_dir/$program" bin/
done
export PATH=$work/bin:$PATH

# A genome of two chromosomes and 40 peaks of 60 to 150 bases, their signal value (column 7)
# growing with the number of E-boxes planted in them.
python3 - <<'PYTHON'
import random
random.seed(7)
lengths = {"chrA": 6000, "chrB": 3500}
genome = {name: [random.choice("ACGT") for _ in range(length)] for name, length in lengths.items()}
peaks = []
for index in range(40):
    chrom = "chrA" if index < 25 else "chrB"
    width = random.randint(60, 150)
    start = random.randint(0, lengths[chrom] - width)
    sites = index % 4
    for site in range(sites):
        at = start + 5 + site * 12
        genome[chrom][at:at + 6] = list("CACGTG")
    signal = 2.0 + 1.5 * sites + random.random()
    peaks.append((chrom, start, start + width, f"peak_{index:02d}", random.randint(0, 1000),
                  ".", f"{signal:.5f}", "-1", "-1", str(width // 2)))
with open("genome.fa", "w") as out:
    for name, bases in genome.items():
        out.write(f">{name} made up\n")
        text = "".join(bases)
        for offset in range(0, len(text), 70):
            out.write(text[offset:offset + 70].lower() + "\n")
with open("peaks.narrowPeak", "w") as out:
    out.write("track type=narrowPeak\n")
    for peak in peaks:
        out.write("\t".join(map(str, peak)) + "\n")
with open("past_end.narrowPeak", "w") as out:
    for peak in peaks[:30]:
        out.write("\t".join(map(str, peak)) + "\n")
    out.write("chrB\t3400\t3501\tpeak_past_end\t0\t.\t5.0\t-1\t-1\t50\n")
PYTHON
bgzip -c genome.fa > genome.fa.gz
cat > matrices.jaspar <<'JASPAR'
>EB.1 ebox
A [ 0 20  0  0  0  0 ]
C [20  0 19  0  0  0 ]
G [ 0  0  1 20  0 20 ]
T [ 0  0  0  0 20  0 ]

>GA.1 gata
A [ 0 20  0 19 ]
C [ 0  0  0  1 ]
G [20  0  0  0 ]
T [ 0  0 20  0 ]
JASPAR

cat > config.yaml <<CONFIG
programs: ''
results: results
peak_sets:
  plain:
    peaks: peaks.narrowPeak
    genome: genome.fa
  bgzip:
    peaks: peaks.narrowPeak
    genome: genome.fa.gz
motif_files:
  jaspar: matrices.jaspar
format: 1
chunk_records: 0
sitecount_threads: 1
plot: false
CONFIG
if ! snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml \
    --cores 2 --quiet >snakemake.log 2>&1; then
  cat snakemake.log >&2
  echo "workflow peaks test: snakemake failed" >&2
  exit 1
fi

# The windows: headers chrom:start-end, name and signal value, residues from the genome.
python3 - results/plain/windows.fa >window_check.txt <<'PYTHON'
import sys
genome, name = {}, None
for line in open("genome.fa"):
    if line.startswith(">"):
        name = line[1:].split()[0]
        genome[name] = []
    else:
        genome[name].append(line.strip())
genome = {name: "".join(parts) for name, parts in genome.items()}
expected = []
for line in open("peaks.narrowPeak"):
    if line.startswith("track"):
        continue
    f = line.rstrip("\n").split("\t")
    expected.append((f"{f[0]}:{f[1]}-{f[2]}\t{f[3]}\t{f[6]}", genome[f[0]][int(f[1]):int(f[2])]))
records, header = [], None
for line in open(sys.argv[1]):
    if line.startswith(">"):
        records.append([line[1:].rstrip("\n"), ""])
    else:
        records[-1][1] += line.strip()
print("same" if [tuple(r) for r in records] == expected else "different")
PYTHON
check "windows: every peak cut from the genome, in order, with its header" \
  same_text window_check.txt same
check "bgzip genome: the same windows" cmp -s results/plain/windows.fa results/bgzip/windows.fa
check "bgzip genome: the same peak table" \
  cmp -s results/plain/jaspar/peaks.bed results/bgzip/jaspar/peaks.bed
check "the genome folder is left as it was" test ! -e genome.fa.fai -a ! -e genome.fa.gz.gzi

# The matrices were converted: the table's motif columns are Motifconv's words.
Motifconv matrices.jaspar direct.mot >/dev/null
check "matrix file: the presence table counts the converted words" same_text \
  <(head -n 1 results/plain/jaspar/presence.tab) \
  "$(printf 'Peak score\tLn(Peak score)\t'; cut -f 1 direct.mot | paste -sd '\t')"

# The peak table joined back to the narrowPeak file by name: every peak once, with its
# coordinates, its signal value (six significant digits) and the prediction of its row.
table=results/plain/jaspar/peaks.bed
check "peak table: header line" same_text <(head -n 1 "$table") \
  "$(printf '#chrom\tstart\tend\tname\tscore\tln_score\tpredicted')"
join -t $'\t' -1 4 -2 4 -o 1.1,1.2,1.3,1.4,1.7,2.1,2.2,2.3,2.5 \
  <(grep -v '^track' peaks.narrowPeak | sort -t $'\t' -k 4,4) \
  <(tail -n +2 "$table" | sort -t $'\t' -k 4,4) >joined.tab
check "peak table: joins every peak by name" test "$(wc -l <joined.tab)" -eq 40
check "peak table: coordinates and scores agree" test "$(awk -F '\t' '
  $1 != $6 || $2 != $7 || $3 != $8 || sprintf("%g", $5) != $9 { bad++ } END { print bad + 0 }
' joined.tab)" -eq 0
check "peak table: predictions are the rows of predicted.tab, in order" same_text \
  <(tail -n +2 "$table" | cut -f 7) "$(tail -n +2 results/plain/jaspar/predicted.tab | awk -F '\t' '{ print $NF }')"

# A peak past the end of its chromosome: refused by name, nothing cut.
sed -i 's/peaks.narrowPeak/past_end.narrowPeak/; /^  bgzip:/,/genome.fa.gz/d' config.yaml
sed -i 's/^results: results/results: refused/' config.yaml
snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile config.yaml \
  --cores 1 --quiet >refused.log 2>&1 && status=0 || status=$?
check "peak past the end: the workflow fails" test "$status" -ne 0
check "peak past the end: named with its chromosome's length" grep -q \
  "past_end.narrowPeak:31: peak peak_past_end (chrB:3400-3501): ends past the end of chrB (3500 bases)" \
  refused.log
check "peak past the end: no windows written" test ! -e refused/plain/windows.fa

# A gzip-compressed FASTA peak set counted in pieces: the table of a single run.
gzip -c results/plain/windows.fa >windows.fa.gz
cat > chunked.yaml <<CONFIG
programs: ''
results: chunked
peak_sets:
  gz: windows.fa.gz
motif_files:
  example: direct.mot
chunk_records: 7
sitecount_threads: 1
plot: false
CONFIG
if ! snakemake --snakefile "$source_dir/workflow/Snakefile" --configfile chunked.yaml \
    --cores 2 --quiet >chunked.log 2>&1; then
  cat chunked.log >&2
fi
Sitecount windows.fa.gz direct.mot single.tab 1 >/dev/null
check "gzip peak set in pieces: the table of a single run" \
  cmp -s chunked/gz/example/presence.tab single.tab
check "gzip peak set in pieces: six pieces" test "$(ls chunked/gz/chunks | wc -l)" -eq 6

finish_checks
