#!/bin/sh
# Runs every benchmark script (bench/bench_*.sh BUILD_DIR) and prints their figures.
set -eu
build=${1:-build}
here=$(dirname "$0")
mkdir -p "$here/out"
for script in "$here"/bench_*.sh; do
    echo "== $(basename "$script" .sh)"
    "$script" "$build"
done
