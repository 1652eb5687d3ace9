#!/usr/bin/env bash
# Builds the release configuration and runs the shell with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${QZ_BUILD_DIR:-build/release}
export CCACHE_DIR=${CCACHE_DIR:-$PWD/build/.ccache}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQZ_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" >/dev/null
exec "$BUILD_DIR/shell/qzsh" "$@"
