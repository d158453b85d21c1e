#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs each on a copy of its seed
# corpus for SECONDS seconds. Prints each target's executions per second and total executions;
# exits non-zero when any target finds a crash, a sanitizer report, a broken invariant or a hang.
# The inputs that fail are kept under <build dir>/findings/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KESTRIN_FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:?usage: scripts/fuzz.sh SECONDS}
targets=(fuzz_hive fuzz_shelllink fuzz_peicon fuzz_usagerecord fuzz_desktopentry fuzz_keyvalues fuzz_appinfo)

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ is missing (scripts/setup-deps.sh installs it)" >&2; exit 1; }
# Debug keeps Qt's own assertions; -O1 keeps the build and the runs quick enough.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" -DKESTRIN_FUZZ=ON -DKESTRIN_BUILD_TESTS=OFF \
    -DKESTRIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
findings=$build/findings
failed=0
for target in "${targets[@]}"; do
    cp -r "$root/fuzz/corpus/$target" "$work/$target"
    mkdir -p "$work/$target-artifacts"
    status=0
    "$build/fuzz/$target" "$work/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/$target-artifacts/" >"$work/$target.log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$target.log")
    if [ "$status" -eq 0 ]; then
        printf '%-18s %8s exec/s %12s executions  no finding\n' "$target" "${rate:-?}" "${runs:-?}"
        continue
    fi
    failed=1
    mkdir -p "$findings"
    cp "$work/$target-artifacts/"* "$findings/" 2>/dev/null || true
    printf '%-18s %8s exec/s %12s executions  FINDING (exit %s), inputs in %s\n' "$target" "${rate:-?}" \
        "${runs:-?}" "$status" "$findings"
    grep -E -m 20 'invariant broken|ERROR|SUMMARY|runtime error|differs|untouched' "$work/$target.log" >&2 || true
done
exit $failed
