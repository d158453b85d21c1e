#!/usr/bin/env bash
# Sets up what is missing, builds Kestrin with warnings as errors, runs every test, then the fuzzers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_BUILD_DIR:-$root/build-test}

"$root/scripts/setup-deps.sh"
"$root/scripts/check-format.sh"
"$root/scripts/check-layers.py"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_WERROR=ON ${KESTRIN_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
cd "$build"
ctest --output-on-failure -j "$(nproc)"

# Then each fuzz target on its seed corpus for a short while, so that a regression shows.
if command -v clang++ >/dev/null; then
    "$root/scripts/fuzz.sh" "${KESTRIN_FUZZ_SECONDS:-20}"
fi
