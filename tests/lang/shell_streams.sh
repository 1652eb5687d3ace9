#!/usr/bin/env bash
# The shell's standard streams as a process sees them: what the command-line parser prints, and
# program output and error reports sent to one file in the order they were made.
# Usage: shell_streams.sh QZSH
set -u
qzsh=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failed=0

# option, expected status, stream the text goes to, text
while IFS='|' read -r option expected stream text; do
  "$qzsh" "$option" > "$work/out" 2> "$work/err" < /dev/null
  status=$?
  if [ "$status" != "$expected" ] || ! grep -qF -- "$text" "$work/$stream"; then
    echo "$option: status $status, output '$(cat "$work/out")', error output '$(cat "$work/err")'"
    failed=1
  fi
done <<'CASES'
--version|0|out|version: 0.9.2700 (x86_64)
--help|0|out|Script-Name and Arguments.
--codepage|1|err|Missing a value for this argument!
CASES

# Output still held for a file (a line not yet ended) comes out before the error report after it.
printf '?? "before"\n? 1 / nosuchvar\n' > "$work/fails.prg"
"$qzsh" "$work/fails.prg" > "$work/both" 2>&1 < /dev/null
if [ "$(head -n 1 "$work/both" | cut -c1-21)" != "before(Runtime error)" ]; then
  echo "order of output and error report: $(cat "$work/both")"
  failed=1
fi
exit $failed
