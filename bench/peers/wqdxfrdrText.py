#!/usr/bin/python3
# Peer for the speed comparison: the wqdxfrdr Python module reading drawings in-process, as
# an indexing pipeline does: each entity as a dict of its fields (Entity.as_dict, the values
# of dxftext's JSON Lines object) and each document's status and metadata, handed on
# rather than printed: the pipeline, not the reader, decides what becomes of them.
#   wqdxfrdrText.py --module-dir DIR [--threads N] FILE...
# DIR holds the built module (BUILD/bin); with N threads, N documents are read at a time.
import sys
import threading


def read_all(wqdxfrdr, paths, totals, lock):
    """Reads the paths one after another; counts the documents that failed and the texts."""
    failed = count = 0
    for path in paths:
        with wqdxfrdr.read(path) as doc:
            for entity in doc:
                count += len(entity.as_dict()["texts"])
            closing = (doc.status, doc.message, doc.metadata)
            if closing[0] not in ("ok", "recovered"):
                failed += 1
    with lock:
        totals[0] += failed
        totals[1] += count


def main(argv):
    sys.path.insert(0, argv[argv.index("--module-dir") + 1])
    import wqdxfrdr

    threads = int(argv[argv.index("--threads") + 1]) if "--threads" in argv else 1
    skip = {i + 1 for i, a in enumerate(argv) if a in ("--module-dir", "--threads")}
    paths = [a for i, a in enumerate(argv) if not a.startswith("--") and i not in skip]
    totals, lock = [0, 0], threading.Lock()
    # Each thread takes every Nth document, as dxftext --jobs N hands them out in turn.
    workers = [threading.Thread(target=read_all, args=(wqdxfrdr, paths[k::threads], totals, lock))
               for k in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    sys.stderr.write(f"documents {len(paths)} failed {totals[0]} texts {totals[1]}\n")


if __name__ == "__main__":
    main(sys.argv[1:])
