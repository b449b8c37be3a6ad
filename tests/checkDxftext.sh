#!/bin/sh
# dxftext as a user meets it: readable UTF-8 by default, raw bytes and records on request,
# JSON Lines, recovery, whole folders in parallel, standard input, and every bad input
# reported with its file while the rest of the batch still comes out.
#   checkDxftext.sh DXFTEXT SOURCE_DIR
set -u
tool=$1; source=$2
samples=$source/samples; drawings=$source/tests/drawings; corpus=$source/../shared/corpus/real
python=/usr/bin/python3
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
sample=$samples/title_block.dxf

# The records view is the plug-in's own, byte for byte.
"$tool" -r "$sample" > "$tmp/records" || fail "records run exited $?"
cmp -s "$tmp/records" "$samples/title_block.expected" || fail "records differ from title_block.expected"

# Text is UTF-8 by default: the header names ANSI_932, so the decoded escape is Japanese.
"$tool" "$sample" > "$tmp/text" || fail "text run exited $?"
grep -qx '東京支社' "$tmp/text" || fail "the header's code page is not used by default"
"$tool" -a "$sample" | grep -c '^$' | grep -qx 2 || fail "-a keeps the 2 empty values"
"$tool" -e raw "$sample" | iconv -f CP932 -t UTF-8 | cmp -s - "$tmp/text" ||
    fail "raw bytes, converted by iconv, differ from the default output"

# Each code page against its expected UTF-8, and --encoding raw against the bytes.
for name in shiftjis cp1252 utf8; do
    [ -f "$drawings/$name.dxf" ] || fail "missing test drawing $name.dxf"
    "$tool" --plugin-only "$drawings/$name.dxf" > "$tmp/$name.out" || fail "$name exited $?"
    cmp -s "$tmp/$name.out" "$drawings/$name.utf8" || fail "$name: UTF-8 output differs"
done
"$tool" -e raw --plugin-only "$drawings/shiftjis.dxf" | iconv -f CP932 -t UTF-8 |
    sed 's/\\U+00E9/é/' | cmp -s - "$drawings/shiftjis.utf8" ||
    fail "shiftjis: raw bytes are not the drawing's own"
"$tool" -e raw "$drawings/utf8.dxf" | grep -q '\\U+00FC' || fail "raw keeps \\U+ escapes as written"
"$tool" -e CP1252 --plugin-only "$drawings/cp1252.dxf" | cmp -s - "$drawings/cp1252.utf8" ||
    fail "a forced encoding"
"$tool" -e NO-SUCH-CODEPAGE "$sample" > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown encoding is a usage error"

# JSON Lines: every line parses, and the counts agree with the records view.
"$tool" -f jsonl --plugin-only "$sample" "$drawings"/*.dxf > "$tmp/jsonl" || fail "jsonl exited $?"
"$tool" -r -H "$sample" "$drawings"/*.dxf > "$tmp/allrecords"
$python - "$tmp/jsonl" "$tmp/allrecords" <<'EOF' || fail "JSON Lines output"
import json, sys, collections
texts, entities, closed = collections.Counter(), collections.Counter(), {}
for line in open(sys.argv[1], encoding="utf-8"):
    o = json.loads(line)
    if "status" in o:
        assert o["status"] == "ok", o
        assert o["texts"] == texts[o["file"]] and o["entities"] == entities[o["file"]], o
        closed[o["file"]] = o
    else:
        assert o["source"] == "plugin" and o["kind"] is None and o["entity"] == entities[o["file"]] + 1
        entities[o["file"]] += 1
        texts[o["file"]] += len(o["texts"])
rt, rs = collections.Counter(), collections.Counter()
for line in open(sys.argv[2], "rb"):
    name, _, rest = line.decode("utf-8", "replace").rpartition(":")
    rt[name] += rest.startswith("T")
    rs[name] += rest.startswith("S")
assert set(closed) == set(rt), (closed.keys(), rt.keys())
for name in rt:
    assert closed[name]["texts"] == rt[name] and closed[name]["entities"] == rs[name], name
EOF

# --plugin-only gives exactly the plug-in's text values, byte for byte, on every drawing.
set -- "$sample" "$drawings"/*.dxf
[ -d "$corpus" ] && set -- "$@" "$corpus"/*.dxf
"$tool" -q -a -H -e raw --plugin-only "$@" > "$tmp/values" 2>/dev/null
"$tool" -q -H -r "$@" 2>/dev/null | $python -c '
import sys
for line in sys.stdin.buffer:
    name, _, rest = line.rstrip(b"\n").rpartition(b":")
    if rest[:1] == b"T":
        sys.stdout.buffer.write(name + b":" + bytes.fromhex(rest[2:].decode()) + b"\n")
' | cmp -s - "$tmp/values" || fail "--plugin-only text differs from the plug-in's records"

# Recovery: a true-colour group inside a TEXT is read past by default, and stops --strict.
printf '0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n0\nTEXT\n1\nnext\n0\nENDSEC\n0\nEOF\n' > "$tmp/unknown.dxf"
out=$("$tool" "$tmp/unknown.dxf" 2> "$tmp/err") || fail "a recovered drawing counts as read"
[ "$out" = "before
after
next" ] || fail "recovery gives all the text: got '$out'"
grep -q 'past 1 entity' "$tmp/err" || fail "the recovery is counted on standard error"
"$tool" -f jsonl "$tmp/unknown.dxf" 2>/dev/null | head -1 | grep -qF '"texts":["before","after"]' ||
    fail "the texts of a resumed entity join the entity they belong to"
"$tool" -f jsonl "$tmp/unknown.dxf" 2>/dev/null | tail -1 | grep -q '"status":"recovered".*"recoveries":1' ||
    fail "recovered status"
[ -z "$("$tool" --strict "$tmp/unknown.dxf" 2>/dev/null)" ] || fail "--strict delivers nothing past the error"
"$tool" --strict "$tmp/unknown.dxf" > /dev/null 2>&1; [ $? -eq 1 ] || fail "--strict fails the document"

# Folders, in parallel: the same bytes whatever the number of jobs; standard input as the file.
mkdir -p "$tmp/tree/a/B" "$tmp/tree/empty"
cp "$sample" "$tmp/tree/a/one.dxf"; cp "$sample" "$tmp/tree/a/B/TWO.DXF"
cp "$drawings"/*.dxf "$source"/tests/corpus/*.dxf "$tmp/tree/"
[ -d "$corpus" ] && cp "$corpus"/*.dxf "$tmp/tree/a/"
echo "not a drawing" > "$tmp/tree/notes.txt"
"$tool" -j 1 -f jsonl "$tmp/tree" > "$tmp/j1" 2> "$tmp/e1"; s1=$?
"$tool" -j 2 -f jsonl "$tmp/tree" > "$tmp/j2" 2> "$tmp/e2"; s2=$?
[ $s1 -eq $s2 ] || fail "--jobs changes the exit status"
cmp -s "$tmp/j1" "$tmp/j2" || fail "--jobs 2 output differs from --jobs 1"
cmp -s "$tmp/e1" "$tmp/e2" || fail "--jobs 2 messages differ from --jobs 1"
grep -q '"file":"[^"]*/a/B/TWO.DXF"' "$tmp/j1" || fail "upper-case .DXF in a subfolder is found"
grep -q 'notes.txt' "$tmp/j1" && fail "a file not named .dxf is read"
"$tool" "$tmp/tree/empty" 2>&1 | grep -q 'no .dxf drawings' || fail "an empty folder is reported"
"$tool" - < "$sample" | cmp -s - "$tmp/text" || fail "standard input reads differently"
printf '%s\n%s\n' "$sample" "$drawings/cp1252.dxf" > "$tmp/list"
"$tool" --paths-from "$tmp/list" > "$tmp/fromlist" || fail "--paths-from exited $?"
"$tool" "$sample" "$drawings/cp1252.dxf" | cmp -s - "$tmp/fromlist" || fail "--paths-from reads the listed files"
head -1 "$tmp/fromlist" | grep -q "^$sample:" || fail "file names prefix lines when there are several"

# Bad input: each named with its reason and status; the good drawing after it still comes out.
: > "$tmp/empty.dxf"
printf 'AutoCAD Binary DXF\r\n\032\000' > "$tmp/binary.dxf"
printf 'AC1032\000\000\000\000' > "$tmp/drawing.dwg.dxf"
printf '  0\nLINE\n  0\nEOF\n' > "$tmp/nosection.dxf"
truncate -s 2G "$tmp/huge.dxf"
"$tool" -f jsonl "$tmp/missing.dxf" "$tmp/empty.dxf" "$tmp/binary.dxf" "$tmp/drawing.dwg.dxf" \
    "$tmp/nosection.dxf" "$tmp/huge.dxf" "$tmp/tree/empty" /dev/null "$sample" > "$tmp/bad" 2> "$tmp/err"
[ $? -eq 1 ] || fail "a batch with bad documents exits 1"
for expect in 'missing.dxf: No such file' 'empty.dxf: Memory allocation error (the file is empty)' \
    'binary.dxf: .*only ASCII DXF is read' 'dwg.dxf: .*a DWG drawing' 'nosection.dxf: Illigal DXF file' \
    'huge.dxf: 2 GiB or larger' 'empty: a directory with no .dxf drawings' '/dev/null: is a device'; do
    grep -q "$expect" "$tmp/err" || fail "no message '$expect'"
done
[ "$(grep -c '"status":"refused"' "$tmp/bad")" -eq 5 ] || fail "refused documents"
tail -1 "$tmp/bad" | grep -q '"status":"ok"' || fail "the good drawing after bad ones is still read"
if [ "$(id -u)" != 0 ]; then
    cp "$sample" "$tmp/locked.dxf"; chmod 000 "$tmp/locked.dxf"
    "$tool" "$tmp/locked.dxf" 2>&1 | grep -q 'Permission denied' || fail "unreadable file"
fi

# A time limit ends a document that never arrives (a FIFO whose writer waits forever).
mkfifo "$tmp/fifo.dxf"
sleep 30 > "$tmp/fifo.dxf" & writer=$!
"$tool" -f jsonl --timeout 0.5 "$tmp/fifo.dxf" "$sample" > "$tmp/timeout" 2>&1
status=$?; kill $writer 2>/dev/null
[ $status -eq 1 ] || fail "a timeout fails the document"
grep -q '"status":"timeout"' "$tmp/timeout" || fail "timeout status"
tail -1 "$tmp/timeout" | grep -q '"status":"ok"' || fail "the drawing after a timeout is read"

# Usage and version.
"$tool" > /dev/null 2>&1; [ $? -eq 2 ] || fail "no file must be a usage error (2)"
"$tool" --bogus x > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown option must be a usage error (2)"
"$tool" --jobs 0 x > /dev/null 2>&1; [ $? -eq 2 ] || fail "--jobs 0 is a usage error"
"$tool" --version | grep -q '_lib_version 1' || fail "--version shows the plug-in's version"
"$tool" --help | grep -q -- '--paths-from' || fail "--help documents the options"
echo "dxftext ok"
