#!/bin/sh
# The settings code against Wine's own registry, on a fresh prefix: the probe
# saves and loads, and reg.exe seeds and checks the registry from outside.
# usage: registry_test.sh PROBE STATE_DIR
# Needs no X display. Prints PASS/FAIL per case; exits 1 on any failure.
# QUORIN_WINE_ARCH=win32: a 32-bit prefix under the 32-bit Wine of
# scripts/install-wine32.sh (in QUORIN_WINE32, default /opt/quorin-wine32).
# QUORIN_WINE_IMPL=wine10: a 64-bit prefix under the Wine 10 of
# scripts/install-wine10.sh (in QUORIN_WINE10, default /opt/quorin-wine10),
# for the 32-bit probe: reg.exe then reads the 32-bit view (/reg:32).
set -u
[ $# -eq 2 ] || { echo "usage: $0 PROBE STATE_DIR" >&2; exit 2; }
probe_exe=$1 state=$2
[ -f "$probe_exe" ] || { echo "FAIL: probe $probe_exe missing"; exit 1; }

arch=${QUORIN_WINE_ARCH:-win64}
view=""
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [ "${QUORIN_WINE_IMPL:-wine8}" = wine10 ]; then
    arch=win64 view=/reg:32
    wine=${QUORIN_WINE10:-/opt/quorin-wine10}/bin/wine
    wineserver=${QUORIN_WINE10:-/opt/quorin-wine10}/bin/wineserver
elif [ "$arch" = win32 ]; then
    wine=${QUORIN_WINE32:-/opt/quorin-wine32}/bin/wine
else
    wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
fi
[ -x "$wine" ] || { echo "FAIL: no $arch Wine at $wine"; exit 1; }

mkdir -p "$state"
state=$(cd "$state" && pwd)
export WINEPREFIX="$state/prefix" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
log="$state/wine.log"
started=$(date +%s)

# A prefix left over by an aborted run may still have its server.
[ -d "$WINEPREFIX" ] && "$wineserver" -k >/dev/null 2>&1
rm -rf "$WINEPREFIX"
: >"$log"
"$wine" wineboot -i >>"$log" 2>&1 || { echo "FAIL: wineboot, see $log"; exit 1; }

# Installed under a path with a blank, where an unquoted Run entry goes wrong.
install_dir="$WINEPREFIX/drive_c/Program Files/Quorin"
mkdir -p "$install_dir"
cp "$probe_exe" "$install_dir/settings_probe.exe"
probe_path='C:\Program Files\Quorin\settings_probe.exe'
settings_key='HKCU\Software\Quorin'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

failed=0
check() { # name expected got
    if [ "$2" = "$3" ]; then
        echo "PASS: $1"
    else
        echo "FAIL: $1: expected [$2], got [$3]"
        failed=1
    fi
}

probe() {
    "$wine" "$probe_path" "$@" 2>>"$log" | tr -d '\r'
}

# One value as reg.exe reports it: "name|type|data", or "missing".
query() { # key value
    out=$("$wine" reg query "$1" /v "$2" $view 2>>"$log") || { echo missing; return; }
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^    //p' | sed 's/    /|/g'
}

# The value's line of a reg.exe export, which spells out size and type:
# a REG_SZ without its NUL, or a QWORD, shows as hex.
exported() { # key value
    rm -f "$WINEPREFIX/drive_c/export.reg"
    "$wine" reg export "$1" 'C:\export.reg' /y $view >>"$log" 2>&1 || { echo "no export"; return; }
    iconv -f UTF-16LE -t UTF-8 "$WINEPREFIX/drive_c/export.reg" | tr -d '\r' |
        grep -F "\"$2\"=" || echo "not exported"
}

values_of() { # key: the number of values reg.exe lists, or "missing"
    out=$("$wine" reg query "$1" $view 2>>"$log") || { echo missing; return; }
    printf '%s\n' "$out" | grep -c '    REG_'
}

reset_settings() {
    "$wine" reg delete "$settings_key" /f $view >>"$log" 2>&1
}

seed() { # key value type data
    "$wine" reg add "$1" /v "$2" /t "$3" /d "$4" /f $view >>"$log" 2>&1 ||
        { echo "FAIL: reg add $2 $3 $4"; failed=1; }
}

defaults='minWidth=640 showNonStdRatio=0 autostart=0'
quoted="\"$probe_path\""

check "fresh prefix: load gives the defaults" "$defaults" "$(probe load)"
check "fresh prefix: loading created no settings key" missing "$(values_of "$settings_key")"
check "fresh prefix: no Run value" missing "$(query "$run_key" Quorin)"

check "save lowres nonstd autostart" "agrees=1 unchanged=1" "$(probe save 1 1 1)"
check "round trip lowres nonstd autostart" "minWidth=0 showNonStdRatio=1 autostart=1" "$(probe load)"
check "DisplayLoRes stored" "DisplayLoRes|REG_DWORD|0x1" "$(query "$settings_key" DisplayLoRes)"
check "DisplayNonStdRatio stored" "DisplayNonStdRatio|REG_DWORD|0x1" \
    "$(query "$settings_key" DisplayNonStdRatio)"
check "Run value REG_SZ, quoted" "Quorin|REG_SZ|$quoted" "$(query "$run_key" Quorin)"
check "Run value a terminated string" \
    "\"Quorin\"=\"\\\"C:\\\\Program Files\\\\Quorin\\\\settings_probe.exe\\\"\"" \
    "$(exported "$run_key" Quorin)"

check "save nonstd only" "agrees=1 unchanged=1" "$(probe save 0 1 1)"
check "round trip nonstd only" "minWidth=640 showNonStdRatio=1 autostart=1" "$(probe load)"
check "DisplayLoRes 0 stored" "DisplayLoRes|REG_DWORD|0x0" "$(query "$settings_key" DisplayLoRes)"

check "save autostart alone" "agrees=1 unchanged=1" "$(probe save 1 0 1 0)"
check "saving autostart alone keeps the display values" \
    "minWidth=640 showNonStdRatio=1 autostart=1" "$(probe load)"

check "save without autostart" "agrees=1 unchanged=1" "$(probe save 1 0 0)"
check "autostart 0 removed the Run value" missing "$(query "$run_key" Quorin)"
check "round trip lowres only" "minWidth=0 showNonStdRatio=0 autostart=0" "$(probe load)"
check "removing a missing Run value agrees" "agrees=1 unchanged=1" "$(probe save 1 0 0)"

reset_settings
check "save autostart alone without a settings key" "agrees=1 unchanged=1" "$(probe save 1 1 0 0)"
check "an empty settings key stays behind" 0 "$(values_of "$settings_key")"

# Seeds of the wrong type or size are ignored; a DWORD seeded the same way is
# taken, so the seeding itself is shown to reach the probe.
for seeded in 'REG_DWORD|7|dword:00000007|0' \
    'REG_SZ|1|"1"|640' \
    'REG_BINARY|01000000|hex:01,00,00,00|640' \
    'REG_QWORD|1|hex(b):01,00,00,00,00,00,00,00|640'; do
    IFS='|' read -r type data spelled width <<EOF
$seeded
EOF
    reset_settings
    seed "$settings_key" DisplayLoRes "$type" "$data"
    check "DisplayLoRes seeded as $type $data" "\"DisplayLoRes\"=$spelled" \
        "$(exported "$settings_key" DisplayLoRes)"
    check "DisplayLoRes $type $data loaded" "minWidth=$width showNonStdRatio=0 autostart=0" \
        "$(probe load)"
done
# reg.exe cannot give a REG_DWORD another size than 4; an import can.
for seeded in 'hex(4):01,00,00,00|0' 'hex(4):01,00|640'; do
    IFS='|' read -r data width <<EOF
$seeded
EOF
    reset_settings
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quorin]\r\n"DisplayLoRes"=%s\r\n' \
        "$data" >"$WINEPREFIX/drive_c/seed.reg"
    "$wine" reg import 'C:\seed.reg' $view >>"$log" 2>&1 || { echo "FAIL: reg import $data"; failed=1; }
    check "DisplayLoRes imported as $data" "REG_DWORD" \
        "$(query "$settings_key" DisplayLoRes | cut -d '|' -f 2)"
    check "DisplayLoRes $data loaded" "minWidth=$width showNonStdRatio=0 autostart=0" "$(probe load)"
done
check "a save replaces the wrong value" "agrees=1 unchanged=1" "$(probe save 0 0 0)"
check "DisplayLoRes proper again" "DisplayLoRes|REG_DWORD|0x0" "$(query "$settings_key" DisplayLoRes)"

# MAX_PATH characters, two quotes and the NUL fill the room that loading reads
# into: the longest path saving writes, quoted, with two to spare.
longest=$(printf '%0262d' 0)
for seeded in 'REG_SZ|C:\Tools\other.exe|1' \
    'REG_EXPAND_SZ|C:\Tools\other.exe|0' \
    "REG_SZ|$longest|1" \
    "REG_SZ|${longest}0|0"; do
    IFS='|' read -r type data autostart <<EOF
$seeded
EOF
    seed "$run_key" Quorin "$type" "$data"
    check "Run value $type of ${#data} characters loaded" \
        "minWidth=640 showNonStdRatio=0 autostart=$autostart" "$(probe load)"
done
check "an odd Run value removed by autostart 0" "agrees=1 unchanged=1" "$(probe save 0 0 0)"
check "Run value gone" missing "$(query "$run_key" Quorin)"

"$wineserver" -k >>"$log" 2>&1
# A Wine 10 prefix holds 1.4 GB of copied DLLs.
[ -z "$view" ] || rm -rf "$WINEPREFIX"
echo "wine_registry: $(($(date +%s) - started)) s"
[ $failed -eq 0 ] || { echo "wine output in $log"; exit 1; }
exit 0
