#!/usr/bin/env python3
"""Tells snakemake how a Slurm job stands: prints success, failed or running.

    status.py JOBID

Asks sacct first (it knows finished jobs), then scontrol (it knows queued and running jobs
where accounting is off). A job that was cancelled, ran out of time or memory, lost its
node or was preempted has failed; snakemake then restarts it or stops. When neither command
answers, the job is taken as still running and asked about again later.
"""

import subprocess
import sys
import time

RUNNING = {"PENDING", "CONFIGURING", "RUNNING", "COMPLETING", "REQUEUED", "REQUEUE_HOLD",
           "REQUEUE_FED", "RESIZING", "SUSPENDED", "STAGE_OUT", "SIGNALING", "STOPPED"}


def ask(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return done.stdout if done.returncode == 0 else None


def state_from_sacct(job):
    # The job's own line comes first; its steps (batch, extern) follow.
    text = ask(["sacct", "-j", job, "--format=State", "--noheader", "--parsable2", "-X"])
    if not text or not text.strip():
        return None
    return text.split()[0].rstrip("+")


def state_from_scontrol(job):
    text = ask(["scontrol", "show", "job", job])
    if not text:
        return None
    for word in text.split():
        if word.startswith("JobState="):
            return word.split("=", 1)[1]
    return None


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        sys.exit(2)
    job = sys.argv[1]
    state = None
    for attempt in range(3):
        state = state_from_sacct(job) or state_from_scontrol(job)
        if state:
            break
        time.sleep(2 * (attempt + 1))
    if state is None or state in RUNNING:
        print("running")
    elif state == "COMPLETED":
        print("success")
    else:
        # FAILED, CANCELLED (by the user or the scheduler), TIMEOUT, OUT_OF_MEMORY,
        # NODE_FAIL, PREEMPTED, BOOT_FAIL, DEADLINE
        print("failed")


if __name__ == "__main__":
    main()
