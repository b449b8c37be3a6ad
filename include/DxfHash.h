/* String hash (the ELF symbol hash) that picks buckets for the reader's name tables. */
#ifndef DXF_HASH_H
#define DXF_HASH_H

#include "DxfPublicStorage.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfHash DxfHash;
struct DxfHash {
    /* The hash's private state. */
    void* context; /* word 0 */
    /* The ELF hash of the zero-terminated `text`, its bytes taken as 0 to 255, modulo
     * `buckets` (which must not be 0); the empty text gives 0. */
    uint32_t (*hashString)(DxfHash* self, const char* text, uint32_t buckets); /* slot 1 */
};
WQ_SLOT(DxfHash, context, 0);
WQ_SLOT(DxfHash, hashString, 1);
WQ_WORDS(DxfHash, 2);

/* Makes the hash; with a null `storage` it makes and owns one of its own. Null when
 * `services` is null or memory runs out; a given storage then keeps in use the context
 * block already made. */
WQ_API DxfHash* newDxfHash(HostServices* services, DxfPublicStorage* storage);
/* Deletes a storage the hash made, and the hash with it. With a given storage nothing is
 * freed: its two blocks stay in use until that storage is deleted. Null, and a handle
 * without context, are accepted. */
WQ_API void deleteDxfHash(DxfHash* hash);

WQ_EXTERN_C_END

#endif
