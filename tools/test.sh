#!/usr/bin/env bash
# Builds everything from scratch and runs the whole test suite: in an
# optimised build, then the fuzz corpora replayed and each fuzz target run
# for a short while, then the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (its ctest summary closes the run).
#
# The end-to-end imports run on both engines: SQLite files, and a throwaway
# PostgreSQL server on the loopback address, started here and stopped at the
# end whatever happens (ONDIVAL_SKIP_POSTGRES=1 leaves it out).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

source tools/test_server.sh

tools/check_includes.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
tools/test_install.sh build

if [ "${ONDIVAL_SKIP_FUZZ:-0}" != 1 ]; then
  tools/fuzz.sh
fi

if [ "${ONDIVAL_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DONDIVAL_SANITIZE=ON -DONDIVAL_BENCH=OFF
  cmake --build build-sanitize -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-sanitize --output-on-failure -j"$jobs"
fi
