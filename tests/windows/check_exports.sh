#!/bin/sh
# Checks the Windows build's files with the cross tools: VARNOX.dll is a
# 64-bit DLL that exports exactly the VARNOX_ functions under their plain
# names and the COMPort class, and needs no DLL but the system's; VARNOX.def
# lists the same names; VARNOX-Test.exe imports the functions from VARNOX.dll
# by those names.
# Usage: check_exports.sh OBJDUMP VARNOX.dll VARNOX.def VARNOX-Test.exe
set -eu
objdump=$1 dll=$2 def=$3 exe=$4
status=0
problem() { echo "$*"; status=1; }

"$objdump" -f "$dll" | grep -q 'file format pei-x86-64' ||
    problem "$dll is not a 64-bit (x86-64) PE file"

# The names of the export table: the lines after "[Ordinal/Name Pointer] Table".
exports=$("$objdump" -p "$dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {exit} on {print $NF}')
[ -n "$exports" ] || problem "$dll exports nothing"
for symbol in $exports; do
    case $symbol in
        VARNOX_*) ;;
        _ZN7COMPort*|_ZNK7COMPort*) ;;
        *) problem "unexpected export: $symbol" ;;
    esac
done
functions="VARNOX_VERSION VARNOX_OPEN VARNOX_CLOSE VARNOX_PURGE VARNOX_STATE
    VARNOX_ERRORMESSAGE VARNOX_IO_STATE VARNOX_IO_ERRORMESSAGE
    VARNOX_OPENDEBUGFILE VARNOX_CLOSEDEBUGFILE
    VARNOX_GETINPUT VARNOX_RETINPUT VARNOX_AUTOINPUT VARNOX_CHECKINPUT
    VARNOX_RETINPUTDATA VARNOX_GETOUTPUT VARNOX_RETOUTPUT VARNOX_SETOUTPUT
    VARNOX_FW_VER VARNOX_FW_DATE VARNOX_PROD_ID VARNOX_PROD_NO"
for name in $functions; do
    echo "$exports" | grep -qx "$name" || problem "missing export: $name"
done
count=$(echo "$exports" | grep -c '^_ZN7COMPort\|^_ZNK7COMPort' || true)
# Constructor and destructor (two forms each) and the fourteen methods.
[ "$count" -eq 18 ] || problem "COMPort exports $count symbols instead of 18"

for library in $("$objdump" -p "$dll" | awk '/DLL Name:/ {print $3}'); do
    case $(echo "$library" | tr '[:upper:]' '[:lower:]') in
        kernel32.dll|msvcrt.dll) ;;
        *) problem "$dll needs $library, which Windows does not ship" ;;
    esac
done

# The module definition file: the same names, nothing else.
defined=$(awk '$1 != "EXPORTS" && NF > 0 {print $1}' "$def" | sort)
[ "$defined" = "$(echo "$exports" | sort)" ] ||
    problem "$def does not list exactly the exports of $dll"

# The program imports the functions by name from VARNOX.dll.
imports=$("$objdump" -p "$exe" |
    awk '/DLL Name:/ {on = ($3 == "VARNOX.dll"); next}
         NF == 0 {on = 0}
         on && NF >= 3 && $1 ~ /^[0-9a-f]+$/ {print $3}')
[ -n "$imports" ] || problem "$exe imports nothing from VARNOX.dll"
for symbol in $imports; do
    case $symbol in
        VARNOX_*) echo "$exports" | grep -qx "$symbol" || problem "$exe imports unknown $symbol" ;;
        *) problem "$exe imports $symbol from VARNOX.dll" ;;
    esac
done

[ $status -eq 0 ] && echo "exports ok: $(echo "$exports" | wc -l) names," \
    "$(echo "$imports" | wc -l) imported by $(basename "$exe")"
exit $status
