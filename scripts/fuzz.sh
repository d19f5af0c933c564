#!/bin/sh
# Builds the libFuzzer targets (preset "fuzz") and runs each for SECONDS seconds
# over a working copy of its seed corpus. Exits non-zero when a target reports
# a finding (crash, sanitizer report, leak, timeout, memory limit) or hangs.
# QUORIN_FUZZ_BUILD names another build directory than build/fuzz.
set -eu

usage() {
    echo "usage: $0 SECONDS" >&2
    exit 2
}
[ $# -eq 1 ] || usage
case "$1" in
'' | *[!0-9]*) usage ;;
esac
seconds=$1
[ "$seconds" -gt 0 ] || usage

root=$(cd "$(dirname "$0")/.." && pwd)
build=${QUORIN_FUZZ_BUILD:-$root/build/fuzz}
targets="cmdline modelist"

if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset fuzz -B "$build" >/dev/null)
fi
fuzzers=""
for target in $targets; do
    fuzzers="$fuzzers ${target}_fuzz"
done
# shellcheck disable=SC2086 # one word per target
cmake --build "$build" --target $fuzzers -j "$(nproc)" >"$build/fuzz-build.log" 2>&1 || {
    cat "$build/fuzz-build.log" >&2
    exit 1
}

findings=""
for target in $targets; do
    # The repository's corpus stays as it is; new inputs collect in the copy.
    work="$build/corpus-work/$target"
    artifacts="$build/fuzz-artifacts/$target/"
    log="$build/$target-fuzz.log"
    mkdir -p "$work" "$artifacts"
    cp "$root/tests/fuzz/corpus/$target/"* "$work/"
    set -- -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts"
    if [ -f "$root/tests/fuzz/$target.dict" ]; then
        set -- "$@" -dict="$root/tests/fuzz/$target.dict"
    fi

    status=0
    timeout -k 10 $((seconds + 120)) "$build/${target}_fuzz" "$@" "$work" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz ${target}_fuzz: ${executions:-unknown} executions in ${seconds} s, exit status $status"
    if [ "$status" -ne 0 ]; then
        findings="$findings ${target}_fuzz"
        [ "$status" -ne 124 ] || echo "fuzz ${target}_fuzz: still running after $((seconds + 120)) s, stopped"
        grep -v '^#[0-9]' "$log" | tail -n 40 >&2
        echo "fuzz ${target}_fuzz: log $log, reproducer in $artifacts" >&2
    fi
done

if [ -n "$findings" ]; then
    echo "fuzz: findings in$findings"
    exit 1
fi
echo "fuzz: no findings"
