#!/bin/sh
# dxftext as a user meets it: readable UTF-8 by default, raw bytes and records on request
# (checkInstall.sh holds -r to the sample's records), JSON Lines, recovery, whole folders in
# parallel, standard input, and every bad input reported with its file while the rest of
# the batch still comes out.
#   checkDxftext.sh DXFTEXT SOURCE_DIR
set -u
tool=$1; source=$2
samples=$source/samples; drawings=$source/tests/drawings; corpus=$source/../shared/corpus/real
python=/usr/bin/python3
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# exits STATUS MESSAGE COMMAND...: the command, its output dropped, must exit STATUS.
exits() { want=$1 message=$2; shift 2; "$@" > /dev/null 2>&1; [ $? -eq "$want" ] || fail "$message"; }
sample=$samples/title_block.dxf

# Text is UTF-8 by default: the header names ANSI_932, so the decoded escape is Japanese.
"$tool" "$sample" > "$tmp/text" || fail "text run exited $?"
grep -qx '東京支社' "$tmp/text" || fail "the header's code page is not used by default"
"$tool" -a "$sample" | grep -c '^$' | grep -qx 2 || fail "-a keeps the 2 empty values"

# Each code page against its expected UTF-8, and --encoding raw against the bytes.
for name in shiftjis cp1252 utf8; do
    "$tool" --plugin-only "$drawings/$name.dxf" > "$tmp/$name.out" &&
        cmp -s "$tmp/$name.out" "$drawings/$name.utf8" || fail "$name: UTF-8 output differs"
done
"$tool" -e raw --plugin-only "$drawings/shiftjis.dxf" | iconv -f CP932 -t UTF-8 |
    sed 's/\\U+00E9/é/' | cmp -s - "$drawings/shiftjis.utf8" ||
    fail "shiftjis: raw bytes are not the drawing's own"
"$tool" -e raw "$drawings/utf8.dxf" | grep -q '\\U+00FC' || fail "raw keeps \\U+ escapes as written"
"$tool" -e CP1252 --plugin-only "$drawings/cp1252.dxf" | cmp -s - "$drawings/cp1252.utf8" ||
    fail "a forced encoding"
exits 2 "unknown encoding is a usage error" "$tool" -e NO-SUCH-CODEPAGE "$sample"

# JSON Lines: every line parses, and the counts agree with the records view.
# (unclosed_blocks.dxf, which the plug-in gives up, is read below.)
readable=$(ls "$drawings"/*.dxf | grep -v unclosed_blocks)
"$tool" -f jsonl --plugin-only "$sample" $readable > "$tmp/jsonl" || fail "jsonl exited $?"
"$tool" -r -H "$sample" $readable > "$tmp/allrecords"
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
        assert list(o) == ["file", "entity", "source", "kind", "layer", "handle", "block", "space",
                           "tag", "insert", "position", "texts"], o
        assert o["source"] == "plugin" and o["entity"] == entities[o["file"]] + 1
        assert o["kind"] in ("TEXT", "ATTDEF", "ATTRIB", "BLOCK"), o
        entities[o["file"]] += 1; texts[o["file"]] += len(o["texts"])
records = collections.defaultdict(lambda: [0, 0])  # texts, entities
for line in open(sys.argv[2], "rb"):
    name, _, rest = line.decode("utf-8", "replace").rpartition(":")
    records[name][0] += rest.startswith("T"); records[name][1] += rest.startswith("S")
got = {name: [o["texts"], o["entities"]] for name, o in closed.items()}
assert got == dict(records), (got, dict(records))
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

# Each entity once by default: what the plug-in gives twice (BLOCKS running on into
# ENTITIES) once, what it never reaches (a section it cannot close) from the host's reader,
# and --plugin-only exactly the plug-in's.
"$tool" -f jsonl "$drawings/unclosed_blocks.dxf" > "$tmp/unclosed.jsonl" 2> "$tmp/err" ||
    fail "a drawing read around the plug-in counts as read"
grep -q '"status":"recovered".*"salvaged":4,' "$tmp/unclosed.jsonl" || fail "salvaged count"
grep -q 'did not reach read by the host' "$tmp/err" || fail "the salvage is said on standard error"
[ "$(grep -c '"source":"host","kind":"TEXT"' "$tmp/unclosed.jsonl")" = 3 ] || fail "salvaged TEXTs"
exits 1 "--plugin-only fails where the plug-in stops" "$tool" --plugin-only "$drawings/unclosed_blocks.dxf"
exits 1 "--records fails where the plug-in stops" "$tool" -r "$drawings/unclosed_blocks.dxf"
[ "$("$tool" -q "$drawings/fields_open_blocks.dxf" | grep -c 'ROOM 1')" = 1 ] ||
    fail "an entity the plug-in gives twice comes once"
[ "$("$tool" -q --plugin-only "$drawings/fields_open_blocks.dxf" | grep -c 'ROOM 1')" = 2 ] ||
    fail "--plugin-only gives the plug-in's entities as it gives them"

# Recovery: a true-colour group inside a TEXT is read past by default, and stops --strict.
printf '0\nSECTION\n2\nENTITIES\n0\nTEXT\n1\nbefore\n420\n256\n1\nafter\n0\nTEXT\n1\nnext\n0\nENDSEC\n0\nEOF\n' > "$tmp/unknown.dxf"
out=$("$tool" "$tmp/unknown.dxf" 2> "$tmp/err") || fail "a recovered drawing counts as read"
[ "$out" = "$(printf 'before\nafter\nnext')" ] || fail "recovery gives all the text: got '$out'"
grep -q 'past 1 entity' "$tmp/err" || fail "the recovery is counted on standard error"
"$tool" -f jsonl "$tmp/unknown.dxf" > "$tmp/unknown.jsonl" 2>/dev/null
head -1 "$tmp/unknown.jsonl" | grep -qF '"texts":["before","after"]' ||
    fail "the texts of a resumed entity join the entity they belong to"
tail -1 "$tmp/unknown.jsonl" | grep -q '"status":"recovered".*"recoveries":1' || fail "recovered status"
out=$("$tool" --strict "$tmp/unknown.dxf" 2>/dev/null)
[ $? -eq 1 ] && [ -z "$out" ] || fail "--strict fails the document and delivers nothing past the error"

# Folders, in parallel: the same bytes whatever the number of jobs; standard input as the file.
mkdir -p "$tmp/tree/a/B" "$tmp/tree/empty"
cp "$sample" "$tmp/tree/a/one.dxf"; cp "$sample" "$tmp/tree/a/B/TWO.DXF"
cp "$drawings"/*.dxf "$source"/tests/corpus/*.dxf "$tmp/tree/"
[ -d "$corpus" ] && cp "$corpus"/*.dxf "$tmp/tree/a/"
echo "not a drawing" > "$tmp/tree/notes.txt"
for j in 1 2; do
    "$tool" -j $j -f jsonl "$tmp/tree" > "$tmp/j$j" 2> "$tmp/e$j"; echo "status $?" >> "$tmp/e$j"
done
cmp -s "$tmp/j1" "$tmp/j2" && cmp -s "$tmp/e1" "$tmp/e2" || fail "--jobs 2 output, messages or status differ"
grep -q '"file":"[^"]*/a/B/TWO.DXF"' "$tmp/j1" || fail "upper-case .DXF in a subfolder is found"
grep -q 'notes.txt' "$tmp/j1" && fail "a file not named .dxf is read"
# A folder is walked in byte order of the whole paths: a name that goes on after another
# ("b-c.dxf", "b.dxf") sorts against the '/' that follows a folder's name ("b/").
mkdir -p "$tmp/order/b" "$tmp/order/b.d" "$tmp/order/B"
for name in b/x.dxf b-c.dxf b.dxf b.d/y.dxf B/z.DXF a.dxf 'é.dxf'; do cp "$sample" "$tmp/order/$name"; done
"$tool" -q -f jsonl "$tmp/order" | sed -n 's/^{"file":"\([^"]*\)","status".*/\1/p' > "$tmp/walked"
find "$tmp/order" -type f | LC_ALL=C sort | cmp -s - "$tmp/walked" || fail "a folder's drawings in path order"
"$tool" - < "$sample" | cmp -s - "$tmp/text" || fail "standard input reads differently"
# A long list through a pipe, lines ending in CR LF and empty ones between: the documents
# come out in its order whatever the jobs, as the same paths given as arguments do.
set -- "$sample" "$drawings"/*.dxf "$source"/tests/corpus/*.dxf
for i in $(seq 12); do for path in "$@"; do printf '%s\r\n\n' "$path"; done; done > "$tmp/long"
"$tool" -q -j 1 -f jsonl $(for i in $(seq 12); do echo "$@"; done) > "$tmp/long1"
cat "$tmp/long" | "$tool" -q -j 2 -f jsonl --paths-from - > "$tmp/long2"
cmp -s "$tmp/long1" "$tmp/long2" || fail "a long list from a pipe, read two at a time"
[ "$(grep -c '"status"' "$tmp/long1")" -eq $((12 * $#)) ] || fail "every listed document is read once"
printf '%s\n-\n' "$sample" | exits 2 "standard input named by the list read from it" "$tool" --paths-from -
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
    'binary.dxf: .*a binary DXF drawing that holds no groups' 'dwg.dxf: .*a DWG drawing, not DXF: save it as DXF' 'nosection.dxf: Illigal DXF file' \
    'huge.dxf: 2 GiB or larger' 'empty: a directory with no .dxf drawings' '/dev/null: is a device'; do
    grep -q "$expect" "$tmp/err" || fail "no message '$expect'"
done
[ "$(grep -c '"status":"refused"' "$tmp/bad")" -eq 5 ] || fail "refused documents"
tail -1 "$tmp/bad" | grep -q '"status":"ok"' || fail "the good drawing after bad ones is still read"
if [ "$(id -u)" != 0 ]; then
    cp "$sample" "$tmp/locked.dxf"; chmod 000 "$tmp/locked.dxf"
    "$tool" "$tmp/locked.dxf" 2>&1 | grep -q 'Permission denied' || fail "unreadable file"
fi

# A time limit ends a document that never arrives: a FIFO whose writer never writes and
# lives until the test ends it, so only the limit can end the read.
mkfifo "$tmp/fifo.dxf"
sleep 100000 > "$tmp/fifo.dxf" & writer=$!
"$tool" -f jsonl --timeout 0.5 "$tmp/fifo.dxf" "$sample" > "$tmp/timeout" 2>&1
status=$?; kill $writer 2>/dev/null
[ $status -eq 1 ] || fail "a timeout fails the document"
grep -q '"status":"timeout"' "$tmp/timeout" || fail "timeout status"
tail -1 "$tmp/timeout" | grep -q '"status":"ok"' || fail "the drawing after a timeout is read"
# On a terminal a progress bar shows while a read takes more than a second: the FIFO's
# writer holds the read until the bar is there, or until dxftext ended without one.
sleep 100000 > "$tmp/fifo.dxf" & writer=$!
script -qec "'$tool' '$tmp/fifo.dxf' '$sample' > /dev/null" /dev/null > "$tmp/tty" 2>&1 & terminal=$!
while ! grep -q 'documents.*MiB/s' "$tmp/tty" && kill -0 $terminal 2>/dev/null; do sleep 0.05; done
kill $writer 2>/dev/null; wait $terminal
grep -q 'documents.*MiB/s' "$tmp/tty" || fail "a terminal gets a progress bar"

# Usage and version.
exits 2 "no file must be a usage error" "$tool"
exits 2 "--fields with --records is a usage error" "$tool" --fields -r "$sample"

# Title blocks as fields: the ATTRIBs' tags and values, not their ATTDEFs' defaults, and the
# metadata after them; names the file before each line when there are several.
out=$("$tool" --fields --metadata "$sample") || fail "--fields exited $?"
[ "$out" = "$(printf 'TITLE=Riverside Library, level 0\nDWGNO=A-101\nDRAWNBY=K. Tanaka\nacadver: AC1009\ncodepage: ANSI_932\nencoding: CP932')" ] ||
    fail "--fields --metadata: got '$out'"
"$tool" --fields "$sample" "$samples/site_notes.dxf" | grep -qx "$sample:DWGNO=A-101" ||
    fail "--fields names the file with several documents"
for bad in --bogus "--jobs 0" "-f xml" "--timeout soon" "- -" "-j"; do
    exits 2 "'$bad' must be a usage error" "$tool" $bad "$sample"
done
exits 1 "a plug-in that cannot be loaded" "$tool" -p /nonexistent/libwqdxfrdr.so "$sample"
"$tool" -v "$sample" 2>&1 >/dev/null | grep -q 'text read as CP932 (from the header)' ||
    fail "--verbose names the code page"
"$tool" --no-filename "$sample" "$sample" > "$tmp/two" && cat "$tmp/text" "$tmp/text" |
    cmp -s - "$tmp/two" || fail "--no-filename leaves the lines as they are"
"$tool" --version | grep -q '_lib_version 1' || fail "--version shows the plug-in's version"
"$tool" --help | grep -q -- '--paths-from' || fail "--help documents the options"
echo "dxftext ok"
