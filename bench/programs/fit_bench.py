#!/usr/bin/env python3
"""Times Motiffit on a presence table, side by side in one run with numpy's lstsq (reading
the table included) and, when given, an older Motiffit; checks that the coefficients agree.

    python3 bench/programs/make_data.py build/benchdata --files presence   # 200,000 rows
    /usr/bin/python3 bench/programs/fit_bench.py build/benchdata --rows 100000 --reps 5 \\
        --old-motiffit /path/to/old/Motiffit

Every repetition runs each job once, in turn, so that a change in the machine's load falls
on all of them alike. Jobs:
  Motiffit TABLE OUT                          unpenalised, 5-fold cross-validation
  Motiffit --folds 1 TABLE OUT                unpenalised, no cross-validation
  Motiffit --penalty elastic TABLE OUT        the elastic-net path, 5 folds
  numpy: loadtxt + lstsq                      the same least squares, reading included
  OLD TABLE OUT (--old-motiffit)              an older Motiffit (two arguments only)
Reports the median wall time, its ratio to the unpenalised 5-fold run, the median CPU
time and the peak resident memory (each child's own resource usage, from wait4), then the largest
relative difference between Motiffit's and numpy's coefficients. With --memory-rows N it
also writes a table of N rows (the rows repeated) and reports Motiffit's peak memory on it.
numpy must be importable by the Python that runs this script (Debian: python3-numpy).
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

NUMPY_FIT = r"""
import sys, numpy
data = numpy.loadtxt(sys.argv[1], delimiter="\t", skiprows=1, ndmin=2)
y, x = data[:, 1], data[:, 2:]
design = numpy.column_stack([numpy.ones(len(y)), x])
beta = numpy.linalg.lstsq(design, y, rcond=None)[0]
with open(sys.argv[2], "w") as out:
    out.write("\n".join("%.17g" % value for value in beta) + "\n")
"""


def cut_table(source, target, rows):
    """The header and the first `rows` data rows of `source` (repeated if it has fewer)."""
    with open(source) as table:
        header = table.readline()
        body = table.readlines()
    with open(target, "w") as out:
        out.write(header)
        written = 0
        while written < rows:
            chunk = body[: rows - written]
            out.writelines(chunk)
            written += len(chunk)


def run(argv, cwd):
    """Wall and CPU seconds and peak resident KiB of one run of `argv`, from the child's
    own resource usage."""
    stderr_path = os.path.join(cwd, "last.stderr")
    with open(stderr_path, "wb") as stderr:
        start = time.perf_counter()
        child = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=stderr)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        with open(stderr_path) as stderr:
            sys.exit(f"{' '.join(argv)} failed: {stderr.read()}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def coefficients(path):
    """Intercept and coefficients of a Motiffit table, or the lines of numpy's output."""
    values = []
    seen = False
    with open(path) as table:
        for line in table:
            fields = line.rstrip("\n").split("\t")
            if seen and len(fields) >= 4:
                values.append(float(fields[3]))
            elif fields[0] == "Intercept":
                values.append(float(fields[1]))
                seen = True
            elif not seen and len(fields) == 1 and fields[0]:
                try:
                    values.append(float(fields[0]))
                except ValueError:
                    pass
    return values


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("data", help="folder holding presence.tab (make_data.py)")
    parser.add_argument("--table", help="presence table (default DATA/presence.tab)")
    parser.add_argument("--rows", type=int, default=100000, help="data rows to fit")
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--motiffit", default=os.path.join(REPO_ROOT, "build/release/motiffit/Motiffit"))
    parser.add_argument("--old-motiffit", help="an older Motiffit to compare with")
    parser.add_argument("--memory-rows", type=int, default=0,
                        help="also report peak memory on a table of this many rows")
    args = parser.parse_args()

    work = os.path.join(args.data, "fit_run")
    os.makedirs(work, exist_ok=True)
    table = os.path.join(work, "table.tab")
    cut_table(args.table or os.path.join(args.data, "presence.tab"), table, args.rows)

    jobs = [
        ("Motiffit, 5 folds", [args.motiffit, table, os.path.join(work, "folds5.tab")]),
        ("Motiffit, --folds 1", [args.motiffit, "--folds", "1", table, os.path.join(work, "folds1.tab")]),
        ("Motiffit, elastic net, 5 folds",
         [args.motiffit, "--penalty", "elastic", table, os.path.join(work, "elastic.tab")]),
        ("numpy loadtxt + lstsq", [sys.executable, "-c", NUMPY_FIT, table, os.path.join(work, "numpy.txt")]),
    ]
    if args.old_motiffit:
        jobs.append(("older Motiffit (no folds)", [args.old_motiffit, table, os.path.join(work, "old.tab")]))
    times = {name: [] for name, _ in jobs}
    cpus = {name: [] for name, _ in jobs}
    peaks = {name: 0 for name, _ in jobs}
    for _ in range(args.reps):
        for name, argv in jobs:
            wall, cpu, peak = run(argv, work)
            times[name].append(wall)
            cpus[name].append(cpu)
            peaks[name] = max(peaks[name], peak)

    base = statistics.median(times[jobs[0][0]])
    print(f"{args.rows} rows, {args.reps} repetitions, medians")
    print(f"{'job':34} {'wall s':>8} {'x base':>8} {'cpu s':>8} {'peak MB':>8}")
    for name, _ in jobs:
        wall = statistics.median(times[name])
        print(f"{name:34} {wall:8.3f} {wall / base:8.2f} {statistics.median(cpus[name]):8.3f} "
              f"{peaks[name] / 1024:8.1f}")

    fitted = coefficients(os.path.join(work, "folds5.tab"))
    reference = coefficients(os.path.join(work, "numpy.txt"))
    worst = max(abs(a - b) / max(abs(b), 1e-300) for a, b in zip(fitted, reference) if b != 0)
    print(f"largest relative difference of the coefficients from numpy's lstsq: {worst:.3g}")

    if args.memory_rows:
        big = os.path.join(work, "big.tab")
        cut_table(table, big, args.memory_rows)
        _, _, peak = run([args.motiffit, big, os.path.join(work, "big_fit.tab")], work)
        print(f"peak memory of Motiffit on {args.memory_rows} rows: {peak / 1024:.1f} MB")
        os.remove(big)


if __name__ == "__main__":
    main()
