#!/usr/bin/env bash
# The Slurm profile's job-status script against stand-ins for sacct and scontrol: each state
# that Slurm reports maps to what snakemake expects.
#
#   tests/workflow/slurm_status.sh SOURCE_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/slurm_status_XXXXXX")
trap 'rm -rf "$work"' EXIT
source "$source_dir/tests/cli/checks.sh"
status=$source_dir/workflow/profiles/slurm/status.py

mkdir "$work/bin"
# sacct answers with $SACCT_STATE (nothing when empty, as without accounting); scontrol
# with $SCONTROL_STATE, failing when empty.
cat > "$work/bin/sacct" <<'FAKE'
#!/bin/sh
[ -n "$SACCT_STATE" ] && printf '%s\n%s\n' "$SACCT_STATE" COMPLETED
exit 0
FAKE
cat > "$work/bin/scontrol" <<'FAKE'
#!/bin/sh
[ -n "$SCONTROL_STATE" ] || exit 1
echo "JobId=$3 JobName=x JobState=$SCONTROL_STATE Reason=None"
FAKE
chmod +x "$work/bin/sacct" "$work/bin/scontrol"

while read -r sacct_state scontrol_state expected; do
  [[ $sacct_state == - ]] && sacct_state=
  [[ $scontrol_state == - ]] && scontrol_state=
  answer=$(PATH=$work/bin:$PATH SACCT_STATE=$sacct_state SCONTROL_STATE=$scontrol_state \
    python3 "$status" 4242)
  check "sacct '$sacct_state', scontrol '$scontrol_state': $expected" \
    test "$answer" = "$expected"
done <<'CASES'
COMPLETED - success
RUNNING - running
PENDING - running
FAILED - failed
CANCELLED+ - failed
TIMEOUT - failed
OUT_OF_MEMORY - failed
NODE_FAIL - failed
- RUNNING running
- COMPLETED success
- TIMEOUT failed
CASES
finish_checks
