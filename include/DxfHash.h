/* String hash (the ELF symbol hash) that picks buckets for the reader's name tables. */
#ifndef DXF_HASH_H
#define DXF_HASH_H

#include "DxfPublicStorage.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfHash DxfHash;
struct DxfHash {
    void* context;                                                             /* word 0 */
    uint32_t (*hashString)(DxfHash* self, const char* text, uint32_t buckets); /* slot 1 */
};
WQ_SLOT(DxfHash, context, 0);
WQ_SLOT(DxfHash, hashString, 1);
WQ_WORDS(DxfHash, 2);

WQ_API DxfHash* newDxfHash(HostServices* services, DxfPublicStorage* storage);
WQ_API void deleteDxfHash(DxfHash* hash);

WQ_EXTERN_C_END

#endif
