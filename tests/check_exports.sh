#!/bin/sh
# Fails when the shared library exports anything but the VARNOX_ functions
# and the COMPort class, or misses one of the functions.
set -eu
library=$1
symbols=$(nm -D --defined-only "$library" | awk '{print $3}')
status=0
for symbol in $symbols; do
    case $symbol in
        VARNOX_*) ;;
        _ZN7COMPort*|_ZNK7COMPort*) ;;
        *) echo "unexpected export: $symbol ($(echo "$symbol" | c++filt))"; status=1 ;;
    esac
done
for name in VARNOX_VERSION VARNOX_OPEN VARNOX_CLOSE VARNOX_PURGE VARNOX_STATE \
            VARNOX_ERRORMESSAGE VARNOX_IO_STATE VARNOX_IO_ERRORMESSAGE \
            VARNOX_OPENDEBUGFILE VARNOX_CLOSEDEBUGFILE \
            VARNOX_GETINPUT VARNOX_RETINPUT VARNOX_AUTOINPUT VARNOX_CHECKINPUT \
            VARNOX_RETINPUTDATA VARNOX_GETOUTPUT VARNOX_RETOUTPUT VARNOX_SETOUTPUT \
            VARNOX_FW_VER VARNOX_FW_DATE VARNOX_PROD_ID VARNOX_PROD_NO; do
    echo "$symbols" | grep -qx "$name" || { echo "missing export: $name"; status=1; }
done
count=$(echo "$symbols" | grep -c '^_ZN7COMPort\|^_ZNK7COMPort' || true)
[ "$count" -ge 16 ] || { echo "COMPort exports only $count symbols"; status=1; }
[ $status -eq 0 ] && echo "exports ok: $(echo "$symbols" | wc -l) symbols"
exit $status
