/* Block storage: the memory pool every object of a document allocates from. Blocks come
 * zero-filled, go back into the pool when freed, and return to the host only when the
 * whole pool is deleted. */
#ifndef DXF_PUBLIC_STORAGE_H
#define DXF_PUBLIC_STORAGE_H

#include "DxfHost.h"

WQ_EXTERN_C_BEGIN

/* Every slot that takes an `address` accepts any address inside a block, free or in use;
 * a block made for 0 bytes in exact mode holds no address and is never found. */
typedef struct DxfPublicStorage DxfPublicStorage;
struct DxfPublicStorage {
    /* The pool's private state. */
    void* context; /* word 0 */
    /* A zero-filled block of at least `size` bytes: the most recently made free block,
     * whatever its size (grown when smaller than `size`), else a new one. Null for a
     * negative `size`, one that rounds to INT32_MAX, or when the host has no memory. */
    void* (*allocBlock)(DxfPublicStorage* self, int32_t size); /* slot 1 */
    /* The start of the block holding `address`, given room for `extra` bytes past the size
     * it was handed out for; it may have moved, keeping its contents (a free block comes
     * back all zero), and its recorded size and the range the other slots find stay as
     * they were. Null, the block unchanged, when no block holds `address`, `extra` < 0,
     * the size would overflow, or the host cannot resize it. */
    void* (*growBlock)(DxfPublicStorage* self, void* address, int32_t extra); /* slot 2 */
    /* Marks the block holding `address` free and zero-fills it; the memory stays in the
     * pool for a later allocBlock. An address in no block is ignored; freeing twice is
     * harmless. */
    void (*freeBlock)(DxfPublicStorage* self, void* address); /* slot 3 */
    /* The start of the block holding `address`, with the address's distance from it in
     * `*offset` (`offset` may be null); null and offset 0 when no block holds it. */
    void* (*blockBase)(DxfPublicStorage* self, int32_t* offset, void* address); /* slot 4 */
    /* The size the block holding `address` was last handed out for, also once it is free;
     * 0 when no block holds it. */
    int32_t (*blockLength)(DxfPublicStorage* self, void* address); /* slot 5 */
    /* `size` bytes straight from the host's rawAlloc, untracked: the pool never finds nor
     * frees them, and they outlive it. Null for a negative `size` or when the host gives
     * none. */
    void* (*hostAlloc)(DxfPublicStorage* self, int32_t size); /* slot 6 */
};
WQ_SLOT(DxfPublicStorage, context, 0);
WQ_SLOT(DxfPublicStorage, allocBlock, 1);
WQ_SLOT(DxfPublicStorage, growBlock, 2);
WQ_SLOT(DxfPublicStorage, freeBlock, 3);
WQ_SLOT(DxfPublicStorage, blockBase, 4);
WQ_SLOT(DxfPublicStorage, blockLength, 5);
WQ_SLOT(DxfPublicStorage, hostAlloc, 6);
WQ_WORDS(DxfPublicStorage, 7);

/* Mode 1 gives every block exactly the size asked for; any other mode rounds sizes below
 * 1024 up to 256, 512, 1024 or 1536 and larger ones to the next multiple of 512. */
enum { StorageExactSizes = 1 };

/* An empty pool on the host's callocMem, reallocMem and freeMem, in `mode`. Null when
 * `services` is null or the host has no memory (nothing is kept). */
WQ_API DxfPublicStorage* newDxfPublicStorage(HostServices* services, int32_t mode);
/* Gives every block, in use or free, back to the host, then the pool itself; memory from
 * hostAlloc stays with the host. Null is accepted. */
WQ_API void deleteDxfPublicStorage(DxfPublicStorage* storage);

WQ_EXTERN_C_END

#endif
