#!/usr/bin/env python3
"""Times Sitecount and Scorefit on the data set of make_data.py, side by side in one run.

Every repetition runs each job once, in turn, so that a change in the machine's load falls
on all of them alike. Reports, per job: the median wall time, its ratio to the floor, the
median CPU time, the peak resident memory (from the child's own resource usage) and, where
it applies, the input read per second. Sitecount's outputs from all kernels and thread
counts must be byte-identical; a difference is reported and makes the exit code 1.

Jobs:
  floor: cat peaks.fa > /dev/null
  Sitecount peaks.fa motifs.mot OUT 1, with SITECOUNT_KERNEL=pairwise and with the default
    kernel, each with SITECOUNT_THREADS=1 and 2 (programs that ignore these variables just
    run four times the same way)
  Sitecount on the whole set, its first 5,000 peaks and 2,000 motifs (motifs2000.mot),
    with 1 and 2 threads, and the same with --baseline, another build, when given
  Sitecount long.fa on a few motifs: memory for one very long record
  Scorefit coefficients.tab presence.tab OUT, against two floors: a line-by-line echo that
    flushes every line (echo_lines.cpp, built here) and cat into a file

Standard library only.
"""

import argparse
import filecmp
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
ECHO_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "echo_lines.cpp")
SITECOUNT_VARIABLES = ("SITECOUNT_KERNEL", "SITECOUNT_THREADS")


class Job:
    def __init__(self, name, argv, input_path=None, env=None, output=None, group=None,
                 floor=None, cwd=None, stdout_path=None):
        self.name = name
        self.argv = argv
        self.stdout_path = stdout_path  # where standard output goes; discarded when None
        self.input_path = input_path  # for the MB/s column
        self.env = env or {}
        self.output = output          # the file it writes: compared within a group
        self.group = group
        self.floor = floor            # name of the job this one is compared with
        self.cwd = cwd
        self.walls = []
        self.cpus = []
        self.peak_kib = 0
        self.failures = []


def run_once(job, base_env):
    """Runs the job's command once; records wall time, CPU time and peak memory."""
    env = dict(base_env)
    env.update(job.env)
    stderr_path = os.path.join(job.cwd, job.name.replace(" ", "_") + ".stderr")
    # The last repetition's output is removed first, untimed: on ext4, a file renamed over
    # an existing one is written out at once, and the old one's pages are waited for,
    # which times the disk, not the job. A user writes a new table far more often than
    # one written a second before.
    if job.output is not None and os.path.exists(job.output):
        os.remove(job.output)
    with open(job.stdout_path or os.devnull, "wb") as stdout, open(stderr_path, "wb") as stderr:
        started = time.perf_counter()
        process = subprocess.Popen(job.argv, stdin=subprocess.DEVNULL, stdout=stdout,
                                   stderr=stderr, env=env, cwd=job.cwd)
        # wait4 gives this child's own resource usage, its peak resident set included.
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        job.failures.append(f"exit code {process.returncode}, see {stderr_path}")
        return
    job.walls.append(wall)
    job.cpus.append(usage.ru_utime + usage.ru_stime)
    job.peak_kib = max(job.peak_kib, usage.ru_maxrss)  # KiB on Linux


def build_echo(work):
    """Builds the line-echo floor with the system's C++ compiler; None when there is none."""
    compiler = shutil.which(os.environ.get("CXX", "c++")) or shutil.which("g++")
    if compiler is None:
        return None
    binary = os.path.join(work, "echo_lines")
    if (not os.path.exists(binary)
            or os.path.getmtime(binary) < os.path.getmtime(ECHO_SOURCE)):
        subprocess.run([compiler, "-O2", "-std=c++17", "-o", binary, ECHO_SOURCE], check=True)
    return binary


def first_motifs(source, target, count):
    """Writes the first `count` motif lines of `source` to `target` (all when count is 0)."""
    with open(source) as motifs:
        lines = motifs.readlines()
    with open(target, "w") as out:
        out.writelines(lines if count == 0 else lines[:count])


def first_records(source, target, count):
    """The first `count` FASTA records of `source` into `target`."""
    records = 0
    with open(source) as fasta, open(target, "w") as out:
        for line in fasta:
            if line.startswith(">"):
                records += 1
                if records > count:
                    break
            out.write(line)


def format_table(rows):
    widths = [max(len(str(row[i])) for row in rows) for i in range(len(rows[0]))]
    lines = []
    for number, row in enumerate(rows):
        cells = [str(cell).ljust(widths[i]) if i == 0 else str(cell).rjust(widths[i])
                 for i, cell in enumerate(row)]
        lines.append("  ".join(cells).rstrip())
        if number == 0:
            lines.append("  ".join("-" * width for width in widths))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("data", help="folder written by make_data.py")
    parser.add_argument("--sitecount",
                        default=os.path.join(REPO_ROOT, "build/release/sitecount/Sitecount"))
    parser.add_argument("--scorefit",
                        default=os.path.join(REPO_ROOT, "build/release/scorefit/Scorefit"))
    parser.add_argument("--reps", type=int, default=3, help="repetitions (default: 3)")
    parser.add_argument("--work", help="folder for outputs (default: DATA/run)")
    parser.add_argument("--long-motifs", type=int, default=20,
                        help="motifs for the long.fa run, 0 for all (default: %(default)s)")
    parser.add_argument("--baseline",
                        help="another Sitecount (an older build, say) run on the same jobs, "
                             "its outputs compared with this one's")
    parser.add_argument("--skip", default="",
                        help="comma-separated parts to leave out: sitecount, pairwise, default, "
                             "long, scorefit")
    args = parser.parse_args()

    data = os.path.abspath(args.data)
    work = os.path.abspath(args.work or os.path.join(data, "run"))
    os.makedirs(work, exist_ok=True)
    skip = {part for part in args.skip.split(",") if part}
    sitecount = os.path.abspath(args.sitecount)
    scorefit = os.path.abspath(args.scorefit)

    def data_file(name):
        path = os.path.join(data, name)
        if not os.path.exists(path):
            sys.exit(f"{path} is missing: make it with make_data.py, or --skip its part")
        return path

    jobs = []
    if "sitecount" not in skip or "long" not in skip:
        if not os.access(sitecount, os.X_OK):
            sys.exit(f"{sitecount}: no such program (build it, or give --sitecount)")
    if "sitecount" not in skip:
        peaks = data_file("peaks.fa")
        motifs = data_file("motifs.mot")
        jobs.append(Job("cat peaks.fa", ["cat", peaks], input_path=peaks, cwd=work))
        for kernel in ("pairwise", "default"):
            if kernel in skip:
                continue
            for threads in ("1", "2"):
                env = {"SITECOUNT_THREADS": threads}
                if kernel != "default":
                    env["SITECOUNT_KERNEL"] = kernel
                output = os.path.join(work, f"presence_{kernel}_{threads}.tab")
                jobs.append(Job(f"Sitecount {kernel} {threads}T",
                                [sitecount, peaks, motifs, output, "1"], input_path=peaks,
                                env=env, output=output, group="sitecount",
                                floor="cat peaks.fa", cwd=work))
        # The engine's targets: the whole set, 2,000 motifs, and the first 5,000 peaks,
        # on two threads, beside the baseline program when one is given.
        many_motifs = os.path.join(data, "motifs2000.mot")
        small_peaks = os.path.join(work, "peaks5000.fa")
        first_records(peaks, small_peaks, 5000)
        programs = [("", sitecount)]
        if args.baseline:
            programs.append(("baseline ", os.path.abspath(args.baseline)))
        for label, program in programs:
            for name, fasta, motif_file in (("all", peaks, motifs),
                                            ("5000 peaks", small_peaks, motifs),
                                            ("2000 motifs", peaks, many_motifs)):
                if not os.path.exists(motif_file):
                    continue
                for threads in ("1", "2"):
                    output = os.path.join(work, f"{label}{name}_{threads}.tab".replace(" ", "_"))
                    jobs.append(Job(f"{label}Sitecount {name} {threads}T",
                                    [program, fasta, motif_file, output, "1"], input_path=fasta,
                                    env={"SITECOUNT_THREADS": threads}, output=output,
                                    group=f"target {name}", floor="cat peaks.fa", cwd=work))
    if "long" not in skip:
        long_fa = data_file("long.fa")
        long_motifs = os.path.join(work, "long_motifs.mot")
        first_motifs(data_file("motifs.mot"), long_motifs, args.long_motifs)
        jobs.append(Job("cat long.fa", ["cat", long_fa], input_path=long_fa, cwd=work))
        jobs.append(Job("Sitecount long.fa", [sitecount, long_fa, long_motifs,
                                              os.path.join(work, "long.tab"), "1"],
                        input_path=long_fa, env={"SITECOUNT_THREADS": "1"},
                        floor="cat long.fa", cwd=work))
    if "scorefit" not in skip:
        if not os.access(scorefit, os.X_OK):
            sys.exit(f"{scorefit}: no such program (build it, or give --scorefit)")
        presence = data_file("presence.tab")
        coefficients = data_file("coefficients.tab")
        echo = build_echo(work)
        if echo is not None:
            echoed = os.path.join(work, "echo.tab")
            jobs.append(Job("echo presence.tab", [echo, presence, echoed], input_path=presence,
                            output=echoed, cwd=work))
        copied = os.path.join(work, "cat.tab")
        jobs.append(Job("cat presence.tab", ["cat", presence], input_path=presence, cwd=work,
                        stdout_path=copied, output=copied))
        predicted = os.path.join(work, "predicted.tab")
        jobs.append(Job("Scorefit", [scorefit, coefficients, presence, predicted],
                        input_path=presence, output=predicted,
                        floor="echo presence.tab" if echo else "cat presence.tab", cwd=work))

    base_env = {key: value for key, value in os.environ.items()
                if key not in SITECOUNT_VARIABLES}
    for repetition in range(args.reps):
        # Each repetition starts one job further on, so no job always runs first.
        order = jobs[repetition % len(jobs):] + jobs[:repetition % len(jobs)]
        for job in order:
            run_once(job, base_env)
            print(f"[{repetition + 1}/{args.reps}] {job.name}: "
                  + (f"{job.walls[-1]:.3f} s" if not job.failures else job.failures[-1]),
                  file=sys.stderr, flush=True)

    # A child starts out with this process's peak as its own (the kernel carries it over the
    # fork and the exec), so a peak at or below it only says "no more than this".
    own_peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

    def peak_text(kib):
        return f"<={own_peak_kib / 1024:.1f}" if kib <= own_peak_kib else f"{kib / 1024:.1f}"

    by_name = {job.name: job for job in jobs}
    rows = [("job", "median s", "x floor", "CPU s", "peak MiB", "MB/s in", "runs")]
    for job in jobs:
        if not job.walls:
            rows.append((job.name, "failed", "", "", "", "", f"0/{args.reps}"))
            continue
        median = statistics.median(job.walls)
        floor = by_name.get(job.floor)
        ratio = (f"{median / statistics.median(floor.walls):.2f}"
                 if floor is not None and floor.walls else "")
        throughput = (f"{os.path.getsize(job.input_path) / median / 1e6:.1f}"
                      if job.input_path else "")
        rows.append((job.name, f"{median:.3f}", ratio, f"{statistics.median(job.cpus):.3f}",
                     peak_text(job.peak_kib), throughput, f"{len(job.walls)}/{args.reps}"))
    print(format_table(rows))

    # Sitecount's kernels and thread counts against the per-pair kernel on one thread.
    group = [job for job in jobs if job.group == "sitecount"]
    status = 0
    if group and group[0].walls:
        reference = group[0]
        print()
        for job in group[1:]:
            if not job.walls:
                continue
            speedup = statistics.median(reference.walls) / statistics.median(job.walls)
            same = filecmp.cmp(reference.output, job.output, shallow=False)
            print(f"{job.name}: {speedup:.2f}x as fast as {reference.name}; output "
                  + ("identical" if same else "DIFFERS"))
            if not same:
                status = 1
    # Every target job of one input gives the same table, whatever the program or threads.
    for name in sorted({job.group for job in jobs if job.group and job.group.startswith("target")}):
        members = [job for job in jobs if job.group == name and job.walls]
        for job in members[1:]:
            if not filecmp.cmp(members[0].output, job.output, shallow=False):
                print(f"{job.name}: output DIFFERS from {members[0].name}")
                status = 1
    if any(job.failures for job in jobs):
        status = 1
        print("\nfailures:")
        for job in jobs:
            for failure in job.failures:
                print(f"  {job.name}: {failure}")
    return status


if __name__ == "__main__":
    sys.exit(main())
