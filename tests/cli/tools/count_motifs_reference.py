#!/usr/bin/env python3
"""Independent count of motif sites, written from the table rules and not from the C++ code.

Used once to make the expected presence tables of the example data:
    count_motifs_reference.py peaks.fa motifs.mot FORMAT > expected_table
A site is a start position where the motif, or its reverse complement, matches the sequence
on every position; an N in a sequence is an unknown base and matches nothing.
"""
import math
import sys

BASES = {"A": "A", "C": "C", "G": "G", "T": "T", "R": "AG", "Y": "CT", "M": "AC", "K": "GT",
         "W": "AT", "S": "CG", "B": "CGT", "V": "ACG", "H": "ACT", "D": "AGT", "N": "ACGT"}
COMPLEMENT = {"A": "T", "C": "G", "G": "C", "T": "A", "R": "Y", "Y": "R", "M": "K", "K": "M",
              "W": "W", "S": "S", "B": "V", "V": "B", "H": "D", "D": "H", "N": "N"}


def read_fasta(path):
    records = []
    with open(path, newline="\n") as handle:
        for line in handle.read().split("\n"):
            if line.startswith(">"):
                records.append([line, []])
            elif records:
                records[-1][1].append(line)
    return [(header, "".join(parts).upper()) for header, parts in records]


def matches(site, sequence, start):
    for offset, symbol in enumerate(site):
        base = sequence[start + offset]
        if base not in "ACGT" or base not in BASES[symbol]:
            return False
    return True


def count(motif, sequence):
    reverse = "".join(COMPLEMENT[c] for c in reversed(motif))
    return sum(1 for start in range(len(sequence) - len(motif) + 1)
               if matches(motif, sequence, start) or matches(reverse, sequence, start))


def g6(value):
    text = "%g" % value
    return text


def main():
    fasta, motif_file, output_format = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(motif_file) as handle:
        motifs = [line.split("\t")[0].upper() for line in handle.read().split("\n") if line]
    print("\t".join(["Peak score", "Ln(Peak score)"] + motifs))
    for header, sequence in read_fasta(fasta):
        score = float(header.rsplit("\t", 1)[1])
        cells = [g6(score), g6(math.log(score))]
        for motif in motifs:
            n = count(motif, sequence)
            cells.append(str(n if output_format == 1 else min(n, 1)))
        print("\t".join(cells))


main()
