#!/usr/bin/python3
# The table `make bench` ends with: the plug-in from memory and dxftext end to end on large
# drawings and a batch of small ones, each beside a memchr pass over the same bytes.
"""Usage: /usr/bin/python3 bench/table.py [--build DIR] [--big-mib N] [--rounds N]

Generates into DIR/bench (once) an 8 MiB drawing, a BIG MiB one with LF and with CR LF line
ends, a batch of small drawings, and a batch of the 20 smallest drawings of the shared corpus
that read to their end, copied 100 times each; then times on each, round after round:

  memchr         a pass over the bytes in memory that finds every line end (benchPlugin)
  plug-in        the plug-in over the same bytes in memory, through the host toolkit's
                 MemoryStream and MallocServices (benchPlugin; a batch in one process)
  dxftext        `dxftext -q` end to end, output to /dev/null, with --plugin-only and
                 without (the host's reader of MTEXT and the rest), and as JSON Lines,
                 which names every entity (layer, handle, block, ...) and so reads the
                 drawing once more; a batch is one process over the folder, with --jobs 1
                 and --jobs 2
  dxflib         on the batches, the dxflib peer of bench/peers/ (one process over the
                 files), when make bench could build it (DIR/peers/dxflibText)

A second table reads the same drawings packed as a user may hold them, each beside its plain
twin in the same round: the 8 MiB drawing as binary DXF and as .dxf.gz (beside gzip -dc of
it, the decompression alone), and the batches as a zip and a .tar.gz (with --jobs 1 and 2).

Every figure is the median over the rounds; "÷ memchr" is the median of its speed over the
memchr speed of the same round, so a busy machine slows both sides, and so is the batches'
documents per second of dxftext --plugin-only --jobs 1 over dxflib's, under the table. Peak
memory is the maximum resident set of the process. The table goes to standard output and to
DIR/bench/table.md, the rounds themselves to DIR/bench/table.json.
"""
import argparse
import gzip
import json
import shutil
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import benchlib as lib  # noqa: E402


ONE_THREAD = "dxftext -q --plugin-only"
DXFLIB = "dxflib (one process over the files)"


def measure(build, name, target, files, rounds, batch):
    """Times every reader on one input; returns its rows' raw figures."""
    dxftext = build / "bin" / "dxftext"
    dxflib = build / "peers" / "dxflibText"
    peer = batch and dxflib.exists()
    documents, size = len(files), lib.total_bytes(files)
    variants = [(ONE_THREAD, ["--plugin-only", "--jobs", "1"]),
                ("dxftext -q (all text)", ["--jobs", "1"]),
                ("dxftext -q -f jsonl (all text, named)", ["-f", "jsonl", "--jobs", "1"])]
    if batch:
        variants += [("dxftext -q --plugin-only --jobs 2", ["--plugin-only", "--jobs", "2"]),
                     ("dxftext -q --jobs 2 (all text)", ["--jobs", "2"])]
    counts = {label: lib.dxftext_counts(dxftext, options, target) for label, options in variants}
    memchr, plugin = [], []
    timed = {label: [] for label, _ in variants + ([(DXFLIB, None)] if peer else [])}
    info = {}
    peer_counts = None
    for r in range(rounds):
        lib.note(f"{name}: round {r + 1} of {rounds}")
        result = subprocess.run([str(build / "bin" / "benchPlugin"), "--rounds", "1", str(target)],
                                capture_output=True, text=True, check=True)
        info = json.loads(result.stdout.splitlines()[-1])
        memchr.append(info["memchr_seconds"])
        plugin.append(info["plugin_seconds"])
        for label, options in variants:
            child = lib.run([str(dxftext), "-q", *options, str(target)])
            timed[label].append(child)
        if peer:
            child = lib.run([str(dxflib), *map(str, files)])
            peer_counts = lib.peer_counts(child)
            if peer_counts is None:
                lib.note(f"dxflib did not read {name} to its end: no dxflib row")
                peer = False
                del timed[DXFLIB]
            else:
                timed[DXFLIB].append(child)
    rows = [{"reader": "memchr over the line ends (in memory)", "seconds": memchr,
             "texts": None, "rss_kib": None},
            {"reader": "plug-in, in-memory host (benchPlugin)", "seconds": plugin,
             "texts": info["texts"], "rss_kib": None}]
    for label, runs in timed.items():
        texts, statuses = counts[label] if label in counts else (peer_counts[2], None)
        rows.append({"reader": label, "seconds": [c.seconds for c in runs],
                     "texts": texts, "statuses": statuses,
                     "failed": peer_counts[1] if label == DXFLIB else None,
                     "exit": sorted({c.returncode for c in runs}),
                     "rss_kib": lib.median([c.max_rss_kib for c in runs])})
    for row in rows:
        row["ratios"] = [m / s for m, s in zip(memchr, row["seconds"])]
    return {"input": name, "documents": documents, "bytes": size, "lines": info["lines"],
            "plugin_recoveries": info["recoveries"], "plugin_unfinished": info["unfinished"],
            "rows": rows}


def table(results):
    headers = ["input", "reader", "texts", "MiB/s", "documents/s", "÷ memchr", "peak RSS MiB"]
    rows = []
    for result in results:
        for row in result["rows"]:
            seconds = lib.median(row["seconds"])
            rows.append([
                f"{result['input']}" if row is result["rows"][0] else "",
                row["reader"],
                f"{row['texts']:,}" if row["texts"] is not None else "—",
                lib.figure(result["bytes"] / lib.MIB / seconds),
                lib.figure(result["documents"] / seconds),
                lib.figure(lib.median(row["ratios"])),
                lib.figure(row["rss_kib"] / 1024) if row["rss_kib"] else "—",
            ])
    return lib.markdown(headers, rows, right=headers[2:])


def against_dxflib(results):
    """For each batch with a dxflib row: dxftext --plugin-only on one thread against dxflib,
    the median over the rounds of their documents per second in the same round."""
    lines = []
    for result in results:
        rows = {row["reader"]: row for row in result["rows"]}
        if DXFLIB not in rows:
            continue
        ratios = [peer / own for own, peer in zip(rows[ONE_THREAD]["seconds"], rows[DXFLIB]["seconds"])]
        lines.append(f"- {result['input']}: `{ONE_THREAD}` (one thread) reads "
                     f"{lib.figure(lib.median(ratios))} times as many documents per second as "
                     "dxflib in the same rounds.")
    return lines


def notes(results):
    lines = []
    for result in results:
        for row in result["rows"]:
            statuses = row.get("statuses")
            if statuses and set(statuses) != {"ok"}:
                said = ", ".join(f"{n:,} {s}" for s, n in sorted(statuses.items(), key=lambda i: -i[1]))
                lines.append(f"- {result['input']}, {row['reader']}: documents {said}.")
                break
        for row in result["rows"]:
            if row.get("failed"):
                lines.append(f"- {result['input']}, {row['reader']}: {row['failed']:,} documents "
                             "it could not read.")
        if result["plugin_unfinished"]:
            lines.append(f"- {result['input']}, plug-in in memory: {result['plugin_unfinished']} "
                         "documents refused or stopped before their end.")
    return lines

JSONL = ["-f", "jsonl"]


def packed_forms(data, big, batches):
    """The packed inputs, made once beside the plain ones: (name, packed path, plain path,
    dxftext options, whether to time gzip -dc of it too)."""
    forms = []
    binary = data / (big.stem + "-binary.dxf")
    if not binary.exists():
        lib.note(f"writing {binary.name}")
        subprocess.run([sys.executable, str(lib.REPO / "tests" / "binaryDxf.py"), str(big),
                        str(binary)], check=True)
    forms.append((f"{big.stem}: binary DXF", binary, big, ["--jobs", "1"], False))
    packed = data / (big.name + ".gz")
    if not packed.exists():
        with open(big, "rb") as source, gzip.open(packed, "wb", compresslevel=6) as target:
            shutil.copyfileobj(source, target)
    forms.append((f"{big.stem}: .dxf.gz", packed, big, ["--jobs", "1"], True))
    for name, root, files in batches:
        archive = data / (root.name + ".zip")
        if not archive.exists():
            lib.note(f"packing {archive.name}")
            with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
                for f in files:
                    z.write(f, f.relative_to(root.parent))
        tarball = data / (root.name + ".tar.gz")
        if not tarball.exists():
            with tarfile.open(tarball, "w:gz") as t:
                for f in files:
                    t.add(f, str(f.relative_to(root.parent)))
        for jobs in ("1", "2"):
            forms.append((f"{name}: .zip", archive, root, ["--jobs", jobs], False))
        forms.append((f"{name}: .tar.gz", tarball, root, ["--jobs", "1"], False))
    return forms


def measure_packed(build, forms, rounds):
    """Each packed input and its plain twin timed in turn, round after round."""
    dxftext = str(build / "bin" / "dxftext")
    results = []
    for name, packed_path, plain, options, gunzip in forms:
        lib.warm([packed_path] + ([plain] if plain.is_file() else []))
        twin = lib.dxftext_counts(dxftext, options, plain)
        own = lib.dxftext_counts(dxftext, options, packed_path)
        runs = {"packed": [], "plain": [], "gunzip": []}
        for r in range(rounds):
            lib.note(f"{name} --jobs {options[-1]}: round {r + 1} of {rounds}")
            runs["packed"].append(lib.run([dxftext, "-q", *JSONL, *options, str(packed_path)]))
            runs["plain"].append(lib.run([dxftext, "-q", *JSONL, *options, str(plain)]))
            if gunzip:
                runs["gunzip"].append(lib.run(["gzip", "-dc", str(packed_path)]))
        ratios = [a.seconds / b.seconds for a, b in zip(runs["packed"], runs["plain"])]
        decompression = [(a.seconds - b.seconds) / g.seconds
                         for a, b, g in zip(runs["packed"], runs["plain"], runs["gunzip"])]
        results.append({
            "input": name, "jobs": options[-1], "bytes": packed_path.stat().st_size,
            "same_counts": own == twin, "texts": own[0], "statuses": own[1],
            "seconds": [c.seconds for c in runs["packed"]],
            "plain_seconds": [c.seconds for c in runs["plain"]],
            "gunzip_seconds": [c.seconds for c in runs["gunzip"]],
            "ratio": lib.median(ratios),
            "over_decompression": lib.median(decompression) if decompression else None,
            "rss_kib": lib.median([c.max_rss_kib for c in runs["packed"]]),
            "plain_rss_kib": lib.median([c.max_rss_kib for c in runs["plain"]])})
    return results


def packed_table(results):
    headers = ["input", "jobs", "MiB stored", "seconds", "÷ plain twin", "texts as twin",
               "peak RSS MiB (twin)"]
    rows = []
    for r in results:
        rows.append([r["input"], r["jobs"], lib.figure(r["bytes"] / lib.MIB),
                     lib.figure(lib.median(r["seconds"])), lib.figure(r["ratio"]),
                     "yes" if r["same_counts"] else "NO",
                     f"{lib.figure(r['rss_kib'] / 1024)} ({lib.figure(r['plain_rss_kib'] / 1024)})"])
    lines = [lib.markdown(headers, rows, right=headers[1:])]
    for r in results:
        if r["over_decompression"] is not None:
            lines.append(f"\n{r['input']}: the time over the plain drawing's is "
                         f"{lib.figure(r['over_decompression'])} times that of `gzip -dc` alone.")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description="The benchmark table of make bench.")
    parser.add_argument("--build", default="build", help="the build folder (default: build)")
    lib.input_arguments(parser, "BENCH_BIG_MIB", "BENCH_ROUNDS", 5)
    args = parser.parse_args()
    build = Path(args.build).resolve()
    if not Path(lib.TIME).exists():
        sys.exit(f"{lib.TIME} is missing: make deps installs it (Debian's package time)")
    for program in ("dxftext", "benchPlugin"):
        if not (build / "bin" / program).exists():
            sys.exit(f"{build / 'bin' / program} is missing: build first")
    data = build / "bench"

    inputs = []
    for mib, crlf in ((8, False), (args.big_mib, False), (args.big_mib, True)):
        path = lib.drawing(data, mib, crlf)
        inputs.append((f"{mib} MiB drawing, {'CR LF' if crlf else 'LF'}", path, [path], False))
    root, files = lib.batch(data, args.batch, args.small_kib * 1024)
    inputs.append((f"{len(files):,} small drawings", root, files, True))
    tiny = lib.tiny_batch(data, build / "bin" / "dxftext")
    if tiny:
        inputs.append((*tiny, True))
    if not (build / "peers" / "dxflibText").exists():
        lib.note(f"no {build / 'peers' / 'dxflibText'}: the batches have no dxflib row "
                 "(make bench builds it where Debian's libdxflib-dev can be installed)")

    results = []
    for name, target, files, is_batch in inputs:
        results.append(measure(build, name, target, files, args.rounds, is_batch))
    batches = [(name, target, files) for name, target, files, is_batch in inputs if is_batch]
    packed = measure_packed(build, packed_forms(data, inputs[0][1], batches), args.rounds)

    sizes = ", ".join(f"{r['input']}: {lib.figure(r['bytes'] / lib.MIB)} MiB" for r in results)
    text = "\n".join([
        f"Benchmarks of {lib.today()}, commit {lib.commit()}, on {lib.machine()}; "
        f"medians of {args.rounds} rounds, wall-clock time. {sizes}.",
        "",
        table(results),
        "",
        "÷ memchr: the speed over that of a memchr pass finding every line end of the same "
        "bytes in memory, in the same round. texts: text values delivered, empty ones included. "
        "Peak RSS: the process's maximum resident set.",
        *([""] + against_dxflib(results) if against_dxflib(results) else []),
        *([""] + notes(results) if notes(results) else []),
        "",
        "The same drawings packed: `dxftext -q -f jsonl` on each beside its plain twin (the "
        "drawing, or the folder of the batch) in the same round; ÷ plain twin is the median "
        "of the per-round time ratios, and texts as twin says whether both gave the same "
        "text count and statuses.",
        "",
        packed_table(packed),
    ]) + "\n"
    print(text, end="")
    (data / "table.md").write_text(text)
    (data / "table.json").write_text(json.dumps({"plain": results, "packed": packed}, indent=1,
                                                default=lambda o: o.__dict__) + "\n")


if __name__ == "__main__":
    main()
