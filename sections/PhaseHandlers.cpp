// Phase handlers: one per section from HEADER to EOF, run one after another by the
// delivery loop. BLOCKS and ENTITIES are walked entity by entity; the others only check
// their framing, and EOF queues the end-of-document record.
#include "DxfEntities.h"
#include "DxfVocabulary.h"
#include "GetDxfData.h"
#include "Records.hpp"
#include "SectionIndex.hpp"

namespace {

using wq::SectionIndexContext;
using wq::SectionSpan;

SectionIndexContext* contextOf(GetDxfData* self) { return wq::sectionIndexOf(self); }

// A section that is only checked: absent is fine, present without its closing
// "0"/"ENDSEC" is an error that stays an error on every call.
int32_t checkFraming(GetDxfData* self, int32_t index) {
    const SectionSpan& span = contextOf(self)->sections[index];
    if (span.start == -1) return PhaseFinished;
    return span.end == -1 ? PhaseError : PhaseFinished;
}

// Walks one entity of BLOCKS or ENTITIES per call through `*walker`, which lives across
// calls until its range is done. `unclosed` is the answer for a section without its
// closing pair.
int32_t walkSection(GetDxfData* self, int32_t index, DxfEntities** walker, int32_t unclosed) {
    SectionIndexContext* ctx = contextOf(self);
    const SectionSpan& span = ctx->sections[index];
    if (span.start == -1) return PhaseFinished;
    if (span.end == -1) return unclosed;
    if (*walker == nullptr) {
        *walker = newDxfEntities(ctx->source, ctx->storage, ctx->strings, ctx->lines, nullptr,
                                 span.start, span.end);
        if (*walker == nullptr) return PhaseError;  // the next call tries again
    }
    DxfEntities* entities = *walker;
    const int32_t result = entities->nextEntity(entities, &ctx->source->recordQueue);
    if (result == EntityError) return PhaseError;  // the walker resumes on the next call
    if (result == EntityHandled) return PhaseGoOn;
    deleteDxfEntities(entities);
    *walker = nullptr;
    return PhaseFinished;
}

}  // namespace

namespace wq {

int32_t doHeader(GetDxfData* self) { return checkFraming(self, SectionHeader); }
int32_t doClasses(GetDxfData* self) { return checkFraming(self, SectionClasses); }
int32_t doTables(GetDxfData* self) { return checkFraming(self, SectionTables); }

int32_t doBlocks(GetDxfData* self) {
    return walkSection(self, SectionBlocks, &contextOf(self)->blocks, PhaseError);
}

int32_t doEntities(GetDxfData* self) {
    return walkSection(self, SectionEntities, &contextOf(self)->entities, PhaseFinished);
}

int32_t doObjects(GetDxfData* self) {
    SectionIndexContext* ctx = contextOf(self);
    const SectionSpan& span = ctx->sections[SectionObjects];
    if (span.start == -1 || span.end == -1) return PhaseFinished;
    return ctx->lines->setPosition(ctx->lines, span.start) != 0 ? PhaseFinished : PhaseError;
}

int32_t doEnd(GetDxfData* self) {
    DxfSource* source = contextOf(self)->source;
    // Without its record the phase is not finished: the next call tries again.
    if (wq::makeRecord(source, RecordEndOfDocument) == nullptr) return PhaseError;
    wq::queueLastRecord(source, QueueAppend);
    return PhaseFinished;
}

}  // namespace wq
