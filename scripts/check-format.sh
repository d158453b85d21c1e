#!/usr/bin/env bash
# Fails when a C or C++ source is not in the house format (.clang-format); `cmake --build build
# --target format` or `clang-format -i FILE` puts it right.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
find src tests bench fuzz \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run -Werror
echo "format: every C and C++ source is formatted"
