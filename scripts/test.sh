#!/usr/bin/env bash
# Sets up what is missing, checks the format, the folder layers and clang-tidy, builds Kestrin with
# clang under AddressSanitizer and UndefinedBehaviorSanitizer with warnings as errors, runs every test
# there, then the fuzzers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_BUILD_DIR:-$root/build-test}

"$root/scripts/setup-deps.sh"
"$root/scripts/check-format.sh"
"$root/scripts/check-layers.py"
# -O1 keeps the sanitized build and the runs quick; Debug keeps Qt's own assertions on.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" -DKESTRIN_WITH_ASAN=ON -DKESTRIN_WERROR=ON \
    ${KESTRIN_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
(cd "$build" && ctest --output-on-failure -j "$(nproc)")
"$root/scripts/check-tidy.sh" "$build"

# Then each fuzz target on its seed corpus for a short while, so that a regression shows.
"$root/scripts/fuzz.sh" "${KESTRIN_FUZZ_SECONDS:-20}"
