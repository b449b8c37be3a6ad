/* Group code table: the 257 DXF group codes, looked up by their exact text, with each
 * code's table index and value type. */
#ifndef DXF_GRP_ID_H
#define DXF_GRP_ID_H

#include "DxfPublicStorage.h"

WQ_EXTERN_C_BEGIN

/* What findGroupId tells of a code; all zero when the code is not in the table. */
typedef struct GroupInfo {
    int32_t index;     /* 0 to 256: the code's place in groupCodeTable */
    int32_t valueType; /* a GroupValueType */
    const char* code;  /* the table's own constant text, not the caller's */
} GroupInfo;

typedef struct DxfGrpId DxfGrpId;
struct DxfGrpId {
    /* The table's private state. */
    void* context; /* word 0 */
    /* The function findGroupId below: 1 and a filled `info` for a code of the table, else
     * 0 and an all-zero `info`. */
    int32_t (*findGroupId)(DxfGrpId* self, const char* code, GroupInfo* info); /* slot 1 */
};
WQ_SLOT(DxfGrpId, context, 0);
WQ_SLOT(DxfGrpId, findGroupId, 1);
WQ_WORDS(DxfGrpId, 2);

/* Makes the table and chains all 257 codes into it; with a null `storage` it makes and
 * owns one of its own, and its hash then makes another. Null when `services` is null or
 * memory runs out, having given back what it made (a hash made on a given storage keeps
 * its blocks in use there). */
WQ_API DxfGrpId* newDxfGrpId(HostServices* services, DxfPublicStorage* storage);
/* Returns its code nodes, context and handle to the storage as free blocks (its hash's two
 * blocks stay in use in a given storage) and deletes the storages it or its hash made.
 * Null, and a handle without context, are accepted. */
WQ_API void deleteDxfGrpId(DxfGrpId* groups);
/* Chains all 257 codes into the table's buckets, once more on every call; 1 on success,
 * 0 when a node could not be allocated (the nodes chained so far stay). newDxfGrpId has
 * called it already. */
WQ_API int32_t _mkGroupTbl(DxfGrpId* groups);
/* 1 and a filled `info` when `code` is exactly the text of one of the 257 codes, without
 * blanks, a plus or a leading zero ("01", " 1" and "-0" are no codes); 0 and an all-zero
 * `info` otherwise, and for a null `groups`, `code` or `info`. The answer comes from a
 * fixed index, not from the chains. */
WQ_API int32_t findGroupId(DxfGrpId* groups, const char* code, GroupInfo* info);

WQ_EXTERN_C_END

#endif
