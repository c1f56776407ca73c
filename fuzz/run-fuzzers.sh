#!/usr/bin/env bash
# Runs every libFuzzer program of a fuzz build for a bounded time each and
# prints, per target, the executions, executions per second, and the edge
# (cov) and feature (ft) coverage reached.
#
#   fuzz/run-fuzzers.sh <build dir> <seconds per target> [target...]
#
# New inputs go to <build dir>/corpus/<target>, seeded from fuzz/corpus/<target>,
# which stays read-only; crashing inputs are saved as <build dir>/artifacts/<target>-*.
# Exits non-zero when a target found a failure.
set -uo pipefail

build=${1:?build directory}
seconds=${2:?seconds per target}
shift 2
source_dir=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for program in "$build"/bin/fuzz_*; do targets+=("$(basename "$program" | sed 's/^fuzz_//')"); done
fi

mkdir -p "$build/logs" "$build/artifacts"
summary=$(printf '%-20s %10s %10s %8s %8s %6s\n' target executions exec/s cov ft result)
failed=0
for target in "${targets[@]}"; do
    program="$build/bin/fuzz_$target"
    log="$build/logs/$target.log"
    mkdir -p "$build/corpus/$target"
    echo "== fuzz_$target for ${seconds}s (log: $log)"
    "$program" -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" \
        "$build/corpus/$target" "$source_dir/corpus/$target" >"$log" 2>&1
    status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    coverage=$(grep -E '^#[0-9]+' "$log" | grep ' cov: ' | tail -n 1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$coverage")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$coverage")
    result=ok
    if [ $status -ne 0 ]; then
        result=FAILED
        failed=1
        grep -E 'property violated|ERROR: |SUMMARY: |Test unit written' "$log" | head -n 5
    fi
    summary+=$(printf '\n%-20s %10s %10s %8s %8s %6s' "$target" "${executions:--}" "${rate:--}" "${cov:--}" "${ft:--}" "$result")
done
echo
echo "$summary"
exit $failed
