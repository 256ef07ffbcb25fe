#!/usr/bin/env python3
"""Names each row of a prediction table after the FASTA record it was counted from.

    peak_table.py FASTA PREDICTED OUTPUT

Writes OUTPUT, a BED-like table with a "#" header line: chrom, start, end, name, observed
score, observed Ln score, predicted value, one line per record of FASTA in its order. A
header "chrom:start-end<TAB>name<TAB>score" gives the coordinates and the name; any other
header gives its first word as chrom and name, 0 as start and the record's length as end.
A header without a tab gave a row without score columns: its observed columns are "NA".
"""

import gzip
import re
import sys

WINDOW = re.compile(r"^(.+):([0-9]+)-([0-9]+)$")


def open_text(path):
    with open(path, "rb") as stream:
        compressed = stream.read(2) == b"\x1f\x8b"
    if compressed:
        return gzip.open(path, "rt", encoding="utf-8", errors="replace", newline="\n")
    return open(path, encoding="utf-8", errors="replace", newline="\n")


def records(path):
    """(header without '>' and line end, number of residues) of each record."""
    header = None
    length = 0
    with open_text(path) as stream:
        for line in stream:
            if line.startswith(">"):
                if header is not None:
                    yield header, length
                header = line[1:].rstrip("\n").rstrip("\r")
                length = 0
            elif header is not None:
                length += sum(1 for c in line if c.isalpha())
    if header is not None:
        yield header, length


def main():
    if len(sys.argv) != 4:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        sys.exit(1)
    fasta, predicted, output = sys.argv[1:]
    with open(predicted, encoding="utf-8", newline="\n") as stream:
        rows = [line.rstrip("\n").split("\t") for line in stream if line.strip("\t\r\n")]
    rows = rows[1:]  # the header row
    lines = ["#chrom\tstart\tend\tname\tscore\tln_score\tpredicted\n"]
    for (header, length), row in zip(records(fasta), rows):
        fields = header.split("\t")
        words = fields[0].split()
        identifier = words[0] if words else ""
        name = fields[-2] if len(fields) >= 3 else identifier
        window = WINDOW.match(fields[0])
        if window:
            chrom, start, end = window.group(1), window.group(2), window.group(3)
        else:
            chrom, start, end = identifier, "0", str(length)
        score, ln_score = (row[0], row[1]) if len(fields) > 1 else ("NA", "NA")
        lines.append(f"{chrom}\t{start}\t{end}\t{name}\t{score}\t{ln_score}\t{row[-1]}\n")
    total = sum(1 for _ in records(fasta))
    if total != len(rows):
        print(f"{predicted}: {len(rows)} rows for the {total} records of {fasta}; "
              "the table cannot be named", file=sys.stderr)
        sys.exit(1)
    with open(output, "w", encoding="utf-8") as out:
        out.writelines(lines)


if __name__ == "__main__":
    main()
