#!/usr/bin/env bash
# Converts the bundled example batch unattended. The run moves images, so it works on a copy and the
# example stays as it is; run it as often as you like.
set -uo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
scratch=${TOLLAVAR_EXAMPLE_DIR:-${TMPDIR:-/tmp}/tollavar-example}
rm -rf "$scratch"
mkdir -p "$scratch"
cp -R examples/batch/. "$scratch/"
build=$(cd "$build" && pwd)

# The configuration names its files relative to its own folder, so it runs from anywhere.
echo "Converting $scratch/batch.csv with $scratch/example.tvr"
env -u DISPLAY -u WAYLAND_DISPLAY "$build/tollavar" "$scratch/example.tvr" </dev/null
status=$?
echo "Exit status: $status"
for dg in "$scratch"/out/*/; do
    echo "Datagroup: $dg"
    (cd "$dg" && find . -type f | sort | sed 's/^/  /')
    echo "First lines of DATAGRP.XML:"
    head -n 12 "$dg/DATAGRP.XML" | tr -d '\r'
done
exit $status
