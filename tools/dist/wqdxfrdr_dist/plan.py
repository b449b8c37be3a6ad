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


def batches(list_path, size, wanted):
    """Yields (part number, paths) for each part in `wanted`, reading the list once."""
    batch = []
    part = 0
    for path in read_paths(list_path):
        batch.append(path)
        if len(batch) == size:
            if part in wanted:
                yield part, batch
            batch = []
            part += 1
    if batch and part in wanted:
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


def finished_parts(out_dir, parts):
    """The part numbers whose files are in out_dir (half-written ones never are)."""
    names = set(os.listdir(out_dir))
    return {part for part in range(parts) if part_name(part) in names}


def read_counts(out_dir):
    """The counts recorded for each finished part; a last line cut short is skipped."""
    counts = {}
    try:
        with open(os.path.join(out_dir, COUNTS), encoding="utf-8") as lines:
            for line in lines:
                try:
                    record = json.loads(line)
                except ValueError:
                    continue
                counts[record["part"]] = record
    except FileNotFoundError:
        pass
    return counts
