// Escape decoder: copies a text value unchanged, or, when it holds "\M+" escapes, cuts it
// at every "\M+" and turns each piece into one two-byte character, high byte first.
#include "MtextConv.h"

#include <cstring>

#include "Collaborators.hpp"
#include "Pool.hpp"

namespace {

constexpr char kEscape[] = "\\M+";
constexpr int32_t kEscapeLength = 3;

struct DecoderContext {
    int32_t ownsStrings;
    DxfStrEtc* strings;
    int32_t ownsStorage;
    DxfPublicStorage* storage;
    int32_t pieceCount;            // pieces of the last text that was cut
    char* pieces[MtextMaxPieces];  // starts of those pieces, inside that text
};

DecoderContext* contextOf(MtextConv* self) { return static_cast<DecoderContext*>(self->context); }

// Ends the text after its first MtextMaxPieces pieces, so that cutting it can never write
// past the piece array; the pieces after them are dropped. Only the stretches that end at
// an escape and are not empty count, as in the cut itself: when the stretch that ends at
// an escape is the last one with room, its escape is overwritten by the text's end, which
// makes that stretch the final piece.
void keepFirstPieces(DxfStrEtc* strings, char* text) {
    int32_t stretches = 0;
    char* place = text;
    for (;;) {
        const int32_t found = strings->searchString(strings, place, kEscape);
        if (found < 0) return;
        if (found > 0 && ++stretches == MtextMaxPieces) {
            place[found] = '\0';
            return;
        }
        place += found + kEscapeLength;
    }
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t hexValue(char c) {
    if (c <= '9') return static_cast<uint32_t>(c - '0');
    if (c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
    return static_cast<uint32_t>(c - 'a' + 10);
}

// Reads a hexadecimal number from `text` the way "%x" of the formatted input does: white
// space skipped, an optional sign, an optional 0x or 0X, then hexadecimal digits up to the
// first other character. True and the number when a number was read; false when there is
// none (which "%x" reports as no conversion). Written out rather than calling sscanf so
// that a number too long for an int wraps around instead of being undefined: its low 16
// bits, the only ones used, are those of the digits as written.
bool readHex(const char* text, uint32_t* number) {
    const char* c = text;
    while (*c == ' ' || (*c >= '\t' && *c <= '\r')) ++c;
    const bool negative = *c == '-';
    if (*c == '-' || *c == '+') ++c;
    bool haveDigit = false;
    if (c[0] == '0' && (c[1] == 'x' || c[1] == 'X')) {
        // The 0 of the prefix is a digit of its own: "0x" with nothing after it reads as 0.
        haveDigit = true;
        c += 2;
    }
    uint32_t value = 0;
    for (; isHexDigit(*c); ++c) {
        value = (value << 4) | hexValue(*c);
        haveDigit = true;
    }
    if (!haveDigit) return false;
    *number = negative ? 0u - value : value;
    return true;
}

int32_t convertText(MtextConv* self, char* out, int32_t* outLength, char* text,
                    int32_t textLength) {
    DecoderContext* ctx = contextOf(self);
    DxfStrEtc* strings = ctx->strings;
    if (strings->searchString(strings, text, kEscape) < 0) {
        const int32_t length = textLength > 0 ? textLength : 0;
        std::memcpy(out, text, static_cast<size_t>(length));
        out[length] = '\0';
        *outLength = length;
        return 0;
    }

    keepFirstPieces(strings, text);
    strings->splitString(strings, text, kEscape, &ctx->pieceCount, ctx->pieces);
    int32_t count = 0;
    for (int32_t i = 0; i < ctx->pieceCount; ++i) {
        const char* piece = ctx->pieces[i];
        // The first character of a piece is the code page digit and is not looked at; an
        // empty piece is tested first so that it is not read beyond its terminator.
        uint32_t number = 0;
        if (piece[0] == '\0' || !readHex(piece + 1, &number)) continue;
        out[count++] = static_cast<char>((number >> 8) & 0xFFu);
        out[count++] = static_cast<char>(number & 0xFFu);
    }
    out[count] = '\0';
    *outLength = count;
    return 1;
}

// Releases what exists of a decoder, in the destructor's order: handle, context, then the
// string utilities and storage it made.
MtextConv* destroy(const wq::Collaborators& made, DecoderContext* ctx, MtextConv* self) {
    wq::freeOne(made.storage, self);
    wq::freeOne(made.storage, ctx);
    wq::deleteOwned(made);
    return nullptr;
}

}  // namespace

MtextConv* newMtextConv(HostServices* services, DxfPublicStorage* storage, DxfStrEtc* strings) {
    if (services == nullptr) return nullptr;
    wq::Collaborators made = {0, storage, 0, strings, 0, nullptr, 0, nullptr};
    if (!wq::ensureStorage(&made, services)) return nullptr;
    DecoderContext* ctx = wq::allocOne<DecoderContext>(made.storage);
    MtextConv* self = ctx != nullptr && wq::ensureStrings(&made, services)
                          ? wq::allocOne<MtextConv>(made.storage)
                          : nullptr;
    if (self == nullptr) return destroy(made, ctx, nullptr);
    ctx->ownsStrings = made.ownsStrings;
    ctx->strings = made.strings;
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    self->context = ctx;
    self->convertText = convertText;
    return self;
}

void deleteMtextConv(MtextConv* decoder) {
    if (decoder == nullptr || decoder->context == nullptr) return;
    const DecoderContext* ctx = contextOf(decoder);
    wq::Collaborators made = {};
    made.ownsStrings = ctx->ownsStrings;
    made.strings = ctx->strings;
    made.ownsStorage = ctx->ownsStorage;
    made.storage = ctx->storage;
    destroy(made, contextOf(decoder), decoder);
}
