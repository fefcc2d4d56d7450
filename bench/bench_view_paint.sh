#!/bin/sh
# Painting speed of the image view (see bench/bench_view_paint.cpp). Usage: bench_view_paint.sh BUILD_DIR
set -eu
build=${1:-build}
out=$(dirname "$0")/out
mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_view_paint" "${RUNS:-15}" | tee "$out/view_paint.txt"
