#!/bin/sh
# The C host and the plug-in built as 32-bit x86 code against the 64-bit build: every drawing
# must give the same records from both, and those of its NAME.expected where there is one.
#   [RUN32=qemu-i386] check32.sh BUILD32 BUILD64 DRAWING...
# RUN32 names a program that runs the 32-bit host, where the kernel cannot.
set -u
build32=$1
build64=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The records of one run in the form of the .expected files: S, T <hex>, E, D as the host
# prints them, then "FAIL refused <message>" when the start was refused (the host reports
# "<path>: <message>") or "FAIL null" when a call gave no record before the end.
records() {
    run=""
    [ "$1" = "$build32" ] && run=${RUN32:-}
    $run "$1/bin/minimalHost" "$1/bin/libwqdxfrdr.so" "$2" >"$3" 2>"$3.err"
    status=$?
    if [ "$status" -gt 1 ]; then
        echo "host ended with status $status" >>"$3"
    elif [ "$status" -eq 1 ]; then
        if [ -s "$3.err" ]; then
            sed -n '1s/.*: /FAIL refused /p' "$3.err" >>"$3"
        else
            echo "FAIL null" >>"$3"
        fi
    fi
}

same=0
differ=0
for drawing in "$@"; do
    [ -f "$drawing" ] || continue
    records "$build32" "$drawing" "$work/32"
    records "$build64" "$drawing" "$work/64"
    expected="${drawing%.dxf}.expected"
    if ! cmp -s "$work/32" "$work/64"; then
        echo "32-bit and 64-bit records differ: $drawing"
        diff "$work/64" "$work/32" | head -n 6
        differ=$((differ + 1))
    elif [ -f "$expected" ] && ! cmp -s "$work/32" "$expected"; then
        echo "records differ from $expected"
        diff "$expected" "$work/32" | head -n 6
        differ=$((differ + 1))
    else
        same=$((same + 1))
    fi
done
echo "32-bit x86: $same drawings gave the same records as the 64-bit build, $differ did not"
[ "$differ" -eq 0 ] && [ "$same" -gt 0 ]
