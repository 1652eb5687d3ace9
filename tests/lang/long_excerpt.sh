#!/usr/bin/env bash
# A parser error whose excerpt is longer than its message block is cut at a character boundary
# and still ends with its blank line. The cut depends on how long the program's path is, so the
# program runs from a folder whose path always has the same length.
# Usage: long_excerpt.sh QZSH SOURCE_DIR
set -u
qzsh=$1
src=$2
work=$(mktemp -d /tmp/qz-excerpt.XXXXXX) || exit 2
trap 'rm -rf "$work"' EXIT
cp "$src/hostile/long_excerpt.prg" "$work/" || exit 2
cd "$work" || exit 2
"$qzsh" long_excerpt.prg > out 2> err < /dev/null
status=$?
failed=0
if [ "$status" != 10 ]; then echo "exit status $status, expected 10"; failed=1; fi
if [ -s out ]; then echo "unexpected output: $(cat out)"; failed=1; fi
sed "s|$work|@DIR@|g" err > err.dir
if ! cmp -s err.dir "$src/hostile/long_excerpt.expected"; then
  echo "error output differs:"
  diff "$src/hostile/long_excerpt.expected" err.dir | head -c 2000
  failed=1
fi
exit $failed
