"""The driver of a run: hands the batches that have no part yet to a Dask cluster and
keeps only their counts, so the documents themselves never pass through it."""

import copy
import json
import logging
import os
import sys
import time
import uuid

import cloudpickle
import dask
from dask.utils import key_split
from distributed import Client, LocalCluster, as_completed

from . import batch, plan

# Tasks handed to the cluster at a time, for each thread of its workers: a few, so that a
# worker that finishes one has the next waiting, while the rest of the list stays unread.
# The floor keeps a cluster whose workers have not all joined yet fed.
IN_FLIGHT_PER_THREAD = 4
IN_FLIGHT_MIN = 8
# Workers may join or leave while a run goes on: the bound follows them at this pace.
RECOUNT_SECONDS = 5.0

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
    # This cluster's scheduler lives in this process, with its logs of past transitions
    # and events: at 100,000 entries each by default, some 5 KB a task, they would grow
    # with the list for its first million documents and more. The last thousand are
    # enough to look back at a failure. The profile of this process's event loop, a
    # dashboard page, would add one a second for a quarter of an hour. The workers keep
    # the configuration as it is.
    workers = copy.deepcopy(dask.config.config)
    with dask.config.set({"distributed.scheduler.transition-log-length": 1000,
                          "distributed.scheduler.events-log-length": 1000,
                          "distributed.worker.profile.enabled": False}):
        cluster = LocalCluster(n_workers=local_workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", scheduler_port=0,
                               dashboard_address=loopback if dashboard else None,
                               scheduler_kwargs={"dashboard_address": loopback},
                               worker_dashboard_address=loopback, silence_logs=logging.ERROR,
                               config=workers)
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


def in_flight_bound(client):
    threads = sum(worker["nthreads"] for worker in client.scheduler_info()["workers"].values())
    return max(IN_FLIGHT_MIN, IN_FLIGHT_PER_THREAD * threads)


def run(args):
    """Writes the missing parts of args.out and its summary; returns the exit status.

    Whatever the list's length, it keeps running totals, a bit for each part and the
    tasks in flight: the list is read as tasks are handed out."""
    manifest = plan.settle_manifest(args.out, args.list, args.batch, args.options)
    parts = manifest["parts"]
    finished = plan.finished_parts(args.out, parts)
    totals, counted = plan.read_counts(args.out, finished)
    uncounted = len(finished) - len(counted)
    command = [args.dxftext, "--format", "jsonl", "-q", "-j", "1",
               "--timeout", f"{args.timeout:g}"] + manifest["options"]
    # dxftext's own limit ends a slow document; this one ends a dxftext that no longer
    # looks at its clock.
    limit = 2 * args.timeout + 1
    if finished:
        say(f"{len(finished)} of {parts} parts already written: reading the other "
            f"{parts - len(finished)}")

    errors = []
    documents_read = 0
    client, cluster = connect(args.scheduler_file, args.local, args.dashboard)
    progress = None
    try:
        say(describe(client))
        if args.dashboard and cluster is not None:
            say(f"dashboard {client.dashboard_link}")
        started = time.monotonic()
        progress = Progress(manifest["documents"], totals.documents + uncounted * manifest["batch"])
        # A tuple key puts every task of a kind in one task group: a key of its own would
        # make a group for each task, which the scheduler keeps for the run.
        token = uuid.uuid4().hex[:8]

        def tasks():
            """Submits the tasks one at a time as they are taken: first the count of each
            part whose counts line was lost, then the reading of each part not written."""
            for part in range(parts) if uncounted else ():
                if part in finished and part not in counted:
                    yield part, False, client.submit(
                        batch.count_part, os.path.join(args.out, plan.part_name(part)),
                        key=(f"count-{token}", part))
            for part, paths in plan.batches(args.list, manifest["batch"], finished):
                yield part, True, client.submit(
                    batch.read_batch, os.path.join(args.out, plan.part_name(part)), paths,
                    command, manifest["cwd"], limit, key=(f"read-{token}", part))

        pending = tasks()
        waiting = as_completed()
        owner = {}
        bound, recounted = in_flight_bound(client), time.monotonic()

        def top_up():
            nonlocal bound, recounted
            if time.monotonic() - recounted > RECOUNT_SECONDS:
                bound, recounted = in_flight_bound(client), time.monotonic()
                # Dask remembers how it split each task key, up to 100,000 of them: ours
                # are each new, so with the scheduler in this process the cache would
                # grow with the list.
                key_split.cache_clear()
            while len(owner) < bound:
                task = next(pending, None)
                if task is None:
                    return
                part, reads, future = task
                owner[future.key] = part, reads
                waiting.add(future)

        top_up()
        with plan.open_counts(args.out) as log:
            for future in waiting:
                part, reads = owner.pop(future.key)
                if future.status != "finished":
                    errors.append(f"part {part}: {type(future.exception()).__name__}: "
                                  f"{future.exception()}")
                    continue
                record = dict(part=part, **future.result())
                future.release()
                log.write(json.dumps(record, sort_keys=True) + "\n")
                log.flush()
                totals.add(record)
                if reads:
                    documents_read += record["documents"]
                progress.add(record["documents"] if reads else 0)
                if not errors:  # once one failed the rest would too: stop handing out
                    top_up()
        seconds = time.monotonic() - started
    finally:
        if progress is not None:
            progress.close()
        client.close()
        if cluster is not None:
            cluster.close()

    summary = plan.summary(manifest, totals, documents_read, seconds)
    plan.write_atomically(os.path.join(args.out, plan.SUMMARY),
                          json.dumps(summary, indent=1, sort_keys=True) + "\n")
    statuses = ", ".join(f"{n} {status}" for status, n in sorted(summary["statuses"].items()))
    say(f"{summary['documents']} documents in {totals.parts} of {parts} parts ({statuses}); "
        f"{summary['documents_read']} read in {seconds:.1f} s; {args.out}/{plan.SUMMARY}")
    for error in errors[:5]:
        say(error)
    if summary["parts_missing"]:
        say(f"{summary['parts_missing']} parts missing: run again to read them")
        return 1
    remove_leftovers(args.out)
    return 0


def remove_leftovers(out_dir):
    """Removes the half-written parts of tasks whose worker died: every part is whole now."""
    for name in os.listdir(out_dir):
        if name.startswith(".part-") and name.endswith(".tmp"):
            try:
                os.unlink(os.path.join(out_dir, name))
            except FileNotFoundError:
                pass
