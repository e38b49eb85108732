#!/usr/bin/env bash
# What no test runs: builds the suite with gcov counters (build-coverage/),
# runs it on both engines (a throwaway PostgreSQL server, as tools/test.sh
# starts it, unless ONDIVAL_SKIP_POSTGRES=1) and prints, per file of the
# component and its C interface, the share of lines and branches the tests
# ran, with an HTML report of the lines themselves in
# build-coverage/coverage/index.html. Read it for the paths a damaged export
# would take and no test takes; a share is no goal of its own.
# Not part of tools/test.sh (a second full build and run).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=build-coverage

if ! command -v gcovr >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq gcovr
fi

source tools/test_server.sh

# The preset counts with -fprofile-update=atomic: several imports run on
# threads at once in the tests, and plain counters would come out negative.
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j"$jobs"
find "$build" -name '*.gcda' -delete
# A failing test still leaves its counters: the report is wanted either way.
ctest --preset coverage -j"$jobs" || echo "coverage: some tests failed; the figures below count what ran"

mkdir -p "$build/coverage"
filters=()
for folder in platform common import clubs licences perfs capi; do filters+=(--filter "$folder/"); done
# Branches count without the edges a throw adds to every call.
gcovr --root . --object-directory "$build" "${filters[@]}" --exclude-unreachable-branches --exclude-throw-branches \
  --html-details "$build/coverage/index.html" --print-summary --txt "$build/coverage/summary.txt"
cat "$build/coverage/summary.txt"
echo "coverage: line by line in $build/coverage/index.html"
