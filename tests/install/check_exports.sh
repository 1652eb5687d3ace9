#!/usr/bin/env bash
# Compares the dynamic symbols the library defines with exported_symbols.txt: a name the list
# lacks is an internal function that leaked out (or a new public one, to be added to the list and
# marked QZ_EXPORT in qzbase.h); a listed name that is missing is an export that was lost.
# Usage: check_exports.sh LIBRARY EXPECTED
# Regenerate the list with: check_exports.sh LIBRARY /dev/null --print > exported_symbols.txt
set -eu
library=$1 expected=$2
# Release builds also export the allocator's operator new and delete; they are no function of ours.
actual=$(nm -D --defined-only -C "$library" | cut -d' ' -f3- | grep -v '^operator \(new\|delete\)' |
  LC_ALL=C sort -u)
if [ "${3:-}" = --print ]; then
  printf '%s\n' "$actual"
  exit 0
fi
if ! diff -u --label expected --label exported <(LC_ALL=C sort -u "$expected") <(printf '%s\n' "$actual"); then
  echo "the exported symbols differ from $expected"
  exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exported symbols, as listed"
