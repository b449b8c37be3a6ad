#!/bin/sh
# The plug-in's folders stack without a cycle: include/'s ground headers (host tables, the
# per-document record), then base/, entities/, sections/ and entry/; no file includes a
# header of a folder above its own. A header in include/ belongs to the folder of the
# source file of the same name.
#   checkLayers.sh SOURCE_DIR
root=$1
cd "$root" || exit 1
layer() {  # the layer of a file name, as a number; ground is 0
    name=$(basename "$1"); stem=${name%.*}
    case $1 in base/*) echo 1; return ;; entities/*) echo 2; return ;;
               sections/*) echo 3; return ;; entry/*) echo 4; return ;; esac
    [ "$name" = wqdxfrdr.h ] && { echo 4; return; }
    n=1
    for folder in base entities sections entry; do
        [ -f "$folder/$stem.cpp" ] || [ -f "$folder/$name" ] && { echo $n; return; }
        n=$((n + 1))
    done
    echo 0
}
status=0
for file in include/*.h base/* entities/* sections/* entry/*; do
    own=$(layer "$file")
    for included in $(sed -n 's/^#include "\(.*\)"/\1/p' "$file"); do
        found=$(ls include/"$included" base/"$included" entities/"$included" \
                   sections/"$included" entry/"$included" 2>/dev/null | head -1)
        [ -n "$found" ] || { echo "$file: includes $included, which no plug-in folder holds"; status=1; continue; }
        theirs=$(layer "$found")
        if [ "$theirs" -gt "$own" ]; then
            echo "$file (layer $own) includes $found (layer $theirs): an arrow running up"
            status=1
        fi
    done
done
[ $status -eq 0 ] && echo "layers ok"
exit $status
