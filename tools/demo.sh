#!/usr/bin/env bash
# Builds the command-line host, makes a club database, writes a sample
# federation export and imports it, showing the trace.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target ondival
demo=demo
rm -rf "$demo"
mkdir -p "$demo/scratch"
./build/ondival init "$demo/club.db"
./build/ondival generate "$demo/export" --clubs 20 --licences 500 --performances 2000 --relays 100 --seed 1
./build/ondival import "$demo/club.db" "$demo/export" "$demo/scratch" "$demo/trace.txt" --show-trace
