// An ordered map from pointers to pointers, used to visit each object of a tree once.
#ifndef ORVANE_POINTER_HASH_H
#define ORVANE_POINTER_HASH_H

#include "core/orvane_private.h"

#include <cstdint>

namespace orvane {

struct PointerHash;

PointerHash* NewPointerHash();
void DeletePointerHash(PointerHash* hash);  // null allowed
// Inserts a new entry; false (with an error) when no entry can be had. A key that is already
// present gets a second entry.
bool AddPointerHashEntry(PointerHash* hash, const void* key, void* value);
// Replaces the value of an existing key, else adds; returns whether the key existed.
bool SetPointerHashEntry(PointerHash* hash, const void* key, void* value);
bool HashedPointerKeyExists(PointerHash* hash, const void* key, void** value);
void* GetHashedPointer(PointerHash* hash, const void* key);
int32_t GetPointerHashCount(const PointerHash* hash);

// Visits entries in key order; stops early when the visitor returns false.
using PointerHashVisitor = bool (*)(const void* key, void* value, void* userData);
void VisitPointerHash(const PointerHash* hash, PointerHashVisitor visitor, void* userData);

}  // namespace orvane

#endif  // ORVANE_POINTER_HASH_H
