"""The unit of work a cluster runs: one batch of drawings read by a dxftext child process
into one part file. Standard library only: it is shipped to the workers by value."""

import json
import os
import selectors
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import uuid

# Only a document's closing object holds these bytes: inside a JSON string the quotes
# would be escaped, and in a "texts" array a string is never followed by a colon.
CLOSING_MARK = b'","status":"'
READ_SIZE = 1 << 16


class BatchError(Exception):
    """dxftext could not run at all (bad command line, plug-in missing, a folder in the list)."""


def closing_object(path, status, message):
    """A closing object for a document dxftext gave none for, in dxftext's own bytes."""
    name = path.decode("utf-8", "replace")
    return (f'{{"file":{json.dumps(name, ensure_ascii=False)},"status":"{status}",'
            f'"message":{json.dumps(message, ensure_ascii=False)},'
            f'"entities":0,"texts":0,"recoveries":0}}\n').encode("utf-8")


def status_of(closing_line):
    """The file and status a closing line names."""
    closing = json.loads(closing_line)
    return closing["file"], closing["status"]


class Child:
    """One dxftext process reading the paths still to do; hands back whole documents."""

    def __init__(self, command, paths, cwd):
        # With no parent left to read it, dxftext must not read on: the worker may be gone.
        prefix = ["setpriv", "--pdeathsig", "KILL", "--"] if shutil.which("setpriv") else []
        self.errors = tempfile.TemporaryFile()
        # The list waits in a file, not a pipe: dxftext may read it as it goes and write
        # before the end of it, and a pipe would then block both of us once it and the
        # output were full.
        with tempfile.TemporaryFile() as listed:
            listed.writelines(path + b"\n" for path in paths)
            listed.seek(0)
            self.process = subprocess.Popen(prefix + command + ["--paths-from", "-"],
                                            stdin=listed, stdout=subprocess.PIPE,
                                            stderr=self.errors, cwd=cwd, start_new_session=True)
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.process.stdout, selectors.EVENT_READ)
        self.pending = bytearray()
        self.scanned = 0
        self.ended = False

    def next_document(self, seconds):
        """Returns the bytes of the next document, closing line last; None at the end of
        the output; or False when none came within `seconds`."""
        deadline = time.monotonic() + seconds
        while True:
            mark = self.pending.find(CLOSING_MARK, self.scanned)
            if mark >= 0:
                end = self.pending.find(b"\n", mark)
                if end >= 0:
                    document = bytes(self.pending[:end + 1])
                    del self.pending[:end + 1]
                    self.scanned = 0
                    return document
                self.scanned = mark
            else:
                self.scanned = max(0, len(self.pending) - len(CLOSING_MARK))
            if self.ended:
                return None
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            if not self.selector.select(left):
                continue
            chunk = os.read(self.process.stdout.fileno(), READ_SIZE)
            if chunk:
                self.pending += chunk
            else:
                self.ended = True

    def stop(self):
        """Ends the process and anything it started; returns its exit status (negative:
        the signal that ended it) and the end of what it wrote to standard error."""
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        status = self.process.wait()
        self.selector.close()
        self.process.stdout.close()
        self.errors.seek(0)
        errors = self.errors.read()[-2000:].decode("utf-8", "replace").strip()
        self.errors.close()
        return status, errors


def _signal_name(number):
    try:
        return signal.Signals(number).name
    except ValueError:
        return f"signal {number}"


def read_batch(part_path, paths, command, cwd, limit):
    """Reads `paths` with `command` (dxftext and its options) into part_path; returns the
    part's counts.

    A document that kills dxftext, or gives no closing object within `limit` seconds, gets
    a closing object of its own with status crash or timeout, and a new dxftext reads the
    documents after it. The part appears whole, by rename, or not at all."""
    started = time.monotonic()
    statuses = {}
    directory = os.path.dirname(part_path) or "."
    temporary = os.path.join(directory, f".{os.path.basename(part_path)}.{socket.gethostname()}."
                                        f"{os.getpid()}.{uuid.uuid4().hex}.tmp")
    try:
        with open(temporary, "wb") as out:
            done = 0
            while done < len(paths):
                done = _read_until_lost(out, paths, done, command, cwd, limit, statuses)
            out.flush()
            os.fsync(out.fileno())
            size = out.tell()
        os.replace(temporary, part_path)
    finally:
        if os.path.exists(temporary):
            os.unlink(temporary)
    return {"documents": len(paths), "statuses": statuses, "bytes": size,
            "seconds": round(time.monotonic() - started, 3)}


def _read_until_lost(out, paths, first, command, cwd, limit, statuses):
    """Runs one dxftext over paths[first:] and writes its whole documents; when it dies
    or stalls, writes the closing object of the document it was on. Returns how many of
    `paths` are done."""
    child = Child(command, paths[first:], cwd)
    done = first
    while done < len(paths):
        document = child.next_document(limit)
        if not document:
            break
        line_start = document.rfind(b"\n", 0, len(document) - 1) + 1
        name, status = status_of(document[line_start:])
        expected = paths[done].decode("utf-8", "replace")
        if name != expected:
            child.stop()
            raise BatchError(f"dxftext read '{name}' where the list names '{expected}': "
                             "the list must name one drawing a line, not folders")
        out.write(document)
        statuses[status] = statuses.get(status, 0) + 1
        done += 1
    # Its output is whole, or it died or stalled: whatever it would still do is not wanted.
    code, errors = child.stop()
    if done == len(paths):
        return done
    if document is False:
        lost, message = "timeout", f"no result after {limit:g} seconds: the reading was stopped"
    elif code >= 0:
        # dxftext ended by itself before the end: nothing a document did, and every
        # further batch would meet it too.
        raise BatchError(f"dxftext exited with status {code} before the end of its list: "
                         f"{errors or 'no message'}")
    else:
        lost, message = "crash", f"dxftext was ended by {_signal_name(-code)} on this document"
    out.write(closing_object(paths[done], lost, message))
    statuses[lost] = statuses.get(lost, 0) + 1
    return done + 1


def count_part(part_path):
    """The counts of a part already written, from its closing objects."""
    statuses = {}
    documents = 0
    with open(part_path, "rb") as lines:
        for line in lines:
            if CLOSING_MARK in line:
                status = status_of(line)[1]
                statuses[status] = statuses.get(status, 0) + 1
                documents += 1
    return {"documents": documents, "statuses": statuses,
            "bytes": os.path.getsize(part_path), "seconds": 0}
