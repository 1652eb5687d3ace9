#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds host_program.cpp against the installed
# header and library only, runs it and compares its output.
# Usage: run_host_program.sh CMAKE BUILD_DIR CXX "FLAGS" LIBDIR INCLUDEDIR SOURCE EXPECTED
set -eu
cmake=$1 build=$2 cxx=$3 flags=$4 libdir=$5 includedir=$6 source=$7 expected=$8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log"
# shellcheck disable=SC2086
"$cxx" -std=c++20 $flags -I"$prefix/$includedir" "$source" -o "$work/host" \
  -L"$prefix/$libdir" -lqzbase0 -Wl,-rpath,"$prefix/$libdir"
# Only the installed library: the build tree's copy must not be what runs.
if ldd "$work/host" | grep -q "$build"; then
  echo "the host program found the build tree's library"
  exit 1
fi
"$work/host" > "$work/stdout"
diff -u --label expected --label actual "$expected" "$work/stdout"
