"""The wqdxfrdr Python module gives what dxftext gives, from every kind of source, and fails
the way its documentation says. Run by CTest with the built module on PYTHONPATH:
    WQ_DXFTEXT=build/bin/dxftext WQ_SOURCE_DIR=. /usr/bin/python3 tests/testPython.py"""

import ast
import io
import json
import os
import pathlib
import pickle
import subprocess
import sys
import tempfile
import threading
from concurrent.futures import ThreadPoolExecutor
import unittest

import wqdxfrdr

DXFTEXT = os.environ["WQ_DXFTEXT"]
SOURCE = pathlib.Path(os.environ["WQ_SOURCE_DIR"]).resolve()
CORPUS = SOURCE.parent / "shared" / "corpus" / "real"
sys.path.insert(0, str(SOURCE / "tests"))
import binaryDxf  # noqa: E402  (writes the binary twin of a drawing)

SCRATCH = tempfile.TemporaryDirectory()
FOLDER = pathlib.Path(SCRATCH.name)
TITLE_BLOCK = SOURCE / "samples" / "title_block.dxf"
# Past the 256 KiB a file is read whole up to: a path is read as a stream and its bytes from
# memory, and both must give the same.
LARGE = FOLDER / "large.dxf"
LARGE.write_text("0\nSECTION\n2\nENTITIES\n" + "".join(
    f"0\nTEXT\n5\n{i + 0x100:X}\n8\nL{i % 7}\n10\n{i}.5\n20\n2\n30\n0\n1\nnote {i}\n"
    for i in range(6000)) + "0\nENDSEC\n0\nEOF\n")
# A drawing that says all it can about itself, custom properties included.
DESCRIBED = FOLDER / "described.dxf"
DESCRIBED.write_text("0\nSECTION\n2\nHEADER\n" + "".join(
    f"9\n{name}\n{code}\n{value}\n" for name, code, value in [
        ("$ACADVER", 1, "AC1018"), ("$DWGCODEPAGE", 3, "ANSI_1252"),
        ("$TDUCREATE", 40, "2460369.88541667"), ("$LASTSAVEDBY", 1, "ktanaka"),
        ("$INSUNITS", 70, "4"), ("$CUSTOMPROPERTYTAG", 1, "Project"),
        ("$CUSTOMPROPERTY", 1, "RL-2024")]) + "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n"
    "0\nTEXT\n8\n0\n10\n1\n20\n2\n1\nStra\xdfe\n0\nENDSEC\n0\nEOF\n", encoding="cp1252")
BINARY = FOLDER / "title_block-binary.dxf"
BINARY.write_bytes(binaryDxf.write_binary(TITLE_BLOCK.read_bytes()))
OWN = (sorted((SOURCE / "samples").glob("*.dxf"))
       + sorted((SOURCE / "tests" / "drawings").glob("*.dxf"))
       + sorted((SOURCE / "tests" / "corpus").glob("*.dxf")) + [LARGE, DESCRIBED, BINARY])
SHARED = sorted(CORPUS.glob("*.dxf")) if CORPUS.is_dir() else []
if not SHARED:
    print("no shared corpus at ../shared/corpus/real: the project's drawings only")


def dxftext(paths, *options):
    return subprocess.run([DXFTEXT, "-q", *options, *map(str, paths)], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=False).stdout.decode()


def dxftext_jsonl(paths, *options):
    """{path: (its entity objects without file and number, its closing object)}."""
    found = {str(p): ([], None) for p in paths}
    for line in dxftext(paths, "-j", "2", "-f", "jsonl", *options).splitlines():
        item = json.loads(line)
        name = item.pop("file")
        if "status" in item:
            found[name] = (found[name][0], item)
        else:
            del item["entity"]
            found[name][0].append(item)
    return found


def read_whole(source, **options):
    """The entities as dicts, then the closing object as dxftext writes it."""
    with wqdxfrdr.read(source, **options) as doc:
        entities = [e.as_dict() for e in doc]
        closing = {key: getattr(doc, key) for key in ("status", "message", "entities", "texts",
                                                      "recoveries", "salvaged", "metadata")}
    return entities, closing


class Same(unittest.TestCase):
    def assertSameDocument(self, got, expected):
        """The closing objects, then the first entity that differs: a diff of whole documents
        would take longer to make than the test takes to run."""
        self.assertEqual(got[1], expected[1])
        for index, (entity, wanted) in enumerate(zip(got[0], expected[0])):
            self.assertEqual(entity, wanted, f"entity {index + 1}")
        self.assertEqual(len(got[0]), len(expected[0]))


class SameAsDxftext(Same):
    def test_entities_and_closing_objects_equal_json_lines_under_each_option(self):
        for paths, options, flags in [
                (OWN + SHARED, {}, []), (OWN, {"plugin_only": True}, ["--plugin-only"]),
                (OWN, {"strict": True}, ["--strict"]), (OWN, {"encoding": "raw"}, ["-e", "raw"]),
                (OWN, {"encoding": "CP1252"}, ["-e", "CP1252"])]:
            expected = dxftext_jsonl(paths, *flags)
            for path in paths:
                with self.subTest(path=path.name, options=options):
                    self.assertSameDocument(read_whole(str(path), **options), expected[str(path)])

    def test_attributes_text_and_fields_are_what_dxftext_gives(self):
        for path in OWN + SHARED:
            with self.subTest(path=path.name):
                doc = wqdxfrdr.read(path)
                for entity in doc:
                    d = entity.as_dict()
                    insert = d["insert"] and (d["insert"]["handle"], d["insert"]["block"])
                    position = d["position"] and tuple(d["position"])
                    self.assertEqual(
                        (entity.source, entity.kind, entity.layer, entity.handle, entity.block,
                         entity.space, entity.tag, entity.insert, entity.position, entity.texts),
                        (d["source"], d["kind"], d["layer"], d["handle"], d["block"], d["space"],
                         d["tag"], insert, position, d["texts"]))
                    if entity.insert is not None:
                        self.assertEqual(entity.insert.block, d["insert"]["block"])
                if doc.status in ("refused", "failed", "timeout"):
                    self.assertRaises(wqdxfrdr.DocumentError, wqdxfrdr.text, path)
                    continue
                self.assertEqual(wqdxfrdr.text(path), dxftext([path])[:-1])
                fields = {}
                for line in dxftext([path], "--fields").splitlines():
                    tag, value = line.split("=", 1)
                    fields.setdefault(tag, []).append(value)
                self.assertEqual(wqdxfrdr.read(path).fields(), fields)


class Sources(Same):
    def test_paths_bytes_and_file_objects_give_the_same(self):
        class BytesPath:  # an os.PathLike that gives bytes
            def __fspath__(self):
                return os.fsencode(path)

        class Trickle(io.RawIOBase):  # gives less than asked, as a pipe or socket does
            def __init__(self, data):
                self.data = data

            def readinto(self, buffer):
                piece, self.data = self.data[:1000], self.data[1000:]
                buffer[:len(piece)] = piece
                return len(piece)

        for path in (LARGE, TITLE_BLOCK, BINARY):
            data = path.read_bytes()
            expected = read_whole(str(path))
            with open(path, "rb") as raw, open(path, "rb", buffering=0) as unbuffered:
                for source in (path, BytesPath(), data, bytearray(data), memoryview(data),
                               raw, unbuffered, io.BytesIO(data), Trickle(data)):
                    with self.subTest(path=path.name, source=type(source).__name__):
                        self.assertSameDocument(read_whole(source), expected)

    def test_names_and_a_file_object_read_from_where_it_stands(self):
        with open(TITLE_BLOCK, "rb") as file:
            for source, name in [(TITLE_BLOCK, str(TITLE_BLOCK)), (b"", "<bytes>"),
                                 (file, str(TITLE_BLOCK)), (io.BytesIO(b""), "<file>")]:
                self.assertEqual(wqdxfrdr.read(source).name, name)
        data = TITLE_BLOCK.read_bytes()
        file = io.BytesIO(b"junk" + data)
        file.seek(4)
        self.assertEqual(read_whole(file), read_whole(data))


class Failures(unittest.TestCase):
    def test_each_failure_ends_at_once_and_raises_its_error_where_text_is_asked_for(self):
        missing, dwg, fifo = str(FOLDER / "missing.dxf"), b"AC1027" + bytes(200), FOLDER / "never"
        os.mkfifo(fifo)  # a drawing that never comes
        for source, status, error, options in [
                (missing, "failed", wqdxfrdr.DocumentFailedError, {}),
                (str(FOLDER), "failed", wqdxfrdr.DocumentFailedError, {}),
                (b"", "refused", wqdxfrdr.DocumentRefusedError, {}),
                (dwg, "refused", wqdxfrdr.DocumentRefusedError, {}),
                (fifo, "timeout", wqdxfrdr.DocumentTimeoutError, {"timeout": 0.2})]:
            with self.subTest(status=status, source=str(source)[-12:]):
                doc = wqdxfrdr.read(source, **options)
                self.assertEqual((list(doc), doc.status), ([], status))
                for ask in (lambda: wqdxfrdr.text(source, **options), doc.fields):
                    with self.assertRaises(error) as caught:
                        ask()
                    # Pickled too: a worker process hands its errors to its parent.
                    for e in (caught.exception, pickle.loads(pickle.dumps(caught.exception))):
                        self.assertIsInstance(e, error)
                        self.assertIsInstance(e, wqdxfrdr.DocumentError)
                        self.assertEqual((e.name, e.status, e.message, str(e)), (
                            doc.name, status, doc.message, f"{doc.name}: {doc.message}"))
        doc = wqdxfrdr.read(missing)
        self.assertEqual((doc.message, doc.metadata), ("No such file or directory", {}))
        self.assertIn("DWG", wqdxfrdr.read(dwg).message)

    def test_bad_sources_and_options(self):
        T, V = TypeError, ValueError
        for arguments, options, error in [
                ((42,), {}, T), ((None,), {}, T), ((["a.dxf"],), {}, T),
                ((io.StringIO("0\nEOF\n"),), {}, T), (("a\0.dxf",), {}, V),
                ((TITLE_BLOCK, "auto"), {}, T), ((TITLE_BLOCK,), {"encoding": 5}, T),
                ((TITLE_BLOCK,), {"encoding": "NO-SUCH"}, V),
                ((TITLE_BLOCK,), {"encoding": "UTF-16"}, V),
                ((TITLE_BLOCK,), {"plugin_only": "yes"}, T), ((TITLE_BLOCK,), {"strict": 1}, T),
                ((TITLE_BLOCK,), {"timeout": "1"}, T), ((TITLE_BLOCK,), {"timeout": True}, T),
                ((TITLE_BLOCK,), {"timeout": 0}, V), ((TITLE_BLOCK,), {"timeout": -1}, V),
                ((TITLE_BLOCK,), {"timeout": float("nan")}, V), ((TITLE_BLOCK,), {"jobs": 2}, T)]:
            for call in (wqdxfrdr.read, wqdxfrdr.text):
                with self.subTest(arguments=arguments, options=options, call=call.__name__):
                    self.assertRaises(error, call, *arguments, **options)
        self.assertEqual(read_whole(TITLE_BLOCK, timeout=float("inf")), read_whole(TITLE_BLOCK))


class Lifetime(unittest.TestCase):
    def test_the_outcome_asked_first_keeps_the_entities_and_a_closed_document_ends(self):
        for path in (TITLE_BLOCK, LARGE):  # read whole by the first next(), or not
            entities, closing = read_whole(path)
            doc = wqdxfrdr.read(path)
            first = next(doc).as_dict()
            self.assertEqual((doc.status, doc.entities), (closing["status"], closing["entities"]))
            self.assertEqual([first] + [e.as_dict() for e in doc], entities)
        doc = wqdxfrdr.read(TITLE_BLOCK)
        list(doc)
        self.assertEqual(list(doc.fields()), ["TITLE", "DWGNO", "DRAWNBY"])  # after it too
        with wqdxfrdr.read(TITLE_BLOCK) as doc:
            list(doc)
        self.assertEqual(doc.status, "ok")  # ended before it was closed: kept
        self.assertRaises(ValueError, next, doc)
        with wqdxfrdr.read(LARGE) as early:  # more entities than are read ahead of the first
            next(early)
        self.assertRaises(ValueError, lambda: early.status)
        self.assertRaises(ValueError, next, early)


class Threads(Same):
    def test_two_threads_read_what_one_reads(self):
        paths, start = OWN + SHARED, threading.Barrier(2)

        def work(k):
            start.wait()
            return [(i, read_whole(paths[i])) for i in range(k, len(paths), 2)]

        with ThreadPoolExecutor(2) as pool:
            together = dict(sum(pool.map(work, (0, 1)), []))
        for i, path in enumerate(paths):
            with self.subTest(path=path.name):
                self.assertSameDocument(together[i], read_whole(path))

    def test_the_gil_is_released_while_a_document_is_opened(self):
        # The reader waits in the open for a pipe's writer, and this thread can only write
        # once it holds the GIL: held through the open, the two would wait on each other.
        fifo = FOLDER / "pipe"
        os.mkfifo(fifo)
        got = []
        reader = threading.Thread(target=lambda: got.append(read_whole(fifo)))
        reader.start()
        with open(fifo, "wb") as writer:  # returns once the reader has the pipe open
            writer.write(TITLE_BLOCK.read_bytes())
        reader.join()
        self.assertEqual(got[0][0], read_whole(TITLE_BLOCK)[0])


class Documented(unittest.TestCase):
    def test_the_stub_names_and_the_docstrings_cover_what_the_module_has(self):
        names, members = set(), {}
        for node in ast.parse((SOURCE / "python" / "wqdxfrdr.pyi").read_text()).body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                names.add(node.name)
            if isinstance(node, ast.ClassDef):
                members[node.name] = {n.name if isinstance(n, ast.FunctionDef) else n.target.id
                                      for n in node.body
                                      if isinstance(n, (ast.FunctionDef, ast.AnnAssign))}
            elif isinstance(node, ast.AnnAssign):
                names.add(node.target.id)
            elif isinstance(node, ast.Assign):  # the stub's own type aliases are not the module's
                names.update(t.id for t in node.targets
                             if t.id not in {"Source", "Status", "Metadata"})
        public = {n for n in dir(wqdxfrdr) if not n.startswith("_")} | {"__version__"}
        self.assertEqual(names, public)
        documented = [(name, getattr(wqdxfrdr, name))
                      for name in public - {"__version__", "plugin_path", "plugin_version"}]
        for name in ("Entity", "Document"):
            cls = getattr(wqdxfrdr, name)
            have = {n for n in dir(cls) if not n.startswith("_")} | \
                ({"__iter__", "__next__", "__enter__", "__exit__"} & set(dir(cls)))
            self.assertEqual(members[name], have, name)
            documented += [(f"{name}.{member}", getattr(cls, member)) for member in have]
        for name, thing in documented:
            self.assertTrue(thing.__doc__, f"{name} has no docstring")


if __name__ == "__main__":
    unittest.main()
