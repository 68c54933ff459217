// The pointer map: an ordered tree keyed by address.
#include "core/orvane_pointer_hash.h"

#include <new>

#include "core/orvane_log.h"
#include "core/orvane_ordered_tree.h"

namespace orvane {
namespace {

struct AddressLess {
    bool operator()(const void* a, const void* b) const {
        return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
    }
};

}  // namespace

struct PointerHash {
    OrderedTree<AddressLess> tree;
};

PointerHash* NewPointerHash() {
    void* memory = ORVANE_ALLOCATE(alignof(PointerHash), sizeof(PointerHash));
    if (memory == nullptr) return nullptr;
    auto* hash = new (memory) PointerHash;
    if (!hash->tree.Reserve()) {
        DeletePointerHash(hash);
        return nullptr;
    }
    return hash;
}

void DeletePointerHash(PointerHash* hash) {
    if (hash == nullptr) return;
    hash->~PointerHash();
    ORVANE_DEALLOCATE(hash);
}

bool AddPointerHashEntry(PointerHash* hash, const void* key, void* value) {
    if (hash->tree.Insert(key, value) == nullptr) {
        ORVANE_LOG_ERROR(OrvanePointerHashOrigin, "Out of space in pointer hash table");
        return false;
    }
    return true;
}

bool SetPointerHashEntry(PointerHash* hash, const void* key, void* value) {
    if (auto* node = hash->tree.Find(key)) {
        node->value = value;
        return true;
    }
    AddPointerHashEntry(hash, key, value);
    return false;
}

bool HashedPointerKeyExists(PointerHash* hash, const void* key, void** value) {
    auto* node = hash->tree.Find(key);
    if (value) *value = node ? node->value : nullptr;
    return node != nullptr;
}

void* GetHashedPointer(PointerHash* hash, const void* key) {
    auto* node = hash->tree.Find(key);
    return node ? node->value : nullptr;
}

int32_t GetPointerHashCount(const PointerHash* hash) {
    return hash->tree.Count();
}

void VisitPointerHash(const PointerHash* hash, PointerHashVisitor visitor, void* userData) {
    hash->tree.Visit([&](const void* key, void* value) { return visitor(key, value, userData); });
}

}  // namespace orvane
