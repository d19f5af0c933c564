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
timeout_ms=10000

# name|command text (printf %b)|box caption, or - for no box|box text as the
# report escapes it|exit code|mode afterwards, = for the starting mode
# Wine's virtual desktop offers every size at 60 Hz only, so each mode reads
# back @60; with -safe that is also the rate the program asks for.
# 2048x2048 is larger than any mode the display enumerates, and Wine refuses
# it with DISP_CHANGE_BADMODE (-2).
# The Xorg display offers each size at the rates of the dummy driver's list:
# 640x480 at 60, 73 (72.81, which Wine rounds), 75 and 85 Hz, 800x600 at 56,
# 60, 72, 75 and 85, 1024x768 at 60, 70, 75 and 85, 1152x864 at 75 only,
# 1600x1200 at 60, 65, 70, 75 and 85, 1920x1080 at 60 only.
# The Xorg sessions run only the rows that switch.
case_table() {
    [ "${QUORIN_WINE_DISPLAY:-xvfb}" = xorg ] || cat <<'EOF'
usage|-?|Usage|quorin -safe\n      sets the display mode to 640x480x(32 bits/pixel) at 60 Hz\nquorin <width>x<height>[x<bpp>][@<freq>]\n      sets a custom display mode\n|0|=
too-many|800x600 16|Error|Too many parameters|0|=
invalid|800X600|Error|Invalid parameter: 800X600|0|=
range|4000x3000|Error|Range error in parameter: 4000x3000|0|=
quoted-tab|800x600\t16|Error|Invalid parameter: 800x600\t16|0|=
EOF
    cat <<'EOF'
safe|-safe|-||0|640x480x32@60
unoffered|2048x2048x32@200|Error|Display mode change failed|0|=
EOF
    if [ "${QUORIN_WINE_DISPLAY:-xvfb}" = xorg ]; then
        cat <<'EOF'
highest-rate|800x600|-||0|800x600x32@85
highest-rate-large|1600x1200|-||0|1600x1200x32@85
lowest-rate|800x600@56|-||0|800x600x32@56
middle-rate|1024x768@70|-||0|1024x768x32@70
rounded-rate|640x480@73|-||0|640x480x32@73
single-rate|1152x864|-||0|1152x864x32@75
depth-rate-completed|800x600x16|-||0|800x600x16@85
rate-lacking|1920x1080@75|Error|Display mode change failed|0|=
EOF
    else
        echo 'plain|800x600|-||0|800x600x32@60'
    fi
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
MODE	$baseline" ]
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
baseline=1024x768x32@60
[ "${QUORIN_WINE_DISPLAY:-xvfb}" != xorg ] || baseline=1024x768x32@85
[ "$mode" != = ] || mode=$baseline
# Wine 8 emulates a colour depth other than the X screen's only within the
# process that switched to it: the process that reads the mode afterwards
# finds the screen's 32 bits (Wine 10 keeps the depth for every process).
if [ "$name" = depth-rate-completed ] && [ "${QUORIN_WINE_IMPL:-wine8}" = wine8 ]; then
    mode=${mode/x16@/x32@}
fi
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
