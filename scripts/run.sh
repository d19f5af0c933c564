#!/usr/bin/env bash
# Starts build/win32/quorin.exe, the shipped executable, under 32-bit Wine in a
# 1024x768 virtual desktop.
#   run.sh ""      resident: the icon in the notification area
#   run.sh TEXT    one-shot with exactly that command-line text
# On an X display the desktop opens there and a resident run lasts until Exit
# is chosen from its menu. Without one an Xvfb is used: a screenshot goes to
# build/run-screenshot.png and the session ends again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win32=$root/build/win32
state=$root/build/run-session
session=$root/tests/wine/session.sh
text=${1:-}

export QUORIN_WINE_BIN=$win32 QUORIN_WINE_ARCH=win32
headless=1
if [ -n "${DISPLAY:-}" ] && [ "${CI:-}" != true ]; then
    headless=0
    export QUORIN_USE_DISPLAY=1
fi

trap '"$session" stop "$state" || true' EXIT
"$session" start "$state"
eval "$("$session" env "$state")"

win_path() { printf 'Z:%s' "${1//\//\\}"; }
screenshot() {
    [ "$headless" = 1 ] || return 0
    import -window root "$root/build/run-screenshot.png"
    echo "run: screenshot saved to build/run-screenshot.png"
}
show_report() {
    while IFS=$'\t' read -r kind a b; do
        case $kind in
        BOX) printf 'message box "%s":\n%b\n' "$a" "$b" ;;
        EXIT) echo "exit code: $a" ;;
        MODE) echo "display mode afterwards: $a" ;;
        PID) ;;
        *) echo "$kind $a $b" ;;
        esac
    done <"$1"
}

# The icon file is looked for in the current folder, as a double-click in
# Explorer would make it.
cd "$win32"
cmdline=$state/cmdline.txt
report=$state/report.txt
printf '%s' "$text" >"$cmdline"
exe=$(win_path "$win32/quorin.exe")

if [ -n "$text" ]; then
    # A person on a display reads and closes message boxes; headless, the
    # launcher reads and dismisses them.
    timeout=30000
    [ "$headless" = 1 ] || timeout=86400000
    "$WINE" "$win32/qlaunch.exe" run "$exe" "$(win_path "$cmdline")" "$(win_path "$report")" "$timeout" || true
    show_report "$report"
    screenshot
    exit 0
fi

"$WINE" "$win32/qlaunch.exe" spawn "$exe" "$(win_path "$cmdline")" "$(win_path "$report")"
pid=$(sed -n 's/^PID\t//p' "$report")
echo "run: quorin.exe is resident (Windows pid $pid); its icon is in the taskbar's notification area"
if [ "$headless" = 0 ]; then
    "$WINE" "$win32/qlaunch.exe" wait "$pid" "$(win_path "$report")" 86400000 || true
    show_report "$report"
    exit 0
fi
for _ in $(seq 1 100); do
    "$WINE" "$win32/qlaunch.exe" window "Quorin Tray" "$(win_path "$report")" >/dev/null 2>&1 || true
    grep -q $'^WINDOW\t1' "$report" && break
    sleep 0.1
done
sleep 1
screenshot
