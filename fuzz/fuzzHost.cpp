// Fuzz target: the host toolkit's own parsing of untrusted bytes. The header scan, the
// reader of MTEXT and the other text entities (read whole and in small pieces, which must
// agree), MTEXT made plain, conversion to UTF-8 and JSON string literals, and the document
// API over the plug-in and that reader: the output must be valid UTF-8 and valid JSON, and
// stay within a few times the size of the input.
//
// Input: a 3-byte header, then the document. Byte 0 chooses the code page of the
// conversion from a list (and, for the document API, bit 7 the header's own code page
// instead, bit 6 strict reading); byte 1 the size of each read, 1 to 256 bytes; byte 2,
// when not zero, makes the reads fail once byte2/256 of the document has been read.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Document.hpp"
#include "Encoding.hpp"
#include "Json.hpp"
#include "MtextPlain.hpp"
#include "TextEntityReader.hpp"

namespace {

constexpr size_t kHeaderBytes = 3;
// Code pages of drawings of every kind: single-byte, two-byte, one that holds letters back
// for accents (CP1258), and UTF-8, which is checked without iconv.
constexpr const char* kCodePages[] = {"CP1252",     "CP932",  "UTF-8", "CP949",  "CP1258",
                                      "CP936",      "CP950",  "JOHAB", "CP1255", "CP874",
                                      "ISO-8859-1", "CP437",  "CP866", "MACINTOSH", "SHIFT_JIS",
                                      "BIG5",       "CP1250", "CP864"};
constexpr size_t kCodePageCount = sizeof kCodePages / sizeof kCodePages[0];

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "host fuzz check failed: %s [%.*s]\n", what,
                 static_cast<int>(detail.size() < 200 ? detail.size() : 200), detail.data());
    std::abort();
}

void check(bool ok, const char* what, std::string_view detail = {}) {
    if (!ok) fail(what, detail);
}

// The code point of the UTF-8 sequence at s[*i], moving *i past it; -1 when the bytes there
// are not a well-formed sequence (overlong forms, surrogates and values past U+10FFFF
// included).
long decodeUtf8(std::string_view s, size_t* i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(*i);
    if (lead < 0x80) return static_cast<long>(s[(*i)++]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || *i + length > s.size()) return -1;
    long value = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(*i + k) & 0xC0) != 0x80) return -1;
        value = value << 6 | (byte(*i + k) & 0x3F);
    }
    constexpr long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return -1;
    *i += length;
    return value;
}

bool isValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();)
        if (decodeUtf8(s, &i) < 0) return false;
    return true;
}

void appendUtf8(std::string* out, long c) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | c >> 6));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | c >> 12));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | c >> 18));
        out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The four hex digits at s[i], or -1.
long hex4(std::string_view s, size_t i) {
    if (i + 4 > s.size()) return -1;
    long value = 0;
    for (size_t k = i; k < i + 4; ++k) {
        const char c = s[k];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The string a JSON string literal stands for; aborts when `literal` is not exactly one
// valid literal (RFC 8259: quotes around it, no raw control character, only the defined
// escapes, surrogate escapes in pairs, UTF-8 text).
std::string decodeJsonString(std::string_view literal) {
    check(literal.size() >= 2 && literal.front() == '"' && literal.back() == '"',
          "a JSON literal without its quotes", literal);
    const std::string_view body = literal.substr(1, literal.size() - 2);
    check(isValidUtf8(body), "a JSON literal that is not UTF-8", body);
    std::string text;
    for (size_t i = 0; i < body.size();) {
        const char c = body[i];
        check(static_cast<unsigned char>(c) >= 0x20, "a raw control character in JSON", body);
        check(c != '"', "an unescaped quote in JSON", body);
        if (c != '\\') {
            text.push_back(c);
            ++i;
            continue;
        }
        check(i + 1 < body.size(), "a JSON literal ending in a backslash", body);
        const char* const shortForms = "\"\\/bfnrt";
        const char* const meanings = "\"\\/\b\f\n\r\t";
        const char* found = std::strchr(shortForms, body[i + 1]);
        if (body[i + 1] != '\0' && found != nullptr) {
            text.push_back(meanings[found - shortForms]);
            i += 2;
            continue;
        }
        check(body[i + 1] == 'u', "an undefined escape in JSON", body);
        long unit = hex4(body, i + 2);
        check(unit >= 0, "a \\u escape without four hex digits", body);
        i += 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const long low = i + 1 < body.size() && body[i] == '\\' && body[i + 1] == 'u'
                                 ? hex4(body, i + 2)
                                 : -1;
            check(low >= 0xDC00 && low <= 0xDFFF, "a lone high surrogate in JSON", body);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 6;
        }
        check(unit < 0xDC00 || unit > 0xDFFF, "a lone low surrogate in JSON", body);
        appendUtf8(&text, unit);
    }
    return text;
}

// Text bound for a program that takes its input from strangers: `out` never more than
// `factor` bytes for each byte of `in`, plus a little.
void checkBounded(std::string_view in, std::string_view out, size_t factor, const char* what) {
    check(out.size() <= factor * in.size() + 16, what, out);
}

// The UTF-8 and the JSON literal of one text, through the converter.
void convert(wqhost::TextConverter* converter, std::string_view text) {
    std::string utf8;
    converter->toUtf8(text, &utf8);
    check(isValidUtf8(utf8), "conversion gave invalid UTF-8", utf8);
    checkBounded(text, utf8, 4, "conversion grew the text too much");
    std::string json;
    wqhost::appendJsonString(&json, utf8);
    checkBounded(utf8, json, 6, "a JSON literal grew the text too much");
    check(decodeJsonString(json) == utf8, "a JSON literal that does not give the text back", json);
}

struct Entity {
    std::string kind;
    std::vector<std::string> texts;
    bool operator==(const Entity& other) const {
        return kind == other.kind && texts == other.texts;
    }
};

// Every entity a reader hands out, checked for what each one must be.
std::vector<Entity> readAll(wqhost::TextEntityReader reader, size_t inputBytes) {
    std::vector<Entity> entities;
    wqhost::HostEntity entity;
    size_t textBytes = 0;
    while (reader.next(&entity)) {
        check(entity.kind != nullptr, "an entity without a kind");
        entities.push_back(Entity{entity.kind, entity.texts});
        for (const std::string& text : entity.texts) textBytes += text.size();
    }
    check(entity.kind == nullptr && entity.texts.empty(), "the end leaves an entity behind");
    check(!reader.next(&entity), "an entity after the end");
    // Plain text may write a character as an escape of seven bytes for two of the input
    // (\~ gives \U+00A0), and the reader keeps nothing but the entities' texts.
    check(textBytes <= 4 * inputBytes + 16, "the entities hold more text than they can");
    return entities;
}

// Each entity a reader of the plug-in's kinds yields, as where it is and what names it.
std::vector<std::string> places(wqhost::TextEntityReader reader) {
    std::vector<std::string> out;
    wqhost::HostEntity entity;
    while (reader.next(&entity)) {
        const wqhost::EntityPlace& p = entity.place;
        out.push_back(std::to_string(p.offset) + entity.kind + p.layer.bytes + "|" +
                      p.handle.bytes + "|" + p.block.bytes + "|" + p.tag.bytes + "|" +
                      p.insertHandle.bytes + std::to_string(p.textGroups) +
                      std::to_string(p.valueGroup) + (p.hasPosition ? "@" : ""));
    }
    return out;
}

// A reader over `bytes` that asks for at most `chunk` bytes at a time and, when `failAt`
// is not past the end, fails once it has handed over that many bytes.
wqhost::TextEntityReader::ReadFunction pieceReader(std::string_view bytes, size_t chunk,
                                                  size_t failAt) {
    return wqhost::TextEntityReader::ReadFunction(
        [bytes, chunk, failAt, offset = size_t{0}](char* buffer, size_t size) mutable {
            if (offset >= failAt && failAt < bytes.size()) return int64_t{-1};
            size_t take = std::min(std::min(size, chunk), bytes.size() - offset);
            if (failAt < bytes.size()) take = std::min(take, failAt - offset);
            std::memcpy(buffer, bytes.data() + offset, take);
            offset += take;
            return static_cast<int64_t>(take);
        });
}

// The plug-in, loaded once for every input.
const wqhost::PluginLibrary& plugin() {
    static const wqhost::PluginLibrary* loaded = [] {
        auto* library = new wqhost::PluginLibrary;
        std::string error;
        if (!library->load(WQ_PLUGIN_PATH, &error)) fail("the plug-in does not load", error);
        return library;
    }();
    return *loaded;
}

// A whole document through the document API: entities in order, texts in UTF-8 and within
// bounds (the plug-in's may come twice where BLOCKS runs on into ENTITIES), and an end.
void readDocument(std::string_view document, const char* codePage, bool strict) {
    wqhost::ReadOptions options;
    options.encoding = codePage;
    options.strict = strict;
    wqhost::Document read =
        wqhost::Document::fromBytes(plugin(), "input", std::string(document), options);
    wqhost::TextEntity entity;
    int64_t entities = 0;
    size_t textBytes = 0;
    while (read.next(&entity)) {
        check(entity.ordinal == ++entities, "entities out of order");
        check(entity.kind != nullptr, "an entity of no kind");
        for (const std::string& text : entity.texts) {
            check(isValidUtf8(text), "a document text that is not UTF-8", text);
            textBytes += text.size();
        }
        for (const auto* name : {&entity.layer, &entity.handle, &entity.block, &entity.tag}) {
            check(!*name || (isValidUtf8(**name) && (*name)->size() <= 3 * 2048 + 16),
                  "a name that is not short UTF-8", name->value_or(""));
        }
        if (entity.position) {
            for (double coordinate : *entity.position) {
                check(std::isfinite(coordinate), "a coordinate that is no number");
            }
        }
    }
    read.metadata().forEach([](const char*, const std::string& value) {
        check(isValidUtf8(value), "metadata that is not UTF-8", value);
    });
    check(entities == read.entities(), "entities miscounted");
    check(textBytes <= 24 * document.size() + 64, "a document gave more text than it holds");
    check(read.status() != wqhost::DocumentStatus::Reading, "a document read to no end");
}

void runInput(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes || size > (1u << 20)) return;
    const std::string_view document(reinterpret_cast<const char*>(data) + kHeaderBytes,
                                    size - kHeaderBytes);
    const char* codePage = kCodePages[data[0] % kCodePageCount];
    const size_t chunk = size_t{data[1]} + 1;
    const size_t failAt = data[2] == 0 ? document.size() : document.size() * data[2] / 256;

    // The header names a code page that the converter takes; a scan of a prefix (as a caller
    // that reads only the first bytes makes) is as safe.
    const wqhost::DrawingEncoding found = wqhost::scanHeader(document.data(), document.size());
    check(!found.codePage.empty(), "no code page chosen");
    check(!found.fromHeader || found.codePage == "UTF-8" ||
              found.codePage == wqhost::iconvNameForCodePage(found.dwgCodePage),
          "a code page the header does not name", found.codePage);
    wqhost::TextConverter fromHeader;
    std::string error;
    check(fromHeader.open(found.codePage, &error), "the header's code page cannot be opened",
          error);
    wqhost::scanHeader(document.data(), failAt);

    wqhost::TextConverter converter;
    check(converter.open(codePage, &error), "a listed code page cannot be opened", error);

    // Read whole or in pieces, the same entities; a read that fails ends the document there.
    const std::vector<Entity> whole =
        readAll(wqhost::TextEntityReader::overBytes(document), document.size());
    check(readAll(wqhost::TextEntityReader(pieceReader(document, chunk, document.size())), document.size()) == whole,
          "reads of another size give other entities");
    // The plug-in's kinds, placed: the same places whatever the size of the reads.
    wqhost::TextEntityReader::Options placing;
    placing.yield = wqhost::TextEntityReader::Yield::PluginKinds;
    check(places(wqhost::TextEntityReader(pieceReader(document, chunk, document.size()), placing)) ==
              places(wqhost::TextEntityReader(pieceReader(document, 4096, document.size()), placing)),
          "reads of another size place entities elsewhere");
    if (failAt < document.size()) {
        check(readAll(wqhost::TextEntityReader(pieceReader(document, chunk, failAt)), document.size()) ==
                  readAll(wqhost::TextEntityReader::overBytes(document.substr(0, failAt)),
                          failAt),
              "a failed read is not the end of the document");
    }
    for (const Entity& entity : whole) {
        for (const std::string& text : entity.texts) {
            convert(&converter, text);
            convert(&fromHeader, text);
        }
    }

    // The whole input as one value: made plain, decoded, converted, quoted.
    const std::string plain = wqhost::plainMtext(document);
    checkBounded(document, plain, 4, "plain MTEXT grew the text too much");
    convert(&converter, plain);
    std::string decoded;
    wqhost::appendMultibyteDecoded(document, &decoded);
    checkBounded(document, decoded, 1, "decoded escapes grew the text");
    convert(&converter, document);

    // Any bytes as a JSON literal: valid, and standing for the bytes made valid UTF-8,
    // which a second repair leaves as they are.
    std::string repaired;
    wqhost::appendValidUtf8(&repaired, document);
    check(isValidUtf8(repaired), "repaired UTF-8 is not valid", repaired);
    checkBounded(document, repaired, 3, "repair grew the text too much");
    std::string again;
    wqhost::appendValidUtf8(&again, repaired);
    check(again == repaired, "a second repair changed valid UTF-8", repaired);
    std::string json;
    wqhost::appendJsonString(&json, document);
    check(decodeJsonString(json) == repaired, "a JSON literal of raw bytes lost them", json);

    readDocument(document, data[0] & 0x80 ? "auto" : codePage, data[0] & 0x40);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runInput(data, size);
    return 0;
}
