#!/usr/bin/env bash
# Sets up what is missing, builds Kestrin, and starts it on a Wine prefix: $WINEPREFIX when set,
# else ~/.wine when it exists, else a demonstration prefix copied once from data/demo-prefix/.
# Kestrin runs in the current folder, where it keeps its uninstall log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_BUILD_DIR:-$root/build}

"$root/scripts/setup-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target kestrin

if [ -n "${WINEPREFIX:-}" ]; then
    prefix=$WINEPREFIX
    why="from WINEPREFIX"
elif [ -d "$HOME/.wine" ]; then
    prefix=$HOME/.wine
    why="Wine's default prefix"
else
    prefix=${XDG_DATA_HOME:-$HOME/.local/share}/kestrin/demo-prefix
    why="the demonstration prefix"
    if [ ! -e "$prefix" ]; then
        # Built aside and moved into place, so an interrupted copy never passes for a prefix.
        mkdir -p "$(dirname "$prefix")"
        staging=$(mktemp -d "$prefix.XXXXXX")
        cp -R "$root/data/demo-prefix/." "$staging/"
        mkdir "$staging/dosdevices"
        ln -s ../drive_c "$staging/dosdevices/c:"
        ln -s / "$staging/dosdevices/z:"
        mv "$staging" "$prefix"
        echo "Made a demonstration prefix in $prefix"
    fi
fi
echo "Kestrin works on the Wine prefix $prefix ($why)."
export WINEPREFIX=$prefix
exec "$build/src/mainwindow/kestrin" "$@"
