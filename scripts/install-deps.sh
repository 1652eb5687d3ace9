#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential g++-12 cmake ninja-build ccache pkg-config bison \
  libicu-dev icu-devtools libssl-dev libmimalloc-dev libtclap-dev \
  unixodbc-dev unixodbc odbcinst libsqliteodbc sqlite3 odbc-postgresql postgresql \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  recode python3 lua5.4 time \
  python3-dbfread python3-dbf perl libdbd-xbase-perl \
  clang libclang-rt-14-dev >/dev/null
