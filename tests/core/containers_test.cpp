// The growable array and the flat hash map: growth keeps the contents, failures of the
// allocator leave them unchanged and are reported, removal keeps what it should.
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "core/orvane_array.h"
#include "core/orvane_flat_map.h"
#include "orvane/core.h"

namespace {

using orvane::Array;
using orvane::FlatMap;

// Refuses every allocation while installed.
class FailingAllocator {
public:
    FailingAllocator() {
        OrvaneGetAllocator(&allocate_, &deallocate_);
        OrvaneSetAllocator(&Refuse, deallocate_);
    }
    ~FailingAllocator() { OrvaneSetAllocator(allocate_, deallocate_); }

private:
    static void* Refuse(const char*, orvane_int32, orvane_uint32, orvane_int32) { return nullptr; }
    orvane_allocate_callback allocate_;
    orvane_deallocate_callback deallocate_;
};

TEST(Array, GrowsKeepingItsContentsAndHonoursAlignment) {
    Array<uint32_t> a(__FILE__, __LINE__, 64);
    for (uint32_t i = 0; i < 10000; ++i)
        ASSERT_TRUE(a.Push(i * 3));
    ASSERT_EQ(a.Size(), 10000u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a.Data()) % 64, 0u);
    for (uint32_t i = 0; i < 10000; ++i)
        ASSERT_EQ(a[i], i * 3);
    const uint32_t more[3] = {7, 8, 9};
    ASSERT_TRUE(a.Append(more, 3));
    EXPECT_EQ(a.Back(), 9u);
    uint32_t last = 0;
    ASSERT_TRUE(a.Pop(&last));
    EXPECT_EQ(last, 9u);
    EXPECT_EQ(a.Size(), 10002u);
    ASSERT_TRUE(a.Resize(10010));
    for (size_t i = 10002; i < 10010; ++i)
        EXPECT_EQ(a[i], 0u);
    a.Clear();
    EXPECT_TRUE(a.Empty());
    EXPECT_FALSE(a.Pop(&last));

    Array<uint32_t> moved(std::move(a));
    EXPECT_TRUE(a.Empty());
    EXPECT_GE(moved.Capacity(), 10010u);
}

TEST(Array, AFailedGrowthLeavesTheArrayAsItWas) {
    Array<uint64_t> a;
    for (uint64_t i = 0; i < 4; ++i)
        ASSERT_TRUE(a.Push(i));
    const size_t capacity = a.Capacity();
    while (a.Size() < capacity)
        ASSERT_TRUE(a.Push(a.Size()));
    {
        FailingAllocator refuse;
        EXPECT_FALSE(a.Push(99));
        EXPECT_FALSE(a.Reserve(capacity * 4));
        const uint64_t more[2] = {1, 2};
        EXPECT_FALSE(a.Append(more, 2));
        EXPECT_FALSE(a.Resize(capacity + 1));
    }
    ASSERT_EQ(a.Size(), capacity);
    for (size_t i = 0; i < capacity; ++i)
        EXPECT_EQ(a[i], i);
    EXPECT_TRUE(a.Push(99));  // usable again once memory returns
}

struct PairKey {
    uintptr_t a;
    uintptr_t b;
};

TEST(FlatMap, AgreesWithAReferenceMapUnderInsertionAndRemoval) {
    FlatMap<uintptr_t, uint32_t> map;
    std::unordered_map<uintptr_t, uint32_t> reference;
    std::mt19937 rng(3);
    for (uint32_t i = 0; i < 20000; ++i) {
        const uintptr_t key = (uintptr_t(rng()) << 4) | 8;  // never the free marker 0
        ASSERT_TRUE(map.Set(key, i));
        reference[key] = i;
    }
    EXPECT_EQ(map.Size(), reference.size());
    for (const auto& [key, value] : reference) {
        const uint32_t* found = map.Find(key);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(*found, value);
    }
    EXPECT_EQ(map.Find(uintptr_t(4)), nullptr);
    EXPECT_EQ(map.FindOrInsert(0), nullptr);  // the free marker cannot be stored

    ASSERT_TRUE(map.RemoveIf([](uintptr_t, uint32_t value) { return value % 2 == 0; }));
    size_t kept = 0;
    for (const auto& [key, value] : reference) {
        const uint32_t* found = map.Find(key);
        if (value % 2 == 0) {
            ASSERT_NE(found, nullptr);
            ++kept;
        } else {
            EXPECT_EQ(found, nullptr);
        }
    }
    EXPECT_EQ(map.Size(), kept);
    size_t visited = 0;
    map.ForEach([&](uintptr_t, uint32_t) { ++visited; });
    EXPECT_EQ(visited, kept);
}

TEST(FlatMap, StructKeysAndRefusedGrowth) {
    FlatMap<PairKey, int32_t> map;
    bool added = false;
    int32_t* value = map.FindOrInsert(PairKey{16, 1}, &added);
    ASSERT_NE(value, nullptr);
    EXPECT_TRUE(added);
    *value = 5;
    EXPECT_FALSE(map.InsertNew(PairKey{16, 1}, 6));
    EXPECT_EQ(*map.Find(PairKey{16, 1}), 5);
    EXPECT_EQ(map.Find(PairKey{16, 2}), nullptr);
    // Fill to the growth point, then refuse memory: the insertion fails, nothing is lost.
    uintptr_t next = 32;
    while (map.Size() < 32)
        ASSERT_TRUE(map.Set(PairKey{next++, 0}, 1));
    {
        FailingAllocator refuse;
        bool failed = false;
        EXPECT_FALSE(map.InsertNew(PairKey{next, 0}, 1, &failed));
        EXPECT_TRUE(failed);
        EXPECT_FALSE(map.RemoveIf([](const PairKey&, int32_t) { return true; }));
    }
    EXPECT_EQ(map.Size(), 32u);
    EXPECT_EQ(*map.Find(PairKey{16, 1}), 5);
    EXPECT_TRUE(map.InsertNew(PairKey{next, 0}, 1));
}

}  // namespace
