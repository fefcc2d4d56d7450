#!/bin/sh
# Edit > Rotate and Flip: the turned copy of a 24-megapixel picture (6000 x 4000) the view
# waits for (made on a worker, the window stays usable), beside a memcpy of the same pixels
# in the same process, taking turns round after round (ROUNDS, default 9).
set -eu
build=${1:-build}
"$build/bench/bench_picture_turn" "${ROUNDS:-9}"
