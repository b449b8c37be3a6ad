/* Group code table: the 257 DXF group codes, looked up by their exact text, with each
 * code's table index and value type. */
#ifndef DXF_GRP_ID_H
#define DXF_GRP_ID_H

#include "DxfPublicStorage.h"

WQ_EXTERN_C_BEGIN

typedef struct GroupInfo {
    int32_t index;     /* 0 to 256 */
    int32_t valueType; /* a GroupValueType */
    const char* code;  /* the table's own text */
} GroupInfo;

typedef struct DxfGrpId DxfGrpId;
struct DxfGrpId {
    void* context;                                                             /* word 0 */
    int32_t (*findGroupId)(DxfGrpId* self, const char* code, GroupInfo* info); /* slot 1 */
};
WQ_SLOT(DxfGrpId, context, 0);
WQ_SLOT(DxfGrpId, findGroupId, 1);
WQ_WORDS(DxfGrpId, 2);

WQ_API DxfGrpId* newDxfGrpId(HostServices* services, DxfPublicStorage* storage);
WQ_API void deleteDxfGrpId(DxfGrpId* groups);
/* Inserts all 257 codes; 1 on success, 0 when a node could not be allocated. */
WQ_API int32_t _mkGroupTbl(DxfGrpId* groups);
/* 1 and a filled `info` when `code` is in the table; 0 and an all-zero `info` otherwise. */
WQ_API int32_t findGroupId(DxfGrpId* groups, const char* code, GroupInfo* info);

WQ_EXTERN_C_END

#endif
