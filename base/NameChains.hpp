// The bucket tables group codes, section names and entity names are looked up in: one chain
// of nodes per bucket of the name hash, each new node at the head of its chain.
#ifndef WQ_NAME_CHAINS_HPP
#define WQ_NAME_CHAINS_HPP

#include <cstddef>
#include <cstdint>

#include "DxfHash.h"
#include "Pool.hpp"

namespace wq {

// A new zero-filled node for `name`, chained at the head of the name's bucket, with its
// `next` and `bucket` filled in; null when the storage has no block for it (the table is
// left as it was). The caller fills in the rest.
template <class Node, size_t Buckets>
Node* chainName(DxfPublicStorage* storage, DxfHash* hash, Node* (&buckets)[Buckets],
                const char* name) {
    const uint32_t bucket = hash->hashString(hash, name, static_cast<uint32_t>(Buckets));
    Node* node = allocOne<Node>(storage);
    if (node == nullptr) return nullptr;
    node->next = buckets[bucket];
    node->bucket = static_cast<int32_t>(bucket);
    buckets[bucket] = node;
    return node;
}

// Gives every node back to the storage, bucket by bucket, each chain from its head, and
// leaves every bucket empty. A freed block is cleared, so each node's successor is read
// before it goes.
template <class Node, size_t Buckets>
void freeChains(DxfPublicStorage* storage, Node* (&buckets)[Buckets]) {
    for (Node*& head : buckets) {
        while (head != nullptr) {
            Node* next = head->next;
            freeOne(storage, head);
            head = next;
        }
    }
}

}  // namespace wq

#endif
