#!/bin/sh
# Compiles every public header on its own as C99 and as C++17, warnings as errors: hosts
# written in plain C include them, and the layout pins inside them must hold.
set -eu
cc=$1; cxx=$2; dir=$3
for header in "$dir"/*.h; do
  echo "#include \"$header\"" | "$cc" -std=c99 -pedantic -Wall -Wextra -Werror -fsyntax-only -x c -
  echo "#include \"$header\"" | "$cxx" -std=c++17 -pedantic -Wall -Wextra -Werror -fsyntax-only -x c++ -
done
echo "headers ok"
