#!/usr/bin/python3
"""Breaks the code on purpose, one way at a time, and checks that the suite notices.

Each mutant below replaces one exact piece of a source file (found exactly once) with a
broken one: an offset one byte off, a CR mishandled, the oldest free block reused, a leak
on a failure path, records out of order, ... For each, the build folder is rebuilt and
the tests run until the first failure; the file is then put back byte for byte. A mutant
that no test catches is a hole in the suite. Run by hand, from a checkout whose build
folder is configured (it takes about a minute a mutant):

    tests/mutants.py --build build [--only 3,7]

The slow end-to-end checks of the install and of the cluster run are left out: no
mutant here is theirs to catch.
"""
import argparse
import pathlib
import subprocess
import sys

REPO = pathlib.Path(__file__).resolve().parent.parent

# (file, the piece as it stands, the piece broken, what the break is). Where the piece has
# been written more than one way over time, it is a tuple of the ways, and the one present
# is broken.
MUTANTS = [
    ("base/DxfFileStrmIo.cpp", "ctx->position = start + end + 1;",
     "ctx->position = start + end + 2;", "the next line starts one byte late"),
    ("base/DxfFileStrmIo.cpp", "if (end > 0 && buffer[end - 1] == '\\r') {",
     "if (false) {", "a CR before the LF stays in the line"),
    ("base/DxfFileStrmIo.cpp", "if (end < 0) end = indexIn(buffer, stop, '\\r');",
     "if (end < 0) end = indexIn(buffer, 0, '\\r');", "a lone CR no longer ends a line"),
    ("base/DxfFileStrmIo.cpp", "const int32_t length = got < size ? got : size - 1;",
     "const int32_t length = got < size ? got : size - 2;",
     "a long line's pieces lose a byte"),
    ("base/DxfFileStrmIo.cpp", "if (static_cast<uint32_t>(offset) > static_cast<uint32_t>(ctx->fileSize)) return 0;",
     "if (offset > ctx->fileSize) return 0;", "a negative offset is accepted"),
    ("base/DxfPublicStorage.cpp", "if (a->sequence < b->sequence) {",
     "if (a->sequence > b->sequence) {", "the oldest free block is reused instead of the newest"),
    ("base/DxfPublicStorage.cpp",
     "    record->isFree = 1;\n    std::memset(record->memory, 0, static_cast<size_t>(record->capacity));",
     "    record->isFree = 1;", "a freed block is not cleared for its next user"),
    ("base/DxfPublicStorage.cpp", "return record->capacity > 0 ? record : nullptr;",
     "return record;", "a block of no bytes is found at its start"),
    ("base/DxfPublicStorage.cpp",
     "    if (ctx->addressTreeBuilt != 0) AddressTree::insert(&ctx->addressRoot, record);\n}",
     "}", "blocks made or moved after the tree by memory is built are left out of it"),
    ("base/DxfPublicStorage.cpp", "if (size < 128) return 256;", "if (size < 128) return 128;",
     "small blocks round to another size"),
    ("base/DxfPublicStorage.cpp", "callocMem(services, 1, rounded + 1)", "callocMem(services, 1, rounded)",
     "blocks lose their spare byte"),
    ("base/DxfPublicStorage.cpp", "            services->freeMem(services, record->memory);\n",
     "", "deleting the storage leaks every block's memory"),
    ("base/DxfPublicStorage.cpp", "    if (ctx == nullptr) {\n        services->freeMem(services, self);",
     "    if (ctx == nullptr) {", "a storage that cannot make its context leaks its handle"),
    ("base/DxfStrEtc.cpp", "if (*in != c) *out++ = *in;", "*out++ = *in;",
     "blank removal removes only the first blank"),
    ("base/DxfHash.cpp", "h ^= g >> 24;", "h ^= g >> 23;", "the hash folds its top bits wrongly"),
    ("base/DxfGrpId.cpp", "if (*c == '0') return c[1] == '\\0' && !negative ? 0 : kNotACode;",
     "if (*c == '0') return 0;", "\"01\" and \"-0\" read as group code 0"),
    ("entities/MtextConv.cpp",
     "        out[count++] = static_cast<char>((number >> 8) & 0xFFu);\n        out[count++] = static_cast<char>(number & 0xFFu);",
     "        out[count++] = static_cast<char>(number & 0xFFu);\n        out[count++] = static_cast<char>((number >> 8) & 0xFFu);",
     "a decoded two-byte character comes out byte-swapped"),
    ("entities/MtextConv.cpp", "if (!haveDigit) return false;", "if (!haveDigit) { *number = 0; return true; }",
     "an escape without digits decodes to zero bytes"),
    ("entities/ReadDatUtil.cpp", "    const int32_t offset = *start;\n    *start = -1;",
     "    const int32_t offset = *start;", "the reader can step back twice"),
    ("entities/ReadDatUtil.cpp", ("    ctx->strings->deleteChar(ctx->strings, ctx->codeBuffer, ' ');\n",
                                  "    DxfStrEtc* strings = ctx->collaborators.strings;\n"
                                  "    strings->deleteChar(strings, ctx->codeBuffer, ' ');\n"),
     "", "a code line keeps its blanks"),
    ("entities/DxfEntities.cpp", "            reader->backToPair(reader);\n            ctx->currentHandler = nullptr;",
     "            ctx->currentHandler = nullptr;", "the entity after a skipped one is lost"),
    ("entities/DxfEntities.cpp", "return wq::positionOf(lines) >= ctx->endOffset;",
     "return wq::positionOf(lines) > ctx->endOffset;", "a range ends one byte late"),
    ("entities/TextHandler.cpp", "queueLastRecord(source, QueueAtHead);",
     "queueLastRecord(source, QueueAppend);", "a start record goes to the back of the queue"),
    ("entities/TextHandler.cpp", "(info.index == GroupCode1 || info.index == GroupCode2)",
     "info.index == GroupCode1", "BLOCK names (code 2) are not delivered"),
    ("entities/TextHandler.cpp", "static_cast<const char*>(end) - text : kTextBytes;",
     "static_cast<const char*>(end) - text + 1 : kTextBytes;", "a text's length counts its terminator"),
    ("entities/TextHandler.cpp", "        if (!known) return 0;\n", "",
     "an unknown group code inside a TEXT is accepted"),
    ("sections/GetDxfData.cpp", "if (equals(ctx->line, \"ENDSEC\")) return code0Start;",
     "if (equals(ctx->line, \"ENDSEC\")) return code0Start + 1;",
     "a section ends one byte past the 0 before its ENDSEC"),
    ("sections/GetDxfData.cpp", "                if (equals(ctx->line, \"EOF\")) return -1;\n", "",
     "the section scan reads past EOF"),
    ("sections/GetDxfData.cpp", "        ctx->sections[index].start = start;",
     "        if (ctx->sections[index].start < 0) ctx->sections[index].start = start;",
     "a section met twice keeps its first start"),
    ("sections/GetDxfData.cpp", "return fail(kIllegalFile);", "return fail(nullptr);",
     "a document without sections is refused silently"),
    ("sections/PhaseHandlers.cpp", "return span.end == -1 ? PhaseError : PhaseFinished;",
     "return PhaseFinished;", "an unclosed HEADER passes"),
    ("entry/DxfSource.cpp", "if (result == PhaseFinished) ++source->phase;", "++source->phase;",
     "a phase that is not finished is left"),
    ("entry/DxfSource.cpp", "    deleteGetDxfData(source->sections);\n", "",
     "shutting down leaves the section index's owned objects"),
    ("host/drawing/MtextPlain.cpp", "            case 'P':\n                out->push_back('\\n');",
     "            case 'P':\n                out->push_back(' ');", "\\P in MTEXT is not a line break"),
    ("host/drawing/TextEntityReader.cpp", "if (code == 1 || code == 3) return gather();",
     "if (code == 1) return gather();", "an MTEXT loses its leading code 3 pieces"),
    ("host/drawing/Encoding.cpp", "if (n < kEscapeBytes || p[0] != '\\\\' || p[1] != 'U' || p[2] != '+') return -1;",
     "if (n < kEscapeBytes + 1 || p[0] != '\\\\' || p[1] != 'U' || p[2] != '+') return -1;",
     "a \\U+ escape at the very end of a text is not decoded"),
    ("host/output/Json.cpp", "while (i < n && p[i] >= 0x20 && p[i] < 0x80 && p[i] != '\"' && p[i] != '\\\\') ++i;",
     "while (i < n && p[i] >= 0x1F && p[i] < 0x80 && p[i] != '\"' && p[i] != '\\\\') ++i;",
     "JSON lets control character 0x1F through unescaped"),
    ("host/drawing/Encoding.cpp", 'if (!found.fromHeader) found.codePage = "CP1252";',
     'if (!found.fromHeader) found.codePage = "CP1251";',
     "a drawing whose header names no code page is read as Cyrillic"),
    ("tools/dist/wqdxfrdr_dist/plan.py", "    if repeated:", "    if False:",
     "a part read again after its file was removed counts twice when resumed"),
    ("tools/dist/wqdxfrdr_dist/plan.py", 'cut = existing.read(1) != b"\\n"', "cut = False",
     "a resumed run's first counts line joins one cut short, and is lost with it"),
    ("tools/dist/wqdxfrdr_dist/plan.py", "            wanted = part not in done\n", "",
     "a resumed run reads no part after the first one written"),
    ("host/MallocServices.cpp", "return roundUp(bytes + sizeof(BlockHeader)); }",
     "return roundUp(bytes + sizeof(BlockHeader) - 1); }",
     "an arena block takes a byte less than it holds"),
    ("host/MallocServices.cpp", "std::memcpy(moved, block, std::min(oldBytes, bytes));",
     "std::memcpy(moved, block, std::min(oldBytes, bytes) - 1);",
     "a block copied to grow loses its last byte"),
    ("host/MallocServices.cpp", "std::memset(item + 1, 0, static_cast<size_t>(bytes));",
     "(void)bytes;", "a reused record or text buffer keeps its old bytes"),
    ("host/MallocServices.cpp", "        services->large = large->next;\n        unpoison(large, kLargeHead);\n"
     "        std::free(large);", "        services->large = large->next;",
     "finishing leaves the blocks too large for a chunk"),
    ("host/drawing/TextEntityReader.cpp", "        place.offset = nameOffset;",
     "        place.offset = nameOffset + 1;", "an entity is placed one byte after its name line"),
    ("host/Document.cpp", "if (placer == nullptr || offset <= lastPlaced) restartPlacer(offset);",
     "if (placer == nullptr) restartPlacer(offset);",
     "entities the plug-in gives a second time are not placed again"),
    ("host/drawing/TextEntityReader.cpp", "        if (found != Kind::Attrib) insertOpen = false;",
     "        if (found == Kind::Insert) insertOpen = false;",
     "an ATTRIB after a SEQEND still names the INSERT before it"),
]

SLOW_CHECKS = "distributedRun|checkInstall"


def run(args, **kw):
    return subprocess.run(args, cwd=REPO, capture_output=True, text=True, **kw)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="a configured build folder")
    parser.add_argument("--only", help="comma-separated mutant numbers (from 1)")
    args = parser.parse_args()
    chosen = range(1, len(MUTANTS) + 1)
    if args.only:
        chosen = [int(n) for n in args.only.split(",")]
    build = str((REPO / args.build).resolve())
    if run(["cmake", "--build", build, "-j", "2"]).returncode != 0:
        sys.exit("the unbroken build fails: fix that first")
    survivors = 0
    for number in chosen:
        path, piece, broken, what = MUTANTS[number - 1]
        source = REPO / path
        original = source.read_bytes()
        text = original.decode()
        pieces = piece if isinstance(piece, tuple) else (piece,)
        piece = next((p for p in pieces if text.count(p) == 1), pieces[0])
        if text.count(piece) != 1:
            print(f"{number:2} {path}: the piece is not there exactly once: {what}")
            survivors += 1
            continue
        try:
            source.write_text(text.replace(piece, broken))
            built = run(["cmake", "--build", build, "-j", "2"])
            if built.returncode != 0:
                verdict = "does not build"
                survivors += 1
            else:
                tested = run(["ctest", "--test-dir", build, "-j", "2", "--stop-on-failure",
                              "-E", SLOW_CHECKS, "--timeout", "120"])
                failed = [line.split(" - ", 1)[1].split(" (")[0]
                          for line in tested.stdout.splitlines() if " - " in line and "(" in line]
                if tested.returncode == 0:
                    verdict = "SURVIVED"
                    survivors += 1
                else:
                    verdict = "caught by " + (", ".join(failed[:2]) or "the suite")
        finally:
            source.write_bytes(original)
        print(f"{number:2} {path}: {what}: {verdict}", flush=True)
    run(["cmake", "--build", build, "-j", "2"])
    sys.exit(1 if survivors else 0)


if __name__ == "__main__":
    main()
