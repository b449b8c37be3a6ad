// String utilities: in-place edits and searches on zero-terminated byte strings held in
// the caller's buffers. Nothing here allocates; the handle and context are the only blocks.
#include "DxfStrEtc.h"

#include <cstring>

#include "Collaborators.hpp"
#include "Pool.hpp"
#include "StrEtcOperations.hpp"

namespace {

struct StrEtcContext {
    HostServices* services;  // kept for the record; no operation reads it
    int32_t ownsStorage;     // 1 when newDxfStrEtc made the storage
    DxfPublicStorage* storage;
    int32_t (*substringIndex)(const char* s, const char* sub);
    int32_t (*charSetIndex)(const char* s, const char* set);
};

StrEtcContext* contextOf(DxfStrEtc* self) { return static_cast<StrEtcContext*>(self->context); }

int32_t lengthOf(const char* s) { return static_cast<int32_t>(std::strlen(s)); }

bool inSet(const char* set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Index of the first occurrence of sub in s, or -1. An empty sub is never found: its first
// byte is the terminator, which no byte of s equals. strncmp stops at s's terminator, so an
// occurrence always lies wholly inside s.
int32_t substringIndex(const char* s, const char* sub) {
    const int32_t n = lengthOf(s);
    if (n == 0) return -1;
    const char first = sub[0];
    const size_t m = std::strlen(sub);
    for (int32_t i = 0; i < n; ++i) {
        if (s[i] == first && std::strncmp(s + i, sub, m) == 0) return i;
    }
    return -1;
}

// Index of the first byte of s that is in set, or -1 (always -1 for an empty set).
int32_t charSetIndex(const char* s, const char* set) {
    const char* hit = std::strpbrk(s, set);
    return hit == nullptr ? -1 : static_cast<int32_t>(hit - s);
}

char* deleteChars(DxfStrEtc*, char* s, const char* set) {
    int32_t n = lengthOf(s);
    for (const char* c = set; *c != '\0'; ++c) {
        int32_t i = 0;
        while (i < n) {
            if (s[i] == *c) {
                // The terminator moves with the rest, and the same place is tested again.
                std::memmove(s + i, s + i + 1, static_cast<size_t>(n - i));
                --n;
            } else {
                ++i;
            }
        }
    }
    return s;
}

char* deleteString(DxfStrEtc* self, char* s, const char* sub) {
    const StrEtcContext* ctx = contextOf(self);
    if (ctx == nullptr) return nullptr;
    const int32_t m = lengthOf(sub);
    int32_t p = ctx->substringIndex(s, sub);
    while (p >= 0) {
        char* at = s + p;
        if (at[m] == '\0') {
            *at = '\0';
            return s;
        }
        std::memmove(at, at + m, std::strlen(at + m) + 1);
        // The next search starts where this occurrence stood, not at the start: an
        // occurrence the join creates that begins before p is left alone.
        const int32_t next = ctx->substringIndex(at, sub);
        if (next < 0) break;
        p += next;
    }
    return s;
}

int32_t findString(DxfStrEtc* self, const char* s, const char* sub) {
    const StrEtcContext* ctx = contextOf(self);
    return ctx == nullptr ? -1 : ctx->substringIndex(s, sub);
}

int32_t findAnyOf(DxfStrEtc* self, const char* s, const char* set) {
    const StrEtcContext* ctx = contextOf(self);
    return ctx == nullptr ? -1 : ctx->charSetIndex(s, set);
}

int32_t searchString(DxfStrEtc* self, const char* s, const char* sub) {
    return contextOf(self)->substringIndex(s, sub);
}

int32_t lastNotOf(DxfStrEtc*, const char* s, const char* set) {
    const int32_t n = lengthOf(s);
    if (n == 0) return -1;
    for (int32_t i = n - 1; i >= 0; --i) {
        if (!inSet(set, s[i])) return i + 1;
    }
    return -1;
}

int32_t firstNotOf(DxfStrEtc*, const char* s, const char* set) {
    const size_t k = std::strspn(s, set);
    return s[k] == '\0' ? -1 : static_cast<int32_t>(k);
}

void trimRight(DxfStrEtc*, char* s) {
    int32_t i = lengthOf(s) - 1;
    if (i < 1) return;
    while (i > 0 && (s[i] == ' ' || s[i] == '\t')) --i;
    s[i + 1] = '\0';
}

int32_t wideLength(DxfStrEtc*, const char* text) {
    if (text == nullptr) return 0;
    int32_t units = 0;
    while (text[2 * units + 1] != '\0') ++units;
    return units;
}

void splitString(DxfStrEtc* self, char* s, const char* delimiter, int32_t* count, char** pieces) {
    const StrEtcContext* ctx = contextOf(self);
    *count = 0;
    const int32_t m = lengthOf(delimiter);
    char* place = s;
    int32_t i = ctx->substringIndex(place, delimiter);
    if (i < 0) return;
    while (i >= 0) {
        if (i > 0) {
            pieces[(*count)++] = place;
            place[i] = '\0';
        }
        place += i + m;
        i = ctx->substringIndex(place, delimiter);
    }
    pieces[(*count)++] = place;
}

// Releases what exists of string utilities: the handle of a failed constructor, then a
// storage they made. A destructor passes no handle: with a given storage the blocks stay in
// use until that storage is deleted.
DxfStrEtc* destroy(const wq::Collaborators& made, DxfStrEtc* unfinished) {
    wq::freeOne(made.storage, unfinished);
    wq::deleteOwned(made);
    return nullptr;
}

}  // namespace

// Nothing is written before the first byte to remove, so a string without one (most lines
// the reader cleans of blanks) is only read, and one with it moves only the bytes after it.
void wq::deleteChar(DxfStrEtc*, char* s, int character) {
    const char c = static_cast<char>(static_cast<unsigned char>(character & 0xFF));
    char* out = s;
    while (*out != '\0' && *out != c) ++out;
    if (*out == '\0') return;  // also for the character 0, which changes nothing
    for (const char* in = out + 1; *in != '\0'; ++in) {
        if (*in != c) *out++ = *in;
    }
    *out = '\0';
}

DxfStrEtc* newDxfStrEtc(HostServices* services, DxfPublicStorage* storage) {
    if (services == nullptr) return nullptr;
    wq::Collaborators made = {0, storage, 0, nullptr, 0, nullptr, 0, nullptr};
    if (!wq::ensureStorage(&made, services)) return nullptr;
    DxfStrEtc* self = wq::allocOne<DxfStrEtc>(made.storage);
    StrEtcContext* ctx = self ? wq::allocOne<StrEtcContext>(made.storage) : nullptr;
    if (ctx == nullptr) return destroy(made, self);
    ctx->services = services;
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    ctx->substringIndex = substringIndex;
    ctx->charSetIndex = charSetIndex;
    self->context = ctx;
    self->deleteChars = deleteChars;
    self->deleteString = deleteString;
    self->findString = findString;
    self->findAnyOf = findAnyOf;
    self->searchString = searchString;
    self->lastNotOf = lastNotOf;
    self->firstNotOf = firstNotOf;
    self->trimRight = trimRight;
    self->wideLength = wideLength;
    self->splitString = splitString;
    self->deleteChar = wq::deleteChar;
    return self;
}

void deleteDxfStrEtc(DxfStrEtc* strings) {
    if (strings == nullptr || strings->context == nullptr) return;
    const StrEtcContext* ctx = contextOf(strings);
    wq::Collaborators made = {};
    made.ownsStorage = ctx->ownsStorage;
    made.storage = ctx->storage;
    destroy(made, nullptr);
}
