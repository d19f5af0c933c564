#!/usr/bin/env bash
# Takes the README's picture of the open tray menu: docs/menu.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
state=$root/build/menu-shot
export QUORIN_WINE_BIN=$root/build/win64
export QUORIN_WINE_STATE=$state/session
export QUORIN_XDISPLAY=${QUORIN_XDISPLAY:-96}
mkdir -p "$state"
trap '"$root/tests/wine/session.sh" stop "$QUORIN_WINE_STATE" || true' EXIT
"$root/tests/wine/session.sh" start "$QUORIN_WINE_STATE"
# The menu case leaves its screenshots in the build directory.
"$root/tests/wine/resident.sh" menu
# The right end of the taskbar, the menu above it and its "Settings" submenu.
convert "$QUORIN_WINE_BIN/resident-settings.png" -crop 420x260+604+508 +repage "$root/docs/menu.png"
echo "menu-screenshot: docs/menu.png"
