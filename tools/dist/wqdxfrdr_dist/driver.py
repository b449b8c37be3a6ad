"""The driver of a run: hands the batches that have no part yet to a Dask cluster and
keeps only their counts, so the documents themselves never pass through it."""

import json
import logging
import os
import sys
import time
import uuid

import cloudpickle
from distributed import Client, LocalCluster, as_completed

from . import batch, plan

# Tasks in the scheduler at a time: enough to keep every worker busy, few enough that a
# list of millions never sits in the scheduler's memory.
IN_FLIGHT = 1000

# Workers need nothing of this package: the task's code travels with it.
cloudpickle.register_pickle_by_value(batch)


def say(message):
    print(f"wqdxfrdr_dist: {message}", file=sys.stderr, flush=True)


def connect(scheduler_file, local_workers, dashboard):
    """Returns a client, and the local cluster it started (None with a scheduler file)."""
    if scheduler_file:
        return Client(scheduler_file=scheduler_file), None
    # Every port on loopback, chosen by the system. The scheduler and the workers serve
    # HTTP (health, metrics) even without a dashboard, on all interfaces unless told.
    loopback = "127.0.0.1:0"
    cluster = LocalCluster(n_workers=local_workers, threads_per_worker=1, processes=True,
                           host="127.0.0.1", scheduler_port=0,
                           dashboard_address=loopback if dashboard else None,
                           scheduler_kwargs={"dashboard_address": loopback},
                           worker_dashboard_address=loopback, silence_logs=logging.ERROR)
    return Client(cluster), cluster


def describe(client):
    info = client.scheduler_info()
    hosts = sorted({address.split("://")[-1].rsplit(":", 1)[0] for address in info["workers"]})
    count = len(info["workers"])
    text = (f"scheduler {info['address']}, {count} worker{'' if count == 1 else 's'} "
            f"on {', '.join(hosts) or '-'}")
    return text


class Progress:
    """A one-line bar on standard error when it is a terminal, redrawn at most 5 times a
    second."""

    def __init__(self, documents, done):
        self.shown = sys.stderr.isatty()
        self.documents = documents
        self.done = done
        self.first = done
        self.started = time.monotonic()
        self.drawn = 0.0

    def add(self, documents):
        self.done += documents
        now = time.monotonic()
        if not self.shown or now - self.drawn < 0.2:
            return
        self.drawn = now
        rate = (self.done - self.first) / max(now - self.started, 1e-9)
        fraction = self.done / self.documents if self.documents else 1.0
        bar = "#" * int(fraction * 20)
        left = (self.documents - self.done) / rate if rate > 0 else 0
        sys.stderr.write(f"\r[{bar:.<20}] {self.done}/{self.documents} documents  "
                         f"{rate:.0f}/s  {int(left) // 60}:{int(left) % 60:02d} left\033[K")
        sys.stderr.flush()

    def close(self):
        if self.shown:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def run(args):
    """Writes the missing parts of args.out and its summary; returns the exit status."""
    manifest = plan.settle_manifest(args.out, args.list, args.batch, args.options)
    parts = manifest["parts"]
    finished = plan.finished_parts(args.out, parts)
    counts = {part: record for part, record in plan.read_counts(args.out).items()
              if part in finished}
    uncounted = sorted(finished - counts.keys())
    todo = set(range(parts)) - finished
    command = [args.dxftext, "--format", "jsonl", "-q", "-j", "1",
               "--timeout", f"{args.timeout:g}"] + manifest["options"]
    # dxftext's own limit ends a slow document; this one ends a dxftext that no longer
    # looks at its clock.
    limit = 2 * args.timeout + 1
    if finished:
        say(f"{len(finished)} of {parts} parts already written: reading the other {len(todo)}")

    errors = []
    client, cluster = connect(args.scheduler_file, args.local, args.dashboard)
    progress = None
    try:
        say(describe(client))
        if args.dashboard and cluster is not None:
            say(f"dashboard {client.dashboard_link}")
        started = time.monotonic()
        progress = Progress(manifest["documents"],
                            sum(record["documents"] for record in counts.values()) +
                            len(uncounted) * manifest["batch"])
        token = uuid.uuid4().hex[:8]
        work = [client.submit(batch.count_part, os.path.join(args.out, plan.part_name(part)),
                              key=f"count-{plan.part_name(part)}-{token}")
                for part in uncounted]
        owner = {future.key: part for future, part in zip(work, uncounted)}
        waiting = as_completed(work)
        pending = plan.batches(args.list, manifest["batch"], todo)

        def submit_next():
            for part, paths in pending:
                future = client.submit(batch.read_batch,
                                       os.path.join(args.out, plan.part_name(part)), paths,
                                       command, manifest["cwd"], limit,
                                       key=f"read-{plan.part_name(part)}-{token}")
                owner[future.key] = part
                waiting.add(future)
                return

        for _ in range(IN_FLIGHT):
            submit_next()
        with open(os.path.join(args.out, plan.COUNTS), "a", encoding="utf-8") as log:
            for future in waiting:
                part = owner.pop(future.key)
                if future.status != "finished":
                    errors.append(f"part {part}: {type(future.exception()).__name__}: "
                                  f"{future.exception()}")
                    continue
                record = dict(part=part, **future.result())
                future.release()
                log.write(json.dumps(record, sort_keys=True) + "\n")
                log.flush()
                counts[part] = record
                progress.add(record["documents"] if part in todo else 0)
                if not errors:  # once one failed the rest would too: stop handing out
                    submit_next()
        seconds = time.monotonic() - started
    finally:
        if progress is not None:
            progress.close()
        client.close()
        if cluster is not None:
            cluster.close()

    summary = summarize(manifest, counts, todo, seconds)
    plan.write_atomically(os.path.join(args.out, plan.SUMMARY),
                          json.dumps(summary, indent=1, sort_keys=True) + "\n")
    statuses = ", ".join(f"{n} {status}" for status, n in sorted(summary["statuses"].items()))
    say(f"{summary['documents']} documents in {len(counts)} of {parts} parts ({statuses}); "
        f"{summary['documents_read']} read in {seconds:.1f} s; {args.out}/{plan.SUMMARY}")
    for error in errors[:5]:
        say(error)
    if summary["parts_missing"]:
        say(f"{summary['parts_missing']} parts missing: run again to read them")
        return 1
    remove_leftovers(args.out)
    return 0


def summarize(manifest, counts, read_now, seconds):
    statuses = {}
    for record in counts.values():
        for status, n in record["statuses"].items():
            statuses[status] = statuses.get(status, 0) + n
    documents_read = sum(counts[part]["documents"] for part in read_now if part in counts)
    return {
        "documents": sum(record["documents"] for record in counts.values()),
        "statuses": statuses,
        "bytes": sum(record["bytes"] for record in counts.values()),
        "parts": manifest["parts"],
        "parts_missing": manifest["parts"] - len(counts),
        "batch": manifest["batch"],
        "task_seconds": round(sum(record["seconds"] for record in counts.values()), 3),
        "seconds": round(seconds, 3),
        "documents_read": documents_read,
        "documents_per_second": round(documents_read / seconds, 1) if seconds > 0 else 0,
    }


def remove_leftovers(out_dir):
    """Removes the half-written parts of tasks whose worker died: every part is whole now."""
    for name in os.listdir(out_dir):
        if name.startswith(".part-") and name.endswith(".tmp"):
            try:
                os.unlink(os.path.join(out_dir, name))
            except FileNotFoundError:
                pass
