#!/usr/bin/env python3
"""Cuts the window of every peak of a BED or narrowPeak file out of a genome FASTA.

    cut_windows.py PEAKS GENOME SCORE_COLUMN INDEX_FOLDER OUTPUT

Writes OUTPUT, a FASTA file whose headers are "chrom:start-end<TAB>name<TAB>score" (BED
coordinates: start from 0, end excluded), one record per peak in the order of PEAKS. The
genome may be plain or bgzip-compressed; it is indexed into INDEX_FOLDER unless an index
newer than it lies beside it. A peak that cannot be cut (past the end of its chromosome, on
a chromosome the genome lacks, empty) or that has no score stops the run before anything
is cut, naming every such peak: a skipped peak would shift every later row.
"""

import os
import subprocess
import sys

MOST_NAMED = 20


def fail(lines):
    for line in lines:
        print(line, file=sys.stderr)
    sys.exit(1)


def compression(path):
    """'plain', 'bgzip', or 'gzip' (gzip that is not block-compressed)."""
    with open(path, "rb") as stream:
        head = stream.read(18)
    if head[:2] != b"\x1f\x8b":
        return "plain"
    # A BGZF block is a gzip member with an extra field whose subfield is "BC".
    if len(head) >= 14 and head[3] & 4 and head[12:14] == b"BC":
        return "bgzip"
    return "gzip"


def index_paths(genome, kind, folder):
    """The index files of the genome: beside it when they are newer, else in `folder`."""
    beside = [genome + ".fai"] + ([genome + ".gzi"] if kind == "bgzip" else [])
    genome_time = os.path.getmtime(genome)
    if all(os.path.isfile(path) and os.path.getmtime(path) >= genome_time for path in beside):
        return beside, False
    base = os.path.join(folder, os.path.basename(genome))
    return [base + ".fai"] + ([base + ".gzi"] if kind == "bgzip" else []), True


def samtools_index_options(paths):
    options = ["--fai-idx", paths[0]]
    if len(paths) > 1:
        options += ["--gzi-idx", paths[1]]
    return options


def read_peaks(path, score_column):
    """Peaks as (line number, chrom, start, end, name, score text); problems as messages."""
    peaks = []
    problems = []
    with open(path, encoding="utf-8", errors="replace") as stream:
        for line_number, line in enumerate(stream, 1):
            line = line.rstrip("\r\n")
            if not line.strip() or line.startswith(("#", "track", "browser")):
                continue
            fields = line.split("\t")
            if len(fields) < 3:
                fields = line.split()
            where = f"{path}:{line_number}"
            if len(fields) < 3:
                problems.append(f"{where}: not a BED line (chrom, start, end)")
                continue
            chrom, start_text, end_text = fields[0], fields[1], fields[2]
            name = fields[3] if len(fields) > 3 and fields[3] not in ("", ".") else None
            try:
                start, end = int(start_text), int(end_text)
            except ValueError:
                problems.append(f"{where}: start '{start_text}' or end '{end_text}' is no whole number")
                continue
            if name is None:
                name = f"{chrom}:{start}-{end}"
            if len(fields) < score_column:
                problems.append(
                    f"{where}: peak {name} has {len(fields)} columns, no score column {score_column}"
                )
                continue
            score = fields[score_column - 1]
            try:
                float(score)
            except ValueError:
                problems.append(f"{where}: peak {name}: score '{score}' in column {score_column} is no number")
                continue
            peaks.append((line_number, chrom, start, end, name, score))
    return peaks, problems


def chromosome_lengths(fai):
    lengths = {}
    with open(fai, encoding="utf-8") as stream:
        for line in stream:
            fields = line.split("\t")
            lengths[fields[0]] = int(fields[1])
    return lengths


def main():
    if len(sys.argv) != 6:
        fail([__doc__.strip().splitlines()[2].strip()])
    peaks_path, genome, score_text, index_folder, output = sys.argv[1:]
    score_column = int(score_text)

    peaks, problems = read_peaks(peaks_path, score_column)
    if not peaks and not problems:
        problems.append(f"{peaks_path}: holds no peak")
    if problems:
        shown = problems[:MOST_NAMED]
        if len(problems) > MOST_NAMED:
            shown.append(f"... and {len(problems) - MOST_NAMED} more")
        fail(shown)

    kind = compression(genome)
    if kind == "gzip":
        fail([
            f"{genome}: compressed with gzip, which cannot be read at a position; recompress it "
            f"with bgzip (zcat {genome} | bgzip > genome.fa.gz) or decompress it"
        ])
    indexes, build = index_paths(genome, kind, index_folder)
    if build:
        os.makedirs(index_folder, exist_ok=True)
        made = subprocess.run(["samtools", "faidx", *samtools_index_options(indexes), genome],
                              stderr=subprocess.PIPE, text=True)
        if made.returncode != 0:
            fail([f"{genome}: samtools faidx could not index it: {made.stderr.strip()}"])
    lengths = chromosome_lengths(indexes[0])

    refused = []
    for line_number, chrom, start, end, name, _ in peaks:
        where = f"{peaks_path}:{line_number}: peak {name} ({chrom}:{start}-{end})"
        if chrom not in lengths:
            refused.append(f"{where}: the genome holds no sequence named {chrom}")
        elif start < 0 or end <= start:
            refused.append(f"{where}: empty or reversed")
        elif end > lengths[chrom]:
            refused.append(f"{where}: ends past the end of {chrom} ({lengths[chrom]} bases)")
    if refused:
        shown = refused[:MOST_NAMED]
        if len(refused) > MOST_NAMED:
            shown.append(f"... and {len(refused) - MOST_NAMED} more")
        fail([f"{peaks_path}: {len(refused)} of {len(peaks)} peaks cannot be cut; "
              "nothing was cut"] + shown)

    regions = output + ".regions"
    with open(regions, "w", encoding="utf-8") as stream:
        for _, chrom, start, end, _, _ in peaks:
            stream.write(f"{chrom}:{start + 1}-{end}\n")
    cut = subprocess.Popen(
        ["samtools", "faidx", *samtools_index_options(indexes), "-r", regions, genome],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    record = -1
    with open(output, "w", encoding="utf-8") as out:
        for line in cut.stdout:
            if line.startswith(">"):
                record += 1
                _, chrom, start, end, name, score = peaks[record]
                # Each record must be the window asked for, in order, or the rows would shift.
                if line[1:].rstrip("\n") != f"{chrom}:{start + 1}-{end}":
                    cut.kill()
                    fail([f"{peaks_path}: samtools gave '{line.strip()}' for peak {name}"])
                out.write(f">{chrom}:{start}-{end}\t{name}\t{score}\n")
            else:
                out.write(line)
    errors = cut.stderr.read()
    os.remove(regions)
    if cut.wait() != 0 or record + 1 != len(peaks):
        os.remove(output)
        fail([f"{genome}: samtools faidx cut {record + 1} of {len(peaks)} peaks: {errors.strip()}"])


if __name__ == "__main__":
    main()
