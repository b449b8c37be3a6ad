#!/bin/sh
# Builds the text-printing programs over the peer readers named (dxflib, dime, gdal) into
# BUILD/peers, against Debian's packages: bench/peers.sh builds all three, make bench dxflib.
# Usage: bench/peers/build.sh BUILD PEER...
set -eu
build=$1
shift
here=$(dirname "$0")
mkdir -p "$build/peers"
flags="-std=c++17 -O2 -Wall -Wextra -Wpedantic -Werror -Wconversion"
# The peers' headers are theirs: -isystem keeps their warnings out of ours.
system() { pkg-config --cflags "$1" | sed 's/-I/-isystem /g'; }
for peer in "$@"; do
    case $peer in
    dxflib) g++ $flags $(system dxflib) "$here/dxflibText.cpp" $(pkg-config --libs dxflib) -o "$build/peers/dxflibText" ;;
    dime) g++ $flags "$here/dimeText.cpp" -ldime -o "$build/peers/dimeText" ;;
    gdal) g++ $flags $(system gdal) "$here/gdalText.cpp" $(pkg-config --libs gdal) -o "$build/peers/gdalText" ;;
    *) echo "bench/peers/build.sh: no peer called $peer" >&2; exit 2 ;;
    esac
done
