#!/usr/bin/env bash
# Reads the bundled example index file and prints each document's fields (until the conversion exists).
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
if [ -x "$build/bench/example_dump" ]; then
    "$build/bench/example_dump" examples/batch/batch.csv
else
    cat examples/batch/batch.csv
fi
