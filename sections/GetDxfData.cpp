// Section index: one scan of the whole document for "0"/"SECTION"/"2"/name frames, then
// one scan from each section's start to its closing "0"/"ENDSEC".
#include "GetDxfData.h"

#include <cstring>

#include "Collaborators.hpp"
#include "DxfFileStrmIo.h"
#include "DxfHash.h"
#include "DxfStrEtc.h"
#include "DxfVocabulary.h"
#include "LinePosition.hpp"
#include "Messages.hpp"
#include "MovingReads.hpp"
#include "NameChains.hpp"
#include "Pool.hpp"
#include "SectionIndex.hpp"
#include "StrEtcOperations.hpp"

namespace {

using wq::SectionIndexContext;
using wq::SectionNameNode;

using wq::kIllegalFile;
using wq::kNoMemory;
constexpr int kBlank = ' ';

SectionIndexContext* contextOf(GetDxfData* self) { return wq::sectionIndexOf(self); }

bool equals(const char* line, const char* word) { return std::strcmp(line, word) == 0; }

// Reads the next line into the context's buffer as a terminated string; its length, or
// -1 when the scan must end.
//
// A read that does not move the position (a failed host seek) ends the scan like the end
// of input. The buffer is terminated right after the bytes the line stream gave, whatever
// it left there. A piece that fills all 2048 bytes has no room for a terminator; no frame
// line is that long, so it is taken as an empty line, which matches nothing.
int32_t readScanLine(SectionIndexContext* ctx) {
    DxfFileStrmIo* lines = ctx->lines;
    int32_t length = -1;
    if (!wq::readMoved(lines, [&] {
            return (length = lines->readLine(lines, ctx->line, DxfLineBytes)) >= 0;
        })) {
        return -1;
    }
    if (length >= DxfLineBytes) {
        ctx->line[0] = '\0';
        return 0;
    }
    ctx->line[length] = '\0';
    return length;
}

// True when the line read is the one-byte code once every blank is taken out of it; value
// lines are compared exactly as read. While the string utilities hold their own deleteChar
// the answer comes from reading the line alone: blanks, the code, blanks, and its end.
// Nothing reads the line after this test, so the blanks left in it are never seen; a
// deleteChar put in their place is called as always.
bool isCodeLine(SectionIndexContext* ctx, const char* code) {
    DxfStrEtc* strings = ctx->strings;
    if (strings->deleteChar != wq::deleteChar) {
        strings->deleteChar(strings, ctx->line, kBlank);
        return equals(ctx->line, code);
    }
    const char* c = ctx->line;
    while (*c == kBlank) ++c;
    if (*c++ != code[0]) return false;
    while (*c == kBlank) ++c;
    return *c == '\0';
}

// 1 and the section index when `name` is one of the nine section names, else 0.
int32_t lookupSection(GetDxfData* self, const char* name, int32_t* index) {
    SectionIndexContext* ctx = contextOf(self);
    const uint32_t bucket = ctx->hash->hashString(ctx->hash, name, SectionBuckets);
    for (const SectionNameNode* node = ctx->nameBuckets[bucket]; node != nullptr;
         node = node->next) {
        if (equals(node->name, name)) {
            *index = node->index;
            return 1;
        }
    }
    return 0;
}

// The offset just past the name line of the next section frame, with its index written
// to `index`; -1 at "0"/"EOF" or at the end of input.
int32_t scanNextSection(GetDxfData* self, int32_t* index) {
    enum State { WantCode0, WantSection, WantCode2, WantName };
    SectionIndexContext* ctx = contextOf(self);
    State state = WantCode0;
    // Every line is examined once, in the state it arrives in: a line that breaks a frame
    // sends the scan back to WantCode0 without being looked at again, so "0", "0",
    // "SECTION" is not a frame.
    while (readScanLine(ctx) >= 0) {
        switch (state) {
            case WantCode0:
                state = isCodeLine(ctx, "0") ? WantSection : WantCode0;
                break;
            case WantSection:
                if (equals(ctx->line, "EOF")) return -1;
                state = equals(ctx->line, "SECTION") ? WantCode2 : WantCode0;
                break;
            case WantCode2:
                state = isCodeLine(ctx, "2") ? WantName : WantCode0;
                break;
            case WantName:
                if (ctx->lookupSection(self, ctx->line, index) != 0) {
                    return wq::positionOf(ctx->lines);
                }
                state = WantCode0;
                break;
        }
    }
    return -1;
}

// The offset of the "0" line of the first "0"/"ENDSEC" pair at or after the section's
// start, or -1 when the section is absent, the stream cannot go there, or no pair follows.
int32_t findSectionEnd(GetDxfData* self, int32_t index) {
    SectionIndexContext* ctx = contextOf(self);
    DxfFileStrmIo* lines = ctx->lines;
    const int32_t start = ctx->sections[index].start;
    if (start < 0 || lines->setPosition(lines, start) == 0) return -1;
    bool afterCode0 = false;
    int32_t code0Start = -1;
    while (readScanLine(ctx) >= 0) {
        if (!afterCode0) {
            if (isCodeLine(ctx, "0")) {
                code0Start = lines->lineStart(lines);
                afterCode0 = true;
            }
        } else {
            // Lines are taken one at a time, not as groups: after a value line "0" the
            // closing pair's own "0" line is the one examined here, so that pair is
            // missed and the scan goes on to the next one.
            if (equals(ctx->line, "ENDSEC")) return code0Start;
            afterCode0 = false;
        }
    }
    return -1;
}

// Gives every found section from HEADER to EOF its end; SECTION and ENDSEC keep none.
void findSectionEnds(GetDxfData* self) {
    SectionIndexContext* ctx = contextOf(self);
    for (int32_t index = SectionHeader; index < SectionCount; ++index) {
        if (ctx->sections[index].start >= 0) {
            ctx->sections[index].end = ctx->findSectionEnd(self, index);
        }
    }
}

// 1 when the document holds at least one section (all starts and ends then recorded),
// else 0. A section met twice keeps its later start.
int32_t buildSectionIndex(GetDxfData* self) {
    SectionIndexContext* ctx = contextOf(self);
    int32_t found = 0;
    int32_t index = 0;
    int32_t start = 0;
    while ((start = ctx->scanNextSection(self, &index)) >= 0) {
        ctx->sections[index].start = start;
        ++found;
    }
    if (found == 0) return 0;
    ctx->findSectionEnds(self);
    return 1;
}

// 1 once the nine section names sit in their buckets, 0 when a node cannot be had (the
// nodes made so far stay chained, for the teardown to return).
int32_t buildSectionNames(GetDxfData* self) {
    SectionIndexContext* ctx = contextOf(self);
    for (int32_t index = 0; index < SectionCount; ++index) {
        const char* name = dxfSectionNames[index];
        SectionNameNode* node = wq::chainName(ctx->storage, ctx->hash, ctx->nameBuckets, name);
        if (node == nullptr) return 0;
        node->index = index;
        node->name = name;
    }
    return 1;
}

// Returns what the index owns, as its destructor does after deleting the hash: the name
// nodes, then the line stream, string utilities and storage it made. The context and the
// handle go with the storage; so does the hash of a failed constructor, which on a shared
// storage owns nothing of its own.
GetDxfData* destroy(const wq::Collaborators& made, SectionIndexContext* ctx) {
    if (ctx != nullptr) wq::freeChains(made.storage, ctx->nameBuckets);
    wq::deleteOwned(made);
    return nullptr;
}

// Fills a new context with its collaborators, this module's operations and no sections.
void fill(SectionIndexContext* ctx, DxfSource* source, const wq::Collaborators& made) {
    ctx->source = source;
    ctx->ownsLines = made.ownsLines;
    ctx->lines = made.lines;
    ctx->ownsStrings = made.ownsStrings;
    ctx->strings = made.strings;
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    for (wq::SectionSpan& span : ctx->sections) span = {-1, -1};
    ctx->buildSectionIndex = buildSectionIndex;
    ctx->scanNextSection = scanNextSection;
    ctx->findSectionEnds = findSectionEnds;
    ctx->findSectionEnd = findSectionEnd;
    ctx->buildSectionNames = buildSectionNames;
    ctx->lookupSection = lookupSection;
}

// The collaborators a context records, as the constructor made or took them.
wq::Collaborators collaboratorsOf(const SectionIndexContext* ctx) {
    wq::Collaborators made = {};
    made.ownsStorage = ctx->ownsStorage;
    made.storage = ctx->storage;
    made.ownsStrings = ctx->ownsStrings;
    made.strings = ctx->strings;
    made.ownsLines = ctx->ownsLines;
    made.lines = ctx->lines;
    return made;
}

}  // namespace

GetDxfData* newGetDxfData(DxfSource* source, DxfPublicStorage* storage, DxfStrEtc* strings,
                          DxfFileStrmIo* lines) {
    if (source == nullptr || source->stream == nullptr || source->services == nullptr) {
        return nullptr;
    }
    HostServices* services = source->services;
    wq::Collaborators made = {0, storage, 0, strings, 0, nullptr, 0, lines};
    SectionIndexContext* ctx = nullptr;
    auto fail = [&](const char* message) -> GetDxfData* {
        if (message != nullptr) wq::report(source->stream, message);
        return destroy(made, ctx);
    };
    if (!wq::ensureStorage(&made, services)) return nullptr;
    // Making the line stream opens the document and measures it; an unopenable or empty
    // document fails here like a failed allocation.
    if ((ctx = wq::allocOne<SectionIndexContext>(made.storage)) == nullptr ||
        !wq::ensureStrings(&made, services) ||
        !wq::ensureLines(&made, services, source->stream, made.strings)) {
        return fail(kNoMemory);
    }
    fill(ctx, source, made);
    if ((ctx->hash = newDxfHash(services, made.storage)) == nullptr) return fail(kNoMemory);
    GetDxfData* self = wq::allocOne<GetDxfData>(made.storage);
    if (self == nullptr) return fail(kNoMemory);
    self->context = ctx;
    self->doHeader = wq::doHeader;
    self->doClasses = wq::doClasses;
    self->doTables = wq::doTables;
    self->doBlocks = wq::doBlocks;
    self->doEntities = wq::doEntities;
    self->doObjects = wq::doObjects;
    self->doEnd = wq::doEnd;
    if (ctx->buildSectionNames(self) == 0) return fail(nullptr);
    if (ctx->buildSectionIndex(self) == 0) return fail(kIllegalFile);
    return self;
}

void deleteGetDxfData(GetDxfData* data) {
    if (data == nullptr || data->context == nullptr) return;
    SectionIndexContext* ctx = contextOf(data);
    deleteDxfHash(ctx->hash);
    destroy(collaboratorsOf(ctx), ctx);
}
