/* The DXF vocabulary every module shares: the section names, the entity names of the
 * dispatcher, and the 257 group codes with their value types. The tables are constant
 * and internal to the library (not exported from the shared object). */
#ifndef DXF_VOCABULARY_H
#define DXF_VOCABULARY_H

#include "WqExport.h"

WQ_EXTERN_C_BEGIN

/* Section indexes: a section's index in dxfSectionNames, and its phase number. */
enum DxfSectionIndex {
    SectionSection = 0,
    SectionEndsec = 1,
    SectionHeader = 2,
    SectionClasses = 3,
    SectionTables = 4,
    SectionBlocks = 5,
    SectionEntities = 6,
    SectionObjects = 7,
    SectionEof = 8,
    SectionCount = 9
};

/* Entity indexes that have handlers of their own; every other listed name is skipped. */
enum DxfEntityIndex {
    EntityAttdef = 5,
    EntityAttrib = 6,
    EntityBlock = 7,
    EntityText = 31,
    EntityNameCount = 38
};

/* Value types of group codes; no code has type 5. */
typedef enum GroupValueType {
    ValueSpecial = 0,
    ValueString = 1,
    ValueReal = 2,
    ValueInt16 = 3,
    ValueInt32 = 4,
    ValueInt8 = 6,
    ValueXdataReal = 7
} GroupValueType;

/* Indexes of the codes the reader looks for. */
enum DxfGroupIndex {
    GroupCode0 = 5,
    GroupCode1 = 6,
    GroupCode2 = 7,
    GroupCode9 = 14,
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
