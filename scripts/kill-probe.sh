#!/usr/bin/env bash
# Kills kestrin-reg at random moments of a save on a large hive, RUNS times (default 239), and
# prints how often the hive was the old file, the new one, or neither (always 0).
# Usage: scripts/kill-probe.sh [RUNS] [HIVE_MEGABYTES]   (after scripts/test.sh has built)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_BUILD_DIR:-$root/build-test}
KESTRIN_KILL_RUNS=${1:-239} KESTRIN_KILL_HIVE_MB=${2:-20} KESTRIN_REG="$build/src/tools/kestrin-reg" \
    "$build/tests/tst_killprobe"
