// Group pair reader: reads a DXF document one group (code line, value line) at a time,
// cleans the code line of blanks, and can step back by one group or one value line.
#include "ReadDatUtil.h"

#include "Collaborators.hpp"
#include "DxfVocabulary.h"
#include "LinePosition.hpp"
#include "Pool.hpp"

namespace {

constexpr int32_t kLineBytes = DxfLineBytes;

struct ReaderContext {
    DxfSource* source;  // its services and stream serve only to create missing collaborators
    wq::Collaborators collaborators;
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
    DxfGrpId* groups = ctx->collaborators.groups;
    GroupInfo info;
    return groups->findGroupId(groups, ctx->codeBuffer, &info) == 1 && info.index == index;
}

int32_t isCode0(ReadDatUtil* self) { return codeIs(self, GroupCode0); }

int32_t isCode9(ReadDatUtil* self) { return codeIs(self, GroupCode9); }

// Reads one line into `buffer`; its length, or -1 when no line could be read.
int32_t readInto(ReaderContext* ctx, char* buffer) {
    DxfFileStrmIo* lines = ctx->collaborators.lines;
    const int32_t length = lines->readLine(lines, buffer, kLineBytes);
    // The line stream ends every line it delivers inside the buffer, but a failed read may
    // leave whatever the host wrote there; with the last byte cleared, isCode0 and isCode9
    // after a failed readPair still look at a string that ends inside the buffer.
    buffer[kLineBytes - 1] = '\0';
    return length;
}

int32_t readPair(ReadDatUtil* self, GroupPair* pair) {
    ReaderContext* ctx = contextOf(self);
    DxfFileStrmIo* lines = ctx->collaborators.lines;
    const int32_t codeStart = wq::positionOf(lines);
    ctx->codeLineStart = -1;
    ctx->valueLineStart = -1;
    if (readInto(ctx, ctx->codeBuffer) < 0) return 0;
    ctx->codeLineStart = codeStart;
    const int32_t valueStart = wq::positionOf(lines);
    if (readInto(ctx, ctx->valueBuffer) < 0) return 0;
    ctx->valueLineStart = valueStart;
    DxfStrEtc* strings = ctx->collaborators.strings;
    strings->deleteChar(strings, ctx->codeBuffer, ' ');
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
    DxfFileStrmIo* lines = ctx->collaborators.lines;
    return lines->setPosition(lines, offset) != 0 ? 1 : 0;
}

int32_t backToValue(ReadDatUtil* self) {
    ReaderContext* ctx = contextOf(self);
    return stepBack(ctx, &ctx->valueLineStart);
}

int32_t backToPair(ReadDatUtil* self) {
    ReaderContext* ctx = contextOf(self);
    return stepBack(ctx, &ctx->codeLineStart);
}

// Releases what exists of a reader, in the destructor's order: handle, context, then the
// collaborators it made.
ReadDatUtil* destroy(const Collaborators& made, ReaderContext* ctx, ReadDatUtil* self) {
    wq::freeOne(made.storage, self);
    wq::freeOne(made.storage, ctx);
    wq::deleteOwned(made);
    return nullptr;
}

}  // namespace

ReadDatUtil* newReadDatUtil(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                            DxfFileStrmIo* lines, DxfGrpId* groups) {
    HostServices* services = source != nullptr ? source->services : nullptr;
    HostStream* hostStream = source != nullptr ? source->stream : nullptr;
    Collaborators made = {0, storage, 0, strings, 0, groups, 0, lines};
    if (!wq::ensureStorage(&made, services) || !wq::ensureStrings(&made, services) ||
        !wq::ensureLines(&made, services, hostStream, nullptr) ||
        !wq::ensureGroups(&made, services)) {
        return destroy(made, nullptr, nullptr);
    }
    ReaderContext* ctx = wq::allocOne<ReaderContext>(made.storage);
    ReadDatUtil* self = ctx != nullptr ? wq::allocOne<ReadDatUtil>(made.storage) : nullptr;
    if (self == nullptr) return destroy(made, ctx, nullptr);
    ctx->source = source;
    ctx->collaborators = made;
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
    const Collaborators made = ctx->collaborators;  // a copy: freeing the context clears it
    destroy(made, ctx, reader);
}
