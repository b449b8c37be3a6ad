/* The DXF vocabulary every module shares: the section names, the entity names of the
 * dispatcher, and the 257 group codes with their value types. The tables are constant
 * and internal to the library (not exported from the shared object). */
#ifndef DXF_VOCABULARY_H
#define DXF_VOCABULARY_H

#include "WqExport.h"

WQ_EXTERN_C_BEGIN

/* Section indexes: a section's index in dxfSectionNames, and its phase number. */
enum DxfSectionIndex {
    /* "SECTION", which opens a section; no phase. */
    SectionSection = 0,
    /* "ENDSEC", which closes one; no phase. */
    SectionEndsec = 1,
    /* HEADER, the first phase: its framing is checked. */
    SectionHeader = 2,
    /* CLASSES: its framing is checked. */
    SectionClasses = 3,
    /* TABLES: its framing is checked. */
    SectionTables = 4,
    /* BLOCKS: walked entity by entity. */
    SectionBlocks = 5,
    /* ENTITIES: walked entity by entity. */
    SectionEntities = 6,
    /* OBJECTS: not read. */
    SectionObjects = 7,
    /* "EOF", the last phase: it queues the end-of-document record. */
    SectionEof = 8,
    /* The number of names, and the phase after the last. */
    SectionCount = 9
};

/* Entity indexes that have handlers of their own; every other listed name is skipped. */
enum DxfEntityIndex {
    /* ATTDEF, handled as TEXT. */
    EntityAttdef = 5,
    /* ATTRIB, handled as TEXT. */
    EntityAttrib = 6,
    /* BLOCK, handled as TEXT. */
    EntityBlock = 7,
    /* TEXT, whose code "1" and "2" values become text records. */
    EntityText = 31,
    /* The number of names in dxfEntityNames. */
    EntityNameCount = 38
};

/* Value types of group codes; no code has type 5. */
typedef enum GroupValueType {
    /* The negative codes -5 to -1. */
    ValueSpecial = 0,
    /* A text value. */
    ValueString = 1,
    /* A real number. */
    ValueReal = 2,
    /* A 16-bit integer. */
    ValueInt16 = 3,
    /* A 32-bit integer. */
    ValueInt32 = 4,
    /* An 8-bit integer. */
    ValueInt8 = 6,
    /* A real number of extended data, codes 1010 to 1042. */
    ValueXdataReal = 7
} GroupValueType;

/* Indexes of the codes the reader looks for. */
enum DxfGroupIndex {
    /* Code "0": starts an entity, a section frame or a section end. */
    GroupCode0 = 5,
    /* Code "1": a value that becomes a text record. */
    GroupCode1 = 6,
    /* Code "2": a value (a name) that becomes a text record too. */
    GroupCode2 = 7,
    /* Code "9": names a header variable. */
    GroupCode9 = 14,
    /* The number of codes in groupCodeTable. */
    GroupCodeCount = 257
};

/* Bucket counts of the three name tables. */
enum { SectionBuckets = 11, EntityBuckets = 53, GroupBuckets = 269 };

extern const char* const dxfSectionNames[SectionCount];
extern const char* const dxfEntityNames[EntityNameCount];
/* The 257 code texts in index order, then an empty text that ends the table. */
extern const char* const groupCodeTable[GroupCodeCount + 1];
/* The value type of each entry of groupCodeTable; the last is 0. */
extern const int32_t groupTypeTable[GroupCodeCount + 1];

WQ_EXTERN_C_END

#endif
