#!/usr/bin/python3
"""dxftext on drawings stored in archives and compressed files, as a user meets them.

Every archive is made here from the project's drawings. A member reads exactly as the same
drawing read as a plain file, under the name ARCHIVE!MEMBER, in the archive's order; bad and
hostile archives give one status per member and never stop the others.
    checkArchives.py DXFTEXT SOURCE_DIR
"""
import bz2
import gzip
import io
import json
import lzma
import os
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

import libarchive  # Debian's python3-libarchive-c (make deps): the one writer of 7z at hand

TOOL, SOURCE = sys.argv[1], sys.argv[2]
# The project's drawings that read "ok" (those the plug-in cannot close, unclosed_*, are
# read around it and end "recovered", which the statuses below do not expect).
DRAWINGS = [os.path.join(SOURCE, "samples", n) for n in ("title_block.dxf", "site_notes.dxf")] + \
    sorted(os.path.join(SOURCE, "tests", "drawings", n)
           for n in os.listdir(os.path.join(SOURCE, "tests", "drawings"))
           if n.endswith(".dxf") and not n.startswith("unclosed_"))
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(*args, env=None, stdin=None):
    """dxftext's exit status, standard output (bytes) and standard error (text)."""
    done = subprocess.run([TOOL, "-q", *args], capture_output=True, env=env, input=stdin)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def closings(out):
    """The closing objects of a JSON Lines run: (file, status, message), in order."""
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    return [(o["file"], o["status"], o["message"]) for o in objects if "status" in o]


def renamed(out, names):
    """JSON Lines of plain files with each file's name replaced by the one given."""
    lines = []
    for line in out.decode("utf-8").splitlines():
        o = json.loads(line)
        o["file"] = names[o["file"]]
        lines.append(json.dumps(o, ensure_ascii=False))
    return lines


def parsed(out):
    return [json.dumps(json.loads(line), ensure_ascii=False) for line in out.decode("utf-8").splitlines()]


def large_drawing():
    """A drawing over the 256 KiB that members are held in memory up to."""
    body = "".join("0\nTEXT\n8\nNOTES\n10\n%d.0\n20\n0.0\n1\nnote %d of a long schedule\n" % (i, i)
                   for i in range(9000))
    return ("0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1027\n0\nENDSEC\n"
            "0\nSECTION\n2\nENTITIES\n" + body + "0\nENDSEC\n0\nEOF\n").encode()


tmp = tempfile.mkdtemp()
try:
    os.chdir(tmp)
    plain = os.path.join(tmp, "plain")
    os.mkdir(plain)
    with open(os.path.join(plain, "large.dxf"), "wb") as f:
        f.write(large_drawing())
    assert os.path.getsize(os.path.join(plain, "large.dxf")) > 256 * 1024
    open(os.path.join(plain, "empty.dxf"), "wb").close()
    files = DRAWINGS + [os.path.join(plain, "large.dxf"), os.path.join(plain, "empty.dxf")]
    # Each drawing's place in the archives: nested folders, names in any case and outside
    # ASCII (which a program in the "C" locale, as dxftext is, must still give as UTF-8).
    members = ["level%d/%s/%s" % (i % 3, "sub" if i % 2 else "B", os.path.basename(p).upper() if i == 1
                                  else os.path.basename(p)) for i, p in enumerate(files)]
    members[3] = "Gebäude/東京 " + os.path.basename(files[3])

    # --- Members read as the same drawings as plain files, in the archive's order ---------
    with zipfile.ZipFile("plans.zip", "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("level0/", "")
        for i, (path, name) in enumerate(zip(files, members)):
            z.write(path, name)
            if i == 2:
                z.writestr("level0/readme.txt", "not a drawing")
                z.writestr("level0/scan.pdf", b"%PDF-1.4 not a drawing")
    with tarfile.open("plans.tar.gz", "w:gz") as t:
        for path, name in zip(files, members):
            t.add(path, name)
        t.addfile(tarfile.TarInfo("notes.txt"), io.BytesIO(b""))
    for archive in ("plans.zip", "plans.tar.gz"):
        names = {p: archive + "!" + m for p, m in zip(files, members)}
        for options in ([], ["--plugin-only"], ["-e", "raw"]):
            status, want, _ = run("-f", "jsonl", *options, *files)
            status, got, err = run("-f", "jsonl", *options, archive)
            check(parsed(got) == renamed(want, names),
                  "%s %s: the members read as the plain files do" % (archive, options))
        # The empty member is refused as an empty file is, and only it.
        statuses = [(f, s) for f, s, _ in closings(got) if s != "ok"]
        check(statuses == [(archive + "!" + members[-1], "refused")], "%s: statuses %s" % (archive, statuses))
        check("dxftext: %s!%s: Memory allocation error (the file is empty)" % (archive, members[-1]) in err,
              "%s: the empty member's message names it" % archive)
        # Text and records: lines start with ARCHIVE!MEMBER.
        _, want, _ = run("-H", *files)
        _, got, _ = run(archive)
        for path in files:
            want = want.replace(path.encode() + b":", names[path].encode() + b":")
        check(got == want, "%s: the text output names each line's member" % archive)
        _, want, _ = run("-r", "-H", *files)
        _, got, _ = run("-r", archive)
        for path in files:
            want = want.replace(path.encode() + b":", names[path].encode() + b":")
        check(got == want, "%s: --records on the members are the plain files' records" % archive)
        # The same bytes, messages and status whatever the number of jobs.
        runs = [run("-j", jobs, "-f", "jsonl", archive, "plans.zip", *DRAWINGS[:2]) for jobs in ("1", "2")]
        check(runs[0] == runs[1], "%s: --jobs 2 gives what --jobs 1 gives" % archive)

    # A large member goes through a temporary file that has no name: $TMPDIR stays empty.
    spool = os.path.join(tmp, "spool")
    os.mkdir(spool)
    status, got, _ = run("-f", "jsonl", "plans.zip", env=dict(os.environ, TMPDIR=spool))
    check(("plans.zip!" + members[-2], "ok", "") in closings(got), "the large member is read")
    check(os.listdir(spool) == [], "nothing is left in $TMPDIR")

    # --- Compressed drawings and other formats -------------------------------------------
    sample = DRAWINGS[0]
    data = open(sample, "rb").read()
    compressed = {"a.dxf.gz": gzip.compress(data), "a.dxf.bz2": bz2.compress(data),
                  "a.dxf.xz": lzma.compress(data), "A.DXF.GZ": gzip.compress(data)}
    for name, packed in compressed.items():
        with open(name, "wb") as f:
            f.write(packed)
    subprocess.run(["zstd", "-q", "-f", "-o", "a.dxf.zst", sample], check=True)
    with libarchive.file_writer("plans.7z", "7zip") as a:
        for path, name in zip(files[:3], members[:3]):
            a.add_file_from_memory(name, os.path.getsize(path), open(path, "rb").read())
    with libarchive.file_writer("plans.tar.zst", "pax", "zstd") as a:
        a.add_file_from_memory("x/a.dxf", len(data), data)
    _, want, _ = run("-f", "jsonl", sample)
    for name in list(compressed) + ["a.dxf.zst"]:
        status, got, _ = run("-f", "jsonl", name)
        check(status == 0 and parsed(got) == renamed(want, {sample: name}),
              "%s reads as the drawing it holds, under its own name" % name)
    _, want, _ = run("-f", "jsonl", *files[:3])
    status, got, _ = run("-f", "jsonl", "plans.7z")
    check(status == 0 and parsed(got) == renamed(want, {p: "plans.7z!" + m for p, m in zip(files, members)}),
          "a 7z archive's members")
    _, want, _ = run(sample)
    status, got, _ = run("plans.tar.zst")
    check(status == 0 and got == want, "a .tar.zst of one drawing reads it, no name before its lines")
    with open("notes.zip", "w") as f:
        f.write("text, not a zip\n")
    status, got, err = run("-f", "jsonl", "notes.zip")
    check(status == 1 and [(f, s) for f, s, _ in closings(got)] == [("notes.zip", "failed")] and
          err.startswith("dxftext: notes.zip: "), "a .zip that is no archive fails, named")
    with zipfile.ZipFile("nodrawings.zip", "w") as z:
        z.writestr("a.txt", "text")
    status, got, err = run("-f", "jsonl", "nodrawings.zip")
    check(status == 1 and closings(got) == [("nodrawings.zip", "failed", "an archive with no .dxf drawings")],
          "an archive named with no drawings in it says so")

    # --- Archives inside archives, one level down -----------------------------------------
    with zipfile.ZipFile("deeper.zip", "w") as z:
        z.write(sample, "c.dxf")
    with tarfile.open("inner.tar", "w") as t:
        t.add("deeper.zip", "deeper.zip")
        t.add(sample, "b.dxf")
    with tarfile.open("outer.tar", "w") as t:
        t.add(sample, "first.dxf")
        t.add("plans.zip", "in/plans.zip")
        t.add("inner.tar", "inner.tar")
        t.add("a.dxf.gz", "docs/a.dxf.gz")
        t.add("a.dxf.gz", "docs/notes.txt.gz")
        t.add(sample, "last.dxf")
    status, got, err = run("-f", "jsonl", "outer.tar")
    want = ([("outer.tar!first.dxf", "ok", "")] +
            [("outer.tar!in/plans.zip!" + m, "refused" if m == members[-1] else "ok",
              "Memory allocation error (the file is empty)" if m == members[-1] else "") for m in members] +
            [("outer.tar!inner.tar!deeper.zip", "refused",
              "not opened: archives inside archives are opened one level down, and this one lies deeper"),
             ("outer.tar!inner.tar!b.dxf", "ok", ""), ("outer.tar!docs/a.dxf.gz", "ok", ""),
             ("outer.tar!last.dxf", "ok", "")])
    check(closings(got) == want, "nested archives: %s" % closings(got))
    check(status == 1 and "dxftext: outer.tar!inner.tar!deeper.zip: not opened" in err,
          "an archive too deep is refused with a message naming it")

    # --- Hostile and broken archives ------------------------------------------------------
    with zipfile.ZipFile("bomb.zip", "w", zipfile.ZIP_DEFLATED) as z:
        z.write(sample, "before.dxf")
        z.writestr("bomb.dxf", bytes(50 << 20))  # 50 MB of zeros in some 50 KB
        z.write(sample, "after.dxf")
    check(os.path.getsize("bomb.zip") < 100000, "the bomb is small")
    status, got, err = run("-f", "jsonl", "bomb.zip", env=dict(os.environ, TMPDIR=spool))
    check(closings(got) == [("bomb.zip!before.dxf", "ok", ""),
                            ("bomb.zip!bomb.dxf", "refused", "expands more than 100 times over its compressed "
                             "size: refused as a likely decompression bomb"),
                            ("bomb.zip!after.dxf", "ok", "")], "a zip bomb: %s" % closings(got))
    check(status == 1 and "dxftext: bomb.zip!bomb.dxf: expands more than 100 times" in err,
          "a refused member fails the run, with its name")

    whole = open("plans.zip", "rb").read()
    cut = whole[:whole.find(members[3].encode()) + 200]  # inside the fourth member's bytes
    with open("cut.zip", "wb") as f:
        f.write(cut)
    status, got, err = run("-f", "jsonl", "cut.zip")
    got = closings(got)
    check([f for f, _, _ in got[:-1]] == ["cut.zip!" + m for m in members[:3]] and
          got[-1][:2] == ("cut.zip", "failed") and got[-1][2].endswith("(reading %s)" % members[3]),
          "a cut zip: the members before the cut, then the archive fails: %s" % got)
    # A member whose bytes do not match their checksum fails alone.
    with zipfile.ZipFile("crc.zip", "w", zipfile.ZIP_STORED) as z:
        z.write(sample, "a.dxf")
        z.write(sample, "b.dxf")
    broken = bytearray(open("crc.zip", "rb").read())
    broken[broken.find(b"TITLEBLOCK")] ^= 0x20
    with open("crc.zip", "wb") as f:
        f.write(broken)
    status, got, _ = run("-f", "jsonl", "crc.zip")
    got = closings(got)
    check([(f, s) for f, s, _ in got] == [("crc.zip!a.dxf", "failed"), ("crc.zip!b.dxf", "ok")],
          "a member with a bad checksum fails alone: %s" % got)

    # A member larger than a document may be is refused by what its header says.
    header = tarfile.TarInfo("huge.dxf")
    header.size = 3 << 30
    small = tarfile.TarInfo("small.dxf")
    small.size = len(data)
    with open("huge.tar", "wb") as f:  # cut short after 4 KiB of the huge member
        f.write(small.tobuf(tarfile.GNU_FORMAT) + data + bytes(-len(data) % 512))
        f.write(header.tobuf(tarfile.GNU_FORMAT) + bytes(4096))
    status, got, _ = run("-f", "jsonl", "huge.tar")
    got = closings(got)
    check(got[:2] == [("huge.tar!small.dxf", "ok", ""), ("huge.tar!huge.dxf", "refused",
                      "2 GiB or larger: the reader's 32-bit offsets cannot address it")] and
          got[2][:2] == ("huge.tar", "failed") and len(got) == 3,
          "a member of 3 GiB is refused, then the archive ends where it was cut: %s" % got)

    # Past 100,000 members the archive stops with one failure naming it.
    with zipfile.ZipFile("many.zip", "w") as z:
        z.write(sample, "first.dxf")
        for i in range(100000):
            z.writestr(zipfile.ZipInfo("f/%06d.txt" % i), b"")
    status, got, _ = run("-f", "jsonl", "many.zip")
    check(closings(got) == [("many.zip!first.dxf", "ok", ""),
                            ("many.zip", "failed", "more than 100000 members: the rest is not read")],
          "100,001 members: %s" % closings(got)[-1:])

    # --- Folder walks take archives with --archives only ----------------------------------
    tree = os.path.join(tmp, "tree")
    os.makedirs(os.path.join(tree, "b"))
    shutil.copy(sample, os.path.join(tree, "a.dxf"))
    shutil.copy(sample, os.path.join(tree, "b", "c.DXF"))
    shutil.copy("plans.zip", os.path.join(tree, "b", "plans.zip"))
    shutil.copy("a.dxf.gz", os.path.join(tree, "a1.dxf.gz"))
    shutil.copy("a.dxf.gz", os.path.join(tree, "notes.txt.gz"))
    shutil.copy("nodrawings.zip", os.path.join(tree, "b", "nodrawings.zip"))
    plain_tree = os.path.join(tmp, "plain-tree")
    shutil.copytree(tree, plain_tree, ignore=lambda d, names: [n for n in names if not n.lower().endswith(".dxf")
                                                              and not os.path.isdir(os.path.join(d, n))])
    _, without, err_without = run("-f", "jsonl", tree)
    _, before, err_before = run("-f", "jsonl", plain_tree)
    check(without.replace(b"/tree/", b"/plain-tree/") == before and err_without == err_before.replace(
        "/plain-tree/", "/tree/"), "without --archives a folder reads as it did")
    status, got, _ = run("-f", "jsonl", "--archives", tree)
    rel = [f[len(tree) + 1:] for f, _, _ in closings(got)]
    check(rel == ["a.dxf", "a1.dxf.gz", "b/c.DXF"] + ["b/plans.zip!" + m for m in members],
          "--archives: archives in path order, one with no drawings quietly: %s" % rel)
    only = os.path.join(tmp, "only-archives")
    os.mkdir(only)
    shutil.copy("nodrawings.zip", only)
    status, got, _ = run("-f", "jsonl", "--archives", only)
    check(closings(got) == [(only, "failed", "a directory with no .dxf drawings")],
          "a folder of archives without drawings has no drawings")
    # Listed archives are always opened.
    with open("list.txt", "w") as f:
        f.write("a.dxf.gz\nplans.7z\n")
    status, got, _ = run("-f", "jsonl", "--paths-from", "list.txt")
    check([f for f, _, _ in closings(got)] == ["a.dxf.gz"] + ["plans.7z!" + m for m in members[:3]],
          "archives in a --paths-from list are opened")
    status, got, _ = run("--help")
    check(b"--archives" in got, "--help names --archives")
finally:
    os.chdir("/")
    shutil.rmtree(tmp)

print("archives ok" if not failures else "%d checks failed" % len(failures))
sys.exit(1 if failures else 0)
