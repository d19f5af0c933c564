#!/usr/bin/env bash
# Times the resident menu's opening: from a right-button press on the icon to
# the menu on screen, for quorin.exe in QUORIN_WINE_BIN against the same tree
# built without the rebuild of the mode list at the press, in alternating
# pairs, each from a fresh start; prints both medians and the median of the
# pairs' ratios.  Needs a session on the Xorg display (session.sh start with
# QUORIN_WINE_DISPLAY=xorg), whose 132 modes the rebuild enumerates.
#   menu_timing.sh [PAIRS]   (at least 21)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
bin=$(cd "${QUORIN_WINE_BIN:-$top/build/win64}" && pwd)
pairs=${1:-21}
[ "$pairs" -ge 21 ] 2>/dev/null || { echo "menu_timing: at least 21 pairs" >&2; exit 2; }
state=${QUORIN_WINE_STATE:?QUORIN_WINE_STATE is not set (run session.sh start DIR first)}
eval "$("$here/session.sh" env "$state")" || exit 2
[ "$QUORIN_WINE_DISPLAY" = xorg ] || { echo "menu_timing: the session is not on the Xorg display" >&2; exit 2; }
preset=$(basename "$bin")
case $preset in win32 | win64) ;; *) echo "menu_timing: QUORIN_WINE_BIN must be a build/win32 or build/win64" >&2; exit 2 ;; esac

# The other build: this tree as it stands, less the one line.  In the state
# folder, which Wine 10 sees too.
work=$state/menu-timing
rm -rf "$work"
mkdir -p "$work/src"
(cd "$top" && git ls-files -z --cached --others --exclude-standard | xargs -0 tar -cf - 2>/dev/null) | tar -xf - -C "$work/src"
python3 - "$work/src/tray/tray.cpp" <<'PY' || exit 2
import sys, pathlib
path = pathlib.Path(sys.argv[1])
text = path.read_text()
line = "    RebuildModeList(current.bitsPerPixel);\n"
if text.count(line) != 1:
    sys.exit("menu_timing: the rebuild before BuildTrayMenu is not in tray/tray.cpp as expected")
path.write_text(text.replace(line, ""))
PY
echo "menu_timing: building $preset without the rebuild at the press"
(cd "$work/src" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target quorin >/dev/null) ||
    { echo "menu_timing: the build failed" >&2; exit 2; }
cp "$work/src/build/$preset/quorin.exe" "$work/quorin-no-rebuild.exe"
rm -rf "$work/src"

QUORIN_MENU_TIMING_OTHER="Z:${work//\//\\}\\quorin-no-rebuild.exe" QUORIN_MENU_TIMING_OUT=$work/pairs.txt \
    QUORIN_MENU_TIMING_PAIRS=$pairs QUORIN_WINE_BIN=$bin "$here/resident.sh" menu-timing || exit 1

median() { sort -g | awk '{ v[NR] = $1 } END { printf "%.4f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "pairs: $pairs, $QUORIN_WINE_IMPL $WINEARCH, $preset"
awk '{ print $1 / 1000 }' "$work/pairs.txt" | median | awk '{ printf "with the rebuild:      median %.1f ms\n", $1 }'
awk '{ print $2 / 1000 }' "$work/pairs.txt" | median | awk '{ printf "without the rebuild:   median %.1f ms\n", $1 }'
awk '{ print $1 / $2 }' "$work/pairs.txt" | median | awk '{ printf "median of pair ratios: %.3f\n", $1 }'
