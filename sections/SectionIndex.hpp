// The section index's private state, shared by the index builder and the phase handlers:
// where each section lies, the section-name table, and the walkers of BLOCKS and ENTITIES.
#ifndef WQ_SECTION_INDEX_HPP
#define WQ_SECTION_INDEX_HPP

#include <cstdint>

#include "DxfEntities.h"
#include "DxfHash.h"
#include "DxfVocabulary.h"
#include "GetDxfData.h"

namespace wq {

// Body of one section as byte offsets: [start, end). -1 marks a section that was not
// found (start) or whose closing "0"/"ENDSEC" was not found (end).
struct SectionSpan {
    int32_t start;
    int32_t end;
};

// One entry of the section-name table: a chain per bucket, newest first.
struct SectionNameNode {
    SectionNameNode* next;
    int32_t bucket;
    int32_t index;
    const char* name;  // the vocabulary's own string, never copied
};

struct SectionIndexContext {
    DxfSource* source;
    int32_t ownsLines;  // 1 when the index made the line stream (and so closes the document)
    DxfFileStrmIo* lines;
    int32_t ownsStrings;  // 1 when the index made the string utilities
    DxfStrEtc* strings;
    int32_t ownsStorage;  // 1 when the index made its storage
    DxfPublicStorage* storage;
    DxfHash* hash;
    SectionNameNode* nameBuckets[SectionBuckets];
    char line[DxfLineBytes];  // every scan of the index reads into this one buffer
    SectionSpan sections[SectionCount];
    int32_t (*buildSectionIndex)(GetDxfData* self);
    int32_t (*scanNextSection)(GetDxfData* self, int32_t* index);
    void (*findSectionEnds)(GetDxfData* self);
    int32_t (*findSectionEnd)(GetDxfData* self, int32_t index);
    int32_t (*buildSectionNames)(GetDxfData* self);
    int32_t (*lookupSection)(GetDxfData* self, const char* name, int32_t* index);
    DxfEntities* entities;  // walker of ENTITIES while that phase runs
    DxfEntities* blocks;    // walker of BLOCKS while that phase runs
};

inline SectionIndexContext* sectionIndexOf(GetDxfData* self) {
    return static_cast<SectionIndexContext*>(self->context);
}

// Phase handlers, one per section from HEADER to EOF; each answers PhaseError,
// PhaseFinished or PhaseGoOn.
int32_t doHeader(GetDxfData* self);
int32_t doClasses(GetDxfData* self);
int32_t doTables(GetDxfData* self);
int32_t doBlocks(GetDxfData* self);
int32_t doEntities(GetDxfData* self);
int32_t doObjects(GetDxfData* self);
int32_t doEnd(GetDxfData* self);

}  // namespace wq

#endif
