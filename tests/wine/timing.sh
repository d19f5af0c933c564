#!/usr/bin/env bash
# Times a one-shot "quorin.exe 800x600" against qlaunch making the same
# ChangeDisplaySettingsA call itself, alternating, the display set back to
# 1024x768 before every run. Needs a session (session.sh start).
#   timing.sh [RUNS]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${QUORIN_WINE_BIN:-$here/../../build/win64}
runs=${1:-10}
state=${QUORIN_WINE_STATE:?QUORIN_WINE_STATE is not set (run session.sh start DIR first)}
eval "$("$here/session.sh" env "$state")" || exit 2
work=$(mktemp -d "$state/timing.XXXXXX")
trap 'rm -rf "$work"' EXIT

win_path() { printf 'Z:%s' "${1//\//\\}"; }
ql() { "$WINE" "$bin/qlaunch.exe" "$@" >>"$work/qlaunch.err" 2>&1; }
now_us() { echo "${EPOCHREALTIME/./}"; }

printf '800x600' >"$work/cmdline.txt"
program=() baseline=()
for ((i = 0; i < runs; i++)); do
    ql set 1024x768x32 "$(win_path "$work/set.txt")"
    t0=$(now_us)
    ql run "$(win_path "$bin/quorin.exe")" "$(win_path "$work/cmdline.txt")" "$(win_path "$work/run.txt")" 10000
    program+=($(($(now_us) - t0)))
    grep -q $'^MODE\t800x600x32' "$work/run.txt" || { echo "timing: quorin.exe did not switch" >&2; exit 1; }
    ql set 1024x768x32 "$(win_path "$work/set.txt")"
    t0=$(now_us)
    ql direct 800x600 "$(win_path "$work/direct.txt")"
    baseline+=($(($(now_us) - t0)))
    grep -q $'^RESULT\t0' "$work/direct.txt" || { echo "timing: the direct call failed" >&2; exit 1; }
done
ql set 1024x768x32 "$(win_path "$work/set.txt")"

stats() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1; s += $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.0f %.0f", m / 1000, s / NR / 1000 }'; }
read -r pm pa <<<"$(stats "${program[@]}")"
read -r bm ba <<<"$(stats "${baseline[@]}")"
echo "runs: $runs each"
echo "quorin.exe 800x600 through qlaunch run: median $pm ms, mean $pa ms"
echo "qlaunch direct 800x600:                 median $bm ms, mean $ba ms"
awk -v p="$pm" -v b="$bm" 'BEGIN { printf "ratio of medians: %.2f\n", p / b }'
