#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over every C++ source of src/ in the build folder's compile database;
# any finding fails. Usage: scripts/check-tidy.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: check-tidy.sh BUILD_DIR}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no compile_commands.json in $build" >&2; exit 1; }
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14)
# The sources of src/ only: generated files (moc) and the tests are left out.
"$runner" -quiet -p "$build" -j "$(nproc)" "^$root/src/.*\.cpp$" >"$build/clang-tidy.log" 2>&1 || {
    grep -E "(warning|error):" "$build/clang-tidy.log" | sort -u >&2
    echo "tidy: findings above (whole output in $build/clang-tidy.log)" >&2
    exit 1
}
echo "tidy: no findings in src/"
