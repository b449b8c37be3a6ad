#!/usr/bin/python3
# dxftext next to other DXF readers (dxflib, libdime, GDAL's OGR driver, ezdxf) on the same
# drawings: speed, peak memory and how many texts each one finds. bench/peers.sh runs it.
"""Usage: /usr/bin/python3 bench/peers.py [--build DIR] [--big-mib N] [--rounds N]
                                   [--baseline-ref REF] [--baseline-build DIR]

Reads the 8 MiB drawing, the BIG MiB one (0: none) and the two batches of bench/table.py
(small drawings, and the 20 smallest that read to their end copied 100 times each; made in
DIR/bench when missing) with each reader, round after round, one process per reader and
input (each batch too), output to /dev/null. Three groups:

  TEXT, ATTRIB, BLOCK   dxftext --plugin-only, and the peers' programs that print the same
                        entities (bench/peers/*: dxflib, libdime, ezdxf)
  all text              dxftext (the host's MTEXT and the rest added), dxflib --all, GDAL
                        (every feature's Text field), ezdxf --all
  all text and fields   dxftext -f jsonl; the same built from REF (b9a0056, the last commit
                        whose JSON Lines have no layer, handle, block, space, tag, insert,
                        position or metadata; $PEERS_BASELINE_REF; "none": no such row) in
                        a build folder of its own (DIR-baseline); the Python module
                        wqdxfrdr (each entity's as_dict() and each document's status and
                        metadata, in one thread and in two); GDAL --fields (each feature's
                        Layer, EntityHandle and the rest with its Text); ezdxf --all
                        --fields (each entity's layer, handle, block, space, tag, the insert
                        of an attribute and its point with its texts)

"÷ dxftext" is the median over the rounds of a reader's speed over that of dxftext of its
group in the same round. The table under it gives the cost of the fields: dxftext -f jsonl
over the same at REF, time and peak memory, the median of the rounds' ratios. Where REF
cannot be built (a tarball has no history), its row and that table are left out with a note.
A peer that crashes on a drawing of the batch reads the batch without every copy of it, and
the table says so. Writes bench/peers.md, bench/peers.png and DIR/bench/peers.json, and puts
the tables into README.md's Speed section.
"""
import argparse
import json
import os
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ left in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import benchlib as lib  # noqa: E402

HERE = Path(__file__).resolve().parent
PYTHON = "/usr/bin/python3"
GROUPS = {"plugin": "TEXT, ATTRIB, BLOCK", "all": "all text", "fields": "all text and fields"}
# The last commit whose JSON Lines carry no fields but the texts: what they cost is measured
# against it.
BASELINE_REF = "b9a0056"
JSONL = "dxftext -f jsonl"
PYTHON_MODULE = "wqdxfrdr.read (Python)"
PYTHON_THREADS = "wqdxfrdr.read (Python), 2 threads"
# Where the README's Speed section holds the table, which each run writes anew.
README_START = "<!-- bench/peers.sh writes the table below -->"
README_END = "<!-- end of the table -->"

# What each reader counts as its texts, for the lines under the table.
READS = {
    "dxftext --plugin-only": "TEXT (1), ATTDEF and ATTRIB (value and tag), BLOCK (name and the "
                             "code 1 xref path, empty in the generated drawings)",
    "dxftext --plugin-only --jobs 2": "the same, two documents at a time in one process (the "
                                      "default on two cores); one drawing is read by one thread",
    "dxflib": "TEXT, ATTRIB (value and tag), BLOCK name; dxflib has no ATTDEF",
    "libdime": "TEXT, ATTDEF and ATTRIB (value and tag), BLOCK name",
    "ezdxf": "TEXT, ATTDEF and ATTRIB (value and tag), BLOCK name",
    "dxftext": "the above, then MTEXT, MULTILEADER, DIMENSION user text, ARCALIGNEDTEXT, "
               "ACAD_TABLE cells, RTEXT",
    "dxflib --all": "the above, then MTEXT, DIMENSION user text, ARCALIGNEDTEXT",
    "GDAL/OGR": "the Text field of TEXT, MTEXT, ATTDEF and DIMENSION features and each ATTRIB "
                "as one \"TAG value\" (DXF_INLINE_BLOCKS=FALSE); no block names",
    "ezdxf --all": "the above, then MTEXT, DIMENSION user text, MULTILEADER",
    JSONL: "the texts of dxftext as JSON Lines, one object an entity with its kind, layer, "
           "handle, block, space, tag, insert and position, and a closing object a document "
           "with its metadata",
    # The row of the baseline build comes here, under its commit's name (see readers()).
    PYTHON_MODULE: "the entities and metadata of dxftext -f jsonl read in-process by the "
                   "Python module (bench/peers/wqdxfrdrText.py): each entity's as_dict() and "
                   "each document's status, message and metadata, handed on, not printed",
    PYTHON_THREADS: "the same, two documents at a time in two threads of one process",
    "GDAL/OGR with layer and handle": "the texts of GDAL/OGR, each after the feature's Layer, "
                                      "EntityHandle, Block, PaperSpace and AttributeTag fields "
                                      "and its point, tab-separated; an attribute after its "
                                      "INSERT's Layer, EntityHandle and BlockName (the driver "
                                      "gives no handle of an ATTRIB of its own)",
    "ezdxf with attributes": "the texts of ezdxf --all, one line an entity: its dxf.layer, "
                             "dxf.handle, block, space, dxf.tag, for an ATTRIB the dxf.handle and "
                             "dxf.name of its INSERT (entity.attribs), and its point (dxf.insert, "
                             "a DIMENSION's dxf.defpoint, a BLOCK's base point), tab-separated",
}


def baseline_label(commit):
    return f"{JSONL} at {commit}"


def readers(build, baseline):
    """(label, group, command before the inputs, reads a folder itself); `baseline` is the
    (dxftext, commit) of the build the fields are measured against, or None."""
    dxftext = str(build / "bin" / "dxftext")
    peers = build / "peers"
    ezdxf = [PYTHON, str(HERE / "peers" / "ezdxfText.py")]
    jsonl = ["-q", "--jobs", "1", "-f", "jsonl"]
    fields = [(JSONL, "fields", [dxftext, *jsonl], True)]
    if baseline:
        fields.append((baseline_label(baseline[1]), "fields", [str(baseline[0]), *jsonl], True))
    # The Python module reads from the build folder, beside the plug-in it loads.
    if list((build / "bin").glob("wqdxfrdr.*.so")):
        module = [PYTHON, str(HERE / "peers" / "wqdxfrdrText.py"), "--module-dir", str(build / "bin")]
        fields += [(PYTHON_MODULE, "fields", module, False),
                   (PYTHON_THREADS, "fields", module + ["--threads", "2"], False)]
    else:
        lib.note(f"no Python module in {build / 'bin'}: no rows of it")
    fields += [
        ("GDAL/OGR with layer and handle", "fields", [str(peers / "gdalText"), "--fields"], False),
        ("ezdxf with attributes", "fields", ezdxf + ["--all", "--fields"], False),
    ]
    return [
        ("dxftext --plugin-only", "plugin", [dxftext, "-q", "--jobs", "1", "--plugin-only"], True),
        # The same process with two threads, as dxftext runs by default on two cores.
        ("dxftext --plugin-only --jobs 2", "plugin",
         [dxftext, "-q", "--jobs", "2", "--plugin-only"], True),
        ("dxflib", "plugin", [str(peers / "dxflibText")], False),
        ("libdime", "plugin", [str(peers / "dimeText")], False),
        ("ezdxf", "plugin", ezdxf, False),
        ("dxftext", "all", [dxftext, "-q", "--jobs", "1"], True),
        ("dxflib --all", "all", [str(peers / "dxflibText"), "--all"], False),
        ("GDAL/OGR", "all", [str(peers / "gdalText")], False),
        ("ezdxf --all", "all", ezdxf + ["--all"], False),
    ] + fields


class Reader:
    """One reader on one input: its runs, counts, and the drawings it had to be spared."""

    def __init__(self, label, group, command, takes_folder):
        self.label, self.group, self.command, self.takes_folder = label, group, command, takes_folder
        self.runs, self.texts, self.failed, self.left_out, self.broken = [], None, None, [], None


def spare(reader, files, timeout):
    """The batch less every copy of the drawings the reader crashes or hangs on alone."""
    bad = set()
    firsts = {}
    for path in files:
        firsts.setdefault(path.name.split("-", 1)[1], path)
    for name, path in sorted(firsts.items()):
        if lib.peer_counts(lib.run(reader.command + [str(path)], timeout=timeout)) is None:
            bad.add(name)
    reader.left_out = sorted(bad)
    return [p for p in files if p.name.split("-", 1)[1] not in bad]


def measure(build, baseline, name, target, files, rounds, timeout):
    """Every reader on one input, round after round; returns the input's figures."""
    size = lib.total_bytes(files)
    all_readers = [Reader(*r) for r in readers(build, baseline)]
    inputs = {}
    for reader in all_readers:
        if reader.takes_folder:
            options = ["--plugin-only"] if reader.group == "plugin" else []
            reader.texts, statuses = lib.dxftext_counts(reader.command[0], options, target)
            reader.failed = sum(n for s, n in statuses.items() if s not in ("ok", "recovered"))
            inputs[reader.label] = [str(target)]
        else:
            inputs[reader.label] = [str(p) for p in files]
    for r in range(rounds):
        lib.note(f"{name}: round {r + 1} of {rounds}")
        for reader in all_readers:
            if reader.broken:
                continue
            lib.warm(files)
            run = lib.run(reader.command + inputs[reader.label], timeout=timeout)
            # dxftext exits with 1 when a document of a batch could not be read, which the
            # batches hold on purpose; 2 is a usage error (a baseline from before an option
            # it is given), whose time would be no reading at all.
            if reader.takes_folder and (run.timed_out or run.returncode not in (0, 1)):
                reader.broken = (f"timed out after {timeout} s" if run.timed_out
                                 else f"exit status {run.returncode}")
                continue
            if not reader.takes_folder:
                counted = lib.peer_counts(run)
                if counted is None and len(files) > 1 and not reader.left_out:
                    lib.note(f"{reader.label} did not finish the batch: finding the drawings it cannot read")
                    kept = spare(reader, files, timeout)
                    inputs[reader.label] = [str(p) for p in kept]
                    run = lib.run(reader.command + inputs[reader.label], timeout=timeout)
                    counted = lib.peer_counts(run)
                if counted is None:
                    reader.broken = (f"timed out after {timeout} s" if run.timed_out
                                     else f"exit status {run.returncode}")
                    continue
                _, reader.failed, reader.texts = counted
            reader.runs.append(run)
    reference = {g: next(x for x in all_readers if x.takes_folder and x.group == g) for g in GROUPS}
    rows = []
    for reader in all_readers:
        read_bytes = size
        documents = len(files)
        if reader.left_out:
            kept = [p for p in files if p.name.split("-", 1)[1] not in reader.left_out]
            read_bytes, documents = lib.total_bytes(kept), len(kept)
        seconds = [run.seconds for run in reader.runs]
        base = reference[reader.group]
        ratios = [(read_bytes / s) / (size / b.seconds) for s, b in zip(seconds, base.runs)]
        rows.append({
            "reader": reader.label, "group": reader.group, "texts": reader.texts,
            "failed": reader.failed, "documents": documents, "bytes": read_bytes,
            "left_out": reader.left_out, "broken": reader.broken, "seconds": seconds,
            "mib_s": read_bytes / lib.MIB / lib.median(seconds) if seconds else None,
            "documents_s": documents / lib.median(seconds) if seconds else None,
            "ratio": lib.median(ratios),
            "rss_mib": (lib.median([r.max_rss_kib for r in reader.runs]) or 0) / 1024 or None,
            "rss_kib": [run.max_rss_kib for run in reader.runs],
        })
    return {"input": name, "documents": len(files), "bytes": size, "rows": rows}


def table(results):
    headers = ["input", "reads", "reader", "texts", "failed documents", "MiB/s", "documents/s",
               "÷ dxftext", "peak RSS MiB"]
    rows = []
    for result in results:
        first = True
        for group in GROUPS:
            for row in (r for r in result["rows"] if r["group"] == group):
                rows.append([
                    result["input"] if first else "",
                    GROUPS[group] if row["reader"].startswith("dxftext") else "",
                    f"**{row['reader']}**" if row["reader"].startswith("dxftext") else row["reader"],
                    f"{row['texts']:,}" if row["texts"] is not None else "—",
                    f"{row['failed']:,}" if row["failed"] is not None else "—",
                    lib.figure(row["mib_s"]) if not row["broken"] else row["broken"],
                    lib.figure(row["documents_s"]),
                    lib.figure(row["ratio"]),
                    lib.figure(row["rss_mib"]),
                ])
                first = False
    return lib.markdown(headers, rows, right=headers[3:])


def cost(results, baseline):
    """The table of what the fields cost: dxftext -f jsonl over the same built at the
    baseline, on each input both read, time and peak memory; each ratio is the median of
    the rounds' ratios, so a busy machine slows both sides of it."""
    label = baseline_label(baseline[1])
    headers = ["input", f"seconds at {baseline[1]}", "seconds", f"time ÷ {baseline[1]}",
               f"peak RSS MiB at {baseline[1]}", "peak RSS MiB", f"peak RSS ÷ {baseline[1]}"]
    rows = []
    for result in results:
        found = {row["reader"]: row for row in result["rows"]}
        now, then = found.get(JSONL), found.get(label)
        if not (now and then and now["seconds"] and then["seconds"]):
            continue
        times = [a / b for a, b in zip(now["seconds"], then["seconds"])]
        memory = [a / b for a, b in zip(now["rss_kib"], then["rss_kib"]) if a and b]
        rows.append([
            result["input"],
            lib.figure(lib.median(then["seconds"])),
            lib.figure(lib.median(now["seconds"])),
            lib.figure(lib.median(times)),
            lib.figure(then["rss_mib"]),
            lib.figure(now["rss_mib"]),
            lib.figure(lib.median(memory)),
        ])
    return lib.markdown(headers, rows, right=headers[1:]) if rows else None


def chart(results, path):
    """Bars of MiB/s, one panel per input, the two groups in two colours."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    colours = {"plugin": "#3b6ea5", "all": "#e08a2c", "fields": "#4f9a55"}
    height = sum(0.19 * len(result["rows"]) + 0.5 for result in results)
    figure, axes = plt.subplots(len(results), 1, figsize=(8, height + 0.6), squeeze=False)
    for axis, result in zip(axes[:, 0], results):
        rows = [r for r in result["rows"] if r["mib_s"] is not None and not r["broken"]]
        labels = [r["reader"] for r in rows][::-1]
        values = [r["mib_s"] for r in rows][::-1]
        bars = axis.barh(labels, values, color=[colours[r["group"]] for r in rows][::-1])
        for bar, value in zip(bars, values):
            axis.text(bar.get_width(), bar.get_y() + bar.get_height() / 2, f" {lib.figure(value)}",
                      va="center", fontsize=8)
        axis.set_title(result["input"], fontsize=10, loc="left")
        axis.set_xlim(0, max(values) * 1.18)
        axis.tick_params(labelsize=8)
        for label in axis.get_yticklabels():
            if label.get_text().startswith("dxftext"):
                label.set_fontweight("bold")
    axes[-1, 0].set_xlabel("MiB/s (higher is faster)")
    handles = [plt.Rectangle((0, 0), 1, 1, color=c) for c in colours.values()]
    figure.legend(handles, GROUPS.values(), loc="upper right", fontsize=8, ncol=3)
    figure.text(0.01, 0.99, f"{lib.today()}, commit {lib.commit()}\n{lib.machine()}",
                va="top", fontsize=7, color="#555555")
    figure.tight_layout(rect=(0, 0, 1, 0.97))
    figure.savefig(path, dpi=110)
    plt.close(figure)


def update_readme(header, body):
    """Puts the new table into the README's Speed section, between its two markers."""
    readme = lib.REPO / "README.md"
    text = readme.read_text()
    start, end = text.find(README_START), text.find(README_END)
    if start < 0 or end < start:
        lib.note("README.md has no markers for the table: left as it is")
        return
    start += len(README_START)
    readme.write_text(text[:start] + "\n" + header + "\n\n" + body + "\n" + text[end:])


def main():
    parser = argparse.ArgumentParser(description="dxftext next to other DXF readers.")
    parser.add_argument("--build", default="build-bench", help="the build folder (default: build-bench)")
    lib.input_arguments(parser, "PEERS_BIG_MIB", "PEERS_ROUNDS", 3)
    parser.add_argument("--timeout", type=int, default=1800, help="seconds one run may take")
    parser.add_argument("--out", default=str(HERE), help="where peers.md and peers.png go")
    parser.add_argument("--baseline-ref", default=os.environ.get("PEERS_BASELINE_REF", BASELINE_REF),
                        help="the commit dxftext -f jsonl is measured against ($PEERS_BASELINE_REF, "
                             f"default {BASELINE_REF}; none: no such row)")
    parser.add_argument("--baseline-build", help="where that commit is built (default: the build "
                                                 "folder's name with -baseline)")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    data = build / "bench"

    # Built before anything is timed, so that a compiler never shares the machine with a run.
    baseline, why_not = None, f"--baseline-ref {args.baseline_ref}"
    if args.baseline_ref.lower() not in ("", "none"):
        folder = Path(args.baseline_build or build.parent / f"{build.name}-baseline")
        dxftext, said = lib.dxftext_at(args.baseline_ref, folder)
        if dxftext:
            baseline = (dxftext, said)
        else:
            why_not = said
    if baseline is None:
        lib.note(f"no row of {JSONL} built from an earlier commit: {why_not}")

    inputs = []
    for mib in [8] + ([args.big_mib] if args.big_mib else []):
        path = lib.drawing(data, mib)
        inputs.append((f"{mib} MiB drawing", path, [path]))
    root, files = lib.batch(data, args.batch, args.small_kib * 1024)
    inputs.append((f"{len(files):,} small drawings", root, files))
    tiny = lib.tiny_batch(data, build / "bin" / "dxftext")
    if tiny:
        inputs.append(tiny)
    results = [measure(build, baseline, name, target, paths, args.rounds, args.timeout)
               for name, target, paths in inputs]

    notes = []
    for result in results:
        for row in result["rows"]:
            if row["left_out"]:
                notes.append(f"- {result['input']}, {row['reader']}: read without the "
                             f"{result['documents'] - row['documents']} copies of "
                             f"{', '.join(row['left_out'])}, which it cannot read alone (crash or hang).")
            if row["broken"]:
                notes.append(f"- {result['input']}, {row['reader']}: no figure, {row['broken']}.")
    sizes = ", ".join(f"{r['input']}: {lib.figure(r['bytes'] / lib.MIB)} MiB" for r in results)
    header = (f"Measured {lib.today()}, commit {lib.commit()}, on {lib.machine()}; medians of "
              f"{args.rounds} rounds, wall-clock time, one process per reader and input, output "
              f"to /dev/null. {sizes}.")
    # The ref as given, and the commit it named when that is not plain from the ref.
    built_from = (args.baseline_ref if not baseline or baseline[1].startswith(args.baseline_ref)
                  else f"{args.baseline_ref} ({baseline[1]})")
    fields_cost = cost(results, baseline) if baseline else None
    if fields_cost:
        said = (f"What the fields cost: `{JSONL}` of this commit over the same built from "
                f"{built_from}, on one thread each in the same rounds; a ratio above 1 is the "
                "time or memory the fields add.")
    elif baseline:
        said = (f"What the fields cost: not measured, `{JSONL}` built from {built_from} read "
                "none of the inputs (see the notes).")
    else:
        said = (f"What the fields cost: not measured, no `{JSONL}` built from an earlier "
                f"commit: {why_not}.")
    tables = "\n\n".join([table(results), said] + ([fields_cost] if fields_cost else []))
    described = []
    for label, what in READS.items():
        described.append(f"- {label}: {what}.")
        if label == JSONL and baseline:
            described.append(f"- {baseline_label(baseline[1])}: the same command built from "
                             f"{built_from}, JSON Lines as they were before the fields: kind and "
                             "texts an entity, the counts a document.")
    text = "\n".join([
        header,
        "",
        tables,
        "",
        "÷ dxftext: the speed over that of dxftext in the same group and round (in the last "
        f"group, of {JSONL}). texts: the values each reader prints, empty ones included; failed "
        "documents: those it could not read (refused, stopped or raised). What each reader's "
        "texts are:",
        "",
        *described,
        *([""] + notes if notes else []),
    ]) + "\n"
    print(text, end="")
    out = Path(args.out)
    (out / "peers.md").write_text(text)
    if out.resolve() == HERE:
        update_readme(header, tables)
    chart(results, out / "peers.png")
    (data / "peers.json").write_text(json.dumps(results, indent=1) + "\n")


if __name__ == "__main__":
    main()
