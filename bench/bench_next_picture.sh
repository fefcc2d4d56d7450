#!/bin/sh
# Next picture, preloaded: the viewer on a folder of 24 MP JPEGs under Xvfb, the Down key
# pressed ten times in the Names list, each time after the neighbours had 1.5 s to be
# decoded ahead; a small X client (screen_watch) polls the middle of the view every
# millisecond and reports key press to changed pixels (median), in natural size and in
# proportional stretch. Then the memory a shown picture costs: the viewer's resident size
# before and after a lone 24 MP picture shows (nothing to preload), against its 96 MB.
# And launch to pixels: the viewer started on one of the 24 MP pictures until its colour
# shows in the view's middle (median of 5), beside the viewer of OLD_BUILD_DIR when given.
# Usage: bench_next_picture.sh BUILD_DIR [OLD_BUILD_DIR]
set -eu
build=$(cd "${1:-build}" && pwd)
old=${2:+$(cd "$2" && pwd)}
if [ -z "${VT_BENCH_UNDER_XVFB:-}" ]; then
    VT_BENCH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$build" $old
fi
out=$(cd "$(dirname "$0")" && pwd)/out
pictures=$out/next-picture
mkdir -p "$out"
if [ "$(ls "$pictures" 2>/dev/null | wc -l)" -ne 12 ]; then
    echo "making 12 photos of 6000 x 4000 in $pictures (once)"
    rm -rf "$pictures" && mkdir -p "$pictures"
    convert -seed 3 -size 1500x1000 plasma:fractal -resize '6000x4000!' "$out/next-base.ppm"
    i=0
    for colour in red green blue yellow cyan magenta red green blue yellow cyan magenta; do
        convert "$out/next-base.ppm" -fill "$colour" -colorize 85 -quality 90 "$pictures/p$(printf %02d $i).jpg"
        i=$((i + 1))
    done
fi

for mode in 0 2; do
    home=$(mktemp -d)
    mkdir -p "$home/config/Vantoro Software 500"
    printf '[Settings]\nLastDirectoryUsed=%s\nStretchState=%s\n' "$pictures" "$mode" \
        > "$home/config/Vantoro Software 500/Vantoro Software Image Viewer.ini"
    XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache "$build/viewer/vtview" --no-splash 2>/dev/null &
    viewer=$!
    sleep 4
    # The first picture shows, then ten steps; the view's middle lies right of the docked bars.
    xdotool key Down
    name=natural
    [ "$mode" = 2 ] && name=proportional
    printf '%s: ' "$name"
    "$build/bench/screen_watch" 760 420 Down 10 1500 | tail -1
    kill "$viewer"
    wait "$viewer" 2>/dev/null || true
    rm -rf "$home"
done

# Memory: one picture alone in its folder.
lone=$out/next-picture-lone
mkdir -p "$lone" && cp "$pictures/p00.jpg" "$lone/"
home=$(mktemp -d)
mkdir -p "$home/config/Vantoro Software 500"
printf '[Settings]\nLastDirectoryUsed=%s\n' "$lone" > "$home/config/Vantoro Software 500/Vantoro Software Image Viewer.ini"
XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache "$build/viewer/vtview" --no-splash 2>/dev/null &
viewer=$!
sleep 4
before=$(awk '/VmRSS/ { print $2 }' "/proc/$viewer/status")
xdotool key Down
sleep 4
after=$(awk '/VmRSS/ { print $2 }' "/proc/$viewer/status")
kill "$viewer"
wait "$viewer" 2>/dev/null || true
rm -rf "$home"
awk -v b="$before" -v a="$after" 'BEGIN { printf "memory: %.1f MB more resident for a 96.0 MB picture: %.2f x\n", (a - b) / 1024, (a - b) / 1024 / 96 }'

# Launch to pixels: p02 is tinted blue.
launch() {
    times=""
    for run in 1 2 3 4 5; do
        home=$(mktemp -d)
        result=$(XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache \
            "$build/bench/screen_watch" launch 640 420 0x3030ff "$1/viewer/vtview" --no-splash "$pictures/p02.jpg" 2>/dev/null)
        kill "${result#* }" 2>/dev/null || true
        while kill -0 "${result#* }" 2>/dev/null; do sleep 0.1; done
        times="$times ${result% *}"
        rm -rf "$home"
    done
    echo "$times" | tr ' ' '\n' | sed '/^$/d' | sort -n | sed -n 3p
}
printf 'launch to pixels: %s ms' "$(launch "$build")"
[ -n "$old" ] && printf ', before: %s ms' "$(launch "$old")"
echo
