#!/usr/bin/env bash
# Runs one language test: qzsh DIR/NAME.prg in DIR, compared byte for byte with the expected files
# (where @DIR@ stands for DIR).
# Usage: run_lang_test.sh QZSH DIR NAME
set -u
qzsh=$1 dir=$2 name=$3
cd "$dir" || exit 2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT

args=()
if [ -f "$name.args" ]; then
  mapfile -t args < "$name.args"
fi
input=/dev/null
[ -f "$name.in" ] && input="$name.in"

# name.env: the program runs with exactly these variables (one NAME=value a line), nothing else.
run=("$qzsh")
if [ -f "$name.env" ]; then
  mapfile -t vars < "$name.env"
  run=(env -i "${vars[@]}" "$qzsh")
fi
# Standard input comes through a pipe, as from another program.
cat "$input" | "${run[@]}" "$name.prg" "${args[@]}" > "$work/stdout" 2> "$work/stderr"
status=${PIPESTATUS[1]}

# Expected output that names files of the test: @DIR@ stands for the program's folder.
expected() {  # file copy
  if [ ! -f "$1" ]; then
    : > "$2"
  elif grep -q '@DIR@' "$1"; then
    local here
    here=$(pwd -P | sed 's/[\\&|]/\\&/g')
    sed "s|@DIR@|$here|g" "$1" > "$2"
  else
    cp "$1" "$2"
  fi
}
expected "$name.out" "$work/expected.out"
expected "$name.err" "$work/expected.err"
expected_status=0
[ -f "$name.status" ] && expected_status=$(tr -d '[:space:]' < "$name.status")

show_diff() {  # expected actual label
  echo "--- $3: expected (-) / actual (+)"
  if command -v diff > /dev/null; then
    diff -u --label expected --label actual "$1" "$2" | tail -n +3
  else
    echo "expected:"; od -c "$1"; echo "actual:"; od -c "$2"
  fi
}

failed=0
if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: (Address|Undefined|Leak)' "$work/stderr"; then
  echo "sanitizer report from qzsh:"
  cat "$work/stderr"
  failed=1
fi
if ! cmp -s "$work/expected.out" "$work/stdout"; then
  show_diff "$work/expected.out" "$work/stdout" "standard output"
  failed=1
fi
if ! cmp -s "$work/expected.err" "$work/stderr"; then
  show_diff "$work/expected.err" "$work/stderr" "error output"
  failed=1
fi
if [ "$status" != "$expected_status" ]; then
  echo "--- exit status: expected $expected_status, got $status"
  failed=1
fi
exit $failed
