#!/bin/sh
# Wine 10 for the end-to-end tests on scaled displays: Debian 13's Wine in a
# root of its own, made by debootstrap and entered only through bubblewrap,
# so that no installed package and no other Wine changes.  Its wine64 runs a
# 64-bit prefix; wine32:i386 gives that prefix the syswow64 in which the
# 32-bit build runs.
#
#   install-wine10.sh [FOLDER]   (default /opt/quorin-wine10; root or sudo)
#
# FOLDER/root is the Debian 13 system.  FOLDER/bin/wine and
# FOLDER/bin/wineserver run its Wine in a mount namespace of their own: the
# root, a fresh minimal /dev and /proc, the machine's /tmp (the X socket and
# Wine's server sockets), WINEPREFIX and the folders listed in
# QUORIN_WINE10_BIND (colon-separated) at their own paths.  No mount outlives
# the processes of a run; pids and the network stay the machine's, as Wine
# signals its processes by unix pid and Xvfb listens on an abstract socket.
set -eu

folder=${1:-${QUORIN_WINE10:-/opt/quorin-wine10}}
root=$folder/root
suite=trixie
# The X libraries that Wine's display driver loads with dlopen, and the
# font libraries and fonts that draw text, for both halves of the prefix.
libs="libfreetype6 libfontconfig1 libxrandr2 libxrender1 libxinerama1 libxcursor1 libxi6
libxfixes3 libxcomposite1 libxxf86vm1"
packages="wine wine64 wine32:i386 fonts-wine $libs $(for l in $libs; do printf ' %s:i386' "$l"; done)"

die() {
    echo "install-wine10: $*" >&2
    exit 1
}

# wrapper NAME PROGRAM: the text of FOLDER/bin/NAME, which runs the root's
# PROGRAM.  Not exec: bubblewrap dies with its parent, so the shell that a
# caller records and ends must be that parent, and must not end when the
# caller's own parent does.
wrapper() {
    cat <<EOF
#!/bin/bash
# $2 from the Debian 13 root in $root (scripts/install-wine10.sh).
set -eu
args=(--bind $root / --dev /dev --proc /proc --bind /tmp /tmp --die-with-parent
    --unsetenv LD_LIBRARY_PATH --unsetenv QEMU_LD_PREFIX --unsetenv WINESERVER --unsetenv WINELOADER)
IFS=: read -ra paths <<<"\${WINEPREFIX:-}:\${QUORIN_WINE10_BIND:-}"
for path in "\${paths[@]}"; do
    case \$path in
    '' | /) ;;
    /*)
        mkdir -p "\$path"
        args+=(--bind "\$path" "\$path")
        ;;
    *) echo "quorin-wine10: '\$path' is not an absolute path" >&2 && exit 1 ;;
    esac
done
bwrap "\${args[@]}" -- $2 "\$@"
EOF
}

# The 64-bit loader first, as on 64-bit Windows: "wine reg" is then the
# 64-bit reg.exe, and a 32-bit program is handed on to the 32-bit loader.
wrappers="wine:/usr/lib/wine/wine64 wineserver:/usr/bin/wineserver"

root_complete() {
    [ -f "$folder/.complete" ]
}

wrappers_current() {
    for w in $wrappers; do
        wrapper "${w%%:*}" "${w#*:}" | cmp -s - "$folder/bin/${w%%:*}" && [ -x "$folder/bin/${w%%:*}" ] ||
            return 1
    done
    "$folder/bin/wine" --version 2>/dev/null | grep -q '^wine-10\.'
}

write_wrappers() {
    mkdir -p "$folder/bin"
    for w in $wrappers; do
        wrapper "${w%%:*}" "${w#*:}" >"$folder/bin/${w%%:*}"
        chmod 755 "$folder/bin/${w%%:*}"
    done
}

if root_complete && wrappers_current; then
    echo "install-wine10: $folder is complete ($("$folder/bin/wine" --version))"
    exit 0
fi
[ "$(id -u)" -eq 0 ] || exec sudo "$0" "$folder"
if root_complete; then
    write_wrappers
    wrappers_current || die "$folder/bin/wine --version does not report Wine 10"
    echo "install-wine10: rewrote $folder/bin/wine and $folder/bin/wineserver"
    exit 0
fi
command -v debootstrap >/dev/null || die "debootstrap is not installed"
command -v bwrap >/dev/null || die "bubblewrap is not installed"

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || die "no VERSION_CODENAME in /etc/os-release"
# shellcheck source=apt-sources.sh
. "$(dirname "$0")/apt-sources.sh"

# The machine's archives with Debian 13's suites in place of its own.
sources=$(derived_sources | sort -u | while read -r uri release comps; do
    echo "deb $uri $suite${release#"$codename"} $comps"
done)
mirror=$(echo "$sources" | awk -v s="$suite" '$3 == s { print $2; exit }')
[ -n "$mirror" ] || die "no $codename archive in the machine's apt sources"

# A half-made root is made again; a mount inside it would let rm walk into
# the machine's own files, so refuse then.
if awk -v r="$root" '$5 == r || index($5, r "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
    die "something is mounted under $root; unmount it first"
fi
rm -rf "$folder"
mkdir -p "$folder"

# in_root COMMAND...: the root's own programs, with its own /dev and /proc.
in_root() {
    bwrap --dev-bind "$root" / --dev /dev --proc /proc \
        --ro-bind /etc/resolv.conf /etc/resolv.conf --die-with-parent \
        --setenv PATH /usr/sbin:/usr/bin:/sbin:/bin --setenv DEBIAN_FRONTEND noninteractive \
        --unsetenv LD_LIBRARY_PATH --unsetenv QEMU_LD_PREFIX -- "$@"
}

started=$(date +%s)
log=$folder/install.log
# The first stage only unpacks; the second runs inside the root.
debootstrap --foreign --variant=minbase --arch=amd64 "$suite" "$root" "$mirror" >"$log" 2>&1 ||
    die "debootstrap failed (see $log)"
# In a container the first stage links proc to the machine's; bwrap needs a
# folder to mount on.
if [ -L "$root/proc" ]; then
    rm "$root/proc"
    mkdir "$root/proc"
fi
in_root /debootstrap/debootstrap --second-stage >>"$log" 2>&1 ||
    die "debootstrap's second stage failed (see $log)"
echo "$sources" >"$root/etc/apt/sources.list"
rm -f "$root/etc/apt/sources.list.d/debian.sources"
in_root dpkg --add-architecture i386
in_root apt-get -qq update >>"$log" 2>&1 || die "apt-get update failed in the root (see $log)"
# shellcheck disable=SC2086
in_root apt-get -qq install -y --no-install-recommends $packages >>"$log" 2>&1 ||
    die "installing Wine in the root failed (see $log)"
in_root apt-get -qq clean

write_wrappers
version=$(in_root dpkg-query -W -f='${Version}' wine64)
wrappers_current || die "$folder/bin/wine --version does not report Wine 10 (see $log)"
touch "$folder/.complete"
echo "install-wine10: made a Debian $suite root with Wine $version in $folder ($(du -sm "$root" | cut -f1) MB, $(($(date +%s) - started)) s)"
