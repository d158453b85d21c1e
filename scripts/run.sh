#!/usr/bin/env bash
# Sets up what is missing, builds Kestrin, and starts it on a Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_BUILD_DIR:-$root/build}

"$root/scripts/setup-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

if [ -x "$build/src/kestrin" ]; then
    exec "$build/src/kestrin" "$@"
fi
# Until the main window lands, the registry tool is what there is to run.
prefix=${WINEPREFIX:-$HOME/.wine}
echo "Built $build/src/tools/kestrin-reg. Prefix: $prefix"
"$build/src/tools/kestrin-reg" --help
