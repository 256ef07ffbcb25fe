#!/usr/bin/env bash
# Runs the programs where things go wrong around them (a full disk, a closed pipe, too
# little memory, links, signals) and checks that no output is lost or half written and
# that every failure is reported. Called by CTest as:
#   robustness.sh SITECOUNT SCOREFIT EXAMPLES_DIR
set -u
sitecount=$1
scorefit=$2
examples=$3
work=$(mktemp -d)
mounted=""
cleanup() {
  [[ -n $mounted ]] && umount "$mounted" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "$0")/checks.sh"

cd "$work" || exit 1
cp "$examples/peaks.fa" "$examples/motifs.mot" "$examples/coefficients.tab" .
"$sitecount" peaks.fa motifs.mot reference.tab 1 >/dev/null

# A full disk under an existing table: the older table stays, nothing else is left.
mkdir small
if mount -t tmpfs -o size=64k tmpfs small 2>/dev/null; then
  mounted=$work/small
  echo "older table" > small/t.tab
  head -c 50000 /dev/zero > small/filler
  "$sitecount" peaks.fa motifs.mot small/t.tab 1 >/dev/null 2>err.txt
  code=$?
  check "full disk: exit 1" [ "$code" -eq 1 ]
  check "full disk: message" same_text err.txt \
    "small/t.tab: could not be written in full (is the disk full?)"
  check "full disk: older table kept" same_text small/t.tab "older table"
  check "full disk: no temporary file" no_temporary_files small
  umount small && mounted=""
else
  echo "skipped: full disk (no tmpfs can be mounted here)"
fi

# out_b.tab on a device that takes nothing: reported, and the prediction table not made.
ln -s /dev/full out_b.tab
"$sitecount" peaks.fa motifs.mot presence.tab 1 >/dev/null
"$scorefit" coefficients.tab presence.tab predicted.tab >/dev/null 2>err.txt
check "full out_b.tab: exit 1" [ $? -eq 1 ]
check "full out_b.tab: message" same_text err.txt \
  "out_b.tab: could not be written in full (is the disk full?)"
check "full out_b.tab: no prediction table" [ ! -e predicted.tab ]
rm out_b.tab

# Nobody reads the progress lines: the run goes on and writes its table in full.
"$sitecount" peaks.fa motifs.mot closed.tab 1 >&-
check "closed output: exit 0" [ $? -eq 0 ]
check "closed output: whole table" cmp -s closed.tab reference.tab
"$sitecount" peaks.fa motifs.mot piped.tab 1 | head -c1 >/dev/null
check "reader gone: exit 0" [ "${PIPESTATUS[0]}" -eq 0 ]
check "reader gone: whole table" cmp -s piped.tab reference.tab

# Too little memory for one line: one message naming it, the older outputs intact.
if [[ -z ${ASAN_OPTIONS:-}${TSAN_OPTIONS:-} ]]; then
  { printf '>'; head -c 300000000 /dev/zero | tr '\0' 'a'; printf '\nACGT\n'; } > huge.fa
  echo "older table" > t.tab
  (ulimit -v 250000; "$sitecount" huge.fa motifs.mot t.tab 1 >/dev/null 2>err.txt)
  check "out of memory: exit 1" [ $? -eq 1 ]
  check "out of memory: message" same_text err.txt \
    "huge.fa: out of memory while reading record 1; nothing was written"
  check "out of memory: older table kept" same_text t.tab "older table"
  check "out of memory: no temporary file" no_temporary_files .
  rm huge.fa
else
  echo "skipped: out of memory (a sanitizer reserves more than the limit)"
fi

# A dangling link to the coefficient dump is no place for the prediction table.
ln -s out_b.tab dangling.tab
"$scorefit" coefficients.tab presence.tab dangling.tab >out.txt 2>err.txt
check "dangling link: exit 1" [ $? -eq 1 ]
check "dangling link: message" same_text err.txt \
  "dangling.tab: would replace the coefficient dump out_b.tab that this run writes; choose another output file"
check "dangling link: nothing written" [ ! -e out_b.tab ]

# A FIFO as both input and output is refused instead of waiting forever.
mkfifo pipe.fa
timeout 10 "$sitecount" pipe.fa motifs.mot pipe.fa 1 >/dev/null 2>err.txt
check "fifo both ways: exit 1" [ $? -eq 1 ]
check "fifo both ways: message" same_text err.txt \
  "pipe.fa: is the input file pipe.fa; refusing to overwrite it, choose another output file"

# Ended by a signal in the middle of a run (SIGTERM here: a shell without job control
# starts background jobs with Ctrl-C's SIGINT ignored, and the programs keep it so): the
# older table stays and no temporary file is left.
mkfifo slow.fa
echo "older table" > interrupted.tab
"$sitecount" slow.fa motifs.mot interrupted.tab 1 >/dev/null 2>&1 &
pid=$!
{
  head -c 20000 peaks.fa
  sleep 1
  kill -TERM "$pid"
  sleep 1
} > slow.fa
wait "$pid"
code=$?
check "interrupted: ended by the signal" [ "$code" -eq 143 ]
check "interrupted: older table kept" same_text interrupted.tab "older table"
check "interrupted: no temporary file" no_temporary_files .

# A run that lasts shows its progress on a terminal, and on nothing else.
if command -v script >/dev/null 2>&1; then
  slow_run() {  # slow_run COMMAND: the example peaks arrive in two parts, 1.5 s apart
    rm -f slow.fa && mkfifo slow.fa
    "$@" &
    local pid=$!
    { head -c 20000 peaks.fa; sleep 1.5; tail -c +20001 peaks.fa; } > slow.fa
    wait "$pid"
  }
  slow_run script -qfec "$sitecount slow.fa motifs.mot progress.tab 1" /dev/null > terminal.txt
  check "progress on a terminal: shown" grep -q $'\rSitecount: [0-9,]* records, [0-9,]* residues' terminal.txt
  check "progress on a terminal: cleared at the end" grep -q $'\r\e\[K' terminal.txt
  check "progress on a terminal: whole table" cmp -s progress.tab reference.tab
  slow_run "$sitecount" slow.fa motifs.mot progress.tab 1 >/dev/null 2>err.txt
  check "progress without a terminal: absent" [ ! -s err.txt ]
else
  echo "skipped: progress line (no script command for a pseudo-terminal)"
fi

# No thread to be had (a limit on processes): one line, exit 1, the older output kept and
# no temporary file. The limit binds an unprivileged user only, so root runs the programs
# as nobody in a folder that nobody may write.
limited() {  # limited COMMAND...: runs COMMAND with at most one process for its user
  if [[ $(id -u) -ne 0 ]]; then
    bash -c 'ulimit -u 1 && exec "$@"' limited "$@"
  else
    setpriv --reuid=65534 --regid=65534 --clear-groups bash -c 'ulimit -u 1 && exec "$@"' limited "$@"
  fi
}
if [[ -n ${ASAN_OPTIONS:-}${TSAN_OPTIONS:-} ]]; then
  # The sanitizers' own threads (the leak checker's, at exit) cannot start under the limit.
  echo "skipped: thread limit (a sanitizer build)"
elif [[ $(id -u) -ne 0 ]] || { command -v setpriv >/dev/null && setpriv --reuid=65534 --regid=65534 --clear-groups test -x "$sitecount"; }; then
  chmod a+x "$work"
  mkdir limit && cp peaks.fa motifs.mot coefficients.tab reference.tab limit/
  echo "older table" > limit/t.tab
  echo "older table" > limit/p.tab
  chmod -R a+rwX limit
  (cd limit && limited "$sitecount" peaks.fa motifs.mot t.tab 1 >/dev/null 2>err.txt)
  code=$?
  check "no thread: Sitecount exit 1" [ "$code" -eq 1 ]
  check "no thread: Sitecount message" same_text limit/err.txt \
    "Sitecount: could not start a thread (Resource temporarily unavailable); the output file was left as it was"
  check "no thread: older table kept" same_text limit/t.tab "older table"
  (cd limit && limited "$scorefit" coefficients.tab reference.tab p.tab >/dev/null 2>err.txt)
  code=$?
  check "no thread: Scorefit exit 1" [ "$code" -eq 1 ]
  check "no thread: Scorefit message" same_text limit/err.txt \
    "Scorefit: could not start a thread (Resource temporarily unavailable); the output file was left as it was"
  check "no thread: older prediction kept" same_text limit/p.tab "older table"
  check "no thread: no temporary file" no_temporary_files limit
else
  echo "skipped: thread limit (root without setpriv, or the programs unreadable to nobody)"
fi

finish_checks
