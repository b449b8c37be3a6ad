#!/usr/bin/python3
"""Every drawing at hand, saved as binary DXF by tests/binaryDxf.py (codes of two bytes, and
of one byte with the 255 escape), gives dxftext the entity objects and closing counts of its
ASCII twin: the binary reading changes nothing but the metadata's format. A drawing the
writer cannot save (a number where the code wants one is not a number) is left out.

Usage: checkBinary.py DXFTEXT SOURCE_DIR
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True


def entities(tool, paths):
    """Each document's entity objects and closing object, without file names and messages."""
    output = subprocess.run([tool, "-q", "--jobs", "2", "-f", "jsonl", *paths],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    documents = {}
    for line in output.decode("utf-8").splitlines():
        item = json.loads(line)
        name = os.path.basename(item.pop("file"))
        if "status" in item:
            item.pop("message")
            metadata = item.pop("metadata")
            item["format"] = metadata.get("format", "ascii")
        documents.setdefault(name, []).append(item)
    return documents


def main():
    tool, source = sys.argv[1:3]
    writer = os.path.join(source, "tests", "binaryDxf.py")
    corpus = os.path.join(source, "..", "shared", "corpus", "real")
    drawings = sorted(glob.glob(os.path.join(source, "samples", "*.dxf")) +
                      glob.glob(os.path.join(source, "tests", "drawings", "*.dxf")) +
                      glob.glob(os.path.join(corpus, "*.dxf")))
    failures, checked = [], 0
    with tempfile.TemporaryDirectory() as folder:
        for width in ("two", "one"):
            saved, twins = [], []
            for drawing in drawings:
                binary = os.path.join(folder, width + "-" + os.path.basename(drawing))
                command = ["/usr/bin/python3", writer, drawing, binary] + (["--r12"] if width == "one" else [])
                if subprocess.run(command, stderr=subprocess.DEVNULL).returncode == 0:
                    saved.append(binary)
                    twins.append(drawing)
            ascii_documents = entities(tool, twins)
            binary_documents = entities(tool, saved)
            for twin, binary in zip(twins, saved):
                want = ascii_documents[os.path.basename(twin)]
                got = binary_documents[os.path.basename(binary)]
                if got[-1].pop("format") != "binary" or want[-1].pop("format") != "ascii":
                    failures.append(f"{binary}: the metadata's format is wrong")
                if got != want:
                    first = next((i for i, pair in enumerate(zip(got, want)) if pair[0] != pair[1]), 0)
                    failures.append(f"{binary} ({width}-byte codes) differs from {twin} at object "
                                    f"{first + 1}: {got[first:first + 1]} against {want[first:first + 1]}")
                checked += 1
    print(f"{checked} binary drawings against their ASCII twins, {len(failures)} differ")
    for failure in failures[:20]:
        print("FAIL:", failure)
    # The corpus must be there and written, or the check proves little.
    if checked < len(drawings):
        print(f"only {checked} of {2 * len(drawings)} drawings could be saved as binary")
    return 1 if failures or checked < len(drawings) else 0


if __name__ == "__main__":
    sys.exit(main())
