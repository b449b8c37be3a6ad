#!/bin/sh
# dxftext next to other DXF readers: installs them from Debian's packages, builds the small
# text-printing programs over each (bench/peers/), dxftext and the Python module, and runs
# bench/peers.py.
# Run by hand: bench/peers.sh [peers.py options]; BUILD (build-bench) is the build folder.
# peers.py builds dxftext at --baseline-ref (b9a0056) in BUILD-baseline for the cost of the
# JSON Lines fields, and leaves that row out, saying why, where it cannot.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-bench}

need=""
command -v cmake >/dev/null || need="$need cmake"
command -v g++ >/dev/null || need="$need g++"
command -v pkg-config >/dev/null || need="$need pkg-config"
[ -x /usr/bin/python3 ] || need="$need python3"
[ -x /usr/bin/time ] || need="$need time"
[ -f /usr/include/dxflib/dl_dxf.h ] || need="$need libdxflib-dev"
[ -f /usr/include/dime/Model.h ] || need="$need libdime-dev"
command -v ogrinfo >/dev/null || need="$need gdal-bin"
[ -f /usr/include/gdal/gdal.h ] || need="$need libgdal-dev"
/usr/bin/python3 -c 'import ezdxf' 2>/dev/null || need="$need python3-ezdxf"
[ -f /usr/include/pybind11/pybind11.h ] || need="$need pybind11-dev"
/usr/bin/python3 -c "import os, sysconfig; open(os.path.join(sysconfig.get_paths()['include'], 'Python.h'))" \
    2>/dev/null || need="$need python3-dev"
/usr/bin/python3 -c 'import matplotlib' 2>/dev/null || need="$need python3-matplotlib"
if [ -n "$need" ]; then
    echo "installing:$need"
    sudo_cmd=""; [ "$(id -u)" = 0 ] || sudo_cmd=sudo
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends $need
fi

[ -f "$BUILD/CMakeCache.txt" ] ||
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DWQ_TESTS=OFF
cmake --build "$BUILD" -j 2 --target dxftext wqdxfrdr wqdxfrdr_python

sh bench/peers/build.sh "$BUILD" dxflib dime gdal

exec /usr/bin/python3 bench/peers.py --build "$BUILD" "$@"
