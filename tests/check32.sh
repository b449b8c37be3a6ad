#!/bin/sh
# The C host and the plug-in built as 32-bit x86 code against the 64-bit build: every drawing
# must give the same records, messages and exit status from both. (The 64-bit records are
# held to the drawings' .expected files by the test suite.)
#   [RUN32=qemu-i386] check32.sh BUILD32 BUILD64 DRAWING...
# RUN32 names a program that runs the 32-bit host, where the kernel cannot.
set -u
build32=$1; build64=$2; shift 2
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT

# What the host printed of one run, then its exit status.
records() {
    run=""
    [ "$1" = "$build32" ] && run=${RUN32:-}
    $run "$1/bin/minimalHost" "$1/bin/libwqdxfrdr.so" "$2" >"$3" 2>&1
    echo "exit status $?" >>"$3"
}

same=0; differ=0
for drawing in "$@"; do
    [ -f "$drawing" ] || continue
    records "$build32" "$drawing" "$work/32"
    records "$build64" "$drawing" "$work/64"
    if cmp -s "$work/32" "$work/64"; then
        same=$((same + 1))
    else
        echo "32-bit and 64-bit records differ: $drawing"
        diff "$work/64" "$work/32" | head -n 6
        differ=$((differ + 1))
    fi
done
echo "32-bit x86: $same drawings gave the same records as the 64-bit build, $differ did not"
[ "$differ" -eq 0 ] && [ "$same" -gt 0 ]
