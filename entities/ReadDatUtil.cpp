// Group pair reader: reads a DXF document one group (code line, value line) at a time,
// cleans the code line of blanks, and can step back by one group or one value line.
#include "ReadDatUtil.h"

#include "Collaborators.hpp"
#include "DxfVocabulary.h"
#include "Pool.hpp"

namespace {

constexpr int32_t kLineBytes = DxfLineBytes;

struct ReaderContext {
    DxfSource* source;  // its services and stream serve only to create missing collaborators
    int32_t ownsStorage;
    DxfPublicStorage* storage;
    int32_t ownsGroups;
    DxfGrpId* groups;
    int32_t ownsLines;
    DxfFileStrmIo* lines;
    int32_t ownsStrings;
    DxfStrEtc* strings;
    int32_t codeLineStart;   // -1 when there is nothing to step back to
    int32_t valueLineStart;  // -1 when there is nothing to step back to
    char codeBuffer[kLineBytes];
    char valueBuffer[kLineBytes];
};

using wq::Collaborators;

ReaderContext* contextOf(ReadDatUtil* self) { return static_cast<ReaderContext*>(self->context); }

// 1 when the last group's code is `index` in the group code table, else 0.
int32_t codeIs(ReadDatUtil* self, int32_t index) {
    ReaderContext* ctx = contextOf(self);
    GroupInfo info;
    return ctx->groups->findGroupId(ctx->groups, ctx->codeBuffer, &info) == 1 &&
           info.index == index;
}

// 1 when the last group opens an entity or section (code "0"), else 0.
int32_t isCode0(ReadDatUtil* self) { return codeIs(self, GroupCode0); }

// 1 when the last group names a header variable (code "9"), else 0.
int32_t isCode9(ReadDatUtil* self) { return codeIs(self, GroupCode9); }

// Reads one line into `buffer`; its length, or -1 when no line could be read.
int32_t readInto(ReaderContext* ctx, char* buffer) {
    const int32_t length = ctx->lines->readLine(ctx->lines, buffer, kLineBytes);
    // The line stream ends every line it delivers inside the buffer, but a failed read may
    // leave whatever the host wrote there; with the last byte cleared, isCode0 and isCode9
    // after a failed readPair still look at a string that ends inside the buffer.
    buffer[kLineBytes - 1] = '\0';
    return length;
}

// Reads the next group into the reader's buffers; 1, or 0 when a line cannot be read.
int32_t readPair(ReadDatUtil* self, GroupPair* pair) {
    ReaderContext* ctx = contextOf(self);
    DxfFileStrmIo* lines = ctx->lines;
    const int32_t codeStart = lines->position(lines);
    ctx->codeLineStart = -1;
    ctx->valueLineStart = -1;
    if (readInto(ctx, ctx->codeBuffer) < 0) return 0;
    ctx->codeLineStart = codeStart;
    const int32_t valueStart = lines->position(lines);
    if (readInto(ctx, ctx->valueBuffer) < 0) return 0;
    ctx->valueLineStart = valueStart;
    ctx->strings->deleteChar(ctx->strings, ctx->codeBuffer, ' ');
    pair->code = ctx->codeBuffer;
    pair->value = ctx->valueBuffer;
    return 1;
}

// Moves the stream back to `*start`, once; what setPosition answered, or 0 when the
// offset has been used already.
int32_t stepBack(ReaderContext* ctx, int32_t* start) {
    if (*start < 0) return 0;
    const int32_t offset = *start;
    *start = -1;
    return ctx->lines->setPosition(ctx->lines, offset) != 0 ? 1 : 0;
}

// Makes the next readPair start at the last value line; 1, or 0 when it cannot.
int32_t backToValue(ReadDatUtil* self) {
    ReaderContext* ctx = contextOf(self);
    return stepBack(ctx, &ctx->valueLineStart);
}

// Makes the next readPair deliver the last group again; 1, or 0 when it cannot.
int32_t backToPair(ReadDatUtil* self) {
    ReaderContext* ctx = contextOf(self);
    return stepBack(ctx, &ctx->codeLineStart);
}

}  // namespace

ReadDatUtil* newReadDatUtil(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                            DxfFileStrmIo* lines, DxfGrpId* groups) {
    HostServices* services = source != nullptr ? source->services : nullptr;
    HostStream* hostStream = source != nullptr ? source->stream : nullptr;
    Collaborators made = {0, storage, 0, strings, 0, groups, 0, lines};
    auto fail = [&made]() -> ReadDatUtil* {
        wq::deleteOwned(made);
        return nullptr;
    };

    // Missing collaborators are made in this order; a failure deletes the ones made
    // before it, in the destructor's order.
    if (!wq::ensureStorage(&made, services)) return nullptr;
    if (!wq::ensureStrings(&made, services) || !wq::ensureLines(&made, services, hostStream) ||
        !wq::ensureGroups(&made, services)) {
        return fail();
    }

    ReaderContext* ctx = wq::allocOne<ReaderContext>(made.storage);
    ReadDatUtil* self = ctx != nullptr ? wq::allocOne<ReadDatUtil>(made.storage) : nullptr;
    if (self == nullptr) {
        wq::freeOne(made.storage, ctx);
        return fail();
    }
    ctx->source = source;
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    ctx->ownsGroups = made.ownsGroups;
    ctx->groups = made.groups;
    ctx->ownsLines = made.ownsLines;
    ctx->lines = made.lines;
    ctx->ownsStrings = made.ownsStrings;
    ctx->strings = made.strings;
    // Nothing has been read yet, so there is nothing to step back to.
    ctx->codeLineStart = -1;
    ctx->valueLineStart = -1;
    self->context = ctx;
    self->isCode0 = isCode0;
    self->isCode9 = isCode9;
    self->readPair = readPair;
    self->backToValue = backToValue;
    self->backToPair = backToPair;
    return self;
}

void deleteReadDatUtil(ReadDatUtil* reader) {
    if (reader == nullptr || reader->context == nullptr) return;
    ReaderContext* ctx = contextOf(reader);
    const Collaborators made = {ctx->ownsStorage, ctx->storage, ctx->ownsStrings, ctx->strings,
                                ctx->ownsGroups,  ctx->groups,  ctx->ownsLines,   ctx->lines};
    wq::freeOne(made.storage, reader);
    wq::freeOne(made.storage, ctx);
    wq::deleteOwned(made);
}
