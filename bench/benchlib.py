# What the benchmark table (table.py) and the peer comparison (peers.py) share: the
# generated drawings and the batch of small ones, timed child processes, medians, markdown.
import datetime
import json
import os
import platform
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
GENERATOR = REPO.parent / "shared" / "bench" / "gen_dxf.py"
CORPUS = REPO.parent / "shared" / "corpus" / "real"
MIB = 1 << 20
SEED = 1
TIME = "/usr/bin/time"  # GNU time, Debian's package "time"
# The last line a peer program of bench/peers/ writes to standard error.
PEER_SUMMARY = re.compile(r"documents (\d+) failed (\d+) texts (\d+)")


def note(message):
    """Progress goes to standard error: standard output is the table."""
    print(message, file=sys.stderr, flush=True)


def drawing(folder, mib, crlf=False):
    """The generated drawing of about `mib` MiB (made once, then reused: the generator
    gives the same bytes for the same size and seed)."""
    path = Path(folder) / f"drawing-{mib}mb{'-crlf' if crlf else ''}.dxf"
    if path.exists():
        return path
    if not GENERATOR.exists():
        sys.exit(f"no drawing generator at {GENERATOR}")
    note(f"generating {path.name}")
    Path(folder).mkdir(parents=True, exist_ok=True)
    partial = path.with_suffix(".partial")
    command = [sys.executable, str(GENERATOR), str(partial), str(mib), str(SEED)]
    subprocess.run(command + (["--crlf"] if crlf else []), check=True, stderr=subprocess.DEVNULL)
    partial.rename(path)
    return path


def input_arguments(parser, big_variable, rounds_variable, rounds):
    """The options both scripts take for their inputs and rounds, with their defaults from
    the environment."""
    parser.add_argument("--big-mib", type=int, default=int(os.environ.get(big_variable, 128)),
                        help=f"size of the large drawing (${big_variable}, default 128)")
    parser.add_argument("--rounds", type=int, default=int(os.environ.get(rounds_variable, rounds)),
                        help=f"rounds, of which the medians are taken (${rounds_variable}, default {rounds})")
    parser.add_argument("--batch", type=int, default=int(os.environ.get("BENCH_BATCH", 2000)),
                        help="small drawings in the batch ($BENCH_BATCH, default 2000)")
    parser.add_argument("--small-kib", type=int, default=int(os.environ.get("BENCH_SMALL_KIB", 256)),
                        help="the largest drawing taken into the batch ($BENCH_SMALL_KIB, default 256)")


def small_sources(max_bytes):
    """The drawings the batch is made of: the samples and the real drawings of the shared
    corpus (when present) of at most `max_bytes` each."""
    found = sorted((REPO / "samples").glob("*.dxf"))
    if CORPUS.is_dir():
        found += sorted(CORPUS.glob("*.dxf"))
    return [p for p in found if p.stat().st_size <= max_bytes]


def copies(root, sources, count):
    """`count` copies of the sources taken in turn, 100 to a subfolder of `root`, made again
    when the sources change; a copy's name is its number, a dash and its source's name.
    Returns (root, files in order)."""
    root = Path(root)
    manifest = "\n".join(f"{p} {p.stat().st_size}" for p in sources) + "\n"
    stamp = root / "sources.txt"
    if not (stamp.exists() and stamp.read_text() == manifest):
        note(f"copying {count} drawings into {root}")
        shutil.rmtree(root, ignore_errors=True)
        for i in range(count):
            source = sources[i % len(sources)]
            target = root / f"{i // 100:02d}" / f"{i:04d}-{source.name}"
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source, target)
        stamp.write_text(manifest)
    files = sorted(p for p in root.rglob("*") if p.suffix.lower() == ".dxf")
    return root, files


def batch(folder, count, max_bytes):
    """A folder of `count` small drawings, copies of the small sources taken in turn.
    Returns (folder, files in order)."""
    sources = small_sources(max_bytes)
    if not sources:
        sys.exit("no small drawings for the batch")
    return copies(Path(folder) / f"batch-{count}", sources, count)


def smallest_read_to_end(dxftext, count):
    """The `count` smallest drawings of the shared corpus that dxftext reads to their end
    (status ok: neither refused, stopped nor read past an entity it could not read), the
    smallest first; [] without the corpus."""
    if not CORPUS.is_dir():
        return []
    found = sorted(CORPUS.glob("*.dxf"), key=lambda p: (p.stat().st_size, p.name))
    command = [str(dxftext), "-q", "-f", "jsonl", "--plugin-only", "--jobs", "2", *map(str, found)]
    ok = set()
    for line in subprocess.run(command, capture_output=True, check=False).stdout.splitlines():
        if b'"status":' in line:
            closing = json.loads(line)
            if closing["status"] == "ok":
                ok.add(closing["file"])
    return [p for p in found if str(p) in ok][:count]


def tiny_batch(folder, dxftext, drawings=20, times=100):
    """The batch of the smallest drawings that read to their end, each copied `times` times:
    where the cost per document, not per byte, sets the speed. Returns (its name in the
    tables, folder, files in order), or None without the corpus."""
    sources = smallest_read_to_end(dxftext, drawings)
    if not sources:
        note(f"no corpus at {CORPUS}: no batch of the smallest drawings")
        return None
    root, files = copies(Path(folder) / f"smallest-{drawings}x{times}", sources, drawings * times)
    return f"{len(files):,} copies of the {len(sources)} smallest drawings", root, files


def total_bytes(paths):
    return sum(Path(p).stat().st_size for p in paths)


class Run:
    """One finished child: wall seconds, peak resident memory, exit status, standard error."""

    def __init__(self, seconds, max_rss_kib, returncode, stderr, timed_out):
        self.seconds = seconds
        self.max_rss_kib = max_rss_kib
        self.returncode = returncode
        self.stderr = stderr
        self.timed_out = timed_out


def warm(paths):
    """Reads every file once, untimed, so that a timed run starts with them in the page
    cache: the kernel may reclaim them while a slow reader runs (a few minutes after a run,
    1 MiB of the 8 MiB drawing was left), and the next reader would pay the disk."""
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 20):
                pass


def run(command, stdout=subprocess.DEVNULL, timeout=None, env=None):
    """Runs `command` to its end. The peak memory comes from GNU time, which starts the
    command from a small process of its own: a child forked from Python would count
    Python's resident pages too, as the kernel keeps the larger of the two across exec."""
    with tempfile.NamedTemporaryFile() as memory, tempfile.TemporaryFile() as errors:
        wrapped = [TIME, "-f", "%M", "-o", memory.name, *command]
        start = time.perf_counter()
        # A session of its own, so that a timeout ends the command and not only GNU time.
        child = subprocess.Popen(wrapped, stdout=stdout, stderr=errors, start_new_session=True,
                                 env=env)
        # A blocking wait: Popen.wait with a timeout polls with growing sleeps, which would
        # round the times up by as much as 50 ms.
        killer = threading.Timer(timeout, os.killpg, (child.pid, signal.SIGKILL)) if timeout else None
        if killer:
            killer.start()
        child.wait()
        seconds = time.perf_counter() - start
        timed_out = bool(killer) and not killer.is_alive() and child.returncode < 0
        if killer:
            killer.cancel()
        errors.seek(0)
        text = errors.read().decode("utf-8", "replace")
        reported = Path(memory.name).read_text().split()
    # GNU time writes "Command exited with non-zero status N" before the figure.
    rss = int(reported[-1]) if reported and reported[-1].isdigit() else None
    return Run(seconds, rss, child.returncode, text, timed_out)


def peer_counts(run):
    """(documents, failed, texts) from a peer program's last line, or None when it did not
    finish."""
    found = PEER_SUMMARY.findall(run.stderr)
    if run.returncode != 0 or run.timed_out or not found:
        return None
    return tuple(int(n) for n in found[-1])


def dxftext_counts(dxftext, options, target):
    """Text values and document statuses of one untimed JSON Lines run (it also warms the cache)."""
    command = [str(dxftext), "-q", "-f", "jsonl", "--jobs", "2", *options, str(target)]
    child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    texts, statuses = 0, {}
    for line in child.stdout:
        if b'"status":' in line:
            closing = json.loads(line)
            texts += closing["texts"]
            statuses[closing["status"]] = statuses.get(closing["status"], 0) + 1
    child.wait()
    return texts, statuses


def git(*arguments):
    """A git command's output in the checkout, or "" where it fails (no git, no history)."""
    try:
        done = subprocess.run(["git", "-C", str(REPO), *arguments], capture_output=True, text=True)
    except OSError:
        return ""
    return done.stdout.strip() if done.returncode == 0 else ""


def dxftext_at(ref, folder):
    """dxftext and its plug-in built from the commit `ref` names, for the cost of what was
    changed since: the commit's files taken out with git archive into FOLDER/source (no
    worktree to register or to leave behind when a run is stopped; taken out anew only when
    `ref` comes to name another commit) and built in FOLDER/build. Returns (the dxftext, its
    commit's short id) or (None, why not): a tarball without history, a ref this clone
    lacks, a failed build."""
    commit = git("rev-parse", "--verify", "--quiet", f"{ref}^{{commit}}")
    if not commit:
        return None, f"{ref} names no commit here (no git history, or a clone without it)"
    folder = Path(folder).resolve()
    source, build, log = folder / "source", folder / "build", folder / "build.log"
    stamp = folder / "commit.txt"
    if not (stamp.exists() and stamp.read_text().strip() == commit):
        note(f"taking out {ref} ({commit[:7]}) into {source}")
        shutil.rmtree(folder, ignore_errors=True)
        source.mkdir(parents=True)
        archive = subprocess.Popen(["git", "-C", str(REPO), "archive", "--format=tar", commit],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        unpacked = subprocess.run(["tar", "-x", "-C", str(source)], stdin=archive.stdout,
                                  stderr=subprocess.DEVNULL, check=False)
        archive.stdout.close()
        if archive.wait() != 0 or unpacked.returncode != 0:
            return None, f"git archive of {ref} could not be unpacked into {source}"
        stamp.write_text(commit + "\n")
    note(f"building dxftext at {ref} ({commit[:7]}) in {build}, log in {log}")
    steps = [["cmake", "-S", str(source), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
              "-DWQ_TESTS=OFF"],
             ["cmake", "--build", str(build), "-j", "2", "--target", "dxftext", "wqdxfrdr"]]
    with open(log, "w") as out:
        for step in steps:
            try:
                built = subprocess.run(step, stdout=out, stderr=subprocess.STDOUT).returncode == 0
            except OSError:
                built = False
            if not built:
                return None, f"{ref} ({commit[:7]}) did not build, see {log}"
    dxftext = build / "bin" / "dxftext"
    if not dxftext.exists():
        return None, f"the build of {ref} ({commit[:7]}) made no {dxftext}"
    return dxftext, commit[:7]


def median(values):
    values = sorted(v for v in values if v is not None)
    if not values:
        return None
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def figure(value, digits=3):
    """A number with `digits` significant digits and thousands separators; "—" for none."""
    if value is None:
        return "—"
    if value == 0:
        return "0"
    places = max(0, digits - 1 - int(f"{abs(value):e}".split("e")[1]))
    return f"{value:,.{places}f}"


def markdown(headers, rows, right=()):
    """A markdown table; the columns named in `right` are aligned right."""
    lines = ["| " + " | ".join(headers) + " |",
             "|" + "|".join("---:" if h in right else "---" for h in headers) + "|"]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def commit():
    """The commit measured, marked when the working tree holds changes beyond it."""
    head = git("rev-parse", "--short", "HEAD") or "unknown"
    return head + (" + uncommitted changes" if git("status", "--porcelain", "--untracked-files=no") else "")


def machine():
    """The processor and the number of cores, for the line above a table."""
    model = platform.processor() or platform.machine()
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores"


def today():
    return datetime.date.today().isoformat()
