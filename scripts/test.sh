#!/usr/bin/env bash
# Sets up what is missing, builds Kestrin with warnings as errors, and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_BUILD_DIR:-$root/build-test}

"$root/scripts/setup-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_WERROR=ON ${KESTRIN_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
