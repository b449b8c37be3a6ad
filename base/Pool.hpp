// Typed helpers over the storage pool: every record a module keeps comes from here.
#ifndef WQ_POOL_HPP
#define WQ_POOL_HPP

#include <cstdint>
#include <type_traits>

#include "DxfPublicStorage.h"

namespace wq {

// A zero-filled block for one T, or null.
template <class T>
T* allocOne(DxfPublicStorage* pool) {
    static_assert(std::is_trivially_copyable<T>::value && std::is_standard_layout<T>::value,
                  "pool blocks hold plain records");
    return static_cast<T*>(pool->allocBlock(pool, static_cast<int32_t>(sizeof(T))));
}

// A zero-filled block for n T's, or null.
template <class T>
T* allocArray(DxfPublicStorage* pool, int32_t n) {
    static_assert(std::is_trivially_copyable<T>::value, "pool blocks hold plain records");
    return static_cast<T*>(pool->allocBlock(pool, static_cast<int32_t>(sizeof(T)) * n));
}

// Returns a block to the pool; null is accepted.
inline void freeOne(DxfPublicStorage* pool, const void* block) {
    if (block != nullptr) pool->freeBlock(pool, const_cast<void*>(block));
}

}  // namespace wq

#endif
