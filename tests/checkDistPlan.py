"""The cluster driver without a cluster: what it learns from its output folder when it
resumes (which parts are written, what their counts add up to, which batches are left to
read), and a task's dxftext given a long batch. A fault of the latter hangs: ctest's limit
ends it.
    /usr/bin/python3 checkDistPlan.py SOURCE_DIR"""

import json
import os
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(sys.argv[1], "tools", "dist"))
from wqdxfrdr_dist import batch, plan  # noqa: E402

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def record(part, documents, seconds=0.5, **statuses):
    return json.dumps({"part": part, "documents": documents, "statuses": statuses,
                       "bytes": 10 * documents, "seconds": seconds}, sort_keys=True) + "\n"


def touch(folder, *names):
    for name in names:
        open(os.path.join(folder, name), "w").close()


def check_finished_parts(folder):
    """Only whole parts of this run count, and each part is its own bit, across bytes."""
    touch(folder, *(plan.part_name(part) for part in (0, 7, 8, 15, 16)),
          f".{plan.part_name(3)}.host.12.abc.tmp", "part-4.jsonl", "part-000005.json",
          plan.part_name(17), "part-00000x.jsonl", plan.COUNTS)
    finished = plan.finished_parts(folder, 17)
    check([part for part in range(-1, 20) if part in finished] == [0, 7, 8, 15, 16],
          f"finished parts: {[part for part in range(-1, 20) if part in finished]}")
    check(len(finished) == 5, f"{len(finished)} finished parts, not 5")


def check_counts(folder):
    """The counts of the parts on disk add up whatever became of counts.jsonl: a part read
    again after its file was removed counts by its last line, a part whose file is gone
    not at all, and a line cut short by a killed driver takes no other line with it."""
    touch(folder, *(plan.part_name(part) for part in range(4)))
    with open(os.path.join(folder, plan.COUNTS), "w", encoding="utf-8") as log:
        log.write(record(0, 3, ok=3) + record(1, 3, ok=2, failed=1) + record(9, 3, ok=3) +
                  record(1, 3, ok=3) + record(2, 3, ok=3)[:20])
    finished = plan.finished_parts(folder, 4)
    totals, counted = plan.read_counts(folder, finished)
    check((totals.parts, totals.documents, totals.statuses, totals.bytes, totals.seconds) ==
          (2, 6, {"ok": 6}, 60, 1.0),
          f"totals {vars(totals)}, not those of parts 0 and 1 (its second line)")
    check([part in counted for part in range(4)] == [True, True, False, False],
          "counted parts: not parts 0 and 1")

    with plan.open_counts(folder) as log:
        log.write(record(2, 3, 0, ok=3))
    totals, counted = plan.read_counts(folder, finished)
    check(2 in counted and totals.documents == 9,
          "a line added after one cut short is lost with it")
    with plan.open_counts(folder) as log:
        log.write(record(3, 2, 0, crash=1, ok=1))
    totals, _ = plan.read_counts(folder, finished)
    check(totals.statuses == {"ok": 10, "crash": 1}, f"statuses {totals.statuses}")

    # summary.json as a run that only counted parts wrote it: seconds as a whole number.
    counted_only = plan.Totals()
    counted_only.add({"documents": 3, "statuses": {"ok": 3}, "bytes": 5, "seconds": 0})
    summary = plan.summary({"parts": 2, "batch": 3}, counted_only, 0, 2.0)
    check(json.dumps(summary, sort_keys=True) ==
          '{"batch": 3, "bytes": 5, "documents": 3, "documents_per_second": 0.0, '
          '"documents_read": 0, "parts": 2, "parts_missing": 1, "seconds": 2.0, '
          '"statuses": {"ok": 3}, "task_seconds": 0}', f"summary {summary}")


def check_batches(folder):
    """Parts keep their numbers when those before them are done, the last one short."""
    listed = os.path.join(folder, "list.txt")
    with open(listed, "wb") as out:
        out.write(b"".join(b"d%d.dxf\r\n" % n if n != 4 else b"\n" for n in range(12)))
    done = plan.PartSet(4)
    done.add(1)
    got = [(part, [path.decode() for path in paths])
           for part, paths in plan.batches(listed, 3, done)]
    check(got == [(0, ["d0.dxf", "d1.dxf", "d2.dxf"]), (2, ["d7.dxf", "d8.dxf", "d9.dxf"]),
                  (3, ["d10.dxf", "d11.dxf"])], f"batches {got}")
    done.add(3)
    check([part for part, _ in plan.batches(listed, 3, done)] == [0, 2],
          "a last short batch already done is read again")


def check_long_batch(folder):
    """A dxftext that writes each document before it reads the next path still gets the
    whole of a long batch: through a pipe, the list and the output would wait for each other."""
    reader = os.path.join(folder, "reads-as-it-goes")
    with open(reader, "w", encoding="utf-8") as out:
        out.write("#!/usr/bin/python3\nimport json, sys\nfor line in sys.stdin:\n"
                  "    print(json.dumps({'file': line.rstrip('\\n'), 'status': 'ok', "
                  "'message': 'x' * 1000}, separators=(',', ':')), flush=True)\n")
    os.chmod(reader, 0o755)
    paths = [b"%s/%05d.dxf" % (b"d" * 300, n) for n in range(3000)]  # 1 MB of list
    counts = batch.read_batch(os.path.join(folder, plan.part_name(0)), paths, [reader],
                              folder, 60)
    check(counts["statuses"] == {"ok": 3000}, f"long batch: {counts}")


passed = 0
cases = (check_finished_parts, check_counts, check_batches, check_long_batch)
for case in cases:
    before = len(failures)
    with tempfile.TemporaryDirectory(prefix="checkDistPlan.") as folder:
        case(folder)
    passed += len(failures) == before
for message in failures:
    print(f"FAIL: {message}")
print(f"{passed} passed, {len(cases) - passed} failed")
sys.exit(1 if failures else 0)
