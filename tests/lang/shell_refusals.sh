#!/usr/bin/env bash
# What the shell refuses: unknown charsets for its options, and output it could not write.
# Usage: shell_refusals.sh QZSH
set -u
qzsh=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
printf '? "hello"\n' > "$work/hello.prg"
failed=0

# option, value, expected error output
while IFS='|' read -r option value message; do
  "$qzsh" "$option" "$value" "$work/hello.prg" > "$work/out" 2> "$work/err" < /dev/null
  status=$?
  if [ "$status" != 1 ] || [ "$(cat "$work/err")" != "$message" ] || [ -s "$work/out" ]; then
    echo "$option $value: status $status, error output '$(cat "$work/err")', output '$(cat "$work/out")'"
    failed=1
  fi
done <<'CASES'
--cstdin|nonsense|--cstdin not supported
--cstdout|nonsense|--cstdout not supported
--codepage|nonsense|--codepage not supported
CASES

# Known charsets are taken.
"$qzsh" --cstdin utf-8 --cstdout utf-8 "$work/hello.prg" > "$work/out" 2> "$work/err" < /dev/null
if [ $? != 0 ] || [ "$(cat "$work/out")" != "hello" ]; then
  echo "known charsets refused: $(cat "$work/err")"
  failed=1
fi

# A full device: the output is lost, so the run fails.
if [ -w /dev/full ]; then
  "$qzsh" "$work/hello.prg" > /dev/full 2> "$work/err" < /dev/null
  status=$?
  if [ "$status" = 0 ] || ! grep -qx "Error writing to file 'qz://stdout'." "$work/err"; then
    echo "/dev/full: status $status, error output '$(cat "$work/err")'"
    failed=1
  fi
fi
exit $failed
