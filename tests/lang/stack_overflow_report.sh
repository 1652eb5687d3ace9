#!/usr/bin/env bash
# The crash report of a native stack overflow: qzsh compiles an expression nested deeper than a
# small stack takes and must say so on its error output (its handler runs on an alternate signal
# stack) and end with the signal's number as its status.
# Usage: stack_overflow_report.sh QZSH
set -u
qzsh=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
{
  printf 'x = '
  for ((i = 0; i < 3000; ++i)); do printf '('; done
  printf '1'
  for ((i = 0; i < 3000; ++i)); do printf ')'; done
  printf '\n? x\n'
} > "$work/deep.prg"
# The sanitizer's own handler steps aside so that the shell's is installed.
(
  ulimit -s 256
  ASAN_OPTIONS=handle_segv=0:detect_leaks=0 "$qzsh" "$work/deep.prg" > "$work/stdout" 2> "$work/stderr"
)
status=$?
if ! head -n 1 "$work/stderr" | grep -qx 'Program abnormally terminated after SIGSEGV'; then
  echo "no crash report; error output:"
  head -c 2000 "$work/stderr"
  exit 1
fi
if [ "$status" != 11 ]; then
  echo "exit status: expected 11, got $status"
  exit 1
fi
exit 0
