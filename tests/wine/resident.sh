#!/usr/bin/env bash
# Runs one resident-mode case of quorin.exe under Wine: the icon in the
# notification area, its menu and the menu's commands, driven with xdotool.
#
#   resident.sh CASE      exit 0 on PASS, 1 on FAIL, 2 when it cannot run
#   resident.sh --list    the case names
#
# QUORIN_WINE_STATE: state directory of a running session (session.sh start).
# QUORIN_WIN64_DIR: directory with quorin.exe and qlaunch.exe (default:
#   build/win64 of this tree).
#
# Wine keeps a menu's items out of reach of other processes, so a menu is
# checked against a reference picture: qlaunch shows a menu of its own with
# the expected items at the same place, and both screenshots must agree pixel
# for pixel. The same reference gives the items' positions for clicks.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${QUORIN_WIN64_DIR:-$here/../../build/win64}
baseline=1024x768x32
# Where the pointer waits while a screenshot is taken: off the menu and off
# the icon, so that no item is highlighted and no tooltip shows.
rest_x=300
rest_y=300

# Wine's desktop here offers every size at 60 Hz; at 32 bits these are the
# 4:3 sizes of at least 640 pixels, and the three below.
default_modes=("640x480 60 Hz" "768x576 60 Hz" "800x600 60 Hz" "1024x768 60 Hz" "1152x864 60 Hz" "1280x960 60 Hz")
low_modes=("320x240 60 Hz" "400x300 60 Hz" "512x384 60 Hz")

cases="icon second-start oneshot-while-resident menu choose-mode low-res save-and-autostart exit"

usage_exit() {
    echo "resident.sh: $*" >&2
    exit 2
}

if [ "${1:-}" = --list ]; then
    printf '%s\n' $cases
    exit 0
fi
[ $# -eq 1 ] || usage_exit "usage: resident.sh CASE | --list"
name=$1
case " $cases " in *" $name "*) ;; *) usage_exit "unknown case '$name' (see --list)" ;; esac

# shellcheck source=case-env.sh
. "$here/case-env.sh"
join_session

# report VERB ARGS...: a qlaunch verb that writes a report; prints it.
report() {
    rm -f "$work/report.txt"
    ql "$@" "$(win_path "$work/report.txt")"
    cat "$work/report.txt" 2>/dev/null
}

fail() {
    echo "FAIL $name: $*"
    exit 1
}

# poll SECONDS COMMAND...: retries every 0.1 s until COMMAND succeeds.
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

restore_display() {
    [ "$(report set "$baseline")" = "RESULT	0
MODE	$baseline@60" ]
}

current_mode() {
    report mode | sed -n 's/^MODE\t//p'
}

mode_is() {
    [ "$(current_mode)" = "$1" ]
}

reg_clear() {
    "$WINE" reg delete 'HKCU\Software\Quorin' /f >/dev/null 2>&1
    "$WINE" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Quorin /f >/dev/null 2>&1
    return 0
}

# reg_value KEY NAME: "TYPE DATA" as reg query shows it, or nothing.
reg_value() {
    "$WINE" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v n="$2" '$1 == n { $1 = ""; sub(/^ +/, ""); print }'
}

# reg_is KEY NAME "TYPE DATA": the value reads so ("" for no value).
reg_is() {
    [ "$(reg_value "$1" "$2")" = "$3" ]
}

screenshot() {
    import -window root "$1"
}

# The icon is the one thing in the taskbar drawn in its screen blue.
icon_box() {
    local shot=$work/icon.png
    screenshot "$shot" || return 1
    convert "$shot" -crop 1024x40+0+728 +repage txt:- 2>/dev/null |
        awk -F'[,:]' '/#1F78E0/ { x = $1; y = $2 + 728; n++
            if (n == 1 || x < x0) x0 = x; if (x > x1) x1 = x
            if (n == 1 || y < y0) y0 = y; if (y > y1) y1 = y }
            END { if (n >= 20) print int((x0 + x1) / 2), int((y0 + y1) / 2), n }'
}

find_icon() {
    local box
    box=$(icon_box)
    [ -n "$box" ] || return 1
    read -r icon_x icon_y _ <<<"$box"
}

no_icon() {
    [ -z "$(icon_box)" ]
}

tray_windows() {
    report windows "Quorin Tray" | grep -c '^WINDOW' || true
}

has_window() {
    [ "$(tray_windows)" -ge 1 ]
}

pid=""
start_resident() {
    : >"$work/empty.txt"
    pid=$(report spawn "$(win_path "$bin/quorin.exe")" "$(win_path "$work/empty.txt")" |
        sed -n 's/^PID\t//p')
    [ -n "$pid" ] || fail "the resident instance did not start: $(tr '\n' ' ' <"$work/qlaunch.err")"
    poll 15 has_window || fail "no \"Quorin Tray\" window appeared"
    poll 15 find_icon || fail "no icon appeared in the notification area"
}

# The exit code of the resident instance once it ends; qlaunch wait must be
# running before the instance is asked to end.
wait_started=0
start_wait() {
    rm -f "$work/wait.txt"
    "$WINE" "$bin/qlaunch.exe" wait "$pid" "$(win_path "$work/wait.txt")" 15000 >>"$work/qlaunch.err" 2>&1 &
    wait_pid=$!
    wait_started=1
    sleep 0.5
}

# Sets code to the exit code that qlaunch wait saw.
finish_wait() {
    wait "$wait_pid" 2>/dev/null
    wait_started=0
    code=$(sed -n 's/^EXIT\t//p' "$work/wait.txt" 2>/dev/null)
}

# shellcheck disable=SC2317  # run by the EXIT trap
finish() {
    if [ -n "$pid" ]; then
        xdotool mousemove "$rest_x" "$rest_y" click 1 >/dev/null 2>&1
        report close "$pid" "Quorin Tray" >/dev/null
        [ "$wait_started" = 1 ] && wait "$wait_pid" 2>/dev/null
    fi
    restore_display || echo "resident.sh: $name: could not restore $baseline" >&2
    reg_clear
    [ -n "${QUORIN_KEEP_CASE:-}" ] || rm -rf "$work"
}
trap finish EXIT

started=${EPOCHREALTIME/./}
elapsed() {
    local us=$((${EPOCHREALTIME/./} - started))
    printf '%d.%d s' $((us / 1000000)) $((us / 100000 % 10))
}

# Popup menus of the instance on screen, topmost first: "left top right bottom".
popups() {
    report popups | awk -F'\t' -v p="$pid" '$1 == "POPUP" && $2 == p { print $3, $4, $5, $6 }'
}

menu_open() {
    [ -n "$(popups)" ]
}

menu_closed() {
    [ -z "$(popups)" ]
}

submenu_open() {
    [ "$(popups | wc -l)" -ge 2 ]
}

open_menu() {
    xdotool mousemove "$icon_x" "$icon_y" click 3
    poll 10 menu_open || fail "a right-button press on the icon opened no menu"
    xdotool mousemove "$rest_x" "$rest_y"
    sleep 0.3
    read -r menu_left menu_top menu_right menu_bottom <<<"$(popups | tail -n 1)"
}

close_menu() {
    xdotool mousemove "$rest_x" "$rest_y" click 1
    poll 10 menu_closed || fail "the menu did not close"
}

# expect_menu SHOT ITEM...: opens the instance's menu, and checks it against
# qlaunch's reference menu of these items (qlaunch's item syntax: ">text"
# submenu, "-" separator, "*text" checked). Leaves the menu closed, the
# screenshot in SHOT and the reference's item rectangles in $work/items.txt.
expect_menu() {
    local shot=$1 geometry diff
    shift
    open_menu
    screenshot "$shot"
    close_menu
    printf '%s\n' "$@" >"$work/expected-items.txt"
    rm -f "$work/menu.txt" "$work/close-menu"
    "$WINE" "$bin/qlaunch.exe" menu "$(win_path "$work/expected-items.txt")" "$icon_x" "$icon_y" \
        "$(win_path "$work/menu.txt")" "$(win_path "$work/close-menu")" 20000 >>"$work/qlaunch.err" 2>&1 &
    local reference=$!
    poll 10 test -s "$work/menu.txt" || fail "the reference menu did not open"
    xdotool mousemove "$rest_x" "$rest_y"
    sleep 0.3
    screenshot "$work/reference.png"
    touch "$work/close-menu"
    wait "$reference"
    geometry=$(awk '/^POPUP/ { print $4 - $2 "x" $5 - $3 "+" $2 "+" $3 }' "$work/menu.txt")
    [ "$geometry" = "$((menu_right - menu_left))x$((menu_bottom - menu_top))+$menu_left+$menu_top" ] ||
        fail "the menu covers $((menu_right - menu_left))x$((menu_bottom - menu_top))+$menu_left+$menu_top, a menu of [$(paste -sd'|' "$work/expected-items.txt")] covers $geometry"
    convert "$shot" -crop "$geometry" +repage "$work/got.png"
    convert "$work/reference.png" -crop "$geometry" +repage "$work/want.png"
    diff=$(compare -metric AE "$work/got.png" "$work/want.png" null: 2>&1)
    [ "$diff" = 0 ] ||
        fail "the menu differs from one of [$(paste -sd'|' "$work/expected-items.txt")] in $diff pixels"
    grep '^ITEM' "$work/menu.txt" >"$work/items.txt"
}

# item_centre INDEX: "x y" of the reference item's centre.
item_centre() {
    awk -F'\t' -v i="$1" '$2 == i { print int(($3 + $5) / 2), int(($4 + $6) / 2) }' "$work/items.txt"
}

# click_item INDEX: opens the menu and chooses that item.
click_item() {
    local x y
    read -r x y <<<"$(item_centre "$1")"
    open_menu
    xdotool mousemove "$x" "$y"
    sleep 0.3
    xdotool click 1
    poll 10 menu_closed || fail "the menu stayed open after choosing item $1"
}

# click_setting INDEX: chooses item INDEX (0 to 4) of the "Settings" submenu;
# its rows and border have the sizes of the reference menu's.
click_setting() {
    local x y text_h sep_h border left top right offset
    text_h=$(awk -F'\t' '$2 == 0 { print $6 - $4 }' "$work/items.txt")
    sep_h=$(awk -F'\t' '$2 == 1 { print $6 - $4 }' "$work/items.txt")
    border=$(awk -F'\t' '$1 == "POPUP" { top = $3 } $1 == "ITEM" && $2 == 0 { print $4 - top }' "$work/menu.txt")
    open_menu
    # "Settings" heads the menu, whatever the list below it holds.
    x=$(((menu_left + menu_right) / 2))
    y=$((menu_top + border + text_h / 2))
    xdotool mousemove "$x" "$y"
    poll 10 submenu_open || fail "the Settings submenu did not open"
    read -r left top right _ <<<"$(popups | head -n 1)"
    offset=$((border + text_h * $1 + text_h / 2))
    [ "$1" -le 3 ] || offset=$((border + text_h * 3 + sep_h + text_h / 2))
    xdotool mousemove "$(((left + right) / 2))" "$y"
    xdotool mousemove "$(((left + right) / 2))" "$((top + offset))"
    sleep 0.3
    xdotool click 1
    poll 10 menu_closed || fail "the menu stayed open after choosing setting $1"
}

main_menu_items() {
    local mode items=(">Settings" -)
    for mode in "$@"; do
        if [ "$mode" = "1024x768 60 Hz" ]; then items+=("*$mode"); else items+=("$mode"); fi
    done
    items+=(- Exit)
    printf '%s\n' "${items[@]}"
}

restore_display || fail "could not set the starting mode $baseline"
reg_clear
start_resident

case $name in
icon)
    [ "$(tray_windows)" = 1 ] || fail "expected one \"Quorin Tray\" window, got $(tray_windows)"
    ;;
second-start)
    : >"$work/empty.txt"
    ql run "$(win_path "$bin/quorin.exe")" "$(win_path "$work/empty.txt")" "$(win_path "$work/run.txt")" 10000
    second=$(sed -n 's/^EXIT\t//p' "$work/run.txt")
    [ "$second" = 1 ] || fail "a second resident start exited with '$second', expected 1"
    [ "$(tray_windows)" = 1 ] || fail "expected one \"Quorin Tray\" window, got $(tray_windows)"
    ;;
oneshot-while-resident)
    printf '800x600' >"$work/cmdline.txt"
    ql run "$(win_path "$bin/quorin.exe")" "$(win_path "$work/cmdline.txt")" "$(win_path "$work/run.txt")" 10000
    got=$(paste -sd'|' "$work/run.txt")
    [ "$got" = "EXIT	0|MODE	800x600x32@60" ] || fail "expected [EXIT 0|MODE 800x600x32@60], got [$got]"
    restore_display || fail "could not restore $baseline"
    has_window || fail "the resident instance is gone"
    ;;
menu)
    mapfile -t items < <(main_menu_items "${default_modes[@]}")
    expect_menu "$state/../resident-menu.png" "${items[@]}"
    ;;
choose-mode)
    mapfile -t items < <(main_menu_items "${default_modes[@]}")
    expect_menu "$work/menu.png" "${items[@]}"
    # Items: Settings, separator, then the modes; 800x600 is the third mode.
    click_item 4
    poll 10 mode_is "800x600x32@60" ||
        fail "choosing \"800x600 60 Hz\" left the display at $(current_mode)"
    ;;
low-res)
    mapfile -t items < <(main_menu_items "${default_modes[@]}")
    expect_menu "$work/menu.png" "${items[@]}"
    click_setting 0
    mapfile -t items < <(main_menu_items "${low_modes[@]}" "${default_modes[@]}")
    expect_menu "$work/menu.png" "${items[@]}"
    [ -z "$(reg_value 'HKCU\Software\Quorin' DisplayLoRes)" ] || fail "the filter was saved without \"Save settings\""
    ;;
save-and-autostart)
    mapfile -t items < <(main_menu_items "${default_modes[@]}")
    expect_menu "$work/menu.png" "${items[@]}"
    click_setting 0
    click_setting 4
    got="$(reg_value 'HKCU\Software\Quorin' DisplayLoRes)|$(reg_value 'HKCU\Software\Quorin' DisplayNonStdRatio)"
    [ "$got" = "REG_DWORD 0x1|REG_DWORD 0x0" ] ||
        fail "after \"Save settings\" expected [REG_DWORD 0x1|REG_DWORD 0x0], got [$got]"
    run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
    click_setting 2
    want="REG_SZ \"$(win_path "$bin/quorin.exe")\""
    poll 5 reg_is "$run_key" Quorin "$want" ||
        fail "after \"Autostart\" expected [$want], got [$(reg_value "$run_key" Quorin)]"
    click_setting 2
    poll 5 reg_is "$run_key" Quorin "" ||
        fail "a second \"Autostart\" left [$(reg_value "$run_key" Quorin)]"
    ;;
exit)
    mapfile -t items < <(main_menu_items "${default_modes[@]}")
    expect_menu "$work/menu.png" "${items[@]}"
    start_wait
    click_item $((${#items[@]} - 1))
    finish_wait
    [ "$code" = 0 ] || fail "after \"Exit\" the process ended with '$code', expected 0"
    pid=""
    [ "$(tray_windows)" = 0 ] || fail "the \"Quorin Tray\" window outlived Exit"
    poll 5 no_icon || fail "the icon stayed in the notification area after Exit"
    ;;
esac

# Every case ends the instance the way a person does and expects exit code 0.
if [ -n "$pid" ]; then
    start_wait
    report close "$pid" "Quorin Tray" >/dev/null
    finish_wait
    pid=""
    [ "$code" = 0 ] || fail "closing the window ended the process with '$code', expected 0"
fi
echo "PASS $name ($(elapsed))"
exit 0
