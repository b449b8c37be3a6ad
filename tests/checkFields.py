"""dxftext -f jsonl names each text entity as the drawing itself does: kind, layer, handle,
block, space, tag, insert and position, checked against a group reader of this script's own.
    /usr/bin/python3 checkFields.py DXFTEXT SOURCE_DIR"""

import codecs
import collections
import glob
import json
import math
import os
import re
import subprocess
import sys

PLUGIN_KINDS = ("TEXT", "ATTDEF", "ATTRIB", "BLOCK")
ALL_KINDS = ("MTEXT", "MULTILEADER", "DIMENSION", "ARCALIGNEDTEXT", "ACAD_TABLE", "RTEXT") \
    + PLUGIN_KINDS
FIELDS = ("kind", "layer", "handle", "block", "space", "tag", "insert", "position")
NUMBER = re.compile(rb"[ \t]*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?[ \t]*")
READ = (b"BLOCKS", b"ENTITIES")  # the sections the plug-in reads
ESCAPE = re.compile(r"\\U\+([0-9A-Fa-f]{4})")
failures = []


def fail(file, message):
    failures.append(f"{file}: {message}")


def position(first):
    values = [first.get(10), first.get(20), first.get(30, b"0")]
    if None in values or not all(NUMBER.fullmatch(value) for value in values):
        return None
    return [float(v) for v in values] if all(math.isfinite(float(v)) for v in values) else None


def read_drawing(data, encoding):
    """The entities of the drawing's BLOCKS and ENTITIES sections in file order, each with
    the fields dxftext should give it; and whether the plug-in, which looks for section
    frames line by line rather than group by group, finds the sections where they are."""
    lines = [line[:-1] if line.endswith(b"\r") else line for line in data.split(b"\n")]

    def text(raw):
        return None if raw is None else \
            ESCAPE.sub(lambda m: chr(int(m[1], 16)), raw.decode(encoding, "replace"))

    def after_zero(at):  # the line before reads "0", and a line-by-line search takes it for a code
        return at > 0 and lines[at - 1].strip(b" ") == b"0"

    objects = []  # (name, first value of each code, index of its code line), up to a bad code
    for at in range(0, len(lines) - 1, 2):
        try:
            code, value = int(lines[at]), lines[at + 1]
        except ValueError:
            break
        if code == 0:
            objects.append((value, {}, at))
        elif objects:
            objects[-1][1].setdefault(code, value)
    entities, section, block, insert, opened, framed = [], None, None, None, [], True
    for name, first, at in objects:
        word = name.strip()
        if word == b"EOF":
            break
        # Only the frames of BLOCKS and ENTITIES matter: the plug-in passes over the other
        # sections, and one of theirs it cannot close ends the document short of "ok".
        if word == b"SECTION":
            framed &= section not in READ  # one left open runs on into this one
            section, block, insert = first.get(2), None, None
            # One written twice is read from its later start.
            framed &= section not in READ or (name == word and not after_zero(at)
                                              and section not in opened)
            opened.append(section)
        elif word == b"ENDSEC":
            framed &= section not in READ or (name == word and not after_zero(at))
            section = None
        if word in (b"SECTION", b"ENDSEC") or section not in READ:
            continue
        # The host takes the blanks off a name; the plug-in reads only a name written bare.
        kind = {"MLEADER": "MULTILEADER"}.get(word.decode("latin-1"), word.decode("latin-1"))
        if kind in PLUGIN_KINDS and name != word:
            kind = name.decode("latin-1")
        block = first.get(2) if kind == "BLOCK" else block
        in_blocks = section == b"BLOCKS"
        entities.append({
            "kind": kind, "layer": text(first.get(8)), "handle": text(first.get(5)),
            "block": text(block) if in_blocks else None,
            "space": None if in_blocks else
            {b"0": "model", b"1": "paper"}.get(first.get(67, b"0").strip()),
            "tag": text(first.get(2)) if kind in ("ATTRIB", "ATTDEF") else None,
            "insert": insert if kind == "ATTRIB" else None,
            "position": position(first), "in_blocks": in_blocks})
        block = None if kind == "ENDBLK" else block
        # An INSERT's attributes are the ATTRIBs right after it, up to its SEQEND.
        if kind == "INSERT":
            insert = {"handle": text(first.get(5)), "block": text(first.get(2))}
        elif kind != "ATTRIB":
            insert = None
    else:
        framed = False  # no EOF: where the plug-in stops is not this reader's business
    return entities, framed and section not in READ


def fields(entity):
    return {key: entity[key] for key in FIELDS}


def check_document(file, objects, closing, counts):
    """Checks one document's entity objects against the drawing; adds to `counts` how many
    were held to a drawing entity by handle and by order."""
    # Names are compared as dxftext gives them, in UTF-8, from the code page it read the
    # drawing in; Latin-1 keeps ASCII names comparable for one Python does not know.
    encoding = closing.get("metadata", {}).get("encoding") or "CP1252"
    try:
        codecs.lookup(encoding)
    except LookupError:
        encoding = "latin-1"
    with open(file, "rb") as stream:
        drawing, framed = read_drawing(stream.read(), encoding)
    by_handle = collections.defaultdict(list)
    for entity in drawing:
        by_handle[entity["handle"]].append(fields(entity))
    for number, entity in enumerate(objects, 1):
        # The host's reader also reads the plug-in's kinds the plug-in did not deliver.
        kinds = PLUGIN_KINDS if entity["source"] == "plugin" else ALL_KINDS
        if entity["entity"] != number or entity["kind"] not in kinds:
            fail(file, f"entity {number} is numbered or named wrongly: {entity}")
        # One of the drawing's entities with its handle (any of them where a drawing
        # repeats handles), or one of those without a handle when it has none.
        if fields(entity) not in by_handle[entity["handle"]]:
            fail(file, f"entity {number} {fields(entity)} is not in the drawing; with its "
                       f"handle there: {by_handle[entity['handle']][:3]}")
        counts["handle"] += entity["handle"] is not None
    # Held by order, which needs no handle. The host's entities come in file order, those
    # with text, whatever became of the plug-in's reading.
    host = [fields(e) for e in objects if e["source"] == "host"]
    remaining = iter([fields(e) for e in drawing if e["kind"] in ALL_KINDS])
    if not all(any(item == other for other in remaining) for item in host):
        fail(file, "the host's entities are not the drawing's, in its order")
    counts["order"] += len(host)
    # Each entity once, whoever read it: the plug-in's kinds of the whole output are the
    # drawing's, none twice and none lost, in every document read to its end.
    if closing["status"] in ("ok", "recovered"):
        given, drawn = (collections.Counter(repr(fields(e)) for e in group
                                            if e["kind"] in PLUGIN_KINDS)
                        for group in (objects, drawing))
        if given != drawn:
            fail(file, f"not each entity once: {given.total()} given, {drawn.total()} drawn; "
                       f"more than drawn: {list((given - drawn).elements())[:2]}; "
                       f"lost: {list((drawn - given).elements())[:2]}")
        counts["once"] += 1
    # The plug-in's are the drawing's own, BLOCKS before ENTITIES, each once, in a document
    # read to its end whose sections the plug-in finds where they are. Elsewhere BLOCKS may
    # run on into ENTITIES, whose entities then come twice, or a section never closed gives
    # nothing.
    if closing["status"] != "ok" or not framed:
        return
    plugin = [fields(e) for e in objects if e["source"] == "plugin"]
    drawn = [fields(e) for blocks in (True, False) for e in drawing
             if e["kind"] in PLUGIN_KINDS and e["in_blocks"] == blocks]
    if plugin != drawn:
        first = next((i for i, pair in enumerate(zip(plugin, drawn)) if pair[0] != pair[1]),
                     min(len(plugin), len(drawn)))
        fail(file, f"the plug-in's entity {first + 1} differs from the drawing's "
                   f"({len(plugin)} against {len(drawn)}): {plugin[first:first + 1]} against "
                   f"{drawn[first:first + 1]}")
    counts["order"] += len(plugin)


def main():
    tool, source = sys.argv[1:3]
    drawings = os.path.join(source, "tests", "drawings")
    corpus = os.path.join(source, "..", "shared", "corpus", "real")
    corpus_files = sorted(glob.glob(os.path.join(corpus, "*.dxf")))
    files = sorted(glob.glob(os.path.join(source, "samples", "*.dxf"))) + \
        sorted(glob.glob(os.path.join(drawings, "*.dxf"))) + corpus_files
    result = subprocess.run([tool, "-q", "--jobs", "2", "-f", "jsonl", *files],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    documents = {file: ([], None) for file in files}  # entity objects, closing object
    for item in map(json.loads, result.stdout.decode("utf-8").splitlines()):
        objects, closing = documents[item["file"]]
        if closing is not None:
            fail(item["file"], "output after the document's closing object")
        if "status" in item:
            documents[item["file"]] = (objects, item)
        else:
            objects.append(item)
    unread = [closing for _, closing in documents.values()
              if closing is None or closing["status"] not in ("ok", "recovered")]
    if result.returncode != (1 if unread else 0):
        fail(tool, f"exited {result.returncode} with {len(unread)} documents not read")

    counts = {group: collections.Counter(handle=0, order=0, once=0, entities=0)
              for group in ("project drawings", "shared corpus")}
    for file, (objects, closing) in documents.items():
        if closing is None:
            fail(file, "no closing object")
            continue
        group = counts["shared corpus" if file in corpus_files else "project drawings"]
        check_document(file, objects, closing, group)
        group["entities"] += len(objects)
    # The project's drawings, each against the objects it must give, in full.
    for file in sorted(glob.glob(os.path.join(drawings, "fields_*.dxf"))):
        expected = file[:-len(".dxf")] + ".expected"
        if not os.path.exists(expected):
            fail(file, "has no .expected file beside it")
            continue
        with open(expected, encoding="utf-8") as stream:
            want = [json.loads(line) for line in stream if not line.startswith("#")]
        got = [{key: value for key, value in entity.items() if key != "file"}
               for entity in documents[file][0]]
        for number, (output, wanted) in enumerate(zip(got, want), 1):
            if output != wanted:
                fail(file, f"entity {number}: {output}\n  expected {wanted}")
        if len(got) != len(want):
            fail(file, f"{len(got)} entities, {len(want)} expected")

    for group, count in counts.items():
        print(f"{group}: {count['entities']} entities, {count['handle']} held to the drawing by "
              f"handle, {count['order']} by order, {count['once']} documents give each once"
              if count["entities"] or group != "shared corpus" else
              "no shared corpus: its drawings are skipped")
    # Most of the corpus must be held to its drawings, or the checks above prove little.
    corpus_count = counts["shared corpus"]
    if corpus_count["handle"] < 0.9 * corpus_count["entities"] or \
            corpus_count["order"] < 0.8 * corpus_count["entities"]:
        fail(corpus, "too few entities checked")
    for failure in failures[:40]:
        print("FAIL:", failure)
    if len(failures) > 40:
        print(f"... and {len(failures) - 40} more")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
