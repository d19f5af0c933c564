#!/bin/sh
# The unit tests' line and branch coverage of the program's code, file by
# file (clang's source-based coverage); fails below the thresholds.
#   coverage.sh BUILD_DIR   (a build of the coverage preset)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/coverage}
min_lines=${QUORIN_MIN_LINE_COVERAGE:-99}
min_branches=${QUORIN_MIN_BRANCH_COVERAGE:-98}
profiles=$build/coverage
rm -rf "$profiles"
mkdir -p "$profiles"
LLVM_PROFILE_FILE="$profiles/unit-%p.profraw" "$build/unit_tests" --gtest_brief=1 >"$profiles/unit_tests.log" 2>&1 || {
    cat "$profiles/unit_tests.log"
    echo "coverage: the unit tests failed"
    exit 1
}
llvm-profdata merge -sparse -o "$profiles/unit.profdata" "$profiles"/unit-*.profraw
report=$(llvm-cov report "$build/unit_tests" -instr-profile="$profiles/unit.profdata" \
    -show-region-summary=false -show-instantiation-summary=false app display settings tray)
printf '%s\n' "$report"
# TOTAL, then per kind: count, missed, percent (functions, lines, branches).
totals=$(printf '%s\n' "$report" | awk '$1 == "TOTAL" { print $4, $7, $10 }')
read -r functions lines branches <<END
$totals
END
[ -n "$branches" ] || { echo "coverage: no TOTAL line in llvm-cov's report"; exit 1; }
echo "coverage: functions $functions"
lines=${lines%\%} branches=${branches%\%}
failed=0
awk -v got="$lines" -v min="$min_lines" 'BEGIN { exit !(got + 0 >= min + 0) }' ||
    { echo "coverage: lines $lines %, expected at least $min_lines %"; failed=1; }
awk -v got="$branches" -v min="$min_branches" 'BEGIN { exit !(got + 0 >= min + 0) }' ||
    { echo "coverage: branches $branches %, expected at least $min_branches %"; failed=1; }
[ "$failed" -eq 0 ] && echo "coverage: lines $lines % (at least $min_lines), branches $branches % (at least $min_branches)"
exit "$failed"
