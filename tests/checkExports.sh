#!/bin/sh
# Fails unless the plug-in exports exactly its documented symbols, with C linkage.
set -eu
lib=$1
# In the C locale's order, as sort gives it below.
expected=$(printf '%s\n' _lib_version _mkGroupTbl \
  deleteDxfEntities deleteDxfFileStrmIo deleteDxfGrpId deleteDxfHash deleteDxfPublicStorage \
  deleteDxfStrEtc deleteGetDxfData deleteMtextConv deleteReadDatUtil findGroupId getDXFobject \
  newDxfEntities newDxfFileStrmIo newDxfGrpId newDxfHash newDxfPublicStorage newDxfStrEtc \
  newGetDxfData newMtextConv newReadDatUtil shutDownDXFsrc startSrcDXF)
# Sanitizer builds pull in their runtime's symbols; only ours are compared.
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' |
         grep -v -E '^(_init|_fini|_edata|_end|__bss_start|__(a|ub|l)san_.*|__sanitizer_.*|__odr_asan.*)$' |
         LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the documented list:"
  tmp=$(mktemp -d)
  printf '%s\n' "$expected" > "$tmp/expected"
  printf '%s\n' "$actual" > "$tmp/actual"
  diff "$tmp/expected" "$tmp/actual" || true
  rm -rf "$tmp"
  exit 1
fi
# _lib_version is data (a read-only object), the rest are functions.
nm -D --defined-only "$lib" | grep -q ' R _lib_version$'
echo "exports ok"
