// The library's hash map: open addressing with linear probing over one block from the
// library's allocator, kept at most half full, for keys and values of trivially copyable
// types. A key equal to Key{} marks a free slot and cannot be stored (pointer keys: null; the
// callers key by addresses, which are never null). Insertion may allocate and reports failure
// instead of throwing: false or null means the map is unchanged and the allocator has logged
// why. Pointers to values stay valid until the next insertion or removal.
#ifndef ORVANE_FLAT_MAP_H
#define ORVANE_FLAT_MAP_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/orvane_memory.h"

namespace orvane {

// The hash of the usual keys: pointers and integers.
struct FlatMapHash {
    static uint64_t Mix(uint64_t h) {
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return h;
    }
    template <typename K>
    uint64_t operator()(const K& key) const {
        if constexpr (std::is_pointer_v<K>) {
            return Mix(uint64_t(reinterpret_cast<uintptr_t>(key)));
        } else if constexpr (std::is_integral_v<K>) {
            return Mix(uint64_t(key));
        } else {
            // Any other trivially copyable key: its bytes, 8 at a time.
            uint64_t h = 0x9E3779B97F4A7C15ull;
            unsigned char bytes[sizeof(K)];
            std::memcpy(bytes, &key, sizeof(K));
            for (size_t i = 0; i < sizeof(K); i += 8) {
                uint64_t word = 0;
                std::memcpy(&word, bytes + i, sizeof(K) - i < 8 ? sizeof(K) - i : 8);
                h = Mix(h ^ word) * 0xC2B2AE3D27D4EB4Full;
            }
            return h;
        }
    }
};

template <typename Key, typename Value, typename Hash = FlatMapHash>
class FlatMap {
    static_assert(std::is_trivially_copyable_v<Key> && std::is_trivially_copyable_v<Value>,
                  "slots are moved with memcpy");

public:
    struct Slot {
        Key key;
        Value value;
    };

    FlatMap() = default;
    ~FlatMap() { Release(); }
    FlatMap(const FlatMap&) = delete;
    FlatMap& operator=(const FlatMap&) = delete;

    size_t Size() const { return count_; }

    // The value of `key`, or null.
    Value* Find(const Key& key) {
        if (capacity_ == 0 || IsFree(key)) return nullptr;
        for (size_t i = IndexOf(key);; i = (i + 1) & (capacity_ - 1)) {
            Slot& slot = slots_[i];
            if (IsFree(slot.key)) return nullptr;
            if (Equal(slot.key, key)) return &slot.value;
        }
    }
    bool Contains(const Key& key) { return Find(key) != nullptr; }

    // The value of `key`, added as Value{} when missing (*added tells which); null when the map
    // cannot grow or the key is the free marker.
    Value* FindOrInsert(const Key& key, bool* added = nullptr) {
        if (added) *added = false;
        if (IsFree(key)) return nullptr;
        if (Value* found = Find(key)) return found;
        if ((count_ + 1) * 2 > capacity_ && !Rehash(capacity_ ? capacity_ * 2 : 64)) return nullptr;
        Slot* slot = Place(slots_, capacity_, key);
        slot->value = Value{};
        ++count_;
        if (added) *added = true;
        return &slot->value;
    }
    // Sets the value of `key` (added or replaced); false when the map cannot grow.
    bool Set(const Key& key, const Value& value) {
        Value* slot = FindOrInsert(key);
        if (slot == nullptr) return false;
        *slot = value;
        return true;
    }
    // Adds `key` only when it is missing: true when it was added.
    bool InsertNew(const Key& key, const Value& value, bool* failed = nullptr) {
        bool added = false;
        Value* slot = FindOrInsert(key, &added);
        if (failed) *failed = slot == nullptr;
        if (added) *slot = value;
        return added;
    }

    // Removes every entry for which keep(key, value) is false, keeping the capacity.
    template <typename Keep>
    bool RemoveIf(Keep keep) {
        if (capacity_ == 0) return true;
        Slot* slots = NewSlots(capacity_);
        if (slots == nullptr) return false;
        size_t count = 0;
        for (size_t i = 0; i < capacity_; ++i) {
            const Slot& slot = slots_[i];
            if (IsFree(slot.key) || !keep(slot.key, slot.value)) continue;
            *Place(slots, capacity_, slot.key) = slot;
            ++count;
        }
        Deallocate(ORVANE_SOURCE_FILE, __LINE__, slots_);
        slots_ = slots;
        count_ = count;
        return true;
    }

    // Visits every entry (in no particular order).
    template <typename Visit>
    void ForEach(Visit visit) {
        for (size_t i = 0; i < capacity_; ++i)
            if (!IsFree(slots_[i].key)) visit(slots_[i].key, slots_[i].value);
    }

    void Clear() {
        if (slots_ != nullptr) std::memset(static_cast<void*>(slots_), 0, capacity_ * sizeof(Slot));
        count_ = 0;
    }
    void Release() {
        if (slots_ != nullptr) Deallocate(ORVANE_SOURCE_FILE, __LINE__, slots_);
        slots_ = nullptr;
        capacity_ = count_ = 0;
    }

private:
    static bool Equal(const Key& a, const Key& b) { return std::memcmp(&a, &b, sizeof(Key)) == 0; }
    static bool IsFree(const Key& key) {
        const Key free{};
        return Equal(key, free);
    }
    size_t IndexOf(const Key& key) const { return size_t(Hash()(key)) & (capacity_ - 1); }

    static Slot* NewSlots(size_t capacity) {
        if (capacity > SIZE_MAX / sizeof(Slot)) return nullptr;
        auto* slots = static_cast<Slot*>(Allocate(
            ORVANE_SOURCE_FILE, __LINE__, uint32_t(alignof(Slot)), capacity * sizeof(Slot)));
        if (slots != nullptr) std::memset(static_cast<void*>(slots), 0, capacity * sizeof(Slot));
        return slots;
    }
    static Slot* Place(Slot* slots, size_t capacity, const Key& key) {
        size_t i = size_t(Hash()(key)) & (capacity - 1);
        while (!IsFree(slots[i].key))
            i = (i + 1) & (capacity - 1);
        slots[i].key = key;
        return &slots[i];
    }
    bool Rehash(size_t capacity) {
        if (capacity > (SIZE_MAX >> 2)) return false;
        Slot* slots = NewSlots(capacity);
        if (slots == nullptr) return false;
        for (size_t i = 0; i < capacity_; ++i)
            if (!IsFree(slots_[i].key)) *Place(slots, capacity, slots_[i].key) = slots_[i];
        if (slots_ != nullptr) Deallocate(ORVANE_SOURCE_FILE, __LINE__, slots_);
        slots_ = slots;
        capacity_ = capacity;
        return true;
    }

    Slot* slots_ = nullptr;
    size_t capacity_ = 0;  // a power of two, or 0
    size_t count_ = 0;
};

}  // namespace orvane

#endif  // ORVANE_FLAT_MAP_H
