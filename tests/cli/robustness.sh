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

# A cap on the address space, as batch systems set it: eight counting threads need no
# more of it than one, and the run succeeds every time.
if [[ -z ${ASAN_OPTIONS:-}${TSAN_OPTIONS:-} ]]; then
  for copy in $(seq 20); do cat peaks.fa; done > many.fa
  "$sitecount" many.fa motifs.mot many_reference.tab 1 >/dev/null
  "$scorefit" coefficients.tab many_reference.tab many_predicted_reference.tab >/dev/null
  capped=0
  for run in 1 2 3; do
    (ulimit -v 100000 &&
      SITECOUNT_THREADS=8 "$sitecount" many.fa motifs.mot many.tab 1 >/dev/null &&
      "$scorefit" coefficients.tab many.tab many_predicted.tab >/dev/null) &&
      cmp -s many.tab many_reference.tab &&
      cmp -s many_predicted.tab many_predicted_reference.tab && capped=$((capped + 1))
    rm -f many.tab many_predicted.tab
  done
  check "address space capped at 100 MB: 3 runs of 3 succeed" [ "$capped" -eq 3 ]
  rm many.fa out_b.tab
else
  echo "skipped: address space cap (a sanitizer reserves more than the cap)"
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

# The temporary table has no name while it is written, so that even SIGKILL leaves
# nothing; where the file system cannot make unnamed files (emulated by a library that
# refuses them), it is a hidden file that Ctrl-C and SIGTERM remove.
# killed_run SIGNAL OUTPUT [VARIABLE=VALUE...]: the run is ended by SIGNAL mid-way; sets
# `code` and `hidden` (whether a hidden temporary file stood beside OUTPUT meanwhile).
killed_run() {
  local signal=$1 output=$2
  shift 2
  rm -f slow.fa && mkfifo slow.fa
  env "$@" "$sitecount" slow.fa motifs.mot "$output" 1 >/dev/null 2>&1 &
  local pid=$!
  {
    head -c 20000 peaks.fa
    sleep 1
    hidden=no
    compgen -G "$(dirname "$output")/.$(basename "$output").??????" >/dev/null && hidden=yes
    kill "-$signal" "$pid"
    sleep 0.5
  } > slow.fa
  wait "$pid" 2>/dev/null
  code=$?
}
mkdir killed
echo "older table" > killed/older.tab
killed_run KILL killed/older.tab 2>/dev/null
check "hard kill: ended by SIGKILL" [ "$code" -eq 137 ]
check "hard kill: no named temporary file while writing" [ "$hidden" == no ]
killed_run KILL killed/new.tab 2>/dev/null
check "hard kill: older table kept" same_text killed/older.tab "older table"
check "hard kill: nothing left" [ "$(ls -A killed)" == older.tab ]

# new_and_linked_outputs LABEL [VARIABLE=VALUE...]: a new table gets the permissions of a
# new file, an older one keeps its own, and a link is written through.
new_and_linked_outputs() {
  local label=$1
  shift
  rm -rf perms && mkdir perms
  (umask 027 && env "$@" "$sitecount" peaks.fa motifs.mot perms/new.tab 1 >/dev/null)
  check "$label: new table, new file's permissions" [ "$(stat -c %a perms/new.tab)" == 640 ]
  check "$label: new table whole" cmp -s perms/new.tab reference.tab
  echo "older table" > perms/older.tab && chmod 604 perms/older.tab
  ln -s older.tab perms/link.tab
  env "$@" "$sitecount" peaks.fa motifs.mot perms/link.tab 1 >/dev/null
  check "$label: older table's permissions kept" [ "$(stat -c %a perms/older.tab)" == 604 ]
  check "$label: the link still a link" [ -L perms/link.tab ]
  check "$label: written through the link" cmp -s perms/older.tab reference.tab
  check "$label: nothing else left" [ "$(ls -A perms | tr '\n' ' ')" == "link.tab new.tab older.tab " ]
}
new_and_linked_outputs "unnamed temporary file"
if [[ -z ${ASAN_OPTIONS:-} ]] && command -v "${CC:-cc}" >/dev/null 2>&1; then
  cat > no_tmpfile.c <<'SOURCE'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
/* open and open64 as on a file system that cannot make unnamed files. */
#define REFUSING(name)                                                       \
  int name(const char* path, int flags, ...) {                               \
    va_list arguments;                                                       \
    va_start(arguments, flags);                                              \
    mode_t mode = (flags & (O_CREAT | __O_TMPFILE)) ? va_arg(arguments, mode_t) : 0; \
    va_end(arguments);                                                       \
    if ((flags & O_TMPFILE) == O_TMPFILE) {                                  \
      errno = EOPNOTSUPP;                                                    \
      return -1;                                                             \
    }                                                                        \
    int (*next)(const char*, int, ...) = dlsym(RTLD_NEXT, #name);            \
    return next(path, flags, mode);                                          \
  }
REFUSING(open)
REFUSING(open64)
SOURCE
  "${CC:-cc}" -shared -fPIC -o no_tmpfile.so no_tmpfile.c -ldl
  fallback=LD_PRELOAD=$work/no_tmpfile.so
  new_and_linked_outputs "named temporary file" "$fallback"
  mkdir terminated
  echo "older table" > terminated/older.tab
  killed_run TERM terminated/older.tab "$fallback"
  check "named temporary file: ended by SIGTERM" [ "$code" -eq 143 ]
  check "named temporary file: used" [ "$hidden" == yes ]
  check "named temporary file: older table kept" same_text terminated/older.tab "older table"
  check "named temporary file: removed on SIGTERM" [ "$(ls -A terminated)" == older.tab ]
else
  echo "skipped: named temporary file (no C compiler, or the address sanitizer)"
fi

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

# No thread to be had (a limit on processes; Sitecount asked for two, whatever the
# environment says): one line, exit 1, the older output kept and
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
  (cd limit && limited "$sitecount" -j 2 peaks.fa motifs.mot t.tab 1 >/dev/null 2>err.txt)
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
