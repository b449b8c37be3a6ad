/* Block storage: the memory pool every object of a document allocates from. Blocks come
 * zero-filled, go back into the pool when freed, and return to the host only when the
 * whole pool is deleted. */
#ifndef DXF_PUBLIC_STORAGE_H
#define DXF_PUBLIC_STORAGE_H

#include "DxfHost.h"

WQ_EXTERN_C_BEGIN

typedef struct DxfPublicStorage DxfPublicStorage;
struct DxfPublicStorage {
    void* context;                                                              /* word 0 */
    void* (*allocBlock)(DxfPublicStorage* self, int32_t size);                  /* slot 1 */
    void* (*growBlock)(DxfPublicStorage* self, void* address, int32_t extra);   /* slot 2 */
    void (*freeBlock)(DxfPublicStorage* self, void* address);                   /* slot 3 */
    void* (*blockBase)(DxfPublicStorage* self, int32_t* offset, void* address); /* slot 4 */
    int32_t (*blockLength)(DxfPublicStorage* self, void* address);              /* slot 5 */
    void* (*hostAlloc)(DxfPublicStorage* self, int32_t size);                   /* slot 6 */
};
WQ_SLOT(DxfPublicStorage, context, 0);
WQ_SLOT(DxfPublicStorage, allocBlock, 1);
WQ_SLOT(DxfPublicStorage, growBlock, 2);
WQ_SLOT(DxfPublicStorage, freeBlock, 3);
WQ_SLOT(DxfPublicStorage, blockBase, 4);
WQ_SLOT(DxfPublicStorage, blockLength, 5);
WQ_SLOT(DxfPublicStorage, hostAlloc, 6);
WQ_WORDS(DxfPublicStorage, 7);

/* Mode 1 gives every block exactly the size asked for; other modes round small sizes up. */
enum { StorageExactSizes = 1 };

WQ_API DxfPublicStorage* newDxfPublicStorage(HostServices* services, int32_t mode);
WQ_API void deleteDxfPublicStorage(DxfPublicStorage* storage);

WQ_EXTERN_C_END

#endif
