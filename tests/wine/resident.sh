#!/usr/bin/env bash
# Runs one resident-mode case of quorin.exe under Wine: the notification
# icon, its menu and the menu's commands, driven with xdotool as a user would
# and checked against screenshots, qlaunch's reports and the registry.
#
#   resident.sh CASE      exit 0 on PASS, 1 on FAIL, 2 when it cannot run
#   resident.sh --list    the case names
#
# QUORIN_WINE_STATE: state directory of a running session (session.sh start).
# QUORIN_WINE_BIN: directory with quorin.exe, Quorin.ico and qlaunch.exe
#   (default: build/win64 of this tree).  Screenshots go there too:
#   resident-menu.png and resident-settings.png from the menu case, and the
#   two pictures of a menu that did not match under resident-failures/.
#
# Wine keeps a menu's items out of reach of other processes, so a menu is
# proven by its picture: qlaunch shows a menu of its own with the expected
# items at the same point, and both must match pixel for pixel.  That
# reference also yields the item rectangles that the clicks aim at.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
bin=${QUORIN_WINE_BIN:-$here/../../build/win64}
baseline=1024x768x32@60
settings_key='HKCU\Software\Quorin'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
# Task Manager's switch for a Run entry, always in the 64-bit view: Run32 for
# the 32-bit view's entries, those of the 32-bit program on 64-bit Windows.
approval_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
approval_view=""
if [ "${QUORIN_WINE_IMPL:-wine8}" = wine10 ]; then
    approval_key+=32
    approval_view=/reg:64
fi
# Where the pointer rests while a picture is taken: on the desktop, away
# from every menu and from the icon, whose tooltip would cover the menu.
park_x=10
park_y=10

# What Wine's virtual desktop on a 1280x1024 screen enumerates at 32 bits,
# every mode at 60 Hz, after the 4:3 filter: with and without the low ones.
modes_default="640x480 768x576 800x600 1024x768 1152x864 1280x960"
modes_low="320x240 400x300 512x384 $modes_default"
# A scaled session's 1600x1200 screen adds two 4:3 modes.
modes_scaled="$modes_default 1400x1050 1600x1200"
# The Xorg display's 4:3 modes at 32 bits: the dummy driver lists each size's
# rates highest first, so the menu keeps an item per rate, lowest first.
modes_xorg="640x480@60 640x480@73 640x480@75 640x480@85 800x600@56 800x600@60 800x600@72
800x600@75 800x600@85 832x624@75 1024x768@60 1024x768@70 1024x768@75 1024x768@85 1152x864@75
1280x960@60 1280x960@85 1400x1050@60 1400x1050@75 1600x1200@60 1600x1200@65 1600x1200@70
1600x1200@75 1600x1200@85"
# Settings submenu positions: 0 low resolutions, 1 not 4/3, 2 autostart,
# 3 separator, 4 save.
sub_low=0
sub_autostart=2
sub_save=4

# A scaled session (QUORIN_WINE_DPI), an Xorg one (QUORIN_WINE_DISPLAY) and
# one beside a second monitor (QUORIN_WINE_MONITORS) run only their own
# cases; the guide's uninstall command is for the shipped build on 64-bit
# Windows, the Wine 10 sessions.
case_names() {
    if [ -n "${QUORIN_WINE_DPI:-}" ]; then
        printf '%s\n' scaled-menu scaled-oneshot
        return
    fi
    if [ "${QUORIN_WINE_MONITORS:-1}" = 2 ]; then
        printf '%s\n' menu-second-right menu-second-left menu-on-second
        return
    fi
    if [ "${QUORIN_WINE_DISPLAY:-xvfb}" = xorg ]; then
        printf '%s\n' rate-items choose-rate rate-checked mode-gained mode-twice
        # Only Wine 10 shows a running program a depth that another set.
        [ "${QUORIN_WINE_IMPL:-wine8}" != wine10 ] || echo depth-changed
        return
    fi
    cat <<'EOF'
icon
second-start
oneshot-while-resident
menu
left-button
choose-mode
low-res
save-settings
autostart
exit
outside-close
autostart-folders
autostart-long-folder
autostart-approval
icon-back
logon
elevated-instance
dll-plant
EOF
    [ "${QUORIN_WINE_IMPL:-wine8}" != wine10 ] || echo uninstall-command
}

usage_exit() {
    echo "resident.sh: $*" >&2
    exit 2
}

if [ "${1:-}" = --list ]; then
    case_names
    exit 0
fi
[ $# -eq 1 ] || usage_exit "usage: resident.sh CASE | --list"
name=$1
# menu-timing is not a test: menu_timing.sh runs it.
[ "$name" = menu-timing ] || case_names | grep -x -- "$name" >/dev/null ||
    usage_exit "unknown case '$name' (see --list)"

# shellcheck source=case-env.sh
. "$here/case-env.sh"
join_session
[ "$name" = menu-timing ] || case_names | grep -x -- "$name" >/dev/null ||
    usage_exit "case '$name' is not one of this session's (QUORIN_WINE_IMPL=${QUORIN_WINE_IMPL:-wine8}, QUORIN_WINE_DPI=${QUORIN_WINE_DPI:-})"
[ -z "${QUORIN_WINE_DPI:-}" ] || baseline=1600x1200x32@60
if [ "${QUORIN_WINE_DISPLAY:-xvfb}" = xorg ]; then
    baseline=1024x768x32@85
    # The notification area's window takes the top left corner there; this
    # spot lies within every mode's screen and beside the menus.
    park_x=600
    park_y=440
fi
# The X position of Windows' origin, the primary's corner: X's own
# coordinates start at the left of the leftmost output.  qlaunch's rectangles
# are shifted by it for the screenshots and the pointer, which go by X's.
origin_x=0
origin_y=0
# How long a switch from the menu may take.  Beside a second monitor, after
# an outside xrandr change, Wine 10's ChangeDisplaySettingsA itself can take
# about 10 s to return (a bare call too).
switch_wait=5
[ "${QUORIN_WINE_MONITORS:-1}" != 2 ] || switch_wait=20
[ -f "$bin/Quorin.ico" ] || usage_exit "no Quorin.ico in $bin (set QUORIN_WINE_BIN)"
tools="xdotool import convert compare identify"
[ "${QUORIN_WINE_DISPLAY:-xvfb}" != xorg ] || tools+=" xrandr"
for tool in $tools; do
    command -v "$tool" >/dev/null || usage_exit "$tool is not installed"
done
bin=$(cd "$bin" && pwd)
# The program names its icon file without a directory: Wine looks for it in
# the current directory, which qlaunch hands on to the child.
cd "$bin" || exit 2

exe=$(win_path "$bin/quorin.exe")
verdict=""
resident_pids=()
reference_pid=""
noshell_pid=""
holder_pid=""
made_folders=()
registry_touched=0
started=${EPOCHREALTIME/./}

elapsed() {
    local us=$((${EPOCHREALTIME/./} - started))
    printf '%d.%d s' $((us / 1000000)) $((us / 100000 % 10))
}

fail() {
    verdict="FAIL $name: $*"
    exit 1
}

# report VERB ARGS...: a verb whose last argument is the report file; prints
# the report.
report() {
    local r=$work/report.txt
    rm -f "$r"
    ql "$@" "$(win_path "$r")"
    cat "$r" 2>/dev/null
}

current_mode() {
    report mode | sed -n 's/^MODE\t//p'
}

mode_is() {
    [ "$(current_mode)" = "$1" ]
}

# The X server's outputs first: under Wine 8 the primary that a case moved
# would take the mode meant for DUMMY0.
restore_display() {
    x_restore && [ "$(report set "$baseline" | flatten)" = "[RESULT|0][MODE|$baseline]" ] && x_restored
}

# QUORIN_REG_VIEW (/reg:32 under Wine 10) reads the view that the program writes.
clear_registry() {
    "$WINE" reg delete "$settings_key" /f ${QUORIN_REG_VIEW:+"$QUORIN_REG_VIEW"} >/dev/null 2>&1
    "$WINE" reg delete "$run_key" /v Quorin /f ${QUORIN_REG_VIEW:+"$QUORIN_REG_VIEW"} >/dev/null 2>&1
    "$WINE" reg delete "$approval_key" /v Quorin /f ${approval_view:+"$approval_view"} >/dev/null 2>&1
    return 0
}

# --- windows and processes ------------------------------------------------

# The pids that own a window of class "Quorin Tray", one a line.
tray_pids() {
    report windows "Quorin Tray" | awk -F'\t' '$1 == "WINDOW" { print $2 }'
}

has_tray_window() {
    tray_pids | grep -qx "$1"
}

no_tray_window() {
    ! has_tray_window "$1"
}

alive() {
    [ "$(report windows "Quorin Tray" | awk -F'\t' -v p="$1" '$2 == p' | wc -l)" -gt 0 ] ||
        ! report wait "$1" 0 | grep -q $'^EXIT\tGONE'
}

# Starts the resident instance and waits for its window; sets $pid.
start_resident() {
    : >"$work/empty.txt"
    pid=$(ql spawn "$exe" "$(win_path "$work/empty.txt")" "$(win_path "$work/spawn.txt")" &&
        sed -n 's/^PID\t//p' "$work/spawn.txt")
    resident_started
}

# start_resident_from WINDOWS-PATH: the copy there, started as a double-click
# in Explorer starts it, from its own folder, whatever letters the path holds.
start_resident_from() {
    : >"$work/empty.txt"
    printf '%s' "$1" >"$work/exe.txt"
    pid=$(ql spawnw "$(win_path "$work/exe.txt")" "$(win_path "$work/spawn.txt")" &&
        sed -n 's/^PID\t//p' "$work/spawn.txt")
    resident_started
}

resident_started() {
    [ -n "$pid" ] || fail "qlaunch spawn failed: $(tr '\n' ' ' <"$work/qlaunch.err")"
    resident_pids+=("$pid")
    poll 10 has_tray_window "$pid" ||
        fail "resident start: expected a \"Quorin Tray\" window of pid $pid within $((10 * slow)) s, got windows of [$(tray_pids | tr '\n' ' ')]"
}

# Posts WM_CLOSE to the resident's window, waits for the process; prints
# qlaunch's report (EXIT 0, or EXIT TIMEOUT once it had to end it).
end_resident() {
    local p=$1 r=$work/end.txt waiter
    rm -f "$r"
    hold_exit "$p" "$r"
    waiter=$!
    ql close "$p" "Quorin Tray" "$(win_path "$work/close.txt")"
    wait "$waiter"
    cat "$r" 2>/dev/null
}

# hold_exit PID REPORT: a qlaunch wait in the background ($! is its pid) that
# returns once the waiter holds the process, or has found it gone. The exit
# code can be read only by a waiter that holds the process before it ends,
# and an emulated Wine starts qlaunch too slowly to come after the end.
hold_exit() {
    local ready=$work/waiting
    rm -f "$ready"
    ql wait "$1" "$(win_path "$2")" $((10000 * slow)) "$(win_path "$ready")" &
    poll 10 holding "$ready" "$!"
}

holding() {
    [ -f "$1" ] || ! kill -0 "$2" 2>/dev/null
}

# Chooses "Exit", the open menu's last item, and waits for the program to
# end: qlaunch's report of it is in $work/exit.txt.
choose_exit() {
    local waiter
    hold_exit "$pid" "$work/exit.txt" || fail "\"Exit\": qlaunch wait did not take hold of pid $pid"
    waiter=$!
    click "${ref_items[${#ref_items[@]} - 1]}"
    wait "$waiter"
}

# --- the icon -------------------------------------------------------------

# The notification area shows the icon file's image of the small-icon size,
# which grows with the DPI under Wine 10 on a scaled display: 16 at 96, 20 at
# 120, 24 at 144, 32 at 192.
icon_px=$((16 * ${QUORIN_WINE_DPI:-96} / 96))

# icon_image SIZE: sets image to the position of Quorin.ico's SIZExSIZE image.
icon_image() {
    local sizes
    sizes=$(identify -format '%wx%h ' "$bin/Quorin.ico") || fail "cannot read $bin/Quorin.ico"
    image=$(tr ' ' '\n' <<<"$sizes" | grep -n -m 1 -x "${1}x$1" | cut -d: -f1)
    [ -n "$image" ] || fail "expected a ${1}x$1 image in Quorin.ico, got [${sizes% }]"
    image=$((image - 1))
}

# The opaque pixels of that image, "x y #RRGGBB" a line: the picture that the
# notification area must show.  Run it outside $(...), where fail would end
# only the subshell.
icon_template() {
    local t=$work/icon.txt image
    [ -s "$t" ] && return 0
    icon_image "$icon_px"
    convert "$bin/Quorin.ico[$image]" txt:- | tail -n +2 >"$work/icon-raw.txt" ||
        fail "cannot read image $image of $bin/Quorin.ico"
    if [ "$icon_px" != 16 ]; then
        # Drawn for its size: the 16x16 stretched is what a file without
        # this size shows, blocky.
        icon_image 16
        convert "$bin/Quorin.ico[$image]" -sample "${icon_px}x$icon_px" txt:- | tail -n +2 |
            cmp -s - "$work/icon-raw.txt" &&
            fail "expected the ${icon_px}x$icon_px image of Quorin.ico drawn for its size, got the 16x16 stretched pixel by pixel"
    fi
    awk 'substr($3, 8, 2) == "FF" { split($1, p, /[,:]/); print p[1], p[2], substr($3, 1, 7) }' \
        "$work/icon-raw.txt" >"$t"
    [ -s "$t" ] || fail "the ${icon_px}x$icon_px image of Quorin.ico has no opaque pixel"
}

# desk_size: sets desk_w and desk_h from the current mode.
desk_size() {
    local mode rest
    mode=$(current_mode)
    desk_w=${mode%%x*}
    rest=${mode#*x}
    desk_h=${rest%%x*}
    case $desk_w$desk_h in *[!0-9]* | '') return 1 ;; esac
}

# The notification area as "W H X Y": the right half of the taskbar (the
# bottom 32 rows of the desktop) or, in a Wine 10 session (see session.sh)
# and on the Xorg display, the notification area's own window, which Wine 8
# names otherwise.
tray_area() {
    local class=Shell_TrayWnd
    if [ "${QUORIN_WINE_IMPL:-wine8}" = wine10 ] || [ "${QUORIN_WINE_DISPLAY:-xvfb}" = xorg ]; then
        [ "${QUORIN_WINE_IMPL:-wine8}" = wine10 ] || class=__winex11_standalone_tray
        # Not the empty stand-in of qlaunch noshell, which comes first.
        report windows "$class" | awk -F'\t' -v ox="$origin_x" -v oy="$origin_y" '
            $1 == "WINDOW" && $6 > $4 && $7 > $5 { print $6 - $4, $7 - $5, $4 + ox, $5 + oy; exit }'
    else
        echo "$((desk_w / 2)) 32 $((desk_w / 2)) $((desk_h - 32))"
    fi
}

# Prints "X Y" of the icon's upper-left corner when the notification area
# shows it exactly; fails otherwise.
find_icon() {
    local w h x y
    icon_template
    desk_size || return 1
    read -r w h x y < <(tray_area)
    [ -n "$y" ] || return 1
    import -window root -crop "${w}x$h+$x+$y" +repage \
        "$work/taskbar.png" 2>>"$work/qlaunch.err" || return 1
    convert "$work/taskbar.png" txt:- | awk -v ox="$x" -v oy="$y" '
        BEGIN { n = 0 }
        FNR == NR { tx[n] = $1; ty[n] = $2; tc[n] = $3; n++; next }
        /^#/ { next }
        {
            split($1, p, /[,:]/)
            c = substr($3, 1, 7)
            pix[p[1] "," p[2]] = c
            if (c == tc[0]) cand[++m] = p[1] "," p[2]
        }
        END {
            for (k = 1; k <= m; k++) {
                split(cand[k], q, ",")
                x0 = q[1] - tx[0]; y0 = q[2] - ty[0]; ok = 1
                for (i = 0; i < n && ok; i++)
                    if (pix[(x0 + tx[i]) "," (y0 + ty[i])] != tc[i]) ok = 0
                if (ok) { print x0 + ox, y0 + oy; exit 0 }
            }
            exit 1
        }' "$work/icon.txt" -
}

icon_shown() {
    icon_at=$(find_icon)
}

icon_gone() {
    ! find_icon >/dev/null
}

# Waits for the icon; sets click_x, click_y to its centre.
locate_icon() {
    icon_template
    poll 5 icon_shown ||
        fail "expected the ${icon_px}x$icon_px image of Quorin.ico in the notification area ($(tray_area | awk '{ print $1 "x" $2 "+" $3 "+" $4 }') of the $(current_mode) desktop), got no exact match (screenshot kept as $(keep "$work/taskbar.png" taskbar.png))"
    desk_size
    click_x=$((${icon_at% *} + icon_px / 2))
    click_y=$((${icon_at#* } + icon_px / 2))
}

# --- menus ----------------------------------------------------------------

# keep FILE NAME: a copy under resident-failures/ for a failure line.
keep() {
    mkdir -p "$bin/resident-failures"
    cp "$1" "$bin/resident-failures/$name-$2" 2>/dev/null
    printf '%s' "$bin/resident-failures/$name-$2"
}

# The rectangles "l t r b" of the visible menus of process $1, topmost first.
popups_of() {
    report popups | awk -F'\t' -v p="$1" -v ox="$origin_x" -v oy="$origin_y" '
        $1 == "POPUP" && $2 == p { print $3 + ox, $4 + oy, $5 + ox, $6 + oy }'
}

popup_count_is() {
    [ "$(popups_of "$1" | wc -l)" -eq "$2" ]
}

# crop RECT FILE: a screenshot of that rectangle once two in a row agree,
# so that a menu still being painted is not taken.
crop() {
    local l t r b i
    read -r l t r b <<<"$1"
    rm -f "$2"
    for i in 1 2 3 4 5 6 7 8 9 10; do
        import -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "$work/crop.png" ||
            return 1
        if [ -f "$2" ] && [ "$(compare -metric AE "$work/crop.png" "$2" null: 2>&1)" = 0 ]; then
            return 0
        fi
        mv "$work/crop.png" "$2"
        [ "$i" -gt 1 ] || continue
        sleep 0.05
    done
    return 1
}

# Items as the menu verb takes them: "-" separator, ">text" submenu,
# "*text" checked.  mode_items MODES CHECKED prints the top-level menu; a
# mode is WxH at 60 Hz or WxH@RATE.
mode_items() {
    local m label
    echo ">Settings"
    echo "-"
    for m in $1; do
        label="${m%@*} $([ "${m#*@}" != "$m" ] && echo "${m#*@}" || echo 60) Hz"
        if [ "$m" = "$2" ]; then echo "*$label"; else echo "$label"; fi
    done
    echo "-"
    echo "Exit"
}

# settings_items CHECKED...: the submenu, with those positions checked.
settings_items() {
    local labels=("Display low resolutions" "Display not 4/3 resolutions" "Autostart" "-" "Save settings")
    local i c mark
    for i in 0 1 2 3 4; do
        mark=""
        for c in "$@"; do [ "$c" = "$i" ] && mark="*"; done
        echo "$mark${labels[$i]}"
    done
}

describe() {
    tr '\n' '|' <"$1" | sed 's/|$//'
}

# reference TAG X Y < ITEMS (not in a pipe: it sets variables): qlaunch's own menu with ITEMS at X, Y; sets
# ref_rect and ref_items (one rectangle per item) and takes its picture.
reference() {
    local tag=$1 x=$2 y=$3 rep=$work/$1-ref.txt closing=$work/$1-close
    cat >"$work/$tag.items"
    rm -f "$rep" "$closing"
    xdotool mousemove "$park_x" "$park_y"
    "$WINE" "$bin/qlaunch.exe" menu "$(win_path "$work/$tag.items")" $((x - origin_x)) $((y - origin_y)) \
        "$(win_path "$rep")" "$(win_path "$closing")" $((15000 * slow)) >>"$work/qlaunch.err" 2>&1 &
    reference_pid=$!
    poll 10 test -f "$rep" || fail "$tag: qlaunch's reference menu did not open"
    ref_rect=$(awk -F'\t' -v ox="$origin_x" -v oy="$origin_y" '
        $1 == "POPUP" { print $2 + ox, $3 + oy, $4 + ox, $5 + oy }' "$rep")
    mapfile -t ref_items < <(awk -F'\t' -v ox="$origin_x" -v oy="$origin_y" '
        $1 == "ITEM" { print $3 + ox, $4 + oy, $5 + ox, $6 + oy }' "$rep")
    crop "$ref_rect" "$work/$tag-ref.png" || fail "$tag: the reference menu did not settle"
    touch "$closing"
    wait "$reference_pid"
    reference_pid=""
}

# open_menu TAG BUTTON: presses BUTTON (1 left, 3 right) on the icon, parks
# the pointer and takes the picture of the resident's menu; sets got_rect.
# BUTTON key: the keyboard opens the menu with the pointer resting at the
# click point, which need not be on the icon (Win+B, the arrows to the icon,
# then Enter: the shell sends an icon of the first version WM_RBUTTONDOWN, as
# qlaunch notify posts it).
open_menu() {
    local how="pressing button $2 on the icon at $click_x,$click_y"
    if [ "$2" = key ]; then
        how="its keyboard activation with the pointer at $click_x,$click_y"
        xdotool mousemove "$click_x" "$click_y"
        [ "$(report notify "$pid" "Quorin Tray" | flatten)" = "[POSTED|1]" ] ||
            fail "$1: could not post the icon's notification to pid $pid"
    else
        xdotool mousemove "$click_x" "$click_y" click "$2" mousemove "$park_x" "$park_y"
    fi
    poll 5 popup_count_is "$pid" 1 ||
        fail "$1: expected one menu of pid $pid after $how, got [$(popups_of "$pid" | tr '\n' ',')]"
    xdotool mousemove "$park_x" "$park_y"
    got_rect=$(popups_of "$pid")
    crop "$got_rect" "$work/$1-got.png" || fail "$1: the menu did not settle"
}

# same_picture TAG: the resident's menu ($got_rect, TAG-got.png) against
# the reference (ref_rect, TAG-ref.png).
same_picture() {
    local ae
    [ "$got_rect" = "$ref_rect" ] ||
        fail "$1: expected a menu at [$ref_rect] (the size of [$(describe "$work/$1.items")]), got [$got_rect]"
    ae=$(compare -metric AE "$work/$1-got.png" "$work/$1-ref.png" null: 2>&1)
    [ "$ae" = 0 ] ||
        fail "$1: expected the picture of [$(describe "$work/$1.items")], got $ae differing pixels ($(keep "$work/$1-got.png" "$1-got.png") against $(keep "$work/$1-ref.png" "$1-ref.png"))"
}

# click RECT: a left click in the middle of the rectangle, then parks.
click() {
    local l t r b
    read -r l t r b <<<"$1"
    xdotool mousemove $(((l + r) / 2)) $(((t + b) / 2)) click 1 mousemove "$park_x" "$park_y"
}

# A click on the bare desktop closes every menu without choosing.
close_menus() {
    xdotool mousemove "$park_x" "$park_y" click 1
    poll 5 popup_count_is "$pid" 0 || fail "$1: the menu did not close on a click beside it"
}

# open_settings TAG: with the menu open, clicks "Settings"; sets sub_rect.
open_settings() {
    click "${top_items[0]}"
    poll 5 popup_count_is "$pid" 2 ||
        fail "$1: expected the Settings submenu after a click on \"Settings\", got menus [$(popups_of "$pid" | tr '\n' ',')]"
    sub_rect=$(popups_of "$pid" | head -n 1)
    got_rect=$sub_rect
    crop "$sub_rect" "$work/$1-got.png" || fail "$1: the submenu did not settle"
}

# check_menus TAG MODES CHECKED-MODE SETTINGS-CHECKED...: the resident's
# menu and its Settings submenu against the references; leaves top_items and
# sub_items for clicking, and the menus closed.
# open_expected_menu TAG MODES CHECKED [BUTTON]: opens the menu with that
# button (3 right, 1 left, key) and checks it against the reference of those items;
# the menu stays open.
open_expected_menu() {
    reference "$1" "$click_x" "$click_y" < <(mode_items "$2" "$3")
    open_menu "$1" "${4:-3}"
    same_picture "$1"
}

check_menus() {
    local tag=$1 modes=$2 checked=$3
    shift 3
    open_expected_menu "$tag" "$modes" "$checked"
    top_items=("${ref_items[@]}")
    open_settings "$tag-settings"
    close_menus "$tag"
    reference "$tag-settings" ${sub_rect% * *} < <(settings_items "$@")
    sub_items=("${ref_items[@]}")
    same_picture "$tag-settings"
}

# choose_setting POSITION: menu, "Settings", then that submenu item.
choose_setting() {
    open_menu "setting-$1" 3
    open_settings "setting-$1"
    click "${sub_items[$1]}"
    poll 5 popup_count_is "$pid" 0 ||
        fail "a click on submenu item $1 left menus [$(popups_of "$pid" | tr '\n' ',')]"
}

# oneshot TEXT: quorin.exe started with exactly that command line, beside
# the resident; prints qlaunch's report, flattened.
oneshot() {
    printf '%s' "$1" >"$work/cmdline.txt"
    ql run "$exe" "$(win_path "$work/cmdline.txt")" "$(win_path "$work/oneshot.txt")" $((10000 * slow))
    flatten <"$work/oneshot.txt"
}

reg_lines() {
    view_lines "${QUORIN_REG_VIEW:-}" "$@"
}

# view_lines VIEW KEY ARGS...: reg query in that view (/reg:32, /reg:64 or
# empty for the program's own).
view_lines() {
    local view=$1
    shift
    "$WINE" reg query "$@" ${view:+"$view"} 2>/dev/null | tr -d '\r' |
        awk 'NF >= 3 && $2 ~ /^REG_/ { $1 = $1; print }'
}

# --- cleanup --------------------------------------------------------------

# shellcheck disable=SC2317  # run by the EXIT trap
finish() {
    local rc=$? p problem=""
    trap - EXIT
    if [ -n "$noshell_pid" ]; then
        touch "$work/noshell-close"
        wait "$noshell_pid"
    fi
    if [ -n "$holder_pid" ]; then
        touch "$work/mutex-close"
        wait "$holder_pid"
    fi
    if [ -n "$reference_pid" ]; then
        touch "$work"/*-close 2>/dev/null || touch "$work/stray-close"
        for p in "$work"/*.items; do touch "${p%.items}-close"; done
        poll 3 not_running "$reference_pid" || kill "$reference_pid" 2>/dev/null
        wait "$reference_pid" 2>/dev/null
    fi
    for p in "${resident_pids[@]}"; do
        # An open menu would keep the window from taking WM_CLOSE in time.
        if [ -n "$(popups_of "$p")" ]; then
            xdotool mousemove "$park_x" "$park_y" click 1
            poll 3 popup_count_is "$p" 0
        fi
        case $(end_resident "$p" | head -n 1) in
        $'EXIT\t0' | $'EXIT\t1' | $'EXIT\tGONE') ;;
        *) problem+="pid $p had to be ended; " ;;
        esac
    done
    xdotool mousemove "$park_x" "$park_y" 2>/dev/null
    restore_display || problem+="the display did not return to $baseline; "
    [ "$registry_touched" = 0 ] || clear_registry
    for p in "${made_folders[@]}"; do rm -rf "$p"; done
    rm -rf "$work"
    if [ -n "$verdict" ]; then
        echo "$verdict ($(elapsed))"
        exit 1
    fi
    if [ "$rc" -ne 0 ]; then
        echo "FAIL $name: the script stopped with exit code $rc ($(elapsed))"
        exit 1
    fi
    if [ -n "$problem" ]; then
        echo "FAIL $name: passed, but ${problem%; } ($(elapsed))"
        exit 1
    fi
    echo "PASS $name ($(elapsed))"
    exit 0
}

not_running() {
    ! kill -0 "$1" 2>/dev/null
}

# --- the cases ------------------------------------------------------------

case_icon() {
    icon_gone || fail "the icon is in the notification area before the program started"
    start_resident
    locate_icon
    [ "$(tray_pids | tr '\n' ' ')" = "$pid " ] ||
        fail "expected one \"Quorin Tray\" window, of pid $pid, got pids [$(tray_pids | tr '\n' ' ')]"
    [ "$(report windows "Quorin Tray" | awk -F'\t' '{ print $3 }')" = 0 ] ||
        fail "expected the \"Quorin Tray\" window to stay hidden, got it visible"
}

case_second_start() {
    start_resident
    local got
    got=$(oneshot "")
    [ "$got" = "[EXIT|1][MODE|$baseline]" ] ||
        fail "second resident start: expected [EXIT|1][MODE|$baseline] got $got"
    [ "$(tray_pids | tr '\n' ' ')" = "$pid " ] ||
        fail "expected only the first instance's window (pid $pid), got pids [$(tray_pids | tr '\n' ' ')]"
}

case_oneshot_while_resident() {
    start_resident
    local got
    got=$(oneshot 800x600)
    [ "$got" = "[EXIT|0][MODE|800x600x32@60]" ] ||
        fail "one-shot 800x600 beside the resident: expected [EXIT|0][MODE|800x600x32@60] got $got"
    has_tray_window "$pid" || fail "the resident instance (pid $pid) lost its window during the one-shot"
}

case_menu() {
    start_resident
    locate_icon
    open_expected_menu top "$modes_default" 1024x768
    top_items=("${ref_items[@]}")
    import -window root -crop "1024x768+0+0" +repage "$bin/resident-menu.png"
    open_settings settings
    import -window root -crop "1024x768+0+0" +repage "$bin/resident-settings.png"
    close_menus settings
    reference settings ${sub_rect% * *} < <(settings_items)
    same_picture settings
    mode_is "$baseline" || fail "opening and closing the menu changed the mode: expected $baseline got $(current_mode)"
    has_tray_window "$pid" || fail "the resident instance ended after the menu closed"
}

case_left_button() {
    start_resident
    locate_icon
    open_expected_menu left "$modes_default" 1024x768 1
    close_menus left
}

case_choose_mode() {
    start_resident
    locate_icon
    open_expected_menu top "$modes_default" 1024x768
    # Items: Settings, separator, then the modes from position 2.
    click "${ref_items[4]}"
    poll 5 mode_is 800x600x32@60 ||
        fail "choosing \"800x600 60 Hz\": expected mode 800x600x32@60 got $(current_mode)"
    # The next menu checks the new mode; the icon sits in the new taskbar.
    locate_icon
    [ "$desk_w"x"$desk_h" = 800x600 ] || fail "expected an 800x600 desktop, got ${desk_w}x$desk_h"
    open_expected_menu after "$modes_default" 800x600
    close_menus after
}

case_low_res() {
    registry_touched=1
    start_resident
    locate_icon
    check_menus before "$modes_default" 1024x768
    choose_setting "$sub_low"
    check_menus after "$modes_low" 1024x768 "$sub_low"
    local got
    got=$(reg_lines "$settings_key")
    [ -z "$got" ] || fail "a filter toggle without \"Save settings\": expected no values under $settings_key, got [$got]"
}

case_save_settings() {
    registry_touched=1
    start_resident
    locate_icon
    check_menus before "$modes_default" 1024x768
    choose_setting "$sub_low"
    # The longer list moves the menu: new positions for the clicks.
    check_menus after "$modes_low" 1024x768 "$sub_low"
    choose_setting "$sub_save"
    local got expected
    got=$(reg_lines "$settings_key" | sort)
    expected=$'DisplayLoRes REG_DWORD 0x1\nDisplayNonStdRatio REG_DWORD 0x0'
    [ "$got" = "$expected" ] ||
        fail "after \"Save settings\": expected [${expected//$'\n'/; }] under $settings_key, got [${got//$'\n'/; }]"
    got=$(reg_lines "$run_key" /v Quorin)
    [ -z "$got" ] || fail "autostart is off: expected no Run value Quorin, got [$got]"
    # The next start loads what was saved.
    got=$(end_resident "$pid" | flatten)
    [ "$got" = "[EXIT|0][MODE|$baseline]" ] || fail "ending the first instance: expected [EXIT|0][MODE|$baseline] got $got"
    start_resident
    locate_icon
    open_expected_menu restarted "$modes_low" 1024x768
    close_menus restarted
}

case_autostart() {
    registry_touched=1
    start_resident
    locate_icon
    check_menus before "$modes_default" 1024x768
    choose_setting "$sub_autostart"
    local got expected
    expected="Quorin REG_SZ \"$exe\""
    got=$(reg_lines "$run_key" /v Quorin)
    [ "$got" = "$expected" ] || fail "after \"Autostart\": expected [$expected] under $run_key, got [$got]"
    got=$(reg_lines "$settings_key")
    [ -z "$got" ] || fail "\"Autostart\" alone: expected no display values under $settings_key, got [$got]"
    check_menus checked "$modes_default" 1024x768 "$sub_autostart"
    choose_setting "$sub_autostart"
    got=$(reg_lines "$run_key" /v Quorin)
    [ -z "$got" ] || fail "after \"Autostart\" again: expected no Run value Quorin, got [$got]"
}

case_exit() {
    start_resident
    locate_icon
    open_expected_menu top "$modes_default" 1024x768
    local got
    choose_exit
    got=$(flatten <"$work/exit.txt")
    [ "$got" = "[EXIT|0][MODE|$baseline]" ] || fail "after \"Exit\": expected [EXIT|0][MODE|$baseline] got $got"
    poll 3 icon_gone || fail "after \"Exit\": expected no icon in the notification area, got it at $icon_at"
    no_tray_window "$pid" || fail "after \"Exit\": the \"Quorin Tray\" window of pid $pid is still there"
}

case_outside_close() {
    start_resident
    locate_icon
    local got first=$pid
    got=$(end_resident "$pid" | flatten)
    [ "$got" = "[EXIT|0][MODE|$baseline]" ] || fail "WM_CLOSE from outside: expected [EXIT|0][MODE|$baseline] got $got"
    poll 3 icon_gone || fail "WM_CLOSE from outside: expected no icon, got it at $icon_at"
    # The mutex was released: a new resident start stays.
    start_resident
    [ "$pid" != "$first" ] || fail "the second start reported the first pid $first"
    locate_icon
}

# The folders people unzip into, under a profile named in their own script.
# Wine's ANSI code page here is 1252, as on Western-European Windows: it
# holds none of the Cyrillic or Japanese letters and only a look-alike L for
# the Polish Ł.
case_autostart_folders() {
    registry_touched=1
    local folder unix path got expected
    for folder in 'Portable Tools\Quorin 1.0' 'Программы\Quorin' 'Łódź\Quorin' 'ツール\Quorin'; do
        unix="$WINEPREFIX/drive_c/${folder//\\//}"
        made_folders+=("$WINEPREFIX/drive_c/${folder%%\\*}")
        mkdir -p "$unix"
        cp "$bin/quorin.exe" "$bin/Quorin.ico" "$unix/"
        path="C:\\$folder\\quorin.exe"
        start_resident_from "$path"
        # The image comes from the icon file in that folder.
        locate_icon
        [ "$(report command "$pid" "Quorin Tray" 2 | flatten)" = "[POSTED|1]" ] ||
            fail "$folder: could not choose Autostart"
        poll 5 autostart_read_is_not "[RUN|MISSING]"
        # The entry, read wide and started as the shell starts it at logon,
        # starts this very program: a second start, which ends with 1.
        expected="[RUN|\"${path//\\/\\\\}\"][IMAGE|${path//\\/\\\\}][EXIT|1][MODE|$baseline]"
        [ "$autostart_read" = "$expected" ] ||
            fail "$folder: after \"Autostart\": expected $expected got $autostart_read"
        [ "$(report command "$pid" "Quorin Tray" 2 | flatten)" = "[POSTED|1]" ] ||
            fail "$folder: could not choose Autostart again"
        poll 5 autostart_read_is "[RUN|MISSING]" ||
            fail "$folder: after \"Autostart\" again: expected [RUN|MISSING] got $autostart_read"
        got=$(end_resident "$pid" | flatten)
        [ "$got" = "[EXIT|0][MODE|$baseline]" ] ||
            fail "$folder: ending the instance: expected [EXIT|0][MODE|$baseline] got $got"
        poll 3 icon_gone || fail "$folder: the icon outlived its instance"
    done
}

# qlaunch autostart: the Run value read wide, and what starting it gave.
autostart_read_is() {
    autostart_read=$(report autostart $((5000 * slow)) | flatten)
    [ "$autostart_read" = "$1" ]
}

autostart_read_is_not() {
    ! autostart_read_is "$1"
}

# A folder whose quorin.exe path has 255 characters: the Run value, quoted,
# no longer fits what the ANSI interface read into 256 bytes. The next start
# must show Autostart ticked, and choosing it must remove the entry.
case_autostart_long_folder() {
    registry_touched=1
    local folder="" part unix path got expected
    for part in 1 2 3; do
        folder+="Tools for every display, kept by an administrator, number $part of many\\"
    done
    folder+="Quorin $(printf '%*s' $((241 - ${#folder} - 7)) '' | tr ' ' 'q')"
    path="C:\\$folder\\quorin.exe"
    [ "${#path}" = 255 ] || usage_exit "the long folder's path has ${#path} characters, not 255"
    unix="$WINEPREFIX/drive_c/${folder//\\//}"
    made_folders+=("$WINEPREFIX/drive_c/${folder%%\\*}")
    mkdir -p "$unix"
    cp "$bin/quorin.exe" "$bin/Quorin.ico" "$unix/"
    start_resident_from "$path"
    locate_icon
    check_menus before "$modes_default" 1024x768
    choose_setting "$sub_autostart"
    expected="Quorin REG_SZ \"$path\""
    got=$(reg_lines "$run_key" /v Quorin)
    [ "$got" = "$expected" ] || fail "after \"Autostart\": expected [$expected] under $run_key, got [$got]"
    got=$(end_resident "$pid" | flatten)
    [ "$got" = "[EXIT|0][MODE|$baseline]" ] || fail "ending the first instance: expected [EXIT|0][MODE|$baseline] got $got"
    start_resident_from "$path"
    locate_icon
    check_menus restarted "$modes_default" 1024x768 "$sub_autostart"
    choose_setting "$sub_autostart"
    got=$(reg_lines "$run_key" /v Quorin)
    [ -z "$got" ] || fail "after \"Autostart\" again: expected no Run value Quorin, got [$got]"
}

# approve FLAGS: Task Manager's approval of the Run value Quorin, the flags
# byte then a FILETIME.
approve() {
    "$WINE" reg add "$approval_key" /v Quorin /t REG_BINARY /d "${1}000000102b6e1c935adb01" /f \
        ${approval_view:+"$approval_view"} >/dev/null 2>&1 || fail "reg add $approval_key /v Quorin failed"
}

# An entry that Task Manager switched off loads as off; choosing Autostart
# switches it on again and the entry starts the program; one switched on
# loads as on.
case_autostart_approval() {
    registry_touched=1
    local got expected
    "$WINE" reg add "$run_key" /v Quorin /t REG_SZ /d "\"$exe\"" /f ${QUORIN_REG_VIEW:+"$QUORIN_REG_VIEW"} \
        >/dev/null 2>&1 || fail "reg add $run_key /v Quorin failed"
    approve 03
    start_resident
    locate_icon
    check_menus off "$modes_default" 1024x768
    choose_setting "$sub_autostart"
    expected="Quorin REG_BINARY 020000000000000000000000"
    got=$(view_lines "$approval_view" "$approval_key" /v Quorin)
    [ "$got" = "$expected" ] || fail "after \"Autostart\": expected [$expected] under $approval_key, got [$got]"
    expected="[RUN|\"${exe//\\/\\\\}\"][IMAGE|${exe//\\/\\\\}][EXIT|1][MODE|$baseline]"
    poll 5 autostart_read_is "$expected" || fail "after \"Autostart\": expected $expected got $autostart_read"
    got=$(end_resident "$pid" | flatten)
    [ "$got" = "[EXIT|0][MODE|$baseline]" ] || fail "ending the first instance: expected [EXIT|0][MODE|$baseline] got $got"
    approve 02
    start_resident
    locate_icon
    check_menus on "$modes_default" 1024x768 "$sub_autostart"
}

case_icon_back() {
    start_resident
    locate_icon
    local got
    got=$(report untray "$pid" "Quorin Tray" | flatten)
    [ "$got" = "[REMOVED|1]" ] || fail "removing the icon from outside: expected [REMOVED|1] got $got"
    poll 3 icon_gone || fail "the icon is still there after its removal from outside, at $icon_at"
    got=$(oneshot "")
    [ "$got" = "[EXIT|1][MODE|$baseline]" ] ||
        fail "second resident start: expected [EXIT|1][MODE|$baseline] got $got"
    poll 5 icon_shown || fail "after a second start: expected the icon back in the notification area, got none"
    [ "$(tray_pids | tr '\n' ' ')" = "$pid " ] ||
        fail "expected only the first instance's window (pid $pid), got pids [$(tray_pids | tr '\n' ' ')]"
}

# At logon the notification area may not be ready: a shell that refuses every
# icon holds for a while, then the real one takes over.
case_logon() {
    local got refused held
    "$WINE" "$bin/qlaunch.exe" noshell "$(win_path "$work/noshell-ready")" \
        "$(win_path "$work/noshell-close")" "$(win_path "$work/noshell.txt")" >>"$work/qlaunch.err" 2>&1 &
    noshell_pid=$!
    poll 10 test -f "$work/noshell-ready" || fail "qlaunch noshell did not come up"
    start_resident
    sleep $((3 * slow))
    icon_gone || fail "the icon is shown although the shell refused it, at $icon_at"
    touch "$work/noshell-close"
    wait "$noshell_pid"
    noshell_pid=""
    poll 5 icon_shown || fail "the shell is ready: expected the icon within $((5 * slow)) s, got none"
    got=$(flatten <"$work/noshell.txt")
    refused=$(sed -n 's/^REFUSED\t//p' "$work/noshell.txt")
    held=$(sed -n 's/^HELD\t//p' "$work/noshell.txt")
    # The add, then at each retry a look for the icon and an add: every 2 s,
    # not in a busy loop.
    [ "${refused:-0}" -ge 3 ] || fail "expected the add to be tried again while the shell refused, got $got"
    [ "$refused" -le $((held / 1000 + 3)) ] || fail "tried too often for one try every 2 s: $got"
    has_tray_window "$pid" || fail "the resident instance ended"
}

# An elevated instance's mutex: every other process may only wait on it, as
# for a standard user's Quorin beside one started "Run as administrator".
# Wine's server checks the DACL as Windows does.
case_elevated_instance() {
    local got
    "$WINE" "$bin/qlaunch.exe" holdmutex Quorin 'D:(A;;0x00100000;;;WD)' "$(win_path "$work/mutex-ready")" \
        "$(win_path "$work/mutex-close")" "$(win_path "$work/mutex.txt")" >>"$work/qlaunch.err" 2>&1 &
    holder_pid=$!
    poll 10 test -f "$work/mutex-ready" ||
        fail "qlaunch holdmutex did not take the mutex: $(tr '\n' ' ' <"$work/qlaunch.err")"
    got=$(oneshot "")
    [ "$got" = "[EXIT|1][MODE|$baseline]" ] ||
        fail "a start beside an elevated instance: expected [EXIT|1][MODE|$baseline] got $got"
    [ -z "$(tray_pids)" ] || fail "expected no \"Quorin Tray\" window, got pids [$(tray_pids | tr '\n' ' ')]"
    touch "$work/mutex-close"
    wait "$holder_pid"
    holder_pid=""
    got=$(flatten <"$work/mutex.txt")
    [ "$got" = "[HELD|0]" ] || fail "expected the helper to have made the mutex anew, got $got"
}

# A uxtheme.dll and a dwmapi.dll that a web page dropped into Downloads
# beside the program: Wine, for a library set native-first, and Windows, for
# one that is not a known DLL, take a library that a system DLL loads by name
# from the program's folder first. qlaunch's copy in that folder loads them
# (the plant works), then the program runs its menu and a one-shot there; the
# plant marks every process it runs in.
case_dll_plant() {
    local folder=$WINEPREFIX/drive_c/Downloads marker=$WINEPREFIX/drive_c/plant-marker.txt
    local dir='C:\Downloads' lib got control=""
    [ -f "$bin/plant.dll" ] || fail "no plant.dll in $bin"
    made_folders+=("$folder" "$marker")
    rm -f "$marker"
    mkdir -p "$folder"
    cp "$bin/quorin.exe" "$bin/Quorin.ico" "$bin/qlaunch.exe" "$folder/"
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme,dwmapi=n,b"
    for lib in uxtheme.dll dwmapi.dll; do
        cp "$bin/plant.dll" "$folder/$lib"
        got=$(bin=$folder report loadlib "$lib" | flatten)
        [ "$got" = "[LOADED|1]" ] || fail "qlaunch beside the plant: loading $lib: expected [LOADED|1] got $got"
        control+="[$dir\\qlaunch.exe|$dir\\$lib]"
    done
    got=$(flatten <"$marker" 2>/dev/null)
    [ "$got" = "$control" ] || fail "qlaunch beside the plant: expected C:\\plant-marker.txt $control got ${got:-no line}"
    start_resident_from "$dir\\quorin.exe"
    exe="$dir\\quorin.exe"
    locate_icon
    open_expected_menu left "$modes_default" 1024x768 1
    close_menus left
    open_expected_menu right "$modes_default" 1024x768
    close_menus right
    open_expected_menu top "$modes_default" 1024x768
    click "${ref_items[4]}"
    poll 5 mode_is 800x600x32@60 ||
        fail "choosing \"800x600 60 Hz\": expected mode 800x600x32@60 got $(current_mode)"
    locate_icon
    open_expected_menu after "$modes_default" 800x600
    choose_exit
    got=$(flatten <"$work/exit.txt")
    [ "$got" = "[EXIT|0][MODE|800x600x32@60]" ] || fail "after \"Exit\": expected [EXIT|0][MODE|800x600x32@60] got $got"
    got=$(flatten <"$marker")
    [ "$got" = "$control" ] || fail "after the resident's menus: expected C:\\plant-marker.txt to hold qlaunch's lines only, $control, got $got"
    got=$(oneshot 640x480)
    [ "$got" = "[EXIT|0][MODE|640x480x32@60]" ] || fail "one-shot 640x480: expected [EXIT|0][MODE|640x480x32@60] got $got"
    got=$(flatten <"$marker")
    [ "$got" = "$control" ] || fail "after the one-shot: expected C:\\plant-marker.txt to hold qlaunch's lines only, $control, got $got"
}

# --- the Xorg display: real rates, modes that come and go ------------------

# The sizes that mode-gained adds, one a run: Wine keeps offering a mode that
# the X server dropped, so an added mode stays for the rest of the session.
gained_sizes="1440x1080 1200x900 1344x1008 960x720 1088x816"

# The menu's modes on the Xorg display: the driver's, and those that
# mode-gained added before, each size at its place in Wine's enumeration
# (by width), its rates rising.
xorg_modes() {
    local offered size
    offered=$(report modes)
    {
        printf '%s\n' $modes_xorg
        for size in $gained_sizes; do
            grep -qx "OFFERED	${size}x32@60" <<<"$offered" && echo "$size@60"
        done
    } | awk -F'[x@]' '{ print $1, $3, $0 }' | sort -n -k1,1 -k2,2 | cut -d' ' -f3 | tr '\n' ' '
}

# item_rect MODES MODE: the rectangle of MODE's item in the reference menu
# of MODES (after Settings and a separator).
item_rect() {
    local i=2 m
    for m in $1; do
        [ "$m" != "$2" ] || {
            echo "${ref_items[$i]}"
            return 0
        }
        i=$((i + 1))
    done
    return 1
}

# choose_item MODES MODE DEPTH: a click on MODE's item of the open menu of
# MODES; the display must switch to that mode at that depth.
choose_item() {
    local size=${2%@*} rate=${2#*@}
    click "$(item_rect "$1" "$2")"
    poll "$switch_wait" mode_is "${size}x$3@$rate" ||
        fail "choosing \"$size $rate Hz\": expected mode ${size}x$3@$rate got $(current_mode)"
}

# An item per rate, each size's rates rising, the rate it runs at checked.
case_rate_items() {
    start_resident
    locate_icon
    open_expected_menu top "$(xorg_modes)" 1024x768@85
    close_menus top
}

case_choose_rate() {
    local modes
    modes=$(xorg_modes)
    start_resident
    locate_icon
    open_expected_menu top "$modes" 1024x768@85
    choose_item "$modes" 1024x768@70 32
}

# The check mark names the rate the display runs at, not the first item of
# its size.  Wine keeps a running program's refresh rate as it started
# unless the program switches itself, so the switch comes from the menu.
case_rate_checked() {
    local modes
    modes=$(xorg_modes)
    start_resident
    locate_icon
    open_expected_menu top "$modes" 1024x768@85
    choose_item "$modes" 800x600@72 32
    locate_icon
    open_expected_menu after "$modes" 800x600@72
    close_menus after
}

# A mode that the display gains while the instance runs, as when a monitor
# is plugged in, is in the next menu, and choosing it switches to it.
case_mode_gained() {
    local before size="" s output
    before=$(xorg_modes)
    for s in $gained_sizes; do
        [[ " $before " == *" $s@60 "* ]] || {
            size=$s
            break
        }
    done
    [ -n "$size" ] || usage_exit "every size that mode-gained adds is offered already; start a new session"
    start_resident
    locate_icon
    open_expected_menu before "$before" 1024x768@85
    close_menus before
    output=$(xrandr | awk '$2 == "connected" { print $1; exit }')
    add_x_mode "$output" "$size" || fail "xrandr could not add $size to $output"
    poll 5 offered "${size}x32@60" || fail "Wine does not offer the added ${size}x32@60: $(report modes | grep -c OFFERED) modes"
    local after
    after=$(xorg_modes)
    [[ " $after " == *" $size@60 "* ]] || fail "the expected menu lacks $size"
    open_expected_menu after "$after" 1024x768@85
    choose_item "$after" "$size@60" 32
}

offered() {
    report modes | grep -qx "OFFERED	$1"
}

# A mode the display lists twice, as Windows drivers list each scaling
# variant: the dummy driver's 1024x768 at 60 Hz once more under a name of its
# own, which Wine then enumerates a second time. The menu lists it once.
case_mode_twice() {
    local output timing
    output=$(xrandr | awk '$2 == "connected" { print $1; exit }')
    if ! xrandr | grep -q '^ *quorin-1024x768-again '; then
        timing=$(xrandr --verbose | awk '
            $1 == "1024x768" && $2 ~ /^\(0x/ { clock = $3; flags = $4 " " $5; getline h; getline v
                split(h, hs, " +"); split(v, vs, " +")
                if (v ~ / 60\.00Hz/) { print clock, hs[4], hs[6], hs[8], hs[10], vs[4], vs[6], vs[8], vs[10], flags; exit } }')
        [ -n "$timing" ] || fail "xrandr lists no 1024x768 mode at 60 Hz"
        # shellcheck disable=SC2086  # the timing's words are xrandr's arguments
        xrandr --newmode quorin-1024x768-again ${timing//MHz/} &&
            xrandr --addmode "$output" quorin-1024x768-again || fail "xrandr could not add 1024x768 again: [$timing]"
    fi
    poll 5 offered_twice 1024x768x32@60 ||
        fail "Wine does not list 1024x768x32@60 twice: [$(report modes | grep -x 'OFFERED	1024x768x32@60' | tr '\n' ' ')]"
    start_resident
    locate_icon
    open_expected_menu top "$(xorg_modes)" 1024x768@85
    close_menus top
}

offered_twice() {
    [ "$(report modes | grep -c -x "OFFERED	$1")" = 2 ]
}

# Another program, a game say, ends at 16 bits per pixel: the next menu lists
# the modes at that depth, and its items switch at that depth.
case_depth_changed() {
    local modes got
    modes=$(xorg_modes)
    start_resident
    locate_icon
    got=$(report set 1024x768x16@85 | flatten)
    [ "$got" = "[RESULT|0][MODE|1024x768x16@85]" ] || fail "another program's switch to 16 bits: got $got"
    # The labels are those of 32 bits; an old list would leave no item checked.
    open_expected_menu top "$modes" 1024x768@85
    choose_item "$modes" 800x600@75 16
}

# add_x_mode OUTPUT WxH: a 60 Hz mode of that size for the X output, timed
# loosely, as the dummy driver's monitor takes any.
add_x_mode() {
    local w=${2%x*} h=${2#*x} clock
    clock=$(awk -v w="$w" -v h="$h" 'BEGIN { printf "%.4f", (w + 160) * (h + 30) * 60 / 1e6 }')
    xrandr --newmode "quorin-$2" "$clock" "$w" $((w + 48)) $((w + 80)) $((w + 160)) \
        "$h" $((h + 3)) $((h + 7)) $((h + 30)) -hsync +vsync &&
        xrandr --addmode "$1" "quorin-$2"
}

# --- beside a second monitor ----------------------------------------------

# arrange LAYOUT: x_layout, and Windows' origin in X's coordinates.
arrange() {
    x_layout "$1" ||
        fail "Wine did not take in the layout '$1': X server [$(x_outputs)], Wine's monitors $(flatten 2>/dev/null <"$work/monitors.txt")"
    read -r origin_x origin_y < <(x_rects | awk '$7 == 1 { print $4, $5 }')
    park_x=$((park_x + origin_x))
    park_y=$((park_y + origin_y))
}

outputs_are() {
    [ "$(x_outputs)" = "$1" ]
}

# outputs_become OUTPUTS WHAT: the X server's word after WHAT.
outputs_become() {
    poll "$switch_wait" outputs_are "$1" ||
        fail "after $2: expected the X server's outputs [$1] got [$(x_outputs)]"
}

# The menu holds the primary's modes only, not the 1536x1152 that DUMMY1
# alone offers, and checks the primary's; an item switches the primary, and
# DUMMY1 keeps its mode beside it.
case_menu_second_right() {
    local holders
    holders=$(xrandr --current | awk '/^[^ ]/ { out = $1 } $1 == "quorin-1536x1152" { print out }' | tr '\n' ' ')
    [ "$holders" = "DUMMY1 " ] || fail "expected the session's 1536x1152 on DUMMY1 alone, got it on [$holders]"
    start_resident
    locate_icon
    open_expected_menu top "$modes_xorg" 1024x768@85
    choose_item "$modes_xorg" 800x600@72 32
    outputs_become "DUMMY0 800x600@72+0+0 primary, DUMMY1 1280x1024@85+800+0" "choosing \"800x600 72 Hz\""
}

# DUMMY1 on the left, in negative Windows coordinates.  The keyboard opens
# the menu, the pointer on the primary: Wine 10 leaves the notification
# area's X window at X's top left, on DUMMY1, when the screen moves under it,
# and a press there would not reach the icon where Windows has it.
case_menu_second_left() {
    arrange left
    start_resident
    click_x=$((origin_x + 40))
    click_y=$((origin_y + 60))
    open_expected_menu top "$modes_xorg" 1024x768@85 key
    choose_item "$modes_xorg" 640x480@75 32
    outputs_become "DUMMY0 640x480@75+1280+0 primary, DUMMY1 1280x1024@85+0+0" "choosing \"640x480 75 Hz\""
}

# The pointer rests on DUMMY1 near its bottom left corner when the keyboard
# opens the menu: it opens there, whole, within DUMMY1, as qlaunch's own menu
# at that point does.
case_menu_on_second() {
    local w h l t ml mt mr mb
    arrange right
    read -r w h l t < <(x_rects | awk '$1 == "DUMMY1" { print $2, $3, $4, $5 }')
    start_resident
    click_x=$((l + 20))
    click_y=$((t + h - 20))
    open_expected_menu top "$modes_xorg" 1024x768@85 key
    read -r ml mt mr mb <<<"$got_rect"
    [ "$ml" -ge "$l" ] && [ "$mt" -ge "$t" ] && [ "$mr" -le $((l + w)) ] && [ "$mb" -le $((t + h)) ] ||
        fail "expected the menu within DUMMY1 [$l $t $((l + w)) $((t + h))], got it at [$got_rect]"
    close_menus top
}

# --- not a test: menu_timing.sh --------------------------------------------

# time_menu_opening EXE: a fresh instance of that program, a right-button
# press on its icon; sets opening_us to the microseconds until its menu is on
# screen, as qlaunch, which presses, sees it.
time_menu_opening() {
    local program=$exe opened
    exe=$1
    start_resident
    exe=$program
    locate_icon
    opened=$(report press "$pid" "$click_x" "$click_y" | sed -n 's/^OPENED\t//p')
    [[ $opened =~ ^[0-9]+$ ]] || fail "the menu of $1 did not open: [$opened]"
    opening_us=$opened
    xdotool mousemove "$park_x" "$park_y"
    close_menus timing
    [ "$(end_resident "$pid" | head -n 1)" = $'EXIT\t0' ] || fail "the instance of $1 did not end with 0"
    # Ended: its pid may soon be another process's.
    unset 'resident_pids[-1]'
}

# Pairs of "program other" microseconds into QUORIN_MENU_TIMING_OUT, the
# order alternating, for this build and QUORIN_MENU_TIMING_OTHER (a Windows
# path).
case_menu_timing() {
    local other=${QUORIN_MENU_TIMING_OTHER:?} out=${QUORIN_MENU_TIMING_OUT:?} i mine theirs
    : >"$out"
    for ((i = 0; i < ${QUORIN_MENU_TIMING_PAIRS:-21}; i++)); do
        if ((i % 2 == 0)); then
            time_menu_opening "$exe" && mine=$opening_us
            time_menu_opening "$other" && theirs=$opening_us
        else
            time_menu_opening "$other" && theirs=$opening_us
            time_menu_opening "$exe" && mine=$opening_us
        fi
        echo "$mine $theirs" >>"$out"
    done
}

# On a scaled display the program reads the display unscaled, as it declares
# itself DPI-aware: its menu, drawn at the display's DPI, checks the mode that
# the display is in.
case_scaled_menu() {
    start_resident
    locate_icon
    open_expected_menu top "$modes_scaled" 1600x1200
    close_menus top
}

case_scaled_oneshot() {
    start_resident
    locate_icon
    local got
    got=$(oneshot 1280x960)
    [ "$got" = "[EXIT|0][MODE|1280x960x32@60]" ] ||
        fail "one-shot 1280x960 at LogPixels $QUORIN_WINE_DPI: expected [EXIT|0][MODE|1280x960x32@60] got $got"
    locate_icon
    open_expected_menu after "$modes_scaled" 1280x960
    close_menus after
}

# guide_command REG-ARGUMENTS: the 64-bit reg.exe with exactly that text after
# its name, as a command prompt starts it; prints qlaunch's report, then what
# reg.exe wrote.
guide_command() {
    local seen
    seen=$(wc -c <"$work/qlaunch.err")
    printf '%s' "$1" >"$work/reg-args.txt"
    ql run 'C:\windows\sysnative\reg.exe' "$(win_path "$work/reg-args.txt")" \
        "$(win_path "$work/reg-report.txt")" $((10000 * slow))
    flatten <"$work/reg-report.txt"
    echo
    tail -c +$((seen + 1)) "$work/qlaunch.err" | tr -d '\r'
}

# The Windows guide's uninstall command, as the guide spells it, run by the
# 64-bit reg.exe of a 64-bit prefix after the 32-bit program set Autostart.
case_uninstall_command() {
    registry_touched=1
    local line args got expected
    line=$(sed -n 's/^ *\(reg delete "HKLM.*\)$/\1/p' "$here/../../docs/README.txt")
    [ -n "$line" ] && [ "$(wc -l <<<"$line")" = 1 ] ||
        fail "expected one 'reg delete \"HKLM...' line in docs/README.txt, got [$line]"
    args=${line#reg }
    [ "${args% /reg:32}" != "$args" ] || fail "the guide's command does not end with /reg:32: [$line]"
    start_resident
    locate_icon
    check_menus before "$modes_default" 1024x768
    choose_setting "$sub_autostart"
    expected="Quorin REG_SZ \"$exe\""
    got=$(reg_lines "$run_key" /v Quorin)
    [ "$got" = "$expected" ] || fail "after \"Autostart\": expected [$expected] in the 32-bit view of $run_key, got [$got]"
    # Without /reg:32 the 64-bit reg.exe looks in the 64-bit view.  Wine's
    # reg.exe words its outcomes its own way (Windows: "ERROR: The system was
    # unable to find the specified registry key or value.").
    got=$(guide_command "${args% /reg:32}")
    expected="[EXIT|1][MODE|$baseline]"$'\n'"reg: Unable to find the specified registry value"
    [ "$got" = "$expected" ] || fail "[${line% /reg:32}]: expected [${expected//$'\n'/ }] got [${got//$'\n'/ }]"
    got=$(reg_lines "$run_key" /v Quorin)
    [ -n "$got" ] || fail "[${line% /reg:32}] removed the value of the 32-bit view"
    got=$(guide_command "$args")
    expected="[EXIT|0][MODE|$baseline]"$'\n'"reg: The operation completed successfully"
    [ "$got" = "$expected" ] || fail "[$line]: expected [${expected//$'\n'/ }] got [${got//$'\n'/ }]"
    got=$(reg_lines "$run_key" /v Quorin)
    [ -z "$got" ] || fail "after [$line]: expected no Run value Quorin in the 32-bit view, got [$got]"
}

trap finish EXIT
restore_display ||
    fail "could not set the starting mode $baseline: $(report mode | flatten)$([ "${QUORIN_WINE_MONITORS:-1}" != 2 ] || echo " (X server: $(x_outputs))")"
clear_registry
[ -z "$(tray_pids)" ] ||
    fail "a resident instance from before is still running (pids $(tray_pids | tr '\n' ' '))"
"case_${name//-/_}"
