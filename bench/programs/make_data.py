#!/usr/bin/env python3
"""Writes the benchmark data set for Sitecount and Scorefit from the real E. coli genome.

Files, all in the output folder (sizes at --scale 1):
  peaks.fa          100,000 windows of 500 bp cut at random places of the genome
  motifs.mot        500 real recognition sites of 4 to 12 letters
  long.fa           one record of 250 million residues: the genome repeated, each copy
                    with its own point mutations
  presence.tab      a presence table of 200,000 rows and one count column per motif
  coefficients.tab  a coefficient table for those motif columns

Everything is drawn from one fixed seed, so the same arguments give the same bytes.
Standard library only.
"""

import argparse
import bisect
import gzip
import math
import os
import random
import sys

REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DEFAULT_GENOME = os.path.join(REPO_ROOT, "..", "shared", "data", "genomes",
                              "ecoli_k12_mg1655.fasta.gz")
DEFAULT_SITES = os.path.join(REPO_ROOT, "bench", "data", "restriction_sites.mot")
ALL_FILES = ("peaks", "motifs", "motifs2000", "long", "presence", "coefficients")

LINE_WIDTH = 60
WINDOW = 500
# The bases each letter of the IUPAC code stands for.
BASES_OF = {"A": "A", "C": "C", "G": "G", "T": "T", "R": "AG", "Y": "CT", "M": "AC", "K": "GT",
            "W": "AT", "S": "CG", "B": "CGT", "D": "AGT", "H": "ACT", "V": "ACG", "N": "ACGT"}
COMPLEMENT = str.maketrans("ACGT", "TGCA")


def read_genome(path):
    """The sequence of the first record of a (gzipped) FASTA file, in upper case."""
    opener = gzip.open if path.endswith(".gz") else open
    parts = []
    with opener(path, "rt") as genome:
        seen_header = False
        for line in genome:
            if line.startswith(">"):
                if seen_header:
                    break
                seen_header = True
                continue
            parts.append(line.strip())
    sequence = "".join(parts).upper()
    if not sequence:
        sys.exit(f"{path}: no sequence found")
    return sequence


def wrap(sequence, width=LINE_WIDTH):
    return "\n".join(sequence[i:i + width] for i in range(0, len(sequence), width))


def write_peaks(path, genome, name, count, rng):
    """Windows at random places; one in a hundred in lower case, one in a hundred with a run
    of N. Headers carry the 1-based inclusive coordinates, the peak name and a score."""
    with open(path, "w", newline="\n") as out:
        for number in range(1, count + 1):
            start = rng.randrange(0, len(genome) - WINDOW + 1)
            window = genome[start:start + WINDOW]
            style = rng.random()
            if style < 0.01:
                window = window.lower()
            elif style < 0.02:
                run = rng.randint(10, 40)
                at = rng.randrange(0, WINDOW - run)
                window = window[:at] + "N" * run + window[at + run:]
            score = round(rng.lognormvariate(2.0, 0.6), rng.choice((1, 2, 2, 3)))
            score = max(score, 0.01)
            out.write(f">{name}:{start + 1}-{start + WINDOW}\tpeak_{number}\t{score}\n")
            out.write(wrap(window))
            out.write("\n")


def read_sites(path, shortest, longest):
    """Motif lines of the site list whose motif has `shortest` to `longest` letters."""
    lines = []
    with open(path) as sites:
        for line in sites:
            line = line.rstrip("\n")
            motif = line.split("\t", 1)[0]
            if shortest <= len(motif) <= longest:
                lines.append(line)
    return lines


def write_motifs(path, site_lines, count, rng, lines=False):
    """`count` site lines drawn without replacement, kept in the order of the list; returns
    their motifs in upper case, or the lines themselves when `lines` is set."""
    if count > len(site_lines):
        sys.exit(f"only {len(site_lines)} sites of the wanted lengths, {count} asked for")
    chosen = sorted(rng.sample(range(len(site_lines)), count))
    chosen_lines = [site_lines[i] for i in chosen]
    with open(path, "w", newline="\n") as out:
        out.write("".join(line + "\n" for line in chosen_lines))
    if lines:
        return chosen_lines
    return [line.split("\t", 1)[0].upper() for line in chosen_lines]


def write_many_motifs(path, site_lines, extra, rng):
    """The site lines, then `extra` random IUPAC words of 6 to 20 letters (every symbol,
    mostly bases), as a large motif collection is."""
    letters = "ACGT" * 6 + "RYMKWSBDHVN"
    with open(path, "w", newline="\n") as out:
        out.write("".join(line + "\n" for line in site_lines))
        for _ in range(extra):
            word = "".join(rng.choice(letters) for _ in range(rng.randint(6, 20)))
            out.write(f"{word}\t0\t0\t0\n")


def write_long(path, genome, residues, rng):
    """One record of `residues` residues: copies of the genome, each with 1% of its
    positions changed to another base, cut at the wanted length."""
    other_base = {ord(base): [ord(b) for b in "ACGT" if b != base] for base in "ACGT"}
    with open(path, "wb") as out:
        out.write(b">long_genome_repeat\n")
        carry = b""
        written = 0
        source = genome.encode()
        while written < residues:
            copy = bytearray(source[:residues - written])
            for position in rng.sample(range(len(copy)), len(copy) // 100):
                choices = other_base.get(copy[position])
                if choices:
                    copy[position] = choices[rng.randrange(3)]
            written += len(copy)
            block = carry + bytes(copy)
            full = len(block) - len(block) % LINE_WIDTH
            out.write(b"\n".join(block[i:i + LINE_WIDTH] for i in range(0, full, LINE_WIDTH)))
            if full:
                out.write(b"\n")
            carry = block[full:]
        if carry:
            out.write(carry + b"\n")


def expected_count(motif):
    """Mean number of places in a random 500 bp window where the motif matches on either
    strand (a place where both strands match counts once)."""
    letters = [BASES_OF.get(letter, "ACGT") for letter in motif]
    forward = [set(bases) for bases in letters]
    reverse = [set(bases.translate(COMPLEMENT)) for bases in reversed(letters)]
    either = 0.0
    both = 1.0
    for strand in (forward, reverse):
        match = 1.0
        for bases in strand:
            match *= len(bases) / 4.0
        either += match
    for forward_bases, reverse_bases in zip(forward, reverse):
        both *= len(forward_bases & reverse_bases) / 4.0
    return (WINDOW - len(motif) + 1) * (either - both)


def count_sampler(mean):
    """The chance of a count above 0 and a sampler of the count given that it is above 0,
    for a Poisson count of the given mean."""
    present = 1.0 - math.exp(-mean)
    largest = int(mean + 10 * math.sqrt(mean) + 20)
    weights = [math.exp(k * math.log(mean) - mean - math.lgamma(k + 1))
               for k in range(1, largest + 1)]
    total = sum(weights)
    cumulative = []
    running = 0.0
    for weight in weights:
        running += weight / total
        cumulative.append(running)

    def draw(rng):
        return 1 + min(bisect.bisect_left(cumulative, rng.random()), len(cumulative) - 1)

    return present, draw


def write_presence(path, motifs, rows, rng):
    """A presence table as Sitecount writes it in count format. Each motif's counts follow
    a Poisson law with the motif's expected count in a 500 bp window, so that short motifs
    are often present and long ones rarely."""
    samplers = [count_sampler(expected_count(motif)) for motif in motifs]
    block_rows = 10000
    with open(path, "w", newline="\n") as out:
        out.write("\t".join(["Peak score", "Ln(Peak score)"] + motifs) + "\n")
        for block_start in range(0, rows, block_rows):
            block = min(block_rows, rows - block_start)
            cells = [["0"] * len(motifs) for _ in range(block)]
            for column, (present, draw) in enumerate(samplers):
                if present <= 0.0:
                    continue
                # Rows with a count above 0, found by geometric gaps between them.
                row = -1
                log_absent = math.log(1.0 - present) if present < 1.0 else None
                while True:
                    if log_absent is None:
                        row += 1
                    else:
                        row += 1 + int(math.log(1.0 - rng.random()) / log_absent)
                    if row >= block:
                        break
                    cells[row][column] = str(draw(rng))
            lines = []
            for row_cells in cells:
                score = round(rng.lognormvariate(2.0, 0.6), 2)
                score = max(score, 0.01)
                lines.append("%g\t%g\t" % (score, math.log(score)) + "\t".join(row_cells))
            out.write("\n".join(lines) + "\n")


def write_coefficients(path, motifs, rng):
    """A coefficient table: title lines, an empty line, the column names, the intercept,
    then one line per motif column with its coefficient in the fourth field."""
    with open(path, "w", newline="\n") as out:
        out.write("Least-squares fit of Ln(Peak score) on motif counts\n")
        out.write("Observations\t200000\n")
        out.write("Residual SE\t0.4712\n")
        out.write("\n")
        out.write("Term\tMean count\tStd. error\tCoefficient\tt value\n")
        out.write("Intercept\t%.6f\t%.6f\n" % (1.9 + rng.gauss(0, 0.05), 0.002 + rng.random() * 0.01))
        for motif in motifs:
            mean = expected_count(motif)
            error = 0.001 + rng.random() * 0.05
            coefficient = rng.gauss(0, 0.08)
            out.write("%s\t%.4f\t%.6f\t%.6f\t%.3f\n"
                      % (motif, mean, error, coefficient, coefficient / error))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output", help="folder for the files (made if missing)")
    parser.add_argument("--genome", default=DEFAULT_GENOME,
                        help="FASTA genome, gzipped or not (default: %(default)s)")
    parser.add_argument("--sites", default=DEFAULT_SITES,
                        help="motif file of recognition sites (default: %(default)s)")
    parser.add_argument("--name", default="NC_000913.3",
                        help="sequence name in the window headers (default: %(default)s)")
    parser.add_argument("--scale", type=float, default=1.0,
                        help="multiplies the number of windows, presence rows and long "
                             "residues, e.g. 0.1 for a quick set (default: 1)")
    parser.add_argument("--motifs", type=int, default=500,
                        help="number of motifs and motif columns (default: %(default)s)")
    parser.add_argument("--files", default=",".join(ALL_FILES),
                        help="comma-separated subset of " + ",".join(ALL_FILES))
    parser.add_argument("--seed", type=int, default=20240611)
    args = parser.parse_args()

    wanted = [name for name in args.files.split(",") if name]
    unknown = [name for name in wanted if name not in ALL_FILES]
    if unknown:
        parser.error("unknown file kinds: " + ", ".join(unknown))
    os.makedirs(args.output, exist_ok=True)

    windows = max(1, int(round(100_000 * args.scale)))
    rows = max(1, int(round(200_000 * args.scale)))
    residues = max(1, int(round(250_000_000 * args.scale)))

    # Each file draws from its own generator, so that making one file alone gives the
    # same bytes as making it with the others.
    def rng_for(kind):
        return random.Random(f"{args.seed}:{kind}")

    genome = read_genome(args.genome) if {"peaks", "long"} & set(wanted) else None
    motifs = write_motifs(os.path.join(args.output, "motifs.mot") if "motifs" in wanted
                          else os.devnull,
                          read_sites(args.sites, 4, 12), args.motifs, rng_for("motifs"))
    if "motifs2000" in wanted:
        # The sites of motifs.mot (the same draw), then random words up to 2,000 motifs.
        site_lines = write_motifs(os.devnull, read_sites(args.sites, 4, 12), args.motifs,
                                  rng_for("motifs"), lines=True)
        write_many_motifs(os.path.join(args.output, "motifs2000.mot"), site_lines,
                          2000 - len(site_lines), rng_for("motifs2000"))
    if "peaks" in wanted:
        write_peaks(os.path.join(args.output, "peaks.fa"), genome, args.name, windows,
                    rng_for("peaks"))
    if "presence" in wanted:
        write_presence(os.path.join(args.output, "presence.tab"), motifs, rows,
                       rng_for("presence"))
    if "coefficients" in wanted:
        write_coefficients(os.path.join(args.output, "coefficients.tab"), motifs,
                           rng_for("coefficients"))
    if "long" in wanted:
        write_long(os.path.join(args.output, "long.fa"), genome, residues, rng_for("long"))


if __name__ == "__main__":
    main()
