// String hash for the reader's name tables: the ELF symbol hash, reduced to a bucket.
#include "DxfHash.h"

#include <cstdint>

#include "Collaborators.hpp"
#include "Pool.hpp"

namespace {

struct HashContext {
    int32_t ownsStorage;  // 1 when newDxfHash made the storage
    DxfPublicStorage* storage;
    uint32_t (*hashRoutine)(DxfHash* self, const char* text, uint32_t buckets);
};

HashContext* contextOf(DxfHash* self) { return static_cast<HashContext*>(self->context); }

// Bytes count as 0 to 255 whatever the signedness of char, so texts with high bytes hash
// the same everywhere.
uint32_t elfHash(DxfHash*, const char* text, uint32_t buckets) {
    uint32_t h = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(text); *c != 0; ++c) {
        h = (h << 4) + *c;
        const uint32_t g = h & 0xF0000000u;
        if (g != 0) {
            h ^= g >> 24;
            h ^= g;
        }
    }
    return h % buckets;
}

uint32_t hashString(DxfHash* self, const char* text, uint32_t buckets) {
    return contextOf(self)->hashRoutine(self, text, buckets);
}

}  // namespace

DxfHash* newDxfHash(HostServices* services, DxfPublicStorage* storage) {
    if (services == nullptr) return nullptr;
    wq::Collaborators made = {0, storage, 0, nullptr, 0, nullptr, 0, nullptr};
    if (!wq::ensureStorage(&made, services)) return nullptr;
    HashContext* ctx = wq::allocOne<HashContext>(made.storage);
    DxfHash* self = ctx != nullptr ? wq::allocOne<DxfHash>(made.storage) : nullptr;
    if (self == nullptr) {
        // The hash never frees a block of its own, here as in its destructor: a context left
        // in a shared storage goes with that storage, and an owned storage takes it along.
        wq::deleteOwned(made);
        return nullptr;
    }
    ctx->ownsStorage = made.ownsStorage;
    ctx->storage = made.storage;
    ctx->hashRoutine = elfHash;
    self->context = ctx;
    self->hashString = hashString;
    return self;
}

void deleteDxfHash(DxfHash* hash) {
    if (hash == nullptr || hash->context == nullptr) return;
    HashContext* ctx = contextOf(hash);
    if (ctx->ownsStorage) deleteDxfPublicStorage(ctx->storage);
}
