"""Reading a list of drawings on a Dask cluster on loopback: the parts join into exactly
the serial dxftext output, also when a worker dies mid-batch or the driver is killed and
run again, and a drawing that crashes or hangs dxftext costs that drawing alone.
    /usr/bin/python3 checkDist.py DXFTEXT SOURCE_DIR     (exit 77: skipped)"""

import collections
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PYTHON = "/usr/bin/python3"
tool, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
package_env = dict(os.environ, PYTHONPATH=os.path.join(source, "tools", "dist"),
                   PYTHONDONTWRITEBYTECODE="1")
started = []  # every process this test starts, stopped by its id at the end


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def install_distributed():
    """Installs Debian's Dask when it is missing; exits as skipped when it cannot."""
    def have():
        return subprocess.run([PYTHON, "-c", "import distributed"],
                              stderr=subprocess.DEVNULL).returncode == 0
    sudo = [] if os.geteuid() == 0 else ["sudo", "-n"]
    install = sudo + ["apt-get", "-o", "DPkg::Lock::Timeout=300", "install", "-y", "-q",
                      "python3-distributed", "python3-dask"]
    if not have() and shutil.which("apt-get") and (not sudo or shutil.which("sudo")):
        print("installing python3-distributed python3-dask")
        if subprocess.run(install).returncode != 0:
            subprocess.run(sudo + ["apt-get", "update", "-q"])
            subprocess.run(install)
    if not have():
        print("SKIP: python3-distributed cannot be installed here (no apt-get, no root)")
        sys.exit(77)


def start(command, log, **options):
    process = subprocess.Popen(command, stdout=open(log, "wb"), stderr=subprocess.STDOUT,
                               **options)
    started.append(process)
    return process


def stop(process):
    if process.poll() is None:
        os.kill(process.pid, signal.SIGKILL)
    process.wait()


def running(pid):
    """Whether the process lives: a killed orphan may stay a zombie until init reaps it."""
    try:
        with open(f"/proc/{pid}/stat", encoding="utf-8") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def wait_for(what, condition, alive):
    """Waits for a state, however long it takes; a hang is the test's own time limit to
    catch. `alive` says whether what could still bring the state about lives."""
    while not condition():
        if not alive():
            fail(f"gave up waiting for {what}: the process that was to bring it about ended")
        time.sleep(0.05)


def run_dist(*arguments, expect=0, dxftext=tool):
    """Runs the package from the source folder (the list's paths are relative to it)."""
    command = [PYTHON, "-m", "wqdxfrdr_dist", *arguments]
    if arguments[0] == "run":
        command[4:4] = ["--dxftext", dxftext]
    done = subprocess.run(command, cwd=source, env=package_env, capture_output=True)
    if done.returncode != expect:
        fail(f"{' '.join(arguments)} exited {done.returncode}, not {expect}:\n"
             f"{done.stderr.decode(errors='replace')}")
    return done


def start_dist(dxftext, scheduler_file, out, drawings):
    return start([PYTHON, "-m", "wqdxfrdr_dist", "run", "--dxftext", dxftext, "--scheduler-file",
                  scheduler_file, "--batch", "7", "--out", out, drawings], out + ".log",
                 cwd=source, env=package_env)


def on_loopback(done, what):
    if b"scheduler tcp://127.0.0.1:" not in done.stderr or \
            b"2 workers on 127.0.0.1\n" not in done.stderr:
        fail(f"{what} does not say it ran on loopback: {done.stderr.decode()}")


def joins(out, serial, failure):
    if run_dist("gather", out).stdout != serial:
        fail(failure)


def statuses_of(jsonl):
    records = map(json.loads, jsonl.splitlines())
    return dict(collections.Counter(r["status"] for r in records if "status" in r))


def summary(out):
    return json.load(open(os.path.join(out, "summary.json"), encoding="utf-8"))


def parts_in(out):
    return [name for name in os.listdir(out) if name.startswith("part-")] \
        if os.path.isdir(out) else []


def script(path, body):
    with open(path, "w", encoding="utf-8") as out:
        out.write("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)
    return path


def check_jobs_keep_order(tmp, drawings):
    """The parts hold what dxftext writes, so it must write the same bytes whatever its
    jobs: on the list, and where a long document's output is held back while the one
    before it, read in about half the time, is still being read. Gives the serial output."""
    def drawing(name, entity, count):
        path = os.path.join(tmp, name)
        with open(path, "w", encoding="ascii") as out:
            out.write("0\nSECTION\n2\nENTITIES\n" + entity * count + "0\nENDSEC\n0\nEOF\n")
        return path
    text = drawing("texts.dxf", "0\nTEXT\n8\n0\n10\n0.0\n20\n0.0\n40\n1.0\n1\nA note\n", 30000)
    line = "0\nLINE\n8\n0\n10\n0.0\n20\n0.0\n11\n1.0\n21\n1.0\n"
    pairs = [path for lines in (5000, 10000, 20000, 40000)
             for path in (drawing(f"lines{lines}.dxf", line, lines), text)]
    runs = [subprocess.run([tool, "--format", "jsonl", "-j", jobs] + pairs,
                           capture_output=True).stdout for jobs in ("1", "2", "2")]
    if runs[1] != runs[0] or runs[2] != runs[0]:
        fail("dxftext --jobs 2 reorders the lines of a long document")
    serial, parallel = (subprocess.run([tool, "--format", "jsonl", "-j", jobs, "--paths-from",
                                        drawings], cwd=source, capture_output=True)
                        for jobs in ("1", "2"))
    if serial.returncode not in (0, 1) or not serial.stdout:
        fail(f"serial dxftext exited {serial.returncode}")
    if parallel.stdout != serial.stdout:
        fail("dxftext --jobs 2 differs from --jobs 1 on the drawings")
    return serial.stdout


def check_cluster_runs(tmp, drawings, serial):
    """A scheduler and two workers started as an operator would; runs 1 to 3 on them."""
    scheduler_file = os.path.join(tmp, "scheduler.json")
    scheduler = start([PYTHON, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                       "--port", "0", "--dashboard-address", "127.0.0.1:0",
                       "--scheduler-file", scheduler_file], os.path.join(tmp, "scheduler.log"))
    wait_for("the scheduler", lambda: os.path.exists(scheduler_file),
             lambda: scheduler.poll() is None)
    address = json.load(open(scheduler_file, encoding="utf-8"))["address"]
    if not address.startswith("tcp://127.0.0.1:"):
        fail(f"the scheduler listens on {address}, not on loopback")

    def worker(name):
        # No nanny: a worker killed stays dead. No PYTHONPATH: the task's code travels.
        log = os.path.join(tmp, f"{name}.log")
        process = start([PYTHON, "-m", "distributed.cli.dask_worker", "--scheduler-file",
                         scheduler_file, "--host", "127.0.0.1", "--nthreads", "1", "--no-nanny",
                         "--dashboard-address", "127.0.0.1:0", "--name", name,
                         "--local-directory", os.path.join(tmp, name)], log, cwd=tmp)
        wait_for(f"worker {name}", lambda: b"Registered to" in open(log, "rb").read(),
                 lambda: process.poll() is None)
        return process

    workers = [worker("w1"), worker("w2")]

    # 1. The parts join into the serial output, byte for byte.
    out = os.path.join(tmp, "run1")
    on_loopback(run_dist("run", "--scheduler-file", scheduler_file, "--batch", "7", "--out", out,
                         drawings), "run 1")
    joins(out, serial, "run 1: gather differs from the serial dxftext output")
    counted = summary(out)
    if counted["statuses"] != statuses_of(serial) or counted["parts_missing"] != 0:
        fail(f"run 1: summary {counted} does not count the serial statuses {statuses_of(serial)}")
    if [name for name in os.listdir(out) if name.endswith(".tmp")]:
        fail("run 1: half-written parts were left behind")

    # Another list, or other batches, in the same folder would mix two runs.
    other = os.path.join(tmp, "other.txt")
    with open(drawings, encoding="utf-8") as full, open(other, "w", encoding="utf-8") as part:
        part.writelines(full.readlines()[1:])
    refused = run_dist("run", "--scheduler-file", scheduler_file, "--out", out, other, expect=2)
    if b"another list" not in refused.stderr:
        fail(f"another list in the same folder: {refused.stderr.decode()}")
    run_dist("run", "--scheduler-file", scheduler_file, "--batch", "8", "--out", out, drawings,
             expect=2)

    # 2. A worker killed while it reads a batch: the batch is read again elsewhere, and
    # every document comes out exactly once. The stand-in notes the worker running it, then
    # holds the batch until the test opens the gate, so the worker dies before its part is
    # written, however fast the machine.
    log_of_starts, gate = os.path.join(tmp, "starts"), os.path.join(tmp, "gate")
    gated = script(os.path.join(tmp, "gated-dxftext"),
                   f'echo $PPID >> "{log_of_starts}"\n'
                   f'while [ ! -e "{gate}" ]; do sleep 0.05; done\nexec "{tool}" "$@"\n')
    out = os.path.join(tmp, "run2")
    driver = start_dist(gated, scheduler_file, out, drawings)
    wait_for("a batch on a worker", lambda: os.path.exists(log_of_starts) and
             open(log_of_starts).read().split(), lambda: driver.poll() is None)
    first = open(log_of_starts).read().split()[0]
    killed = [i for i, w in enumerate(workers) if str(w.pid) == first]
    if not killed:
        fail(f"run 2: the batch ran in process {first}, which is no worker")
    stop(workers[killed[0]])
    if parts_in(out):
        fail("run 2: a part was written while every batch was held")
    open(gate, "w").close()
    if driver.wait() != 0:
        fail(f"run 2 after a worker died: {open(out + '.log').read()}")
    joins(out, serial, "run 2: a worker's death lost or repeated documents")
    batches = len(parts_in(out))
    if len(open(log_of_starts).read().split()) <= batches:
        fail("run 2: the killed worker's batch was not read again")
    workers[killed[0]] = worker("w3")

    # 3. The driver killed half-way; run again, it reads only the missing parts. Two
    # tickets let two batches through; every other batch waits for a gate that opens only
    # after the driver is gone, and then gives up, so parts are surely missing.
    if batches < 3:
        fail(f"run 3 needs at least 3 batches of 7, not {batches}")
    tickets, taken, gate = (os.path.join(tmp, name) for name in ("tickets", "taken", "gate3"))
    os.mkdir(tickets)
    os.mkdir(taken)
    for ticket in ("t1", "t2"):
        open(os.path.join(tickets, ticket), "w").close()
    ticketed = script(os.path.join(tmp, "ticketed-dxftext"), f"""\
for ticket in "{tickets}"/t*; do
    mv "$ticket" "{taken}/" 2>/dev/null && exec "{tool}" "$@"
done
while [ ! -e "{gate}" ]; do sleep 0.05; done
exit 3
""")
    out = os.path.join(tmp, "run3")
    driver = start_dist(ticketed, scheduler_file, out, drawings)
    wait_for("two parts", lambda: len(parts_in(out)) >= 2, lambda: driver.poll() is None)
    stop(driver)
    open(gate, "w").close()
    resumed = run_dist("run", "--scheduler-file", scheduler_file, "--out", out, drawings)
    if b"2 of " not in resumed.stderr or b"parts already written" not in resumed.stderr:
        fail(f"run 3 did not resume from the two parts: {resumed.stderr.decode()}")
    joins(out, serial, "run 3: the resumed run differs from the serial output")
    counted = summary(out)
    if counted["statuses"] != statuses_of(serial):
        fail(f"run 3: summary {counted['statuses']} differs from {statuses_of(serial)}")
    if not 0 < counted["documents_read"] < counted["documents"]:
        fail(f"run 3: the resumed run read {counted['documents_read']} documents again")


def check_crash_and_hang(tmp, tested):
    """On a local cluster: a stand-in dxftext that dies on one drawing and hangs on
    another, each in the middle of its batch; the others are read as dxftext reads them."""
    crash, hang = (open(tested, encoding="utf-8").read().split()[i] for i in (7, 13))
    hang_pid = os.path.join(tmp, "hang.pid")
    fake = script(os.path.join(tmp, "fake-dxftext"), f"""\
# Reads its list one drawing at a time; dies on one, hangs on another until it is killed.
paths=$(cat)
for path in $paths; do
    case $path in
        {crash}) kill -SEGV $$ ;;
        {hang}) sleep 600 & echo $! > "{hang_pid}"; wait ;;
    esac
    echo "$path" | "{tool}" --format jsonl -q --paths-from -
done
""")
    out = os.path.join(tmp, "crash")
    # The run can end only once the task has stopped the hanging stand-in: it sleeps past
    # the test's own time limit.
    on_loopback(run_dist("run", "--local", "2", "--batch", "5", "--timeout", "2", "--out", out,
                         tested, dxftext=fake), "--local")
    if running(int(open(hang_pid).read())):
        os.kill(int(open(hang_pid).read()), signal.SIGKILL)
        fail("the hanging dxftext's child outlived its batch")
    lines = run_dist("gather", out).stdout.decode().splitlines(keepends=True)
    closing = {json.loads(line)["file"]: json.loads(line) for line in lines if '"status"' in line}
    for path, status in ((crash, "crash"), (hang, "timeout")):
        record = closing.get(path)
        if record is None or record["status"] != status or not record["message"] or \
                (record["entities"], record["texts"], record["recoveries"]) != (0, 0, 0):
            fail(f"{path}: {record}, not a closing object with status {status}")
    serial = subprocess.run([tool, "--format", "jsonl", "--paths-from", tested], cwd=source,
                            capture_output=True).stdout.decode().splitlines(keepends=True)
    lost = (f'{{"file":"{crash}"', f'{{"file":"{hang}"')
    if [line for line in lines if not line.startswith(lost)] != \
            [line for line in serial if not line.startswith(lost)]:
        fail("the drawings around a crash or a hang differ from the serial output")


def main():
    install_distributed()
    tmp = tempfile.mkdtemp(prefix="checkDist.")
    try:
        # Relative paths, read from the source folder wherever the workers run.
        names = [sorted(glob.glob(os.path.join(source, pattern)))
                 for pattern in ("samples/*.dxf", "tests/drawings/*.dxf", "tests/corpus/*.dxf",
                                 "../shared/corpus/real/*.dxf")]
        relative = [os.path.relpath(path, source) for group in names for path in group]
        if not names[3]:
            print("note: ../shared/corpus/real is absent: the project's drawings only")
        relative.insert(5, "samples/no-such-drawing.dxf")  # failed, and the batch goes on
        drawings, tested = os.path.join(tmp, "drawings.txt"), os.path.join(tmp, "ours.txt")
        ours = relative[:len(relative) - len(names[3])]
        for path, listed in ((drawings, relative), (tested, ours)):
            with open(path, "w", encoding="utf-8") as out:
                out.write("\n".join(listed) + "\n")

        check_cluster_runs(tmp, drawings, check_jobs_keep_order(tmp, drawings))
        check_crash_and_hang(tmp, tested)
        print(f"distributed runs: {len(relative)} drawings, 4 runs on 2 workers, crash and hang")
    finally:
        for process in started:
            stop(process)
        shutil.rmtree(tmp, ignore_errors=True)


main()
