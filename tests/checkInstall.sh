#!/bin/sh
# Installs the build under a fresh prefix and builds a host against it twice, through the
# CMake package and through pkg-config; both must read the plug-in's text the same way, and
# so must the Python module imported from the install.
#   checkInstall.sh BUILD_DIR SOURCE_DIR LIBDIR C_COMPILER C++_COMPILER [EXTRA_FLAGS
#                   [PYTHON_DIR [PYTHON_ENVIRONMENT]]]
# PYTHON_DIR: where the module is installed under the prefix ("": no module to check);
# PYTHON_ENVIRONMENT: NAME=VALUE words the interpreter needs to load it (sanitized builds).
set -u
build=$1; source=$2; libdir=$3; cc=$4; cxx=$5; extra=${6:-}; pydir=${7:-}; pyenv=${8:-}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix" > "$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log"; fail "cmake --install exited with an error"; }

# Every file installed is used below: run, rendered, compiled against or linked with.
[ "$(ls "$prefix/bin")" = dxftext ] || fail "programs other than dxftext installed: $(ls "$prefix/bin")"

# The installed dxftext finds the installed plug-in by itself.
"$prefix/bin/dxftext" -r "$source/samples/title_block.dxf" > "$tmp/records" ||
    fail "the installed dxftext exited $?"
cmp -s "$tmp/records" "$source/samples/title_block.expected" ||
    fail "the installed dxftext reads the sample differently"

# The man page renders without a warning.
warnings=$(groff -man -Tutf8 -ww -z "$prefix/share/man/man1/dxftext.1" 2>&1)
[ -z "$warnings" ] || fail "man page: $warnings"

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
flags=$(pkg-config --cflags --libs wqdxfrdr-host wqdxfrdr) || fail "pkg-config cannot resolve the packages"

# Every installed header compiles on its own with what pkg-config gives: nothing it
# includes was left behind.
for header in "$prefix"/include/wqdxfrdr/*.h "$prefix"/include/wqdxfrdr/host/*.hpp; do
  name=${header#"$prefix/include/"}
  case $name in
    *.h) echo "#include <$name>" | "$cc" -std=c99 -Wall -Wextra -Werror -fsyntax-only \
             $(pkg-config --cflags wqdxfrdr) -x c - || fail "$name does not compile as C99" ;;
  esac
  echo "#include <$name>" | "$cxx" -std=c++17 -Wall -Wextra -Werror -fsyntax-only \
      $(pkg-config --cflags wqdxfrdr-host) -x c++ - || fail "$name does not compile as C++17"
done

expected='Installed
and linked
TAG
read by the toolkit'

# Through the CMake package.
cmake -S "$source/tests/install-consumer" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$extra" \
      > "$tmp/cmake.log" 2>&1 &&
    cmake --build "$tmp/cmake-build" >> "$tmp/cmake.log" 2>&1 ||
    { cat "$tmp/cmake.log"; fail "the CMake consumer does not build"; }
grep -q "^wqdxfrdr_DIR:PATH=$prefix/" "$tmp/cmake-build/CMakeCache.txt" ||
    fail "find_package took a wqdxfrdr from outside the install under test"
out=$("$tmp/cmake-build/consumer") || fail "the CMake consumer exited $?"
[ "$out" = "$expected" ] || fail "the CMake consumer printed '$out'"

# Through pkg-config, on a plain command line.
"$cxx" -std=c++17 -O0 $extra "$source/tests/install-consumer/consumer.cpp" -o "$tmp/pc-consumer" \
    -DWQ_PLUGIN="\"$(pkg-config --variable=plugin wqdxfrdr)\"" $flags \
    -Wl,-rpath,"$(pkg-config --variable=libdir wqdxfrdr)" ||
    fail "the pkg-config consumer does not build"
out=$("$tmp/pc-consumer") || fail "the pkg-config consumer exited $?"
[ "$out" = "$expected" ] || fail "the pkg-config consumer printed '$out'"

# Debian's python3 imports the installed module, which finds the installed plug-in by
# itself and reads the sample as dxftext does. From an empty folder, with nothing else on
# its path, so that the build's module cannot stand in for it.
if [ -n "$pydir" ]; then
  [ -f "$prefix/$pydir/wqdxfrdr.pyi" ] || fail "the module's type stub is not installed beside it"
  mkdir "$tmp/elsewhere"
  out=$(cd "$tmp/elsewhere" && env $pyenv PYTHONPATH="$prefix/$pydir" PYTHONDONTWRITEBYTECODE=1 \
        /usr/bin/python3 -c 'import sys, wqdxfrdr
print(wqdxfrdr.__file__)
print(wqdxfrdr.plugin_path)
print(wqdxfrdr.text(sys.argv[1]))' "$source/samples/title_block.dxf" 2>&1) ||
      fail "the installed module does not import or read: $out"
  case $(echo "$out" | sed -n 1p) in
    "$prefix/$pydir/wqdxfrdr."*) ;;
    *) fail "python3 imported a module from outside the install: $out" ;;
  esac
  [ "$(echo "$out" | sed -n 2p)" = "$prefix/$libdir/libwqdxfrdr.so" ] ||
      fail "the installed module took another plug-in: $(echo "$out" | sed -n 2p)"
  [ "$(echo "$out" | sed 1,2d)" = "$("$prefix/bin/dxftext" "$source/samples/title_block.dxf")" ] ||
      fail "the installed module reads the sample differently from dxftext"
fi

echo "install ok"
