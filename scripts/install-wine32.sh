#!/bin/sh
# A 32-bit Wine for the end-to-end tests of the 32-bit build, in a folder of
# its own: Debian's i386 Wine unpacked there by a private apt, so that no
# installed package changes (a multiarch install would upgrade dozens of
# 64-bit ones).  Where the machine cannot run i386 code, a user-mode emulator
# from the backports suite runs it, registered with binfmt_misc; that
# registration is lost on reboot, so every run checks and restores it.
#
#   install-wine32.sh [FOLDER]   (default /opt/quorin-wine32; root or sudo)
#
# The emulator goes to FOLDER-qemu.
#
# The folder's bin/wine runs the 32-bit loader; the machine's own wineserver
# serves it.
set -eu

folder=${1:-${QUORIN_WINE32:-/opt/quorin-wine32}}
qemu_folder=$folder-qemu
# Display code loads these with dlopen, so no package depends on them.
packages="wine32 libz-mingw-w64 libxrandr2 libxrender1 libxinerama1 libxcursor1 libxi6
libxfixes3 libxcomposite1 libxxf86vm1"
# Their configuration would hide the machine's fonts and menu settings.
skipped_packages="fontconfig-config fonts-"
done_steps=""

die() {
    echo "install-wine32: $*" >&2
    exit 1
}

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || die "no VERSION_CODENAME in /etc/os-release"

# The machine's own archives (derived_sources), each with its backports suite
# as well (private_apt).
. "$(dirname "$0")/apt-sources.sh"

# private_apt DIR: an apt of its own in DIR (sources, lists, cache, an empty
# dpkg status, i386 only); prints nothing, sets the apt command in $apt.
private_apt() {
    root=$1
    mkdir -p "$root/lists/partial" "$root/cache/archives/partial" "$root/parts" "$root/prefs"
    : >"$root/status"
    derived_sources | sort -u | while read -r uri suite comps; do
        echo "deb [arch=i386] $uri $suite $comps"
        case $suite in "$codename") echo "deb [arch=i386] $uri $codename-backports $comps" ;; esac
    done >"$root/sources.list"
    [ -s "$root/sources.list" ] || die "no $codename archive in the machine's apt sources"
    apt="apt-get -qq -o Dir::Etc::SourceList=$root/sources.list -o Dir::Etc::SourceParts=$root/parts
        -o Dir::Etc::Preferences=$root/prefs/none -o Dir::Etc::PreferencesParts=$root/prefs
        -o Dir::State=$root -o Dir::State::Lists=$root/lists -o Dir::State::status=$root/status
        -o Dir::Cache=$root/cache -o APT::Architecture=i386 -o APT::Architectures::=i386
        -o Debug::NoLocking=1 -o APT::Install-Recommends=0 -o APT::Sandbox::User=root"
    $apt update
}

# fetch_and_unpack DEST PACKAGE...: downloads the closure and unpacks it.
fetch_and_unpack() {
    dest=$1
    shift
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $apt install -y --download-only "$@" >/dev/null
    mkdir -p "$dest"
    count=0
    for deb in "$root"/cache/archives/*.deb; do
        name=$(dpkg-deb -f "$deb" Package)
        skip=no
        for prefix in $skipped_packages; do
            case $name in "$prefix"*) skip=yes ;; esac
        done
        [ "$skip" = yes ] && continue
        dpkg-deb -x "$deb" "$dest"
        count=$((count + 1))
    done
    echo "$count"
}

wine32_complete() {
    [ -x "$folder/bin/wine" ] && [ -f "$folder/.complete" ]
}

install_wine32() {
    private_apt "$work/apt"
    rm -rf "$folder"
    # shellcheck disable=SC2086
    count=$(fetch_and_unpack "$folder" $packages)
    # What libwine's maintainer script does: zlib as a builtin Wine DLL
    # (wineboot fails without it).
    zlib=$(find "$folder/usr" -path '*i686-w64-mingw32*' -name zlib1.dll | head -n 1)
    [ -n "$zlib" ] || die "libz-mingw-w64 has no 32-bit zlib1.dll"
    dlls=$(find "$folder/usr/lib" -type d -name i386-windows | head -n 1)
    [ -n "$dlls" ] || die "no i386-windows folder in the unpacked Wine"
    as_wine_builtin "$zlib" "$dlls/zlib1.dll"
    mkdir -p "$folder/etc"
    ldconfig -r "$folder"
    mkdir -p "$folder/bin"
    cat >"$folder/bin/wine" <<EOF
#!/bin/sh
# 32-bit Wine from $folder: an emulator takes the system's paths from the
# folder, a native run takes the folder's libraries first.
export QEMU_LD_PREFIX=$folder
export LD_LIBRARY_PATH=$folder/lib/i386-linux-gnu:$folder/usr/lib/i386-linux-gnu\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}
export WINESERVER=\${WINESERVER:-/usr/lib/wine/wineserver64}
exec $folder/usr/lib/wine/wine "\$@"
EOF
    chmod 755 "$folder/bin/wine"
    touch "$folder/.complete"
    done_steps="$done_steps unpacked $count i386 packages (Wine $(dpkg-deb -f "$(ls "$work"/apt/cache/archives/wine32_*.deb)" Version)) into $folder;"
}

# as_wine_builtin IN OUT: Wine takes a DLL for its own when "Wine builtin
# DLL" and 16 zero bytes follow the 64-byte DOS header.
as_wine_builtin() {
    {
        head -c 64 "$1"
        printf 'Wine builtin DLL'
        head -c 16 /dev/zero
        tail -c +97 "$1"
    } >"$2"
}

# A few bytes of i386 ELF that only call exit(0) through int 0x80.
runs_i386() {
    probe=$(mktemp)
    {
        printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
        printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
        printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
        printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
        printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000'
        printf '\270\001\000\000\000\061\333\315\200'
    } >"$probe"
    chmod 755 "$probe"
    ok=0
    "$probe" 2>/dev/null || ok=1
    rm -f "$probe"
    return "$ok"
}

# Natively the loader also needs the system's /lib/ld-linux.so.2 (libc6-i386
# brings it); without it the emulator, which takes it from the folder, runs it.
wine32_runs() {
    "$folder/bin/wine" --version >/dev/null 2>&1
}

install_qemu() {
    [ -x "$qemu_folder/usr/bin/qemu-i386" ] && [ -f "$qemu_folder/.complete" ] && return 0
    rm -rf "$work/apt"
    private_apt "$work/apt"
    # The release's own emulator treats MAP_FIXED_NOREPLACE as a hint, and
    # 32-bit Wine's address-space reservation then crawls and crashes.
    apt="$apt -o APT::Architecture=amd64 -o APT::Architectures::=amd64"
    sed -i 's/arch=i386/arch=amd64/' "$work/apt/sources.list"
    $apt update
    rm -rf "$qemu_folder"
    work_cache=$work/apt/cache/archives
    DEBIAN_FRONTEND=noninteractive $apt install -y --download-only -t "$codename-backports" qemu-user >/dev/null
    mkdir -p "$qemu_folder"
    dpkg-deb -x "$(ls "$work_cache"/qemu-user_*.deb)" "$qemu_folder"
    [ -x "$qemu_folder/usr/bin/qemu-i386" ] || die "the backports qemu-user has no usr/bin/qemu-i386"
    touch "$qemu_folder/.complete"
    done_steps="$done_steps unpacked qemu-user $(dpkg-deb -f "$(ls "$work_cache"/qemu-user_*.deb)" Version) into $qemu_folder;"
}

misc=/proc/sys/fs/binfmt_misc

registered() {
    grep -qx enabled "$misc/quorin-i386" 2>/dev/null
}

register_binfmt() {
    [ -f "$misc/register" ] || mount -t binfmt_misc binfmt_misc "$misc"
    head='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    for entry in "quorin-i386 \\x03" "quorin-i486 \\x06"; do
        name=${entry% *}
        machine=${entry#* }
        [ ! -e "$misc/$name" ] || echo -1 >"$misc/$name"
        # P keeps argv[0]; F opens the emulator now, so it works in any mount
        # namespace and outlives changes to the folder's path.
        printf '%s\n' ":$name:M::$head$machine\\x00:$mask:$qemu_folder/usr/bin/qemu-i386:PF" >"$misc/register"
    done
    done_steps="$done_steps registered i386/i486 ELF with binfmt_misc;"
}

emulate=${QUORIN_WINE32_EMULATE:-}
if [ "$(id -u)" -ne 0 ]; then
    if { [ "$emulate" != 1 ] || registered; } && wine32_complete && runs_i386 && wine32_runs; then
        echo "install-wine32: $folder is complete and i386 code runs"
        exit 0
    fi
    exec sudo env QUORIN_WINE32_EMULATE="$emulate" "$0" "$folder"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wine32_complete || install_wine32
# QUORIN_WINE32_EMULATE=1 takes the emulator even where i386 runs natively,
# to try on one machine what another needs.
if { [ "$emulate" = 1 ] && ! registered; } || ! runs_i386 || ! wine32_runs; then
    install_qemu
    register_binfmt
    runs_i386 || die "i386 code still does not run after the binfmt_misc registration"
    wine32_runs || die "$folder/bin/wine --version fails under the emulator"
fi
if [ -n "$done_steps" ]; then
    echo "install-wine32:${done_steps%;}"
else
    echo "install-wine32: $folder is complete and i386 code runs"
fi
