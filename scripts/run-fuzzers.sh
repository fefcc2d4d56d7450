#!/bin/sh
# Builds the fuzz targets with clang and runs each for SECONDS seconds, seeded with the test
# fixtures and samples of its format. Findings land in fuzz/findings/<target>/.
#   run-fuzzers.sh SECONDS [TARGET...]
set -eu
seconds=${1:-60}
shift || true
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
targets=${*:-$(cd "$build/fuzz" && ls ./*_fuzzer | sed 's|^\./||')}
for target in $targets; do
    format=${target%_fuzzer}
    corpus=$root/build-fuzz/corpus/$format
    findings=$root/fuzz/findings/$target
    mkdir -p "$corpus" "$findings"
    # Seeds: fixtures and samples whose paths mention the format, and its regression inputs.
    find "$root/tests/data" "$root/samples" -type f -ipath "*$format*" -size -200k -exec cp {} "$corpus/" \; 2>/dev/null || true
    cp "$root/tests/data/fuzz-regressions/$format"/* "$corpus/" 2>/dev/null || true
    echo "== $target for ${seconds}s"
    "$build/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/" -print_final_stats=1 2>&1 | grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss|SUMMARY|==[0-9]+==ERROR)|cov:' | tail -4
done
