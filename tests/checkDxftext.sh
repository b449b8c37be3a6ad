#!/bin/sh
# dxftext as a user meets it: the sample's records, plain and converted text, standard
# input, exit statuses, and reading on past an unreadable entity with -k.
set -u
tool=$1; samples=$2
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$tool" -r "$samples/title_block.dxf" > "$tmp/records" || fail "records run exited $?"
cmp -s "$tmp/records" "$samples/title_block.expected" || fail "records differ from title_block.expected"

"$tool" -e SHIFT_JIS "$samples/title_block.dxf" > "$tmp/text" || fail "text run exited $?"
grep -qx '東京支社' "$tmp/text" || fail "the escaped Japanese line is not decoded and converted"
[ "$(wc -l < "$tmp/text")" -eq 16 ] || fail "expected 16 non-empty text lines"
"$tool" -a "$samples/title_block.dxf" | grep -c '^$' | grep -qx 2 || fail "-a keeps the 2 empty values"

"$tool" "$samples/title_block.dxf" > "$tmp/raw"
"$tool" - < "$samples/title_block.dxf" | cmp -s - "$tmp/raw" || fail "standard input reads differently"
"$tool" -H "$samples/title_block.dxf" "$samples/title_block.dxf" | head -1 |
    grep -q "^$samples/title_block.dxf:TITLEBLOCK$" || fail "-H prefix"

"$tool" > /dev/null 2>&1; [ $? -eq 2 ] || fail "no file must be a usage error (2)"
"$tool" --bogus x > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown option must be a usage error (2)"
"$tool" "$tmp/missing.dxf" 2> "$tmp/err"; [ $? -eq 1 ] || fail "missing file must exit 1"
grep -q 'No such file' "$tmp/err" || fail "missing file message"
printf '  0\nLINE\n  0\nEOF\n' > "$tmp/nosection.dxf"
"$tool" "$tmp/nosection.dxf" 2> "$tmp/err"; [ $? -eq 1 ] || fail "a file without sections must exit 1"
grep -q 'Illigal DXF file' "$tmp/err" || fail "the reader's refusal is shown"
: > "$tmp/empty.dxf"
"$tool" "$tmp/empty.dxf" 2> "$tmp/err"; [ $? -eq 1 ] || fail "an empty file must exit 1"
grep -q 'Memory allocation error (the file is empty)' "$tmp/err" || fail "empty file hint"
printf 'AutoCAD Binary DXF\r\n\032\000' > "$tmp/binary.dxf"
"$tool" "$tmp/binary.dxf" 2>&1 | grep -q 'only ASCII DXF is read' || fail "binary DXF hint"

printf '0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n0\nENDSEC\n0\nEOF\n' > "$tmp/unknown.dxf"
[ -z "$("$tool" "$tmp/unknown.dxf" 2>/dev/null)" ] || fail "nothing is delivered before the error"
out=$("$tool" -k "$tmp/unknown.dxf" 2>/dev/null); status=$?
[ $status -eq 1 ] || fail "-k still reports the error in its status"
[ "$out" = "before
after" ] || fail "-k delivers the queued text and reads on: got '$out'"
echo "dxftext ok"
