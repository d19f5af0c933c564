#!/usr/bin/env bash
# Runs one one-shot case of quorin.exe under Wine and checks qlaunch's report
# byte for byte.
#
#   oneshot.sh CASE      exit 0 on PASS, 1 on FAIL, 2 when it cannot run
#   oneshot.sh --list    the case names
#
# QUORIN_WINE_STATE: state directory of a running session (session.sh start).
# QUORIN_WINE_BIN: directory with quorin.exe and qlaunch.exe (default:
#   build/win64 of this tree).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${QUORIN_WINE_BIN:-$here/../../build/win64}
baseline=1024x768x32
timeout_ms=10000

# name|command text (printf %b)|box caption, or - for no box|box text as the
# report escapes it|exit code|mode afterwards
# Wine's virtual desktop offers every size at 60 Hz only, so each mode reads
# back @60; with -safe that is also the rate the program asks for.
# 2048x2048 is larger than any mode the desktop enumerates (its screen is
# 1280x1024), and Wine refuses it with DISP_CHANGE_BADMODE (-2).
case_table() {
    cat <<'EOF'
usage|-?|Usage|quorin -safe\n      sets the display mode to 640x480x(32 bits/pixel) at 60 Hz\nquorin <width>x<height>[x<bpp>][@<freq>]\n      sets a custom display mode\n|0|1024x768x32@60
too-many|800x600 16|Error|Too many parameters|0|1024x768x32@60
invalid|800X600|Error|Invalid parameter: 800X600|0|1024x768x32@60
range|4000x3000|Error|Range error in parameter: 4000x3000|0|1024x768x32@60
safe|-safe|-||0|640x480x32@60
plain|800x600|-||0|800x600x32@60
unoffered|2048x2048x32@200|Error|Display mode change failed|0|1024x768x32@60
quoted-tab|800x600\t16|Error|Invalid parameter: 800x600\t16|0|1024x768x32@60
EOF
}

usage_exit() {
    echo "oneshot.sh: $*" >&2
    exit 2
}

# shellcheck source=case-env.sh
. "$here/case-env.sh"

restore_display() {
    local report=$work/restore.txt
    ql set "$baseline" "$(win_path "$report")"
    [ "$(cat "$report" 2>/dev/null)" = "RESULT	0
MODE	$baseline@60" ]
}

if [ "${1:-}" = --list ]; then
    case_table | cut -d'|' -f1
    exit 0
fi
[ $# -eq 1 ] || usage_exit "usage: oneshot.sh CASE | --list"
row=$(case_table | awk -F'|' -v n="$1" '$1 == n { print; exit }')
[ -n "$row" ] || usage_exit "unknown case '$1' (see --list)"
IFS='|' read -r name command caption text exit_code mode <<<"$row"

join_session
restored=0
# shellcheck disable=SC2317  # run by the EXIT trap
finish() {
    [ "$restored" = 1 ] || restore_display ||
        echo "oneshot.sh: $name: could not restore $baseline" >&2
    rm -rf "$work"
}
trap finish EXIT

started=${EPOCHREALTIME/./}
elapsed() {
    local us=$((${EPOCHREALTIME/./} - started))
    printf '%d.%d s' $((us / 1000000)) $((us / 100000 % 10))
}

# Under load Wine now and then fails to start a program at all; try twice.
if ! restore_display && ! { sleep 0.5 && restore_display; }; then
    echo "FAIL $name: could not set the starting mode $baseline: $(flatten 2>/dev/null <"$work/restore.txt")"
    exit 1
fi

printf '%b' "$command" >"$work/cmdline.txt"
expected=$work/expected.txt
{
    [ "$caption" = - ] || printf 'BOX\t%s\t%s\n' "$caption" "$text"
    printf 'EXIT\t%s\nMODE\t%s\n' "$exit_code" "$mode"
} >"$expected"

ql run "$(win_path "$bin/quorin.exe")" "$(win_path "$work/cmdline.txt")" \
    "$(win_path "$work/report.txt")" "$((timeout_ms * slow))"
ql_rc=$?
restore_display
restore_rc=$?
restored=1

got=$(flatten 2>/dev/null <"$work/report.txt")
if [ "$ql_rc" -gt 1 ]; then
    echo "FAIL $name: qlaunch failed ($ql_rc): $(tr '\n' ' ' <"$work/qlaunch.err") ($(elapsed))"
    exit 1
fi
if ! cmp -s "$expected" "$work/report.txt"; then
    echo "FAIL $name: expected $(flatten <"$expected") got $got ($(elapsed))"
    exit 1
fi
if [ "$restore_rc" -ne 0 ]; then
    echo "FAIL $name: passed, but the display did not return to $baseline: $(flatten <"$work/restore.txt") ($(elapsed))"
    exit 1
fi
echo "PASS $name ($(elapsed))"
exit 0
