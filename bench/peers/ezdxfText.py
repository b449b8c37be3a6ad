#!/usr/bin/python3
# Peer for the speed comparison: prints the text of drawings as read by ezdxf, one value a
# line; --all adds MTEXT, dimension and multileader text to TEXT, ATTDEF, ATTRIB and BLOCK.
import sys

import ezdxf


def texts_of(doc, everything):
    """The text values of one drawing, block definitions (the layouts among them) in order."""
    for block in doc.blocks:
        yield block.name
        for entity in block:
            kind = entity.dxftype()
            if kind == "TEXT":
                yield entity.dxf.get("text", "")
            elif kind == "ATTDEF":
                yield entity.dxf.get("text", "")
                yield entity.dxf.get("tag", "")
            elif kind == "INSERT":
                for attrib in entity.attribs:
                    yield attrib.dxf.get("text", "")
                    yield attrib.dxf.get("tag", "")
            elif not everything:
                continue
            elif kind == "MTEXT":
                yield entity.plain_text()
            elif kind == "DIMENSION":
                text = entity.dxf.get("text", "")
                if text not in ("", "<>"):
                    yield text
            elif kind == "MULTILEADER" and entity.context.mtext is not None:
                yield entity.context.mtext.default_content


def main(argv):
    everything = "--all" in argv
    documents = failed = count = 0
    out = sys.stdout
    for path in (a for a in argv if a != "--all"):
        documents += 1
        try:
            doc = ezdxf.readfile(path)
            for text in texts_of(doc, everything):
                out.write(text)
                out.write("\n")
                count += 1
        except Exception:  # a drawing ezdxf cannot read counts as failed; the batch goes on
            failed += 1
    out.flush()
    sys.stderr.write(f"documents {documents} failed {failed} texts {count}\n")


if __name__ == "__main__":
    main(sys.argv[1:])
