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
# Beside a second monitor (QUORIN_WINE_MONITORS=2) two more columns: the
# layout that x_layout sets up before the run, and the X server's outputs
# afterwards as x_outputs prints them, = for the session's.  Wine keeps the
# second monitor beside the primary: on its right it follows the primary's
# new right edge, on its left it stays at the X origin and the primary, at
# Windows' 0,0, keeps its X position.  1536x1152 is DUMMY1's alone.  Only
# these rows run there.
case_table() {
    if [ "${QUORIN_WINE_MONITORS:-1}" = 2 ]; then
        cat <<'EOF'
second-right|800x600|-||0|800x600x32@85|right|DUMMY0 800x600@85+0+0 primary, DUMMY1 1280x1024@85+800+0
second-right-rate|1600x1200@75|-||0|1600x1200x32@75|right|DUMMY0 1600x1200@75+0+0 primary, DUMMY1 1280x1024@85+1600+0
second-left-rate|800x600@56|-||0|800x600x32@56|left|DUMMY0 800x600@56+1280+0 primary, DUMMY1 1280x1024@85+0+0
second-left-safe|-safe|-||0|640x480x32@60|left|DUMMY0 640x480@60+1280+0 primary, DUMMY1 1280x1024@85+0+0
second-larger-safe|-safe|-||0|640x480x32@60|large|DUMMY0 640x480@60+0+0 primary, DUMMY1 1920x1200@60+640+0
second-only|1536x1152|Error|Display mode change failed|0|=|right|=
primary-moved|800x600|-||0|800x600x32@85|primary|DUMMY0 1024x768@85+0+0, DUMMY1 800x600@85+1024+0 primary
EOF
        return
    fi
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

# The X server's outputs first: under Wine 8 the primary that a case moved
# would take the mode meant for DUMMY0.
restore_display() {
    local report=$work/restore.txt
    rm -f "$report"
    x_restore || return 1
    ql set "$baseline" "$(win_path "$report")"
    [ "$(cat "$report" 2>/dev/null)" = "RESULT	0
MODE	$baseline" ] && x_restored
}

# What restore_display left, for a failure line.
display_now() {
    flatten 2>/dev/null <"$work/restore.txt"
    [ "${QUORIN_WINE_MONITORS:-1}" != 2 ] || printf ' (X server: %s)' "$(x_outputs)"
}

if [ "${1:-}" = --list ]; then
    case_table | cut -d'|' -f1
    exit 0
fi
[ $# -eq 1 ] || usage_exit "usage: oneshot.sh CASE | --list"
row=$(case_table | awk -F'|' -v n="$1" '$1 == n { print; exit }')
[ -n "$row" ] || usage_exit "unknown case '$1' (see --list)"
IFS='|' read -r name command caption text exit_code mode layout outputs <<<"$row"

join_session
baseline=1024x768x32@60
[ "${QUORIN_WINE_DISPLAY:-xvfb}" != xorg ] || baseline=1024x768x32@85
[ "$mode" != = ] || mode=$baseline
[ "$outputs" != = ] || outputs=$x_baseline
# Beside a second monitor, after an outside xrandr change, Wine 10's
# ChangeDisplaySettingsA itself can take about 10 s to return (a bare call
# too): the run may take that long.
[ "${QUORIN_WINE_MONITORS:-1}" != 2 ] || timeout_ms=30000
# Wine 8 makes the output that xrandr made primary Windows' primary.  Wine 10
# keeps the primary that its display cache started with: the switch sets
# DUMMY0, now left of DUMMY1, and DUMMY1 takes DUMMY0's former mode, though
# a new process reads DUMMY1 as the primary's mode.
if [ "$name" = primary-moved ] && [ "${QUORIN_WINE_IMPL:-wine8}" = wine10 ]; then
    mode=1024x768x32@85
    outputs="DUMMY0 800x600@85+1024+0, DUMMY1 1024x768@85+0+0 primary"
fi
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
        echo "oneshot.sh: $name: could not restore $baseline: $(display_now)" >&2
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
    echo "FAIL $name: could not set the starting mode $baseline: $(display_now)"
    exit 1
fi
if [ -n "$layout" ] && ! x_layout "$layout"; then
    echo "FAIL $name: Wine did not take in the layout '$layout': X server [$(x_outputs)], Wine's monitors $(flatten 2>/dev/null <"$work/monitors.txt")"
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
[ -z "$outputs" ] || x_after=$(x_outputs)
restore_display
restore_rc=$?
restored=1

got=$(flatten 2>/dev/null <"$work/report.txt")
if [ "$ql_rc" -gt 1 ]; then
    echo "FAIL $name: qlaunch failed ($ql_rc): $(tr '\n' ' ' <"$work/qlaunch.err") ($(elapsed))"
    exit 1
fi
if [ -n "$outputs" ] && [ "$x_after" != "$outputs" ]; then
    echo "FAIL $name: expected the X server's outputs [$outputs] got [$x_after] ($(elapsed))"
    exit 1
fi
if ! cmp -s "$expected" "$work/report.txt"; then
    echo "FAIL $name: expected $(flatten <"$expected") got $got ($(elapsed))"
    exit 1
fi
if [ "$restore_rc" -ne 0 ]; then
    echo "FAIL $name: passed, but the display did not return to $baseline: $(display_now) ($(elapsed))"
    exit 1
fi
echo "PASS $name ($(elapsed))"
exit 0
