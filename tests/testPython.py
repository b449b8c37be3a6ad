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
import unittest

import wqdxfrdr

DXFTEXT = os.environ["WQ_DXFTEXT"]
SOURCE = pathlib.Path(os.environ["WQ_SOURCE_DIR"]).resolve()
CORPUS = SOURCE.parent / "shared" / "corpus" / "real"
sys.path.insert(0, str(SOURCE / "tests"))
import binaryDxf  # noqa: E402  (writes the binary twin of a drawing)

SCRATCH = tempfile.TemporaryDirectory()
FOLDER = pathlib.Path(SCRATCH.name)


def large_drawing():
    """A drawing past the 256 KiB a file is read whole up to, so that a path is read as a
    stream and its bytes from memory: both must give the same."""
    path = FOLDER / "large.dxf"
    entities = "".join(f"0\nTEXT\n5\n{i + 0x100:X}\n8\nL{i % 7}\n10\n{i}.5\n20\n2\n30\n0\n"
                       f"1\nnote {i}\n" for i in range(6000))
    path.write_text("0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n")
    return path


def described_drawing():
    """A drawing that says all it can about itself, custom properties included."""
    path = FOLDER / "described.dxf"
    header = {"$ACADVER": (1, "AC1018"), "$DWGCODEPAGE": (3, "ANSI_1252"),
              "$TDUCREATE": (40, "2460369.88541667"), "$LASTSAVEDBY": (1, "ktanaka"),
              "$INSUNITS": (70, "4"), "$CUSTOMPROPERTYTAG": (1, "Project"),
              "$CUSTOMPROPERTY": (1, "RL-2024")}
    groups = "".join(f"9\n{name}\n{code}\n{value}\n" for name, (code, value) in header.items())
    path.write_text(f"0\nSECTION\n2\nHEADER\n{groups}0\nENDSEC\n0\nSECTION\n2\nENTITIES\n"
                    "0\nTEXT\n8\n0\n10\n1\n20\n2\n1\nStra\xdfe\n0\nENDSEC\n0\nEOF\n",
                    encoding="cp1252")
    return path


def binary_twin(ascii_path):
    path = FOLDER / f"{ascii_path.stem}-binary.dxf"
    path.write_bytes(binaryDxf.write_binary(ascii_path.read_bytes()))
    return path


LARGE = large_drawing()
TITLE_BLOCK = SOURCE / "samples" / "title_block.dxf"
OWN = (sorted((SOURCE / "samples").glob("*.dxf"))
       + sorted((SOURCE / "tests" / "drawings").glob("*.dxf"))
       + sorted((SOURCE / "tests" / "corpus").glob("*.dxf"))
       + [LARGE, described_drawing(), binary_twin(TITLE_BLOCK)])
SHARED = sorted(CORPUS.glob("*.dxf")) if CORPUS.is_dir() else []


def dxftext_jsonl(paths, *options):
    """{path: (its entity objects without file and number, its closing object)}."""
    out = subprocess.run([DXFTEXT, "-q", "-j", "2", "-f", "jsonl", *options, *map(str, paths)],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False).stdout
    found = {str(p): ([], None) for p in paths}
    for line in out.decode().splitlines():
        item = json.loads(line)
        name = item.pop("file")
        if "status" in item:
            found[name] = (found[name][0], item)
        else:
            del item["entity"]
            found[name][0].append(item)
    return found


def dxftext_lines(path, *options):
    return subprocess.run([DXFTEXT, "-q", *options, str(path)], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=False).stdout.decode()


def read_whole(source, **options):
    """The entities as dicts, then the closing object as dxftext writes it."""
    with wqdxfrdr.read(source, **options) as doc:
        entities = [e.as_dict() for e in doc]
        closing = {"status": doc.status, "message": doc.message, "entities": doc.entities,
                   "texts": doc.texts, "recoveries": doc.recoveries, "salvaged": doc.salvaged,
                   "metadata": doc.metadata}
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
    def compare(self, paths, options, flags):
        expected = dxftext_jsonl(paths, *flags)
        for path in paths:
            with self.subTest(path=path.name, options=options):
                self.assertSameDocument(read_whole(str(path), **options), expected[str(path)])

    def test_entities_and_closing_objects_equal_json_lines(self):
        self.compare(OWN, {}, [])

    def test_options_as_dxftext_takes_them(self):
        for options, flags in [({"plugin_only": True}, ["--plugin-only"]),
                               ({"strict": True}, ["--strict"]),
                               ({"encoding": "raw"}, ["-e", "raw"]),
                               ({"encoding": "CP1252"}, ["-e", "CP1252"])]:
            self.compare(OWN, options, flags)

    @unittest.skipUnless(SHARED, "no shared corpus at ../shared/corpus/real")
    def test_shared_corpus_equals_json_lines(self):
        self.compare(SHARED, {}, [])

    def test_attributes_are_the_json_values_as_python_values(self):
        for path in OWN + SHARED:
            for entity in wqdxfrdr.read(path):
                d = entity.as_dict()
                insert = d["insert"] and (d["insert"]["handle"], d["insert"]["block"])
                position = d["position"] and tuple(d["position"])
                got = (entity.source, entity.kind, entity.layer, entity.handle, entity.block,
                       entity.space, entity.tag, entity.insert, entity.position, entity.texts)
                self.assertEqual(got, (d["source"], d["kind"], d["layer"], d["handle"], d["block"],
                                       d["space"], d["tag"], insert, position, d["texts"]))
                self.assertIs(type(entity.position), type(position))
                if entity.insert is not None:
                    self.assertEqual(entity.insert.block, d["insert"]["block"])

    def test_text_and_fields_are_what_dxftext_prints(self):
        for path in OWN + SHARED:
            with self.subTest(path=path.name):
                doc = wqdxfrdr.read(path)
                if doc.status in ("refused", "failed", "timeout"):
                    self.assertRaises(wqdxfrdr.DocumentError, wqdxfrdr.text, path)
                    continue
                printed = dxftext_lines(path)
                self.assertEqual(wqdxfrdr.text(path), printed[:-1] if printed else "")
                printed = dxftext_lines(path, "--fields").splitlines()
                pairs = [line.split("=", 1) for line in printed]
                fields = {}
                for tag, value in pairs:
                    fields.setdefault(tag, []).append(value)
                self.assertEqual(doc.fields(), fields)


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

        for path in (LARGE, TITLE_BLOCK, FOLDER / "title_block-binary.dxf"):
            data = path.read_bytes()
            expected = read_whole(str(path))
            with open(path, "rb") as raw, open(path, "rb", buffering=0) as unbuffered:
                for source in (path, BytesPath(), data, bytearray(data), memoryview(data),
                               raw, unbuffered, io.BytesIO(data), Trickle(data)):
                    with self.subTest(path=path.name, source=type(source).__name__):
                        self.assertSameDocument(read_whole(source), expected)

    def test_names(self):
        self.assertEqual(wqdxfrdr.read(TITLE_BLOCK).name, str(TITLE_BLOCK))
        self.assertEqual(wqdxfrdr.read(b"").name, "<bytes>")
        with open(TITLE_BLOCK, "rb") as file:
            self.assertEqual(wqdxfrdr.read(file).name, str(TITLE_BLOCK))
        self.assertEqual(wqdxfrdr.read(io.BytesIO(b"")).name, "<file>")

    def test_a_file_object_is_read_from_where_it_stands(self):
        data = TITLE_BLOCK.read_bytes()
        file = io.BytesIO(b"junk" + data)
        file.seek(4)
        self.assertEqual(read_whole(file), read_whole(data))

    def test_sources_that_are_not_drawings_are_type_errors(self):
        for source in (42, None, ["a.dxf"], io.StringIO("0\nEOF\n")):
            with self.subTest(source=type(source).__name__):
                self.assertRaises(TypeError, wqdxfrdr.read, source)
        self.assertRaises(ValueError, wqdxfrdr.read, "a\0.dxf")


class Failures(unittest.TestCase):
    def test_a_missing_file_ends_at_once_and_raises_where_its_text_is_asked_for(self):
        missing = str(FOLDER / "missing.dxf")
        doc = wqdxfrdr.read(missing)
        self.assertEqual(list(doc), [])
        self.assertEqual((doc.status, doc.message), ("failed", "No such file or directory"))
        self.assertEqual(doc.metadata, {})
        for ask in (lambda: wqdxfrdr.text(missing), doc.fields):
            with self.assertRaises(wqdxfrdr.DocumentFailedError) as caught:
                ask()
            error = caught.exception
            self.assertIsInstance(error, wqdxfrdr.DocumentError)
            self.assertEqual((error.name, error.status, error.message),
                             (missing, "failed", "No such file or directory"))
            self.assertEqual(str(error), f"{missing}: No such file or directory")

    def test_each_failure_has_its_error(self):
        dwg = b"AC1027" + bytes(200)
        for source, status, error in [(b"", "refused", wqdxfrdr.DocumentRefusedError),
                                      (dwg, "refused", wqdxfrdr.DocumentRefusedError),
                                      (str(FOLDER), "failed", wqdxfrdr.DocumentFailedError)]:
            with self.subTest(status=status, source=source[:6]):
                doc = wqdxfrdr.read(source)
                self.assertEqual((list(doc), doc.status), ([], status))
                with self.assertRaises(error) as caught:
                    wqdxfrdr.text(source)
                self.assertEqual(caught.exception.message, doc.message)
        self.assertIn("DWG", wqdxfrdr.read(dwg).message)

    def test_a_drawing_that_never_comes_times_out(self):
        fifo = FOLDER / "never"
        os.mkfifo(fifo)
        doc = wqdxfrdr.read(fifo, timeout=0.2)
        self.assertEqual((list(doc), doc.status), ([], "timeout"))
        self.assertRaises(wqdxfrdr.DocumentTimeoutError, wqdxfrdr.text, fifo, timeout=0.2)

    def test_errors_survive_pickling(self):  # a worker process hands them to its parent
        error = wqdxfrdr.DocumentRefusedError("a.dxf", "refused", "Illigal DXF file")
        back = pickle.loads(pickle.dumps(error))
        self.assertIsInstance(back, wqdxfrdr.DocumentRefusedError)
        self.assertEqual((back.name, back.status, back.message, str(back)),
                         ("a.dxf", "refused", "Illigal DXF file", "a.dxf: Illigal DXF file"))

    def test_bad_options(self):
        for options, error in [({"encoding": 5}, TypeError), ({"encoding": "NO-SUCH"}, ValueError),
                               ({"encoding": "UTF-16"}, ValueError),
                               ({"plugin_only": "yes"}, TypeError), ({"strict": 1}, TypeError),
                               ({"timeout": "1"}, TypeError), ({"timeout": True}, TypeError),
                               ({"timeout": 0}, ValueError), ({"timeout": -1}, ValueError),
                               ({"timeout": float("nan")}, ValueError), ({"jobs": 2}, TypeError)]:
            for call in (wqdxfrdr.read, wqdxfrdr.text):
                with self.subTest(options=options, call=call.__name__):
                    self.assertRaises(error, call, TITLE_BLOCK, **options)
        self.assertRaises(TypeError, wqdxfrdr.read, TITLE_BLOCK, "auto")
        self.assertEqual(read_whole(TITLE_BLOCK, timeout=float("inf")), read_whole(TITLE_BLOCK))


class Lifetime(unittest.TestCase):
    def test_the_outcome_asked_first_keeps_the_entities_for_the_iteration(self):
        for path in (TITLE_BLOCK, LARGE):  # read whole by the first next(), or not
            entities, closing = read_whole(path)
            doc = wqdxfrdr.read(path)
            first = next(doc).as_dict()
            self.assertEqual((doc.status, doc.entities), (closing["status"], closing["entities"]))
            self.assertEqual([first] + [e.as_dict() for e in doc], entities)
        doc = wqdxfrdr.read(TITLE_BLOCK)
        list(doc)
        self.assertEqual(list(doc.fields()), ["TITLE", "DWGNO", "DRAWNBY"])  # after it too

    def test_a_closed_document(self):
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
        paths = OWN + SHARED
        alone = [read_whole(p) for p in paths]
        results = [None, None]
        start = threading.Barrier(2)

        def work(k):
            start.wait()
            results[k] = [(i, read_whole(paths[i])) for i in range(k, len(paths), 2)]

        threads = [threading.Thread(target=work, args=(k,)) for k in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        together = dict(results[0] + results[1])
        for i, path in enumerate(paths):
            with self.subTest(path=path.name):
                self.assertSameDocument(together[i], alone[i])

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
    def test_the_stub_names_what_the_module_has(self):
        stub = ast.parse((SOURCE / "python" / "wqdxfrdr.pyi").read_text())
        aliases = {"Source", "Status", "Metadata"}
        names, members = set(), {}
        for node in stub.body:
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                names.add(node.name)
            if isinstance(node, ast.ClassDef):
                members[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)}
                members[node.name] |= {n.target.id for n in node.body
                                       if isinstance(n, ast.AnnAssign)}
            elif isinstance(node, ast.AnnAssign):
                names.add(node.target.id)
            elif isinstance(node, ast.Assign):
                names.update(t.id for t in node.targets if t.id not in aliases)
        public = {n for n in dir(wqdxfrdr) if not n.startswith("_")} | {"__version__"}
        self.assertEqual(names, public)
        for name in ("Entity", "Document"):
            cls = getattr(wqdxfrdr, name)
            protocol = {"__iter__", "__next__", "__enter__", "__exit__"} & set(dir(cls))
            have = {n for n in dir(cls) if not n.startswith("_")} | protocol
            self.assertEqual(members[name], have, name)
            for member in have:
                self.assertTrue(getattr(cls, member).__doc__, f"{name}.{member} has no docstring")
        for name in public - {"__version__", "plugin_path", "plugin_version"}:
            self.assertTrue(getattr(wqdxfrdr, name).__doc__, f"{name} has no docstring")


if __name__ == "__main__":
    unittest.main()
