#!/usr/bin/env bash
# One Wine session for the end-to-end tests: Xvfb, a fresh prefix and a
# 1024x768 virtual desktop with a taskbar (or, scaled, 1600x1200) that every
# later Wine program of the session's environment joins; or an Xorg display
# with real refresh rates and no virtual desktop.
#
#   session.sh start STATE_DIR   bring it up (prefix at STATE_DIR/prefix)
#   session.sh env STATE_DIR     print the exports for other scripts to eval
#   session.sh stop STATE_DIR    end what start started; idempotent
#
# QUORIN_XDISPLAY: X display number to use; it must be free.  Unset: the
#   first free one from 97 up.
# QUORIN_USE_DISPLAY=1: use the X display in DISPLAY instead of an Xvfb.
# QUORIN_WINE_ARCH: win64 (default: the system's wine64) or win32 (a
#   32-bit prefix run by the 32-bit Wine that scripts/install-wine32.sh puts
#   in QUORIN_WINE32, default /opt/quorin-wine32).
# QUORIN_WINE_IMPL: wine8 (default: Debian 12's Wine, of the width above) or
#   wine10 (a 64-bit prefix under the Wine 10 that scripts/install-wine10.sh
#   puts in QUORIN_WINE10, default /opt/quorin-wine10, where the 32-bit build
#   runs as on 64-bit Windows).
# QUORIN_WINE_DPI: 96, 120, 144 or 192 under wine10: a scaled session
#   instead, a 1600x1200 desktop on a 1600x1200 screen at that LogPixels (100,
#   125, 150 or 200 %).
# QUORIN_WINE_DISPLAY: xvfb (default) or xorg: Xorg with its dummy video
#   driver instead of Xvfb, which offers the driver's own modes at their
#   rates (56 to 85 Hz), 1024x768 at 85 Hz to start with, and modes added
#   with xrandr; Wine runs without a virtual desktop, its notification area a
#   small window of its own.  Not with QUORIN_WINE_DPI or QUORIN_USE_DISPLAY.
# QUORIN_WINE_MONITORS: 1 (default) or 2, Xorg only: a second monitor,
#   1280x1024 at 85 Hz on the dummy's output DUMMY1, right of the primary
#   DUMMY0, before Wine starts; it alone offers 1536x1152.
# QUORIN_WINE_BIN: directory holding qlaunch.exe of that width (default:
#   build/win64 or build/win32 of this tree; build/win32 under wine10).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
arch=${QUORIN_WINE_ARCH:-win64}
case $arch in win32 | win64) ;; *) echo "session.sh: QUORIN_WINE_ARCH must be win32 or win64" >&2; exit 1 ;; esac
impl=${QUORIN_WINE_IMPL:-wine8}
case $impl/$arch in
wine8/* | wine10/win64) ;;
wine10/*) echo "session.sh: Wine 10 sessions are 64-bit prefixes (QUORIN_WINE_ARCH=win64)" >&2; exit 1 ;;
*) echo "session.sh: QUORIN_WINE_IMPL must be wine8 or wine10" >&2; exit 1 ;;
esac
dpi=${QUORIN_WINE_DPI:-}
case $impl/$dpi in
*/ | wine10/96 | wine10/120 | wine10/144 | wine10/192) ;;
*) echo "session.sh: QUORIN_WINE_DPI must be 96, 120, 144 or 192, under Wine 10 only" >&2; exit 1 ;;
esac
xserver=${QUORIN_WINE_DISPLAY:-xvfb}
case $xserver/$dpi in
xvfb/* | xorg/) ;;
xorg/*) echo "session.sh: an Xorg session is not scaled (QUORIN_WINE_DPI)" >&2; exit 1 ;;
*) echo "session.sh: QUORIN_WINE_DISPLAY must be xvfb or xorg" >&2; exit 1 ;;
esac
monitors=${QUORIN_WINE_MONITORS:-1}
case $xserver/$monitors in
*/1 | xorg/2) ;;
*/2) echo "session.sh: a second monitor needs the Xorg display (QUORIN_WINE_DISPLAY=xorg)" >&2; exit 1 ;;
*) echo "session.sh: QUORIN_WINE_MONITORS must be 1 or 2" >&2; exit 1 ;;
esac
desktop=1024x768
screen=1280x1024
rate=60
[ -z "$dpi" ] || desktop=1600x1200 screen=1600x1200
[ "$xserver" != xorg ] || rate=85
if [ "$impl" = wine10 ]; then
    tools_dir=${QUORIN_WINE_BIN:-$here/../../build/win32}
else
    tools_dir=${QUORIN_WINE_BIN:-$here/../../build/$arch}
fi
wine32=${QUORIN_WINE32:-/opt/quorin-wine32}
wine10=${QUORIN_WINE10:-/opt/quorin-wine10}

die() {
    echo "session.sh: $*" >&2
    exit 1
}

wine_bin() {
    if [ "$impl" = wine10 ]; then
        echo "$wine10/bin/wine"
    elif [ "$arch" = win32 ]; then
        echo "$wine32/bin/wine"
    else
        command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64
    fi
}

# How many times slower than native Wine runs: 4 when i386 programs go
# through a binfmt_misc emulator (measured 3 to 4 for a one-shot), else 1.
# The case scripts multiply their waits by it.
slowdown() {
    local entry
    if [ "$arch" = win32 ] || [ "$impl" = wine10 ]; then
        for entry in /proc/sys/fs/binfmt_misc/*; do
            [ -f "$entry" ] && grep -qx enabled "$entry" 2>/dev/null &&
                grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" && {
                echo 4
                return
            }
        done
    fi
    echo 1
}

wineserver_bin() {
    if [ "$impl" = wine10 ]; then
        echo "$wine10/bin/wineserver"
    else
        command -v wineserver 2>/dev/null || echo /usr/lib/wine/wineserver
    fi
}

# name pid lines, written as soon as each process exists so that a
# half-failed start can still be stopped.
record_pid() {
    printf '%s %s\n' "$1" "$2" >>"$state/pids"
}

# Prints the state letter (R, S, Z, ...) of a recorded process, and fails
# once the pid is gone or belongs to another program.  The name is checked in
# the command line and, for a zombie whose command line is empty, in comm.
proc_state() {
    local pid=$1 name=$2 stat comm rest
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    comm=${stat#*\(}
    comm=${comm%\)*}
    rest=${stat##*\) }
    case $comm in
    *"$name"*) ;;
    *) tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -q -- "$name" || return 1 ;;
    esac
    echo "${rest%% *}"
}

# recorded_left running|present: is any recorded process still running (a
# zombie holds nothing any more) or, with present, not yet reaped by init?
recorded_left() {
    local name pid st
    while read -r name pid; do
        st=$(proc_state "$pid" "$name") || continue
        [ "$1" = present ] || [ "$st" != Z ] && return 0
    done <"$state/pids"
    return 1
}

display_taken() {
    [ -e "/tmp/.X$1-lock" ] || [ -e "/tmp/.X11-unix/X$1" ]
}

pick_display() {
    local n
    if [ -n "${QUORIN_XDISPLAY:-}" ]; then
        n=${QUORIN_XDISPLAY#:}
        case $n in '' | *[!0-9]*) die "QUORIN_XDISPLAY must be a display number, not '$QUORIN_XDISPLAY'" ;; esac
        display_taken "$n" && die "display :$n is taken (/tmp/.X$n-lock or /tmp/.X11-unix/X$n exists)"
        echo "$n"
        return
    fi
    for n in $(seq 97 127); do
        display_taken "$n" || {
            echo "$n"
            return
        }
    done
    die "no free X display between :97 and :127"
}

# Phase marks in wine.log show where a slow or failed start spent its time.
step() {
    echo "--- session.sh at ${SECONDS}s: $*" >>"$state/wine.log"
}

# wait_until SECONDS COMMAND...: polls every 0.1 s; gives up at once when
# COMMAND returns 2 (what it waits for has died).
wait_until() {
    local deadline=$((SECONDS + $1)) rc
    shift
    while :; do
        rc=0
        "$@" || rc=$?
        [ "$rc" -eq 1 ] || return "$rc"
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.1
    done
}

# The dummy driver's monitor takes every mode from 5 to 200 Hz, so the
# driver offers its whole built-in list, each size at the rates it has, up to
# the Virtual size.  Two monitors need room for the largest primary mode,
# 1920x1200, beside the second's 1280x1024, which lets 2048x1152 in as well.
# 256000 kB of video RAM holds either framebuffer.
write_xorg_conf() {
    local virtual="1920 1200"
    [ "$monitors" = 1 ] || virtual="3200 1200"
    cat >"$state/xorg.conf" <<EOF
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection

Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection

Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1024x768"
        Virtual $virtual
    EndSubSection
EndSection
EOF
}

# Xvfb and Xorg both write their pid into the lock file.
x_ready() {
    local pid=$1 n=$2
    kill -0 "$pid" 2>/dev/null || return 2
    [ -S "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]
}

# The server's directory name is not predictable here (the packaged wine
# randomises it), so find it through the lock file that the server holds
# open; its socket is bound right after the lock is taken.  Under Wine 10
# the recorded pid is the wrapper's, and the server is bubblewrap's child.
wineserver_ready() {
    local pid fd link
    kill -0 "$1" 2>/dev/null || return 2
    for pid in "$1" $(pgrep -P "$(pgrep -d, -P "$1")" 2>/dev/null); do
        for fd in /proc/"$pid"/fd/*; do
            link=$(readlink "$fd" 2>/dev/null) || continue
            case $link in */lock) [ -S "${link%/lock}/socket" ] && return 0 ;; esac
        done
    done
    return 1
}

win_path() {
    printf 'Z:%s' "${1//\//\\}"
}

# qlaunch_line VERB ARGS...: runs a report-writing verb and prints the report.
qlaunch_line() {
    local report=$state/probe.txt
    rm -f "$report"
    "$WINE" "$tools_dir/qlaunch.exe" "$@" "$(win_path "$report")" >>"$state/wine.log" 2>&1 || return 1
    cat "$report"
}

taskbar_up() {
    kill -0 "$1" 2>/dev/null || return 2
    [ "$(qlaunch_line window Shell_TrayWnd 2>/dev/null)" = "WINDOW	1" ]
}

write_env() {
    {
        printf 'export DISPLAY=%q\n' "$DISPLAY"
        printf 'export WINEPREFIX=%q\n' "$WINEPREFIX"
        printf 'export WINEARCH=%q\n' "$WINEARCH"
        printf 'export WINEDEBUG=%q\n' "$WINEDEBUG"
        printf 'export WINEDLLOVERRIDES=%q\n' "$WINEDLLOVERRIDES"
        printf 'export WINE=%q\n' "$WINE"
        printf 'export WINESERVER=%q\n' "$WINESERVER"
        printf 'export QUORIN_WINE_SLOWDOWN=%q\n' "$QUORIN_WINE_SLOWDOWN"
        printf 'export LC_ALL=%q\n' "$LC_ALL"
        printf 'export QUORIN_WINE_IMPL=%q\n' "$impl"
        printf 'export QUORIN_WINE10_BIND=%q\n' "$QUORIN_WINE10_BIND"
        printf 'export QUORIN_REG_VIEW=%q\n' "$QUORIN_REG_VIEW"
        printf 'export QUORIN_WINE_DPI=%q\n' "$dpi"
        printf 'export QUORIN_WINE_DISPLAY=%q\n' "$xserver"
        printf 'export QUORIN_WINE_MONITORS=%q\n' "$monitors"
    } >"$state/env"
}

do_start() {
    local n x_pid server ws keeper desktop_reg mode
    [ -f "$tools_dir/qlaunch.exe" ] ||
        die "no qlaunch.exe in $tools_dir (set QUORIN_WINE_BIN)"
    [ -x "$(wine_bin)" ] || die "no $impl $arch Wine at $(wine_bin) (run scripts/install-deps.sh)"
    if [ "$xserver" = xorg ]; then
        command -v Xorg >/dev/null || die "Xorg is not installed (run scripts/install-deps.sh)"
        [ "${QUORIN_USE_DISPLAY:-}" != 1 ] || die "an Xorg session brings up its own display (unset QUORIN_USE_DISPLAY)"
    else
        command -v Xvfb >/dev/null || die "Xvfb is not installed"
    fi
    rm -rf "$state/prefix" "$state/env" "$state/pids"
    : >"$state/wine.log"

    if [ "${QUORIN_USE_DISPLAY:-}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
        # A person's own X display: the desktop opens there, no Xvfb.
        step "using DISPLAY=$DISPLAY"
    else
        n=$(pick_display) || exit 1
        if [ "$xserver" = xorg ]; then
            write_xorg_conf
            # As root without a terminal of its own: no VT to switch to.
            server=(Xorg ":$n" -noreset -nolisten tcp -config "$state/xorg.conf"
                -logfile "$state/xorg.log" -novtswitch -sharevts)
        else
            server=(Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp -noreset)
        fi
        step "${server[*]}"
        "${server[@]}" </dev/null >"$state/$xserver.out" 2>&1 &
        x_pid=$!
        record_pid "${server[0]}" "$x_pid"
        wait_until 20 x_ready "$x_pid" "$n" ||
            die "${server[0]} :$n did not come up: $(tail -n 3 "$state/$xserver.out" | tr '\n' ' ')"
        export DISPLAY=":$n"
    fi
    if [ "$monitors" = 2 ]; then
        # The dummy connects an output once it has a mode; a probe (xrandr
        # without --current) then reports it connected, as Wine must see it.
        # 1536x1152 at 60 Hz, a 4:3 size of neither the driver's list nor
        # mode-gained's, is the second monitor's alone.
        step "second monitor on DUMMY1"
        xrandr --addmode DUMMY1 1280x1024 >>"$state/wine.log" 2>&1 &&
            xrandr --output DUMMY1 --mode 1280x1024 --right-of DUMMY0 >>"$state/wine.log" 2>&1 &&
            xrandr >/dev/null 2>>"$state/wine.log" &&
            xrandr --newmode quorin-1536x1152 120.2803 1536 1584 1616 1696 1152 1155 1159 1182 \
                -hsync +vsync >>"$state/wine.log" 2>&1 &&
            xrandr --addmode DUMMY1 quorin-1536x1152 >>"$state/wine.log" 2>&1 ||
            die "xrandr could not set up DUMMY1 (see $state/wine.log)"
        xrandr --current | grep -qx 'DUMMY1 connected 1280x1024+1024+0 .*' ||
            die "DUMMY1 did not come up at 1280x1024+1024+0: $(xrandr --current | grep '^DUMMY[01] ' | tr '\n' ' ')"
    fi

    export WINEPREFIX=$state/prefix
    export WINEARCH=$arch
    # Wine names Unix files in the locale's charset: only UTF-8 holds a
    # folder named in any script.
    export LC_ALL=C.UTF-8
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
    WINE=$(wine_bin)
    WINESERVER=$(wineserver_bin)
    QUORIN_WINE_SLOWDOWN=${QUORIN_WINE_SLOWDOWN:-$(slowdown)}
    # Wine 10 sees only these folders of the machine besides /tmp.
    QUORIN_WINE10_BIND=$state:$(cd "$tools_dir" && pwd)
    # The 32-bit build in a 64-bit prefix writes the 32-bit view of the
    # registry, as on 64-bit Windows; the case scripts' reg.exe reads it so.
    QUORIN_REG_VIEW=""
    [ "$impl" != wine10 ] || QUORIN_REG_VIEW=/reg:32
    export WINE WINESERVER QUORIN_WINE_SLOWDOWN QUORIN_WINE10_BIND QUORIN_REG_VIEW
    write_env

    # Our own persistent server, so that its pid is known and the prefix
    # does not vanish between two programs.
    step wineserver
    mkdir -p "$WINEPREFIX"
    "$WINESERVER" -f -p </dev/null >>"$state/wine.log" 2>&1 &
    ws=$!
    record_pid wineserver "$ws"
    wait_until 10 wineserver_ready "$ws" || die "wineserver did not come up (see $state/wine.log)"

    step wineboot
    "$WINE" wineboot --init </dev/null >>"$state/wine.log" 2>&1 || die "wineboot failed (see $state/wine.log)"

    # A named desktop with EnableShell gets the taskbar and notification area
    # that the default desktop lacks.  No crash dialog: it would hold a
    # crashed program until the case times out.
    # Wine 10: its explorer hides the taskbar at the first display change and
    # never shows it again (with EnableShell its WM_DISPLAYCHANGE handler only
    # hides), so these sessions go without: the notification area is then a
    # small window of its own at the top left, shown while it holds an icon.
    # On the Xorg display Wine takes the screen itself, as on a real machine,
    # so that a switch reaches the X output and its modes are the driver's.
    shell=1
    [ "$impl" != wine10 ] || shell=0
    desktop_reg=$state/desktop.reg
    echo REGEDIT4 >"$desktop_reg"
    [ "$xserver" = xorg ] || cat >>"$desktop_reg" <<EOF

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Quorin"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Quorin"="$desktop"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\Quorin]
"EnableShell"=dword:0000000$shell
EOF
    printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n' >>"$desktop_reg"
    [ -z "$dpi" ] || printf '\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%08x\n' "$dpi" >>"$desktop_reg"
    step "desktop settings"
    "$WINE" reg import "$(win_path "$desktop_reg")" </dev/null >>"$state/wine.log" 2>&1 ||
        die "registry import failed (see $state/wine.log)"
    if [ -n "$dpi" ]; then
        # Programs read LogPixels when they start, and those that wineboot
        # left running, the desktop among them, read it before the import.
        step "wineserver again, for LogPixels"
        "$WINESERVER" -k </dev/null >>"$state/wine.log" 2>&1 || true
        wait "$ws" || true
        "$WINESERVER" -f -p </dev/null >>"$state/wine.log" 2>&1 &
        ws=$!
        record_pid wineserver "$ws"
        wait_until 10 wineserver_ready "$ws" || die "wineserver did not come up again (see $state/wine.log)"
    fi

    step "keeper and desktop"
    "$WINE" "$tools_dir/qlaunch.exe" hold </dev/null >>"$state/wine.log" 2>&1 &
    keeper=$!
    record_pid qlaunch "$keeper"

    # Without a virtual desktop the taskbar's window is there all the same,
    # hidden, and holds the notification area.
    wait_until $((20 * QUORIN_WINE_SLOWDOWN)) taskbar_up "$keeper" || die "the desktop shows no taskbar (see $state/wine.log)"
    mode=$(qlaunch_line mode) || die "qlaunch mode failed (see $state/wine.log)"
    [ "$mode" = "MODE	${desktop}x32@$rate" ] || die "desktop came up as '$mode', not ${desktop}x32@$rate"
    step up
    echo "session.sh: up on DISPLAY=$DISPLAY, WINEPREFIX=$WINEPREFIX (${SECONDS}s)"
}

do_env() {
    [ -f "$state/env" ] || die "no session in $state (run: session.sh start $state)"
    cat "$state/env"
}

do_stop() {
    local name pid st sig
    [ -d "$state" ] || return 0
    if [ -f "$state/env" ]; then
        # shellcheck disable=SC1091
        . "$state/env"
    fi
    WINESERVER=${WINESERVER:-$(wineserver_bin)}
    if [ -f "$state/pids" ]; then
        while read -r name pid; do
            if [ "$name" = qlaunch ] && proc_state "$pid" qlaunch >/dev/null; then
                kill "$pid" 2>/dev/null || true
            fi
        done <"$state/pids"
    fi
    if [ -d "$state/prefix" ]; then
        WINEPREFIX=$state/prefix "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    fi
    [ -f "$state/pids" ] || return 0
    for sig in TERM KILL; do
        recorded_left running || break
        while read -r name pid; do
            if st=$(proc_state "$pid" "$name") && [ "$st" != Z ]; then
                kill "-$sig" "$pid" 2>/dev/null || true
            fi
        done <"$state/pids"
        wait_until 5 not recorded_left running || true
    done
    recorded_left running && die "could not end every process listed in $state/pids"
    # Our processes were handed to init when start returned; give it a moment
    # to reap them so that no zombie outlives stop.
    wait_until 10 not recorded_left present ||
        echo "session.sh: init has not reaped every ended process yet" >&2
    # A Wine 10 prefix holds 1.4 GB of copied DLLs and is of no use once
    # stopped; wine.log stays.
    [ "${QUORIN_WINE_IMPL:-$impl}" != wine10 ] || rm -rf "$state/prefix"
    rm -f "$state/pids" "$state/env"
}

not() {
    ! "$@"
}

[ $# -eq 2 ] || die "usage: session.sh start|stop|env STATE_DIR"
case $2 in /*) state=$2 ;; *) state=$PWD/$2 ;; esac
case $1 in
start)
    # A live session is left alone; anything else that fails is undone.
    if [ -f "$state/pids" ] && recorded_left running; then
        die "a session already runs in $state; stop it first"
    fi
    mkdir -p "$state"
    set +e
    (
        set -e
        do_start
    )
    rc=$?
    set -e
    if [ "$rc" -ne 0 ]; then
        do_stop || true
        exit 1
    fi
    ;;
env) do_env ;;
stop) do_stop ;;
*) die "usage: session.sh start|stop|env STATE_DIR" ;;
esac
