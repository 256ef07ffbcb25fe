#!/usr/bin/env python3
"""Writes a FASTA file of peaks for the threaded runs: OUTPUT gets PEAKS windows of 500
random bases (one in fifty in lower case, one in fifty with a run of N) and, among them,
LONG records of LONG_RESIDUES bases, longer than a counting batch, so that records are
carried across batches. Headers end in a tab and a score. A fixed seed gives the same
bytes every time. Standard library only.

  make_peaks.py OUTPUT [--peaks 32000] [--long 2] [--long-residues 2500000]
"""

import argparse
import random

LINE_WIDTH = 60


def wrapped(sequence):
    return "".join(sequence[i:i + LINE_WIDTH] + "\n" for i in range(0, len(sequence), LINE_WIDTH))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--peaks", type=int, default=32000)
    parser.add_argument("--long", type=int, default=2)
    parser.add_argument("--long-residues", type=int, default=2500000)
    parser.add_argument("--seed", type=int, default=20)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    # The long records sit at even places among the peaks, none first or last.
    long_after = {args.peaks * (i + 1) // (args.long + 1) for i in range(args.long)}
    with open(args.output, "w", newline="\n") as out:
        for number in range(1, args.peaks + 1):
            window = "".join(rng.choices("ACGT", k=500))
            style = rng.random()
            if style < 0.02:
                window = window.lower()
            elif style < 0.04:
                at = rng.randrange(0, 460)
                window = window[:at] + "N" * 40 + window[at + 40:]
            score = max(round(rng.lognormvariate(2.0, 0.6), 2), 0.01)
            out.write(f">chr{number % 5 + 1}:{number * 1000}-{number * 1000 + 499}"
                      f"\tpeak_{number}\t{score}\n")
            out.write(wrapped(window))
            if number in long_after:
                residues = "".join(rng.choices("ACGT", k=args.long_residues))
                out.write(f">long_{number}\tlong_peak_{number}\t{rng.randint(1, 99)}.5\n")
                out.write(wrapped(residues))


if __name__ == "__main__":
    main()
