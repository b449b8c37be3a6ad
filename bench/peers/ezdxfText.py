#!/usr/bin/python3
# Peer for the speed comparison: prints the text of drawings as read by ezdxf, one value a
# line; --all adds MTEXT, dimension and multileader text to TEXT, ATTDEF, ATTRIB and BLOCK;
# --fields prints one line an entity, its layer, handle, block, space, tag, insert and
# position before its texts, as dxftext's JSON Lines give them.
import sys

import ezdxf

# The group 10/20/30 point of each kind that has one, by ezdxf's name for it.
POINT = {"TEXT": "insert", "ATTDEF": "insert", "ATTRIB": "insert", "MTEXT": "insert",
         "DIMENSION": "defpoint"}


def texts_of(doc, everything):
    """(block layout, entity, texts, insert) for each text entity of one drawing, block
    definitions (the layouts among them) in order; the texts of an ATTDEF or an ATTRIB are
    its value and its tag, and an ATTRIB comes with the INSERT it belongs to."""
    for block in doc.blocks:
        yield block, block.block, (block.name,), None
        for entity in block:
            kind = entity.dxftype()
            if kind == "TEXT":
                yield block, entity, (entity.dxf.get("text", ""),), None
            elif kind == "ATTDEF":
                yield block, entity, (entity.dxf.get("text", ""), entity.dxf.get("tag", "")), None
            elif kind == "INSERT":
                for attrib in entity.attribs:
                    yield block, attrib, (attrib.dxf.get("text", ""), attrib.dxf.get("tag", "")), entity
            elif not everything:
                continue
            elif kind == "MTEXT":
                yield block, entity, (entity.plain_text(),), None
            elif kind == "DIMENSION":
                text = entity.dxf.get("text", "")
                if text not in ("", "<>"):
                    yield block, entity, (text,), None
            elif kind == "MULTILEADER" and entity.context.mtext is not None:
                yield block, entity, (entity.context.mtext.default_content,), None


def fields_of(block, entity, insert):
    """The entity's fields, tab-separated: what a program that keeps them reads of each."""
    layout = block.block_record
    name = "" if layout is None or layout.is_any_layout else block.name
    space = "paper" if layout is not None and layout.is_any_paperspace else "model"
    if entity is None:  # a block layout ezdxf made up, with no BLOCK entity of its own
        return f"\t\t{name}\t{space}\t\t\t"
    dxf = entity.dxf
    kind = entity.dxftype()
    tag = dxf.get("tag", "") if kind in ("ATTDEF", "ATTRIB") else ""
    owner = f"{insert.dxf.handle} {insert.dxf.name}" if insert is not None else ""
    point = dxf.get("base_point") if kind == "BLOCK" else dxf.get(POINT[kind]) if kind in POINT else None
    position = f"{point[0]!r} {point[1]!r} {point[2]!r}" if point is not None else ""
    return f"{dxf.get('layer', '')}\t{dxf.get('handle', '')}\t{name}\t{space}\t{tag}\t{owner}\t{position}"


def main(argv):
    everything = "--all" in argv
    fields = "--fields" in argv
    documents = failed = count = 0
    out = sys.stdout
    for path in (a for a in argv if not a.startswith("--")):
        documents += 1
        try:
            doc = ezdxf.readfile(path)
            for block, entity, texts, insert in texts_of(doc, everything):
                if fields:
                    # The tag has a field of its own; it still counts as one of the texts.
                    kept = texts[:1] if len(texts) == 2 else texts
                    out.write(fields_of(block, entity, insert) + "\t" + "\t".join(kept) + "\n")
                else:
                    for text in texts:
                        out.write(text)
                        out.write("\n")
                count += len(texts)
        except Exception:  # a drawing ezdxf cannot read counts as failed; the batch goes on
            failed += 1
    out.flush()
    sys.stderr.write(f"documents {documents} failed {failed} texts {count}\n")


if __name__ == "__main__":
    main(sys.argv[1:])
