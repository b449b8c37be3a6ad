#!/usr/bin/python3
# Memory over a list of a million documents: dxftext --paths-from and the cluster driver
# should hold as much for a million entries as for a thousand.
"""Usage: /usr/bin/python3 bench/million.py [--build DIR] [--entries N] [--workers N]
                                     [--skip-dxftext] [--skip-driver]

Writes into DIR/bench/million/ a list of 1,000 paths and one of N (default 1,000,000),
the 20 smallest drawings of ../shared/corpus/real (the samples when it is absent) that
dxftext reads with status ok, taken in turn, so that N documents are read in minutes.
On each list it runs, once:

  dxftext    `dxftext -f jsonl -q --paths-from LIST`, output to /dev/null; its peak
             resident set as GNU time reports it
  driver     `python3 -m wqdxfrdr_dist run --local W --out OUT LIST` with DIR/bin/dxftext;
             the peak resident set of the driver's own process (client, scheduler and
             nannies), read by getrusage inside it: the workers and their dxftext are
             other processes and are not counted

and prints a markdown table, also written to DIR/bench/million/table.md. The parts are
removed after each run. On two cores, 100,000 documents take the driver about 25 s and
dxftext about 12 s.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import benchlib as lib  # noqa: E402

PYTHON = "/usr/bin/python3"
DRAWINGS = 20
SMALL_LIST = 1000
# Runs the driver as `python3 -m wqdxfrdr_dist` would, then writes its own peak resident
# set to the file named first: GNU time would report the largest of the process and the
# children it reaped, and the driver reaps its cluster's processes.
MEASURED = """\
import resource, runpy, sys
report = sys.argv.pop(1)
try:
    runpy.run_module("wqdxfrdr_dist", run_name="__main__", alter_sys=True)
finally:
    with open(report, "w") as out:
        out.write(str(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))
"""


def drawings(dxftext):
    """The smallest drawings at hand that dxftext reads with status ok, smallest first."""
    found = sorted(lib.CORPUS.glob("*.dxf")) if lib.CORPUS.is_dir() else []
    if not found:
        lib.note(f"{lib.CORPUS} is absent: the samples instead")
        found = sorted((lib.REPO / "samples").glob("*.dxf"))
    found.sort(key=lambda path: path.stat().st_size)
    listed = "".join(f"{path}\n" for path in found)
    result = subprocess.run([str(dxftext), "-f", "jsonl", "-q", "-j", "1", "--paths-from", "-"],
                            input=listed.encode(), capture_output=True)
    ok = set()
    for line in result.stdout.splitlines():
        if b'"status":' in line:
            closing = json.loads(line)
            if closing["status"] == "ok":
                ok.add(closing["file"])
    chosen = [path for path in found if str(path) in ok][:DRAWINGS]
    if not chosen:
        sys.exit("no drawing that dxftext reads with status ok")
    return chosen


def write_list(folder, entries, chosen):
    """The list of `entries` paths, the chosen drawings in turn; written anew each time."""
    path = folder / f"list-{entries}.txt"
    names = [f"{drawing}\n" for drawing in chosen]
    with open(path, "w", encoding="utf-8") as out:
        for start in range(0, entries, len(names)):
            out.writelines(names[:entries - start])
    return path


def measure_dxftext(dxftext, listed, entries, startup):
    """The median of a few runs for a short list, where one run's noise would show; one
    run for a long one. Time per document is also given without the start-up, which a
    short list's documents share among few."""
    runs = []
    for _ in range(1 if entries > 100_000 else 5):
        child = lib.run([str(dxftext), "-f", "jsonl", "-q", "--paths-from", str(listed)])
        if child.returncode != 0:
            sys.exit(f"dxftext exited {child.returncode} on {listed}: {child.stderr[-2000:]}")
        runs.append(child)
    runs.sort(key=lambda run: run.seconds)
    child = runs[len(runs) // 2]
    return {"what": "`dxftext -f jsonl -q --paths-from LIST`", "entries": entries,
            "seconds": child.seconds, "rss_kib": max(run.max_rss_kib for run in runs),
            "reading": None, "net": (child.seconds - startup) / entries}


def startup_seconds(dxftext, folder, chosen):
    """dxftext's time for a list of one drawing: starting, loading the plug-in, ending."""
    listed = write_list(folder, 1, chosen)
    times = sorted(lib.run([str(dxftext), "-f", "jsonl", "-q", "--paths-from", str(listed)]).seconds
                   for _ in range(9))
    listed.unlink()
    return times[len(times) // 2]


def measure_driver(build, folder, listed, entries, workers):
    out = folder / f"out-{entries}"
    report = folder / "driver-rss"
    shutil.rmtree(out, ignore_errors=True)
    report.unlink(missing_ok=True)
    command = [PYTHON, "-c", MEASURED, str(report), "run", "--local", str(workers),
               "--dxftext", str(build / "bin" / "dxftext"), "--out", str(out), str(listed)]
    env = dict(os.environ, PYTHONPATH=str(lib.REPO / "tools" / "dist"),
               PYTHONDONTWRITEBYTECODE="1")
    child = lib.run(command, env=env)
    if child.returncode != 0:
        sys.exit(f"the driver exited {child.returncode} on {listed}: {child.stderr[-2000:]}")
    summary = json.loads((out / "summary.json").read_text())
    if summary["documents"] != entries or summary["statuses"] != {"ok": entries}:
        sys.exit(f"the driver's summary does not count {entries} documents read ok: {summary}")
    lib.note(f"driver: {int(report.read_text()) / 1024:.0f} MiB of its own; GNU time, the largest "
             f"of it and the processes it reaped: {child.max_rss_kib / 1024:.0f} MiB")
    shutil.rmtree(out)
    return {"what": f"`run --local {workers}`, the driver's process", "entries": entries,
            "seconds": child.seconds, "rss_kib": int(report.read_text()),
            "reading": summary["documents_per_second"]}


def table(rows):
    headers = ["command", "entries", "seconds", "µs per document",
               "without start-up", "documents/s", "peak RSS (MiB)"]
    cells = [[row["what"], f"{row['entries']:,}", lib.figure(row["seconds"]),
              lib.figure(row["seconds"] / row["entries"] * 1e6),
              lib.figure(row["net"] * 1e6) if row.get("net") else "",
              lib.figure(row["reading"] if row["reading"] else row["entries"] / row["seconds"]),
              lib.figure(row["rss_kib"] / 1024)] for row in rows]
    return lib.markdown(headers, cells, right=headers[1:])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[1].split("\n")[0])
    parser.add_argument("--build", default="build", help="the build folder (default: build)")
    parser.add_argument("--entries", type=int, default=1_000_000,
                        help="paths in the long list (default 1,000,000)")
    parser.add_argument("--workers", type=int, default=2,
                        help="worker processes of the driver's --local cluster (default 2)")
    parser.add_argument("--skip-dxftext", action="store_true", help="no dxftext rows")
    parser.add_argument("--skip-driver", action="store_true", help="no driver rows")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    dxftext = build / "bin" / "dxftext"
    if not dxftext.exists():
        sys.exit(f"{dxftext} is missing: build first")
    if not Path(lib.TIME).exists():
        sys.exit(f"{lib.TIME} is missing: make deps installs it (Debian's package time)")
    folder = build / "bench" / "million"
    folder.mkdir(parents=True, exist_ok=True)

    chosen = drawings(dxftext)
    lib.warm(chosen)
    rows = []
    startup = 0.0 if args.skip_dxftext else startup_seconds(dxftext, folder, chosen)
    for entries in sorted({SMALL_LIST, args.entries}):
        listed = write_list(folder, entries, chosen)
        if not args.skip_dxftext:
            lib.note(f"dxftext over {entries:,} entries")
            rows.append(measure_dxftext(dxftext, listed, entries, startup))
        if not args.skip_driver:
            lib.note(f"the driver over {entries:,} entries")
            rows.append(measure_driver(build, folder, listed, entries, args.workers))
        listed.unlink()
    rows.sort(key=lambda row: (row["what"].startswith("`run"), row["entries"]))

    sizes = sorted(path.stat().st_size for path in chosen)
    text = "\n".join([
        f"Measured {lib.today()}, commit {lib.commit()}, on {lib.machine()}. "
        f"The list names {len(chosen)} drawings of {sizes[0]:,} to {sizes[-1]:,} bytes in "
        "turn.",
        "",
        table(rows),
        "",
        "Peak RSS: dxftext's maximum resident set (GNU time); for the driver, that of its own "
        "process (client, scheduler, nannies), without the worker processes. documents/s: "
        "dxftext's from start to end; the driver's from `summary.json`, reading only, "
        "without the cluster's start and stop. Without start-up: dxftext's seconds less "
        f"those of a list of one drawing ({startup * 1000:.1f} ms, median of 9), per document;"
        " a short list is the median of 5 runs.",
    ]) + "\n"
    print(text, end="")
    (folder / "table.md").write_text(text)


if __name__ == "__main__":
    main()
