// The Python module wqdxfrdr: reads drawings through the host toolkit's document API and
// hands over their entities, fields and metadata as the Python values of dxftext's JSON Lines.
#include <dlfcn.h>
#include <pybind11/eval.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Document.hpp"
#include "Encoding.hpp"
#include "Json.hpp"

#ifndef WQ_PYTHON_TO_LIBDIR
#define WQ_PYTHON_TO_LIBDIR "../lib"
#endif
#ifndef WQ_VERSION
#define WQ_VERSION "0"
#endif

namespace py = pybind11;

namespace {

using wqhost::Document;
using wqhost::DocumentStatus;
using wqhost::DrawingMetadata;
using wqhost::TextEntity;

// Entities read per trip into the toolkit with the GIL released: enough that taking the GIL
// back costs little beside them, few enough that a long drawing's first entities come at once.
constexpr size_t kEntitiesPerTrip = 256;
// Reading to the end takes longer trips, still short enough for Ctrl-C to be seen between.
constexpr size_t kEntitiesPerLongTrip = 4096;
// A file object is read a piece at a time, so that a drawing is never held twice over.
constexpr Py_ssize_t kFileChunk = 1 << 20;
// The toolkit refuses a document of 2 GiB or more: a file object is read only that far.
constexpr size_t kLargestDocument = size_t{INT32_MAX} + 1;

// The plug-in, loaded when the module is imported and never unloaded: a Document that the
// interpreter frees late in its shutdown still calls into it.
wqhost::PluginLibrary* plugin = nullptr;

// Python objects made once at import (under the GIL) and kept for the life of the process.
struct Shared {
    PyObject* insertType = nullptr;  // the named tuple Insert(handle, block)
    PyObject* refused = nullptr;     // the DocumentError subclass of each failing status
    PyObject* failed = nullptr;
    PyObject* timeout = nullptr;
    // The toolkit's static strings (kinds, spaces, metadata keys) as interned str, made on
    // first use: every entity names its kind, and one str each saves making it each time.
    std::vector<std::pair<const char*, PyObject*>> names;
};
Shared shared;

Py_ssize_t ssize(size_t size) { return static_cast<Py_ssize_t>(size); }

// One of the toolkit's static strings as a Python str, or None for null.
py::object staticName(const char* name) {
    if (name == nullptr) return py::none();
    for (const auto& [known, object] : shared.names) {
        if (known == name) return py::reinterpret_borrow<py::object>(object);
    }
    PyObject* made = PyUnicode_InternFromString(name);
    if (made == nullptr) throw py::error_already_set();
    // Only ever a few dozen; the bound holds should a caller hand over passing strings.
    if (shared.names.size() < 64) {
        shared.names.emplace_back(name, made);
        return py::reinterpret_borrow<py::object>(made);
    }
    return py::reinterpret_steal<py::object>(made);
}

// Text from the toolkit as a str. It is UTF-8, but with encoding "raw" it is the reader's
// bytes as they came: there ill-formed sequences become U+FFFD as in dxftext's JSON.
py::str toStr(std::string_view bytes) {
    PyObject* made = PyUnicode_DecodeUTF8(bytes.data(), ssize(bytes.size()), nullptr);
    if (made == nullptr) {
        PyErr_Clear();
        std::string repaired;
        wqhost::appendValidUtf8(&repaired, bytes);
        made = PyUnicode_DecodeUTF8(repaired.data(), ssize(repaired.size()), nullptr);
        if (made == nullptr) throw py::error_already_set();
    }
    return py::reinterpret_steal<py::str>(made);
}

py::object optionalStr(const std::optional<std::string>& text) {
    return text ? py::object(toStr(*text)) : py::object(py::none());
}

py::list textList(const TextEntity& entity) {
    py::list list(entity.texts.size());
    for (size_t i = 0; i < entity.texts.size(); ++i) {
        PyList_SET_ITEM(list.ptr(), ssize(i), toStr(entity.texts[i]).release().ptr());
    }
    return list;
}

py::object positionOf(const TextEntity& entity) {
    if (!entity.position) return py::none();
    const auto& [x, y, z] = *entity.position;
    return py::make_tuple(x, y, z);
}

py::object insertOf(const TextEntity& entity) {
    if (!entity.insert) return py::none();
    PyObject* made =
        PyObject_CallFunctionObjArgs(shared.insertType, optionalStr(entity.insert->handle).ptr(),
                                     optionalStr(entity.insert->block).ptr(), nullptr);
    if (made == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(made);
}

// The entity as dxftext writes its JSON object (less the file and the entity's number), in
// the values json.loads gives for it: insert a dict, position a list.
py::dict entityDict(const TextEntity& entity) {
    py::dict dict;
    dict["source"] = staticName(entity.fromPlugin ? "plugin" : "host");
    dict["kind"] = staticName(entity.kind);
    dict["layer"] = optionalStr(entity.layer);
    dict["handle"] = optionalStr(entity.handle);
    dict["block"] = optionalStr(entity.block);
    dict["space"] = staticName(entity.space);
    dict["tag"] = optionalStr(entity.tag);
    if (entity.insert) {
        py::dict insert;
        insert["handle"] = optionalStr(entity.insert->handle);
        insert["block"] = optionalStr(entity.insert->block);
        dict["insert"] = insert;
    } else {
        dict["insert"] = py::none();
    }
    if (entity.position) {
        const auto& [x, y, z] = *entity.position;
        py::list position;
        position.append(x);
        position.append(y);
        position.append(z);
        dict["position"] = position;
    } else {
        dict["position"] = py::none();
    }
    dict["texts"] = textList(entity);
    return dict;
}

py::dict metadataDict(const DrawingMetadata& metadata) {
    py::dict dict;
    metadata.forEach([&dict](const char* key, const std::string& value) {
        dict[staticName(key)] = toStr(value);
    });
    if (!metadata.custom.empty()) {
        py::dict custom;
        for (const auto& [name, value] : metadata.custom) custom[toStr(name)] = toStr(value);
        dict["custom"] = custom;
    }
    return dict;
}

bool failedStatus(DocumentStatus status) {
    return status == DocumentStatus::Refused || status == DocumentStatus::Failed ||
           status == DocumentStatus::Timeout;
}

// Raises the DocumentError subclass of a document that ended in `status`.
[[noreturn]] void raiseFailure(const py::object& name, DocumentStatus status,
                               const std::string& message) {
    PyObject* type = status == DocumentStatus::Refused   ? shared.refused
                     : status == DocumentStatus::Timeout ? shared.timeout
                                                         : shared.failed;
    const py::object error =
        py::reinterpret_borrow<py::object>(type)(name, wqhost::statusName(status), toStr(message));
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

std::string typeName(const py::handle& object) { return Py_TYPE(object.ptr())->tp_name; }

// --- arguments --------------------------------------------------------------------------

bool flag(const py::handle& value, const char* name) {
    if (!PyBool_Check(value.ptr())) {
        throw py::type_error(std::string(name) + " must be True or False, not " + typeName(value));
    }
    return value.ptr() == Py_True;
}

wqhost::ReadOptions readOptions(const py::handle& encoding, const py::handle& pluginOnly,
                                const py::handle& strict, const py::handle& timeout) {
    wqhost::ReadOptions options;
    if (!PyUnicode_Check(encoding.ptr())) {
        throw py::type_error("encoding must be a str, not " + typeName(encoding));
    }
    options.encoding = encoding.cast<std::string>();
    if (options.encoding != "auto" && options.encoding != "raw") {
        wqhost::TextConverter probe;
        std::string error;
        if (!probe.open(options.encoding, &error)) {
            throw py::value_error("unknown encoding '" + options.encoding +
                                  "': give 'auto', 'raw' or a code page iconv knows");
        }
    }
    options.pluginOnly = flag(pluginOnly, "plugin_only");
    options.strict = flag(strict, "strict");
    if (!timeout.is_none()) {
        if (PyBool_Check(timeout.ptr()) ||
            !(PyLong_Check(timeout.ptr()) || PyFloat_Check(timeout.ptr()) ||
              PyObject_HasAttrString(timeout.ptr(), "__float__"))) {
            throw py::type_error("timeout must be a number of seconds or None, not " +
                                 typeName(timeout));
        }
        const double seconds = PyFloat_AsDouble(timeout.ptr());
        if (seconds == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        if (!(seconds > 0)) throw py::value_error("timeout must be more than 0 seconds");
        // No limit at all is what an infinite one means; the toolkit says it with 0.
        options.timeoutSeconds = std::isinf(seconds) ? 0 : seconds;
    }
    return options;
}

// What a source argument names: a file to open, or the bytes of a drawing.
struct Source {
    py::object name;  // Document.name and DocumentError.name
    std::optional<std::string> path;
    std::string bytes;
};

Source pathSource(const py::handle& given) {
    const py::object path = py::reinterpret_steal<py::object>(PyOS_FSPath(given.ptr()));
    if (!path) throw py::error_already_set();
    Source source;
    py::bytes encoded;
    if (PyUnicode_Check(path.ptr())) {
        source.name = path;
        encoded = py::reinterpret_steal<py::bytes>(PyUnicode_EncodeFSDefault(path.ptr()));
        if (!encoded) throw py::error_already_set();
    } else {
        encoded = py::reinterpret_borrow<py::bytes>(path);
        source.name = py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefaultAndSize(
            PyBytes_AS_STRING(path.ptr()), PyBytes_GET_SIZE(path.ptr())));
        if (!source.name) throw py::error_already_set();
    }
    source.path = std::string(PyBytes_AS_STRING(encoded.ptr()),
                              static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())));
    if (source.path->find('\0') != std::string::npos) throw py::value_error("embedded null byte");
    return source;
}

Source bufferSource(const py::handle& given) {
    Py_buffer view;
    if (PyObject_GetBuffer(given.ptr(), &view, PyBUF_FULL_RO) != 0) throw py::error_already_set();
    Source source;
    source.name = py::str("<bytes>");
    source.bytes.resize(static_cast<size_t>(view.len));
    const int copied = PyBuffer_ToContiguous(&source.bytes[0], &view, view.len, 'C');
    PyBuffer_Release(&view);
    if (copied != 0) throw py::error_already_set();
    return source;
}

Source fileSource(const py::handle& file) {
    Source source;
    const py::object name = py::getattr(file, "name", py::none());
    source.name = PyUnicode_Check(name.ptr()) ? name : py::str("<file>");
    const py::object read = file.attr("read");
    while (source.bytes.size() < kLargestDocument) {
        const py::object chunk = read(kFileChunk);
        if (!PyBytes_Check(chunk.ptr()) && !PyByteArray_Check(chunk.ptr())) {
            throw py::type_error("the file object's read() gave " + typeName(chunk) +
                                 ", not bytes: open the drawing in binary mode ('rb')");
        }
        const std::string_view piece =
            PyBytes_Check(chunk.ptr())
                ? std::string_view(PyBytes_AS_STRING(chunk.ptr()),
                                   static_cast<size_t>(PyBytes_GET_SIZE(chunk.ptr())))
                : std::string_view(PyByteArray_AS_STRING(chunk.ptr()),
                                   static_cast<size_t>(PyByteArray_GET_SIZE(chunk.ptr())));
        if (piece.empty()) break;
        source.bytes += piece;
    }
    return source;
}

Source sourceOf(const py::handle& given) {
    PyObject* object = given.ptr();
    if (PyUnicode_Check(object)) return pathSource(given);
    // Bytes are a drawing, never a path: a path comes as str or os.PathLike.
    if (PyObject_CheckBuffer(object)) return bufferSource(given);
    if (PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__fspath__")) {
        return pathSource(given);
    }
    if (PyObject_HasAttrString(object, "read")) return fileSource(given);
    throw py::type_error(
        "source must be a path (str or os.PathLike), a bytes-like object or a "
        "binary file object, not " +
        typeName(given));
}

// Opens the document, with the GIL released: opening reads the header, and a small drawing
// (or a binary one, converted) whole.
Document open(Source* source, const wqhost::ReadOptions& options) {
    // For messages only; as the file system would write it, so that any name converts.
    const py::bytes encoded =
        py::reinterpret_steal<py::bytes>(PyUnicode_EncodeFSDefault(source->name.ptr()));
    if (!encoded) throw py::error_already_set();
    const std::string name = encoded;
    py::gil_scoped_release unlocked;
    if (source->path) return Document::open(*plugin, *source->path, options);
    return Document::fromBytes(*plugin, name, std::move(source->bytes), options);
}

// --- the document -----------------------------------------------------------------------

// How a document ended, kept once the toolkit's Document has given back what it held.
struct Outcome {
    DocumentStatus status = DocumentStatus::Reading;
    std::string message;
    int64_t entities = 0, texts = 0, recoveries = 0, salvaged = 0;
    DrawingMetadata metadata;
};

class PyDocument {
  public:
    PyDocument(py::object name, Document document)
        : name_(std::move(name)), reading_(std::move(document)) {}

    const py::object& name() const { return name_; }

    py::object next() {
        checkFree();
        if (ahead_.empty()) readAhead(kEntitiesPerTrip);
        if (ahead_.empty()) {
            if (closed_) throw py::value_error("the document is closed");
            throw py::stop_iteration();
        }
        py::object entity = py::cast(std::move(ahead_.front()));
        ahead_.pop_front();
        return entity;
    }

    // The outcome, the document read to its end first: entities not yet iterated wait
    // for the iteration.
    const Outcome& outcome() {
        while (reading_) {
            readAhead(kEntitiesPerLongTrip);
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
        if (!outcome_) throw py::value_error("the document was closed before its end");
        return *outcome_;
    }

    py::dict fields() {
        const Outcome& ended = outcome();
        if (failedStatus(ended.status)) raiseFailure(name_, ended.status, ended.message);
        py::dict dict;
        for (const auto& [tag, value] : fields_) {
            const py::str key = toStr(tag);
            PyObject* list = PyDict_GetItemWithError(dict.ptr(), key.ptr());
            if (list == nullptr && PyErr_Occurred()) throw py::error_already_set();
            if (list == nullptr) {
                dict[key] = py::list();
                list = PyDict_GetItem(dict.ptr(), key.ptr());
            }
            if (PyList_Append(list, toStr(value).ptr()) != 0) throw py::error_already_set();
        }
        return dict;
    }

    void close() {
        checkFree();
        ahead_.clear();
        closed_ = true;
        // Taken out under the GIL, so that no other thread finds it half given back.
        std::optional<Document> closing = std::move(reading_);
        reading_.reset();
        py::gil_scoped_release unlocked;
        closing.reset();
    }

    std::string describe() const {
        const char* state = closed_ && !outcome_ ? "closed"
                            : outcome_           ? wqhost::statusName(outcome_->status)
                                                 : "reading";
        return "<wqdxfrdr.Document " + py::repr(name_).cast<std::string>() + " " + state + ">";
    }

  private:
    // A document is read by one thread at a time. Reading gives up the GIL, so another
    // thread could come in meanwhile: it is told so, rather than racing the first. The
    // flag is only looked at and set with the GIL held.
    void checkFree() const {
        if (busy_) throw std::runtime_error("the document is being read by another thread");
    }

    // Reads up to `count` entities into ahead_, the GIL released; at the end, keeps the
    // outcome and gives the toolkit's Document back.
    void readAhead(size_t count) {
        checkFree();
        if (!reading_) return;
        // Set until the GIL is back, however the reading ends.
        struct Busy {
            explicit Busy(bool* flag) : flag_(flag) { *flag_ = true; }
            ~Busy() { *flag_ = false; }
            bool* flag_;
        } busy(&busy_);
        py::gil_scoped_release unlocked;
        for (size_t i = 0; i < count; ++i) {
            TextEntity entity;
            if (!reading_->next(&entity)) {
                end();
                return;
            }
            if (const std::string* value = entity.fieldValue(); value && !value->empty()) {
                fields_.emplace_back(*entity.tag, *value);
            }
            ahead_.push_back(std::move(entity));
        }
    }

    void end() {
        Outcome ended;
        ended.status = reading_->status();
        ended.message = reading_->message();
        ended.entities = reading_->entities();
        ended.texts = reading_->texts();
        ended.recoveries = reading_->recoveries();
        ended.salvaged = reading_->salvaged();
        ended.metadata = reading_->metadata();
        outcome_ = std::move(ended);
        reading_.reset();
    }

    py::object name_;
    std::optional<Document> reading_;  // until the end, or until closed
    std::optional<Outcome> outcome_;   // from the end on
    std::deque<TextEntity> ahead_;     // read, not yet handed out
    // Each ATTRIB's tag and value, as read (fields() may come after the iteration).
    std::vector<std::pair<std::string, std::string>> fields_;
    bool busy_ = false;
    bool closed_ = false;
};

PyDocument readDocument(const py::object& source, const py::object& encoding,
                        const py::object& pluginOnly, const py::object& strict,
                        const py::object& timeout) {
    const wqhost::ReadOptions options = readOptions(encoding, pluginOnly, strict, timeout);
    Source resolved = sourceOf(source);
    Document document = open(&resolved, options);
    return PyDocument(std::move(resolved.name), std::move(document));
}

py::str allText(const py::object& source, const py::object& encoding, const py::object& pluginOnly,
                const py::object& strict, const py::object& timeout) {
    wqhost::ReadOptions options = readOptions(encoding, pluginOnly, strict, timeout);
    options.structure = false;  // the texts alone: no pass to name the entities
    Source resolved = sourceOf(source);
    Document document = open(&resolved, options);
    std::string all;
    bool more = true;
    while (more) {
        {
            py::gil_scoped_release unlocked;
            TextEntity entity;
            for (size_t i = 0; i < kEntitiesPerLongTrip && (more = document.next(&entity)); ++i) {
                for (const std::string& value : entity.texts) {
                    if (value.empty()) continue;
                    if (!all.empty()) all += '\n';
                    all += value;
                }
            }
        }
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    if (failedStatus(document.status())) {
        raiseFailure(resolved.name, document.status(), document.message());
    }
    return toStr(all);
}

// Where the plug-in is: beside this module (a build folder), else in the library folder of
// the installation it is part of, else wherever the dynamic loader finds it.
std::string defaultPluginPath() {
    static const char anchor = 0;  // any address inside this module
    Dl_info info;
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        return wqhost::findPlugin("", WQ_PYTHON_TO_LIBDIR);
    }
    const std::string self = info.dli_fname;
    const size_t slash = self.rfind('/');
    return wqhost::findPlugin(slash == std::string::npos ? "." : self.substr(0, slash),
                              WQ_PYTHON_TO_LIBDIR);
}

// The errors and the Insert tuple: plain Python classes, so that they pickle (a worker
// process hands them back to its parent) and read as any Python exception does.
constexpr const char* kPythonParts = R"(
import collections as _collections

Insert = _collections.namedtuple("Insert", ["handle", "block"], module=__name__)
Insert.__doc__ = """The INSERT an ATTRIB follows: its handle (group 5) and the name of the
block it inserts (group 2), each None when the drawing does not say."""


class DocumentError(Exception):
    """A document that was not read to its end. Raised where its text is asked for
    (text(), Document.fields()); iterating it just ends, and Document.status says why.

    name: the document (the path as given, "<bytes>", or a file object's name);
    status: "refused", "failed" or "timeout", as Document.status;
    message: why, in words, as Document.message."""

    def __init__(self, name, status, message):
        super().__init__(name, status, message)
        self.name, self.status, self.message = name, status, message

    def __str__(self):
        return f"{self.name}: {self.message}"


class DocumentRefusedError(DocumentError):
    """The reader did not start on it: empty, a DWG drawing, no section frame ("Illigal
    DXF file"), a binary DXF that cannot be read, or 2 GiB or larger."""


class DocumentFailedError(DocumentError):
    """Missing, unreadable, a directory or a device, or reading stopped before the end
    (a binary drawing cut short, say)."""


class DocumentTimeoutError(DocumentError):
    """The time allowed (timeout=) ran out."""


del _collections
)";

constexpr const char* kModuleDoc =
    R"(The text of DXF drawings (ASCII or binary), as UTF-8 str, with each entity's fields and
the drawing's metadata: the same entities, fields and values as `dxftext -f jsonl`, read by
the wqdxfrdr plug-in and the host's own reader, without leaving Python.

    import wqdxfrdr
    print(wqdxfrdr.text("drawing.dxf"))             # all the text, one value a line

    with wqdxfrdr.read("drawing.dxf") as doc:       # a path, bytes or a binary file object
        for entity in doc:                          # TEXT, ATTRIB, ..., then MTEXT and the rest
            print(entity.kind, entity.layer, entity.texts)
        print(doc.status, doc.metadata)

    wqdxfrdr.read("plan.dxf").fields()              # {"DWGNO": ["A-101"], ...}

A document that cannot be read is not an exception until its text is asked for: iterating
it ends, and its status says why; text() and fields() raise a DocumentError subclass. The
GIL is released while the plug-in reads, so threads read documents in parallel; a Document
is used by one thread at a time.

plugin_path: the plug-in in use (found beside this module, else in the library folder of
its installation); plugin_version: its interface version (_lib_version).)";

constexpr const char* kReadDoc =
    R"(read(source, *, encoding="auto", plugin_only=False, strict=False, timeout=None) -> Document

Opens a drawing for reading. source: a path (str or os.PathLike), the drawing's bytes
(bytes, bytearray, memoryview or any bytes-like object), or a binary file object, read from
where it stands to its end.

encoding: "auto", the code page the drawing's header names, converted to UTF-8; "raw", the
bytes as the reader delivers them (ill-formed UTF-8 shown as U+FFFD); or a code page iconv
knows ("CP932"), whatever the header says. plugin_only: only TEXT, ATTDEF, ATTRIB and BLOCK,
exactly as the plug-in delivers them. strict: stop at the first entity the reader cannot
read, rather than reading on past it. timeout: seconds after which the document is given up
(status "timeout"), or None.

A missing or unreadable file is not an error here: the Document's status says so. Bad
arguments raise TypeError or ValueError.)";

constexpr const char* kTextDoc =
    R"(text(source, *, encoding="auto", plugin_only=False, strict=False, timeout=None) -> str

All the text of a drawing as one str: its text values in order, one a line, empty ones left
out (what `dxftext FILE` prints, without its last line end). Takes the arguments of read().
Raises a DocumentError subclass when the document was refused, failed or timed out.)";

}  // namespace

PYBIND11_MODULE(wqdxfrdr, m) {
    m.doc() = kModuleDoc;

    const std::string path = defaultPluginPath();
    plugin = new wqhost::PluginLibrary();
    std::string error;
    if (!plugin->load(path, &error)) {
        delete plugin;
        plugin = nullptr;
        throw py::import_error("wqdxfrdr cannot load the plug-in " + path + ": " + error);
    }
    m.attr("plugin_path") = path;
    m.attr("plugin_version") = plugin->entries().version;
    m.attr("__version__") = WQ_VERSION;

    py::exec(kPythonParts, m.attr("__dict__"));
    shared.insertType = py::object(m.attr("Insert")).release().ptr();
    shared.refused = py::object(m.attr("DocumentRefusedError")).release().ptr();
    shared.failed = py::object(m.attr("DocumentFailedError")).release().ptr();
    shared.timeout = py::object(m.attr("DocumentTimeoutError")).release().ptr();

    py::class_<TextEntity>(m, "Entity",
                           "One text entity of a drawing, with the fields of dxftext's JSON "
                           "Lines entity object.\nRead-only; made by iterating a Document.")
        .def_property_readonly(
            "kind", [](const TextEntity& e) { return staticName(e.kind); },
            "The entity type: TEXT, ATTRIB, ATTDEF, BLOCK (read by the plug-in), MTEXT, "
            "MULTILEADER, DIMENSION, ARCALIGNEDTEXT, ACAD_TABLE, RTEXT.")
        .def_property_readonly(
            "source",
            [](const TextEntity& e) { return staticName(e.fromPlugin ? "plugin" : "host"); },
            "\"plugin\", or \"host\" for what the host's own reader read.")
        .def_property_readonly("texts", &textList,
                               "The text values in order (a list of str), empty ones included.")
        .def_property_readonly(
            "layer", [](const TextEntity& e) { return optionalStr(e.layer); }, "Group 8, or None.")
        .def_property_readonly(
            "handle", [](const TextEntity& e) { return optionalStr(e.handle); },
            "Group 5 as written, or None.")
        .def_property_readonly(
            "block", [](const TextEntity& e) { return optionalStr(e.block); },
            "The block definition the entity stands in (a BLOCK: its own name); None in "
            "ENTITIES.")
        .def_property_readonly(
            "space", [](const TextEntity& e) { return staticName(e.space); },
            "\"model\" or \"paper\" in ENTITIES; None in BLOCKS.")
        .def_property_readonly(
            "tag", [](const TextEntity& e) { return optionalStr(e.tag); },
            "An ATTRIB's or ATTDEF's tag (group 2), else None.")
        .def_property_readonly("insert", &insertOf,
                               "For an ATTRIB, the Insert(handle, block) it follows; else None.")
        .def_property_readonly("position", &positionOf,
                               "(x, y, z) from groups 10, 20 and 30, or None.")
        .def("as_dict", &entityDict,
             "The fields as a dict, valued as json.loads reads dxftext's entity object "
             "(insert a dict, position a list).")
        .def("__repr__", [](const TextEntity& e) {
            return "Entity(kind=" + py::repr(staticName(e.kind)).cast<std::string>() +
                   ", texts=" + py::repr(textList(e)).cast<std::string>() + ")";
        });

    py::class_<PyDocument>(m, "Document", R"(A drawing being read, made by read().

An iterator of its Entity objects (the plug-in's first, then the host reader's), and a
context manager that closes it. status, message, the counts, metadata and fields() read the
rest of the document first when it has not ended; the entities not yet iterated wait for
the iteration.)")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &PyDocument::next)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](PyDocument& d, const py::args&) {
                 d.close();
                 return false;
             })
        .def("close", &PyDocument::close,
             "Gives back what the document holds. Iterating it afterwards raises ValueError; "
             "its outcome stays readable when it had ended.")
        .def_property_readonly("name", &PyDocument::name,
                               "The path as given, \"<bytes>\", or the file object's name.")
        .def_property_readonly(
            "status",
            [](PyDocument& d) { return staticName(wqhost::statusName(d.outcome().status)); },
            "\"ok\"; \"recovered\" (read to its end past entities the reader could not read, "
            "or with entities it passed over read by the host's reader); \"refused\", "
            "\"failed\" or \"timeout\".")
        .def_property_readonly(
            "message", [](PyDocument& d) { return toStr(d.outcome().message); },
            "Why, in words; \"\" when ok.")
        .def_property_readonly(
            "entities", [](PyDocument& d) { return d.outcome().entities; },
            "The number of text entities.")
        .def_property_readonly(
            "texts", [](PyDocument& d) { return d.outcome().texts; }, "The number of text values.")
        .def_property_readonly(
            "recoveries", [](PyDocument& d) { return d.outcome().recoveries; },
            "The times reading went on past an entity the reader could not read.")
        .def_property_readonly(
            "salvaged", [](PyDocument& d) { return d.outcome().salvaged; },
            "Entities of the plug-in's kinds it did not deliver, read by the host's reader.")
        .def_property_readonly(
            "metadata", [](PyDocument& d) { return metadataDict(d.outcome().metadata); },
            "What the drawing says about itself, as dxftext's closing object gives it: "
            "acadver, codepage, encoding, created, modified, last_saved_by, units, title, "
            "author, ..., and custom (a dict); a key is absent when the drawing does not say it.")
        .def("fields", &PyDocument::fields,
             "The fields of its block references: each ATTRIB's tag -> its values in order "
             "(empty ones left out), as `dxftext --fields` lists them. Raises a "
             "DocumentError subclass when the document was refused, failed or timed out.")
        .def("__repr__", &PyDocument::describe);

    // The docstrings of read() and text() start with their signatures in Python's terms.
    py::options options;
    options.disable_function_signatures();
    m.def("read", &readDocument, kReadDoc, py::arg("source"), py::kw_only(),
          py::arg("encoding") = "auto", py::arg("plugin_only") = false, py::arg("strict") = false,
          py::arg("timeout") = py::none());
    m.def("text", &allText, kTextDoc, py::arg("source"), py::kw_only(),
          py::arg("encoding") = "auto", py::arg("plugin_only") = false, py::arg("strict") = false,
          py::arg("timeout") = py::none());
}
