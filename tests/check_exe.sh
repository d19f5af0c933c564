#!/bin/sh
# Checks a built executable's headers and imports: the right machine, the GUI
# subsystem, nothing imported beyond the system DLLs, and no function that
# older Windows lack.
# usage: check_exe.sh OBJDUMP EXE PROCESSOR [MAX_BYTES]
set -u
objdump=$1 exe=$2 processor=$3 max_bytes=${4:-}
failed=0
fail() { echo "FAIL: $exe: $*"; failed=1; }

case $processor in
    i686) want_format=pei-i386 want_magic=PE32 ;;
    x86_64) want_format=pei-x86-64 want_magic=PE32+ ;;
    *) fail "unknown processor $processor"; exit 1 ;;
esac

[ -f "$exe" ] || { fail "missing"; exit 1; }
headers=$("$objdump" -p "$exe") || { fail "objdump could not read it"; exit 1; }

format=$(printf '%s\n' "$headers" | sed -n 's/.*file format \([^ ]*\).*/\1/p' | head -n 1)
[ "$format" = "$want_format" ] || fail "file format '$format', expected '$want_format'"
magic=$(printf '%s\n' "$headers" | sed -n 's/^Magic[[:space:]]*[0-9a-f]*[[:space:]]*(\(.*\))/\1/p')
[ "$magic" = "$want_magic" ] || fail "optional header '$magic', expected '$want_magic'"
subsystem=$(printf '%s\n' "$headers" | sed -n 's/^Subsystem[[:space:]]*[0-9a-f]*[[:space:]]*(\(.*\))/\1/p')
[ "$subsystem" = "Windows GUI" ] || fail "subsystem '$subsystem', expected 'Windows GUI'"

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
    case $dll in
        KERNEL32.DLL | USER32.DLL | GDI32.DLL | SHELL32.DLL | ADVAPI32.DLL | MSVCRT.DLL) ;;
        *) fail "imports $dll, which is not a system DLL of the allowed list" ;;
    esac
done

# Newer than the oldest Windows the program starts on: an import would stop it
# from starting there, so these are looked up at run time.
for function in SetProcessDPIAware ChangeWindowMessageFilter ChangeWindowMessageFilterEx IsWow64Process \
    SetTokenInformation SetDefaultDllDirectories SetDllDirectoryW; do
    printf '%s\n' "$headers" | grep -Eq "^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+$function\$" &&
        fail "imports $function, which older Windows lack"
done

if [ -n "$max_bytes" ]; then
    size=$(wc -c < "$exe")
    [ "$size" -le "$max_bytes" ] || fail "$size bytes, over the budget of $max_bytes"
fi

[ $failed -eq 0 ] && echo "ok: $exe ($format, $subsystem, imports: $(echo $imports))"
exit $failed
