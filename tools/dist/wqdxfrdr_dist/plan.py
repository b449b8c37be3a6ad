"""The plan of a run kept in its output folder: which list, cut into which batches, and
what each finished part held; the same plan on every rerun is what makes resuming safe."""

import hashlib
import json
import os

MANIFEST = "manifest.json"
COUNTS = "counts.jsonl"
SUMMARY = "summary.json"
DEFAULT_BATCH = 100


class PlanError(Exception):
    """The list or the output folder cannot serve this run; the message says why."""


def read_paths(list_path):
    """Yields the paths of a list as bytes, exactly as `dxftext --paths-from` takes them:
    trailing CR and LF dropped, empty lines skipped."""
    with open(list_path, "rb") as lines:
        for line in lines:
            path = line.rstrip(b"\r\n")
            if path:
                yield path


def scan_list(list_path):
    """Returns the list's SHA-256 and its number of paths, in one pass.

    A "-" line would make dxftext read standard input, which a batch cannot share."""
    digest = hashlib.sha256()
    count = 0
    try:
        with open(list_path, "rb") as lines:
            for number, line in enumerate(lines, 1):
                digest.update(line)
                path = line.rstrip(b"\r\n")
                if path == b"-":
                    raise PlanError(f"{list_path}: line {number} is '-': name files only")
                count += bool(path)
    except OSError as error:
        raise PlanError(f"{list_path}: {error.strerror}") from error
    return digest.hexdigest(), count


def batches(list_path, size, done):
    """Yields (part number, paths) for each part not in `done`, reading the list once and
    keeping no path of a part already done."""
    part, taken, batch = 0, 0, []
    wanted = part not in done
    for path in read_paths(list_path):
        if wanted:
            batch.append(path)
        taken += 1
        if taken == size:
            if wanted:
                yield part, batch
            part, taken, batch = part + 1, 0, []
            wanted = part not in done
    if batch:
        yield part, batch


def part_count(documents, batch):
    return (documents + batch - 1) // batch


def part_name(part):
    return f"part-{part:06d}.jsonl"


def write_atomically(path, text):
    """Writes a small file whole or not at all."""
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(temporary, path)


def settle_manifest(out_dir, list_path, batch, options):
    """Returns the manifest of out_dir, written now when the folder is new.

    A folder that holds another list, batch size or dxftext options is refused: its parts
    would not join into one run's output. `batch` None takes the folder's own."""
    digest, documents = scan_list(list_path)
    path = os.path.join(out_dir, MANIFEST)
    try:
        with open(path, encoding="utf-8") as existing:
            manifest = json.load(existing)
    except FileNotFoundError:
        manifest = None
    except (OSError, ValueError) as error:
        raise PlanError(f"{path}: unreadable ({error}): remove it or give another --out") from error
    if manifest is not None:
        differences = []
        if manifest["list_sha256"] != digest:
            differences.append(f"it holds the parts of another list ({manifest['documents']} "
                               f"documents, SHA-256 {manifest['list_sha256'][:12]}...)")
        if batch is not None and batch != manifest["batch"]:
            differences.append(f"its batches are of {manifest['batch']} documents, not {batch}")
        if options != manifest["options"]:
            differences.append(f"it was read with the dxftext options {manifest['options']}")
        if differences:
            raise PlanError(f"{out_dir}: {'; '.join(differences)}: give another --out, or "
                            "remove the folder to start over")
        return manifest
    batch = batch or DEFAULT_BATCH
    manifest = {
        "list": os.path.abspath(list_path),
        "list_sha256": digest,
        "documents": documents,
        "batch": batch,
        "parts": part_count(documents, batch),
        "options": options,
        # Relative paths in the list are read from here, on every worker.
        "cwd": os.getcwd(),
    }
    os.makedirs(out_dir, exist_ok=True)
    write_atomically(path, json.dumps(manifest, indent=1) + "\n")
    return manifest


def load_manifest(out_dir):
    path = os.path.join(out_dir, MANIFEST)
    try:
        with open(path, encoding="utf-8") as existing:
            return json.load(existing)
    except FileNotFoundError as error:
        raise PlanError(f"{out_dir}: no {MANIFEST}: not the output of a run") from error
    except (OSError, ValueError) as error:
        raise PlanError(f"{path}: unreadable ({error})") from error


class PartSet:
    """A set of part numbers, one bit each: the parts of a list of any length in a few
    kilobytes."""

    def __init__(self, parts):
        self.parts = parts
        self.bits = bytearray((parts + 7) // 8)
        self.size = 0

    def add(self, part):
        mask = 1 << (part & 7)
        if not self.bits[part >> 3] & mask:
            self.bits[part >> 3] |= mask
            self.size += 1

    def __contains__(self, part):
        return 0 <= part < self.parts and bool(self.bits[part >> 3] & (1 << (part & 7)))

    def __len__(self):
        return self.size


def finished_parts(out_dir, parts):
    """The part numbers whose files are in out_dir (half-written ones never are), from a
    listing taken one name at a time."""
    finished = PartSet(parts)
    with os.scandir(out_dir) as names:
        for entry in names:
            number = entry.name[len("part-"):-len(".jsonl")]
            if number.isascii() and number.isdigit() and part_name(int(number)) == entry.name \
                    and int(number) < parts:
                finished.add(int(number))
    return finished


class Totals:
    """The counts of the parts added up as they come: all that a run keeps of them."""

    def __init__(self):
        self.parts = 0
        self.documents = 0
        self.statuses = {}
        self.bytes = 0
        # An int until a part took time, as the sum of the parts' seconds would be.
        self.seconds = 0

    def add(self, record):
        self.parts += 1
        self.documents += record["documents"]
        for status, n in record["statuses"].items():
            self.statuses[status] = self.statuses.get(status, 0) + n
        self.bytes += record["bytes"]
        self.seconds += record["seconds"]


def _records(out_dir, finished):
    """The records of counts.jsonl for the parts in `finished`, a line cut short skipped."""
    try:
        with open(os.path.join(out_dir, COUNTS), encoding="utf-8") as lines:
            for line in lines:
                try:
                    record = json.loads(line)
                except ValueError:
                    continue
                if isinstance(record, dict) and isinstance(record.get("part"), int) and \
                        record["part"] in finished:
                    yield record
    except FileNotFoundError:
        pass


def read_counts(out_dir, finished):
    """Adds up the counts recorded for the parts in `finished`; returns the Totals and the
    PartSet of the parts counted.

    A part read again after its file was removed has a line for each reading: the last
    one is that of the file there now."""
    totals, counted, repeated = Totals(), PartSet(finished.parts), {}
    for record in _records(out_dir, finished):
        if record["part"] in counted:
            repeated[record["part"]] = repeated.get(record["part"], 0) + 1
        counted.add(record["part"])
        totals.add(record)
    if repeated:
        # Rare, so a second pass rather than a record kept for every part.
        totals = Totals()
        for record in _records(out_dir, finished):
            if repeated.get(record["part"]):
                repeated[record["part"]] -= 1
            else:
                totals.add(record)
    return totals, counted


def open_counts(out_dir):
    """counts.jsonl opened to add lines to; the first starts a line of its own when the
    last one was cut short, which read_counts then skips alone."""
    path = os.path.join(out_dir, COUNTS)
    cut = False
    try:
        with open(path, "rb") as existing:
            if existing.seek(0, os.SEEK_END) > 0:
                existing.seek(-1, os.SEEK_END)
                cut = existing.read(1) != b"\n"
    except FileNotFoundError:
        pass
    log = open(path, "a", encoding="utf-8")
    if cut:
        log.write("\n")
    return log


def summary(manifest, totals, documents_read, seconds):
    """summary.json's content: `documents_read` of the documents were read by this run, in
    `seconds`."""
    return {
        "documents": totals.documents,
        "statuses": totals.statuses,
        "bytes": totals.bytes,
        "parts": manifest["parts"],
        "parts_missing": manifest["parts"] - totals.parts,
        "batch": manifest["batch"],
        "task_seconds": round(totals.seconds, 3),
        "seconds": round(seconds, 3),
        "documents_read": documents_read,
        "documents_per_second": round(documents_read / seconds, 1) if seconds > 0 else 0,
    }
