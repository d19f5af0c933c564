#!/usr/bin/env bash
# Times a one-shot "quorin.exe 800x600" against bare_switch.exe, which makes
# the same ChangeDisplaySettingsA call and nothing else.  Both are started
# the same way (qlaunch run), in pairs whose order alternates, the display
# set back to 1024x768 before every run; the result is the median of the
# pairs' ratios.  Needs a session (session.sh start) of the build's width.
#   timing.sh [PAIRS]   (at least 15)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${QUORIN_WINE_BIN:-$here/../../build/win64}
pairs=${1:-15}
[ "$pairs" -ge 15 ] 2>/dev/null || { echo "timing: at least 15 pairs" >&2; exit 2; }
state=${QUORIN_WINE_STATE:?QUORIN_WINE_STATE is not set (run session.sh start DIR first)}
eval "$("$here/session.sh" env "$state")" || exit 2
[ -f "$bin/bare_switch.exe" ] || { echo "timing: no bare_switch.exe in $bin" >&2; exit 2; }
work=$(mktemp -d "$state/timing.XXXXXX")
trap 'rm -rf "$work"' EXIT

win_path() { printf 'Z:%s' "${1//\//\\}"; }
ql() { "$WINE" "$bin/qlaunch.exe" "$@" >>"$work/qlaunch.err" 2>&1; }
now_us() { echo "${EPOCHREALTIME/./}"; }

# time_run EXE: microseconds from qlaunch's start to its end, display reset
# first; fails unless the program switched to 800x600 and ended with 0.
time_run() {
    local t0 t1
    ql set 1024x768x32 "$(win_path "$work/set.txt")"
    t0=$(now_us)
    ql run "$(win_path "$bin/$1")" "$(win_path "$work/cmdline.txt")" "$(win_path "$work/run.txt")" 30000
    t1=$(now_us)
    grep -q $'^EXIT\t0$' "$work/run.txt" && grep -q $'^MODE\t800x600x32' "$work/run.txt" || {
        echo "timing: $1 did not switch: $(tr '\n' ' ' <"$work/run.txt")" >&2
        return 1
    }
    echo $((t1 - t0))
}

printf '800x600' >"$work/cmdline.txt"
program=() baseline=() ratios=()
for ((i = 0; i < pairs; i++)); do
    if ((i % 2 == 0)); then
        p=$(time_run quorin.exe) && b=$(time_run bare_switch.exe) || exit 1
    else
        b=$(time_run bare_switch.exe) && p=$(time_run quorin.exe) || exit 1
    fi
    program+=("$p") baseline+=("$b")
    ratios+=("$(awk -v p="$p" -v b="$b" 'BEGIN { printf "%.4f", p / b }')")
done
ql set 1024x768x32 "$(win_path "$work/set.txt")"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    printf "%.4f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "pairs: $pairs, $WINEARCH"
awk -v m="$(median "${program[@]}")" 'BEGIN { printf "quorin.exe 800x600:      median %.0f ms\n", m / 1000 }'
awk -v m="$(median "${baseline[@]}")" 'BEGIN { printf "bare_switch.exe 800x600: median %.0f ms\n", m / 1000 }'
awk -v m="$(median "${ratios[@]}")" 'BEGIN { printf "median of pair ratios:   %.2f\n", m }'
