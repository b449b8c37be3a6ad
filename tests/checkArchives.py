#!/usr/bin/python3
"""dxftext on drawings in archives and compressed files, made here from the project's drawings:
each member reads as the same drawing read as a plain file, named ARCHIVE!MEMBER, in the
archive's order; bad and hostile archives give one status each and never stop the others.
    checkArchives.py DXFTEXT SOURCE_DIR
"""
import bz2
import gzip
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
# Drawings that read "ok" (the unclosed_* ones end "recovered", which no status below expects).
DRAWINGS = [os.path.join(SOURCE, "samples", n) for n in ("title_block.dxf", "site_notes.dxf")] + \
    sorted(os.path.join(SOURCE, "tests", "drawings", n)
           for n in os.listdir(os.path.join(SOURCE, "tests", "drawings"))
           if n.endswith(".dxf") and not n.startswith("unclosed_"))
EMPTY = "Memory allocation error (the file is empty)"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(*args, env=None):
    """dxftext's exit status, standard output (bytes) and standard error (text)."""
    done = subprocess.run([TOOL, "-q", *args], capture_output=True, env=env)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def closings(out):
    """The closing objects of a JSON Lines run: (file, status, message), in order."""
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    return [(o["file"], o["status"], o["message"]) for o in objects if "status" in o]


def jsonl(out, names={}):
    """The objects of a JSON Lines run, with the files named as `names` says."""
    objects = [json.loads(line) for line in out.decode("utf-8").splitlines()]
    return [json.dumps(dict(o, file=names.get(o["file"], o["file"])), ensure_ascii=False)
            for o in objects]


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


def pack(name, members, compression=zipfile.ZIP_DEFLATED):
    """A zip or a tar by its name, of (member name, file or, in a zip, bytes), in order."""
    if name.endswith(".zip"):
        with zipfile.ZipFile(name, "w", compression) as z:
            for member, source in members:
                z.writestr(member, source) if isinstance(source, bytes) else z.write(source, member)
    else:
        with tarfile.open(name, "w:gz" if name.endswith(".gz") else "w") as t:
            for member, source in members:
                t.add(source, member)


tmp = tempfile.mkdtemp()
try:
    os.chdir(tmp)
    # Past the 256 KiB that members are held in memory up to, so it goes to a temporary file.
    large = ("0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1027\n0\nENDSEC\n0\nSECTION\n2\nENTITIES\n" +
             "".join("0\nTEXT\n8\nNOTES\n10\n%d.0\n20\n0.0\n1\nnote %d of a long schedule\n" % (i, i)
                     for i in range(9000)) + "0\nENDSEC\n0\nEOF\n").encode()
    assert len(large) > 256 * 1024
    write("large.dxf", large)
    write("empty.dxf", b"")
    files = DRAWINGS + [os.path.join(tmp, "large.dxf"), os.path.join(tmp, "empty.dxf")]
    # Nested folders, names in any case and outside ASCII (which dxftext, in the "C" locale,
    # must still give as UTF-8).
    members = ["level%d/%s/%s" % (i % 3, "sub" if i % 2 else "B",
                                  os.path.basename(p).upper() if i == 1 else os.path.basename(p))
               for i, p in enumerate(files)]
    members[3] = "Gebäude/東京 " + os.path.basename(files[3])

    # --- Members read as the same drawings as plain files, in the archive's order ---------
    # Large members go through temporary files that have no name: $TMPDIR stays empty.
    os.mkdir("spool")
    spool = dict(os.environ, TMPDIR=os.path.join(tmp, "spool"))
    # Passed over: a folder, whatever its name, and members not named as drawings.
    entries = list(zip(members, files))
    skipped = [("old.dxf/", b""), ("level0/readme.txt", b"text"), ("level0/scan.pdf", b"%PDF-1.4")]
    pack("plans.zip", skipped[:1] + entries[:3] + skipped[1:] + entries[3:])
    pack("plans.tar.gz", entries + [("notes.txt", "empty.dxf")])
    for archive in ("plans.zip", "plans.tar.gz"):
        names = {p: archive + "!" + m for p, m in zip(files, members)}
        for options in ([], ["--plugin-only"], ["-e", "raw"]):
            _, want, _ = run("-f", "jsonl", *options, *files)
            _, got, err = run("-f", "jsonl", *options, archive, env=spool)
            check(jsonl(got) == jsonl(want, names), "%s %s: read as the plain files" % (archive, options))
        # The empty member is refused as an empty file is, and only it.
        statuses = [(f, s) for f, s, _ in closings(got) if s != "ok"]
        check(statuses == [(names[files[-1]], "refused")], "%s: statuses %s" % (archive, statuses))
        check("dxftext: %s: %s" % (names[files[-1]], EMPTY) in err, "%s: the empty member named" % archive)
        # Text and records: each line starts with ARCHIVE!MEMBER.
        for options in ([], ["-r"]):
            _, want, _ = run("-H", *options, *files)
            _, got, _ = run(*options, archive)
            for path in files:
                want = want.replace(path.encode() + b":", names[path].encode() + b":")
            check(got == want, "%s %s: each line names its member" % (archive, options))
        runs = [run("-j", jobs, "-f", "jsonl", archive, "plans.zip", *DRAWINGS[:2]) for jobs in "12"]
        check(runs[0] == runs[1], "%s: --jobs 2 gives what --jobs 1 gives" % archive)

    # --- Compressed drawings and other formats -------------------------------------------
    sample = DRAWINGS[0]
    data = open(sample, "rb").read()
    compressed = {"a.dxf.gz": gzip, "a.dxf.bz2": bz2, "a.dxf.xz": lzma, "A.DXF.GZ": gzip, "large.dxf.gz": gzip}
    for name, module in compressed.items():
        write(name, module.compress(large if name.startswith("large") else data))
    subprocess.run(["zstd", "-q", "-f", "-o", "a.dxf.zst", sample], check=True)
    for name in list(compressed) + ["a.dxf.zst"]:
        path = "large.dxf" if name.startswith("large") else sample
        _, want, _ = run("-f", "jsonl", path)
        status, got, _ = run("-f", "jsonl", name, env=spool)
        check(status == 0 and jsonl(got) == jsonl(want, {path: name}), "%s reads as its drawing" % name)
    with libarchive.file_writer("plans.7z", "7zip") as a:
        for path, name in zip(files[:3], members[:3]):
            a.add_file_from_memory(name, os.path.getsize(path), open(path, "rb").read())
    with libarchive.file_writer("plans.tar.zst", "pax", "zstd") as a:
        a.add_file_from_memory("x/a.dxf", len(data), data)
    _, want, _ = run("-f", "jsonl", *files[:3])
    status, got, _ = run("-f", "jsonl", "plans.7z")
    check(status == 0 and jsonl(got) == jsonl(want, {p: "plans.7z!" + m for p, m in zip(files, members)}),
          "a 7z archive's members")
    _, want, _ = run(sample)
    status, got, _ = run("plans.tar.zst")
    check(status == 0 and got == want, "a .tar.zst of one drawing reads it, no name before its lines")
    write("notes.zip", b"text, not a zip\n")
    status, got, err = run("-f", "jsonl", "notes.zip")
    check(status == 1 and [(f, s) for f, s, _ in closings(got)] == [("notes.zip", "failed")] and
          err.startswith("dxftext: notes.zip: "), "a .zip that is no archive fails, named")
    got = closings(run("-f", "jsonl", "missing.zip")[1])
    check(got == [("missing.zip", "failed", "No such file or directory")], "a missing archive: %s" % got)
    pack("nodrawings.zip", [("a.txt", b"text")])
    status, got, _ = run("-f", "jsonl", "nodrawings.zip")
    check(status == 1 and closings(got) == [("nodrawings.zip", "failed", "an archive with no .dxf drawings")],
          "an archive named with no drawings in it says so")

    # --- Archives inside archives, one level down; a bad one stops only itself --------------
    pack("deeper.zip", [("c.dxf", sample)])
    pack("inner.tar", [("deeper.zip", "deeper.zip"), ("b.dxf", sample)])
    pack("outer.tar", [("first.dxf", sample), ("in/plans.zip", "plans.zip"), ("inner.tar", "inner.tar"),
                       ("bad.zip", "notes.zip"), ("docs/a.dxf.gz", "a.dxf.gz"),
                       ("docs/notes.txt.gz", "a.dxf.gz"), ("last.dxf", sample)])
    status, got, err = run("-f", "jsonl", "outer.tar")
    got = [(f, s, "" if f == "outer.tar!bad.zip" else m) for f, s, m in closings(got)]
    want = ([("outer.tar!first.dxf", "ok", "")] +
            [("outer.tar!in/plans.zip!" + m, "ok", "") for m in members[:-1]] +
            [("outer.tar!in/plans.zip!" + members[-1], "refused", EMPTY),
             ("outer.tar!inner.tar!deeper.zip", "refused",
              "not opened: archives inside archives are opened one level down, and this one lies deeper"),
             ("outer.tar!inner.tar!b.dxf", "ok", ""), ("outer.tar!bad.zip", "failed", ""),
             ("outer.tar!docs/a.dxf.gz", "ok", ""), ("outer.tar!last.dxf", "ok", "")])
    check(got == want, "nested archives: %s" % got)
    check(status == 1 and "dxftext: outer.tar!inner.tar!deeper.zip: not opened" in err,
          "an archive too deep is refused with a message naming it")

    # --- Hostile and broken archives ------------------------------------------------------
    pack("bomb.zip", [("before.dxf", sample), ("bomb.dxf", bytes(50 << 20)), ("after.dxf", sample)])
    status, got, err = run("-f", "jsonl", "bomb.zip", env=spool)
    bomb = "expands more than 100 times over its compressed size: refused as a likely decompression bomb"
    check(closings(got) == [("bomb.zip!before.dxf", "ok", ""), ("bomb.zip!bomb.dxf", "refused", bomb),
                            ("bomb.zip!after.dxf", "ok", "")] and status == 1 and
          "dxftext: bomb.zip!bomb.dxf: " + bomb in err, "a zip bomb, named: %s" % closings(got))
    check(os.listdir("spool") == [], "nothing is left in $TMPDIR")

    whole = open("plans.zip", "rb").read()
    write("cut.zip", whole[:whole.find(members[3].encode()) + 200])  # inside the fourth member
    got = closings(run("-f", "jsonl", "cut.zip")[1])
    check([f for f, _, _ in got[:-1]] == ["cut.zip!" + m for m in members[:3]] and
          got[-1][:2] == ("cut.zip", "failed") and got[-1][2].endswith("(reading %s)" % members[3]),
          "a cut zip: the members before the cut, then the archive fails: %s" % got)
    pack("crc.zip", [("a.dxf", sample), ("b.dxf", sample)], zipfile.ZIP_STORED)
    broken = bytearray(open("crc.zip", "rb").read())
    broken[broken.find(b"TITLEBLOCK")] ^= 0x20
    write("crc.zip", broken)
    got = [(f, s) for f, s, _ in closings(run("-f", "jsonl", "crc.zip")[1])]
    check(got == [("crc.zip!a.dxf", "failed"), ("crc.zip!b.dxf", "ok")], "a bad checksum fails its member: %s" % got)

    # A member of 3 GiB by its header, cut short after 4 KiB: refused, then the archive ends.
    huge, small = tarfile.TarInfo("huge.dxf"), tarfile.TarInfo("small.dxf")
    huge.size, small.size = 3 << 30, len(data)
    write("huge.tar", small.tobuf(tarfile.GNU_FORMAT) + data + bytes(-len(data) % 512) +
          huge.tobuf(tarfile.GNU_FORMAT) + bytes(4096))
    got = closings(run("-f", "jsonl", "huge.tar")[1])
    check(got[:2] == [("huge.tar!small.dxf", "ok", ""), ("huge.tar!huge.dxf", "refused",
                      "2 GiB or larger: the reader's 32-bit offsets cannot address it")] and
          got[2][:2] == ("huge.tar", "failed") and len(got) == 3, "a member of 3 GiB: %s" % got)

    with zipfile.ZipFile("many.zip", "w") as z:
        z.write(sample, "first.dxf")
        for i in range(100000):
            z.writestr(zipfile.ZipInfo("f/%06d.txt" % i), b"")
    got = closings(run("-f", "jsonl", "many.zip")[1])
    check(got == [("many.zip!first.dxf", "ok", ""),
                  ("many.zip", "failed", "more than 100000 members: the rest is not read")],
          "100,001 members: %s" % got[-1:])

    # --- Folder walks take archives with --archives only; listed archives are always opened --
    os.makedirs("tree/b")
    for path, name in ((sample, "a.dxf"), (sample, "b/c.DXF"), ("plans.zip", "b/plans.zip"),
                       ("a.dxf.gz", "a1.dxf.gz"), ("a.dxf.gz", "notes.txt.gz"), ("nodrawings.zip", "b/n.zip")):
        shutil.copy(path, os.path.join("tree", name))
    tree = os.path.join(tmp, "tree")
    for options, want in (([], ["a.dxf", "b/c.DXF"]),
                          (["--archives"], ["a.dxf", "a1.dxf.gz", "b/c.DXF"] + ["b/plans.zip!" + m for m in members])):
        _, got, err = run("-f", "jsonl", *options, tree)
        rel = [f[len(tree) + 1:] for f, _, _ in closings(got)]
        check(rel == want and "n.zip" not in err,
              "%s: in path order, an archive with no drawings quietly: %s" % (options, rel))
    only = os.path.join(tmp, "only")
    os.mkdir(only)
    shutil.copy("nodrawings.zip", only)
    got = closings(run("-f", "jsonl", "--archives", only)[1])
    check(got == [(only, "failed", "a directory with no .dxf drawings")], "a folder of archives with no drawings")
    write("list.txt", b"a.dxf.gz\nplans.7z\n")
    got = [f for f, _, _ in closings(run("-f", "jsonl", "--paths-from", "list.txt")[1])]
    check(got == ["a.dxf.gz"] + ["plans.7z!" + m for m in members[:3]], "archives in a --paths-from list")
    check(b"--archives" in run("--help")[1], "--help names --archives")
finally:
    os.chdir("/")
    shutil.rmtree(tmp)

print("archives ok" if not failures else "%d checks failed" % len(failures))
sys.exit(1 if failures else 0)
