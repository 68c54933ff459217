// Allocation, tracking, the allocation check and aggregate allocation.
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

constexpr size_t kHeader = ORVANE_ALLOCATION_HEADER_SIZE;

orvane_allocation_header* HeaderOf(void* p) {
    return reinterpret_cast<orvane_allocation_header*>(static_cast<char*>(p) - kHeader);
}

TEST(DefaultAllocator, AlignsAndRecordsTheRequest) {
    for (uint32_t alignment : {1u, 4u, 16u, 64u, 256u}) {
        void* p = ORVANE_ALLOCATE(alignment, 100);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
        orvane_allocation_header* h = HeaderOf(p);
        EXPECT_EQ(h->Magic, ORVANE_ALLOCATION_MAGIC);
        EXPECT_EQ(h->RequestedSize, 100);
        EXPECT_EQ(h->HeapSize, int32_t(alignment + 100 + kHeader - 1));
        // The caller's address is the first multiple of the alignment at or after heap + header.
        uintptr_t first = reinterpret_cast<uintptr_t>(h->HeapBlock) + kHeader;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p), (first + alignment - 1) / alignment * alignment);
        orvane_allocation_information info;
        OrvaneGetAllocationInformation(h, &info);
        EXPECT_EQ(info.Memory, p);
        EXPECT_EQ(info.RequestedSize, 100);
        EXPECT_EQ(info.ActualSize, int32_t(100 + kHeader));
        EXPECT_STREQ(info.SourceFile, "memory_test.cpp");
        ORVANE_DEALLOCATE(p);
    }
}

TEST(DefaultAllocator, ZeroAlignmentIsOneAndZeroSizeIsTracked) {
    void* p = ORVANE_ALLOCATE(0, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(OrvaneAllocationsBegin(), HeaderOf(p));
    ORVANE_DEALLOCATE(p);
}

TEST(DefaultAllocator, WalkVisitsNewestFirst) {
    orvane_allocation_header* before = OrvaneAllocationsBegin();
    void* a = ORVANE_ALLOCATE(4, 8);
    void* b = ORVANE_ALLOCATE(4, 8);
    orvane_allocation_header* h = OrvaneAllocationsBegin();
    EXPECT_EQ(h, HeaderOf(b));
    h = OrvaneNextAllocation(h);
    EXPECT_EQ(h, HeaderOf(a));
    EXPECT_EQ(OrvaneNextAllocation(h), before);
    ORVANE_DEALLOCATE(a);
    ORVANE_DEALLOCATE(b);
    EXPECT_EQ(OrvaneAllocationsBegin(), before);
}

TEST(DefaultAllocator, ForeignAndDoubleFreesAreReportedNotReleased) {
    LogCapture log;
    ORVANE_DEALLOCATE(nullptr);
    EXPECT_TRUE(log.messages().empty());

    alignas(16) char fake[256] = {};
    ORVANE_DEALLOCATE(fake + kHeader);
    ASSERT_EQ(log.errors(), 1u);
    EXPECT_TRUE(log.Contains("which was not allocated by this allocator."));
    EXPECT_EQ(log.messages()[0].origin, OrvaneMemoryOrigin);

    // A block freed twice while its header is still readable: keep it mapped by freeing
    // through a copy of its header.
    void* p = ORVANE_ALLOCATE(16, 32);
    alignas(16) char copy[kHeader + 32];
    ORVANE_DEALLOCATE(p);
    std::memset(copy, 0, sizeof copy);
    auto* h = reinterpret_cast<orvane_allocation_header*>(copy);
    h->Magic = ORVANE_ALLOCATION_MAGIC;
    h->RequestedSize = -1;
    ORVANE_DEALLOCATE(copy + kHeader);
    EXPECT_EQ(log.errors(), 2u);
}

TEST(DefaultAllocator, RefusesSizesBeyondTheCallbackRange) {
    LogCapture log;
    EXPECT_EQ(ORVANE_ALLOCATE(4, size_t{1} << 40), nullptr);
    EXPECT_EQ(ORVANE_ALLOCATE_ARRAY(uint64_t, INT64_MAX / 4), nullptr);
    EXPECT_EQ(log.errors(), 2u);
}

TEST(DefaultAllocator, HonoursAlignmentsThatAreNotPowersOfTwo) {
    LogCapture log;
    for (uint32_t alignment : {3u, 12u, 20u, 100u}) {
        void* p = ORVANE_ALLOCATE(alignment, 16);
        ASSERT_NE(p, nullptr) << alignment;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignment, 0u);
        orvane_allocation_header* h = HeaderOf(p);
        // The header before the block keeps its own alignment, and both fit the heap block.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(h) % alignof(orvane_allocation_header), 0u);
        const uintptr_t heap = reinterpret_cast<uintptr_t>(h->HeapBlock);
        EXPECT_GE(reinterpret_cast<uintptr_t>(h), heap);
        EXPECT_LE(reinterpret_cast<uintptr_t>(p) + 16, heap + uintptr_t(h->HeapSize));
        ORVANE_DEALLOCATE(p);
    }
    EXPECT_TRUE(log.messages().empty());
}

TEST(AllocationCheck, PassesWhenNothingIsLeftAndReportsEachLeak) {
    LogCapture log;
    void* marker = OrvaneBeginAllocationCheck();
    EXPECT_EQ(OrvaneCheckedAllocationsEnd(marker), HeaderOf(marker));
    EXPECT_TRUE(OrvaneEndAllocationCheck(marker));
    EXPECT_TRUE(log.messages().empty());

    marker = OrvaneBeginAllocationCheck();
    void* freed = ORVANE_ALLOCATE(4, 10);
    void* leaked = ORVANE_ALLOCATE(4, 20);
    ORVANE_DEALLOCATE(freed);
    EXPECT_FALSE(OrvaneEndAllocationCheck(marker));
    ASSERT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(log.Contains("Unfreed block memory_test.cpp:"));
    EXPECT_TRUE(log.Contains("(20 bytes at 0x"));
    ORVANE_DEALLOCATE(leaked);
}

TEST(AllocationCheck, WithoutAMarkerTheWalkEndsAtTheEnd) {
    // A check that could not begin (no memory for the marker) still gives a walk that ends.
    EXPECT_EQ(OrvaneCheckedAllocationsEnd(nullptr), OrvaneAllocationsEnd());
    EXPECT_FALSE(OrvaneEndAllocationCheck(nullptr));
}

TEST(AllocationCheck, ReportsEveryLeakHoweverMany) {
    LogCapture log;
    void* marker = OrvaneBeginAllocationCheck();
    std::vector<void*> leaked;
    for (int i = 0; i < 100; ++i)
        leaked.push_back(ORVANE_ALLOCATE(4, size_t(i)));
    EXPECT_FALSE(OrvaneEndAllocationCheck(marker));
    // One warning per block, newest first, each naming its size.
    ASSERT_EQ(log.warnings(), 100u);
    for (int i = 0; i < 100; ++i) {
        const std::string& text = log.messages()[size_t(i)].text;
        EXPECT_NE(text.find("Unfreed block memory_test.cpp:"), std::string::npos) << text;
        EXPECT_NE(text.find("(" + std::to_string(99 - i) + " bytes at 0x"), std::string::npos)
            << text;
    }
    for (void* p : leaked)
        ORVANE_DEALLOCATE(p);
}

TEST(AllocatorCallbacks, ReplacedPairReceivesEveryRequest) {
    static int allocations = 0, releases = 0;
    orvane_allocate_callback oldAllocate;
    orvane_deallocate_callback oldDeallocate;
    OrvaneGetAllocator(&oldAllocate, &oldDeallocate);
    static orvane_allocate_callback inner;
    static orvane_deallocate_callback innerFree;
    inner = oldAllocate;
    innerFree = oldDeallocate;
    OrvaneSetAllocator(
        [](const char* f, int32_t l, uint32_t a, int32_t s) {
            ++allocations;
            return inner(f, l, a, s);
        },
        [](const char* f, int32_t l, void* m) {
            ++releases;
            innerFree(f, l, m);
        });
    void* p = ORVANE_ALLOCATE(8, 24);
    OrvaneFreeBuilderResult(p);
    OrvaneSetAllocator(oldAllocate, oldDeallocate);
    EXPECT_EQ(allocations, 1);
    EXPECT_EQ(releases, 1);
}

TEST(AllocatorCallbacks, NullCallbacksInstallTheDefaultPair) {
    orvane_allocate_callback defaultAllocate;
    orvane_deallocate_callback defaultDeallocate;
    OrvaneGetAllocator(&defaultAllocate, &defaultDeallocate);
    OrvaneSetAllocator(nullptr, nullptr);
    orvane_allocate_callback allocate = nullptr;
    orvane_deallocate_callback deallocate = nullptr;
    OrvaneGetAllocator(&allocate, &deallocate);
    EXPECT_EQ(allocate, defaultAllocate);
    EXPECT_EQ(deallocate, defaultDeallocate);
    // Requests go on to the default allocator: a block is taken, tracked and released.
    orvane_allocation_header* before = OrvaneAllocationsBegin();
    void* p = ORVANE_ALLOCATE(8, 24);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(OrvaneAllocationsBegin(), HeaderOf(p));
    ORVANE_DEALLOCATE(p);
    EXPECT_EQ(OrvaneAllocationsBegin(), before);

    // One null callback beside a replaced one: only the null one falls back.
    static int allocations = 0;
    static orvane_allocate_callback inner;
    inner = defaultAllocate;
    OrvaneSetAllocator(
        [](const char* f, int32_t l, uint32_t a, int32_t s) {
            ++allocations;
            return inner(f, l, a, s);
        },
        nullptr);
    p = ORVANE_ALLOCATE(4, 4);
    ORVANE_DEALLOCATE(p);
    OrvaneGetAllocator(nullptr, &deallocate);
    OrvaneSetAllocator(defaultAllocate, defaultDeallocate);
    EXPECT_EQ(allocations, 1);
    EXPECT_EQ(deallocate, defaultDeallocate);
    EXPECT_EQ(OrvaneAllocationsBegin(), before);
}

struct Owner {
    int32_t count;
    int32_t* items;
    char* name;
};

TEST(AggregateAllocation, LaysOutPiecesAndFillsMembers) {
    Owner* owner = nullptr;
    char* tail = nullptr;
    intptr_t ownerOffset = orvane::AggregateAllocate(&owner, 20);
    EXPECT_EQ(ownerOffset, 0);
    EXPECT_EQ(orvane::AggregateAllocateMember(owner, offsetof(Owner, name), 10), 20);
    orvane::SetAggregateAlignment(16);
    EXPECT_EQ(orvane::AggregateAllocateArrayMember(owner, offsetof(Owner, count),
                                                   offsetof(Owner, items), 0, sizeof(int32_t)),
              32);
    orvane::AggregateAllocate(&tail, 3);
    void* block = ORVANE_AGGREGATE_END();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    EXPECT_EQ(owner, block);
    EXPECT_EQ(owner->name, static_cast<char*>(block) + 20);
    EXPECT_EQ(owner->count, 0);  // a piece with count 0 still gets its count and address
    EXPECT_EQ(reinterpret_cast<char*>(owner->items), static_cast<char*>(block) + 32);
    EXPECT_EQ(tail, static_cast<char*>(block) + 32);
    OrvaneFreeBuilderResult(block);
}

TEST(AggregateAllocation, AlignmentsThatAreNotPowersOfTwoAlignTheirPieces) {
    static uint32_t requested = 0;
    static orvane_allocate_callback inner;
    orvane_deallocate_callback deallocate;
    OrvaneGetAllocator(&inner, &deallocate);
    OrvaneSetAllocator(
        [](const char* f, int32_t l, uint32_t a, int32_t s) {
            requested = a;
            return inner(f, l, a, s);
        },
        deallocate);
    char* a = nullptr;
    char* b = nullptr;
    char* c = nullptr;
    orvane::SetAggregateAlignment(16);
    orvane::AggregateAllocate(&a, 4);
    orvane::SetAggregateAlignment(12);
    EXPECT_EQ(orvane::AggregateAllocate(&b, 12), 12);
    orvane::SetAggregateAlignment(10);
    EXPECT_EQ(orvane::AggregateAllocate(&c, 1), 30);
    void* block = ORVANE_AGGREGATE_END();
    OrvaneSetAllocator(inner, deallocate);
    ASSERT_NE(block, nullptr);
    // The block is asked for with an alignment that 16, 12 and 10 all divide, so that each
    // piece, at an offset that is a multiple of its own alignment, is aligned in memory too.
    EXPECT_EQ(requested % 16, 0u) << requested;
    EXPECT_EQ(requested % 12, 0u) << requested;
    EXPECT_EQ(requested % 10, 0u) << requested;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 12, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(c) % 10, 0u);
    OrvaneFreeBuilderResult(block);
}

TEST(AggregateAllocation, SizeAndInPlaceAgree) {
    Owner* owner = nullptr;
    orvane::AggregateAllocate(&owner, sizeof(Owner));
    orvane::AggregateAllocateArrayMember(owner, offsetof(Owner, count), offsetof(Owner, items), 5,
                                         sizeof(int32_t));
    size_t size = ORVANE_AGGREGATE_SIZE();
    EXPECT_EQ(size, sizeof(Owner) + 20);
    alignas(16) char storage[64];
    orvane::AggregateAllocate(&owner, sizeof(Owner));
    orvane::AggregateAllocateArrayMember(owner, offsetof(Owner, count), offsetof(Owner, items), 5,
                                         sizeof(int32_t));
    EXPECT_EQ(ORVANE_AGGREGATE_END_IN_PLACE(storage), storage);
    EXPECT_EQ(owner->count, 5);
    EXPECT_EQ(reinterpret_cast<char*>(owner->items), storage + sizeof(Owner));
}

TEST(AggregateAllocation, GrowsPastSixtyFourPieces) {
    std::vector<char*> pieces(200, nullptr);
    for (auto& p : pieces)
        orvane::AggregateAllocate(&p, 3);
    void* block = ORVANE_AGGREGATE_END();
    ASSERT_NE(block, nullptr);
    for (size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i], static_cast<char*>(block) + 4 * i);
    }
    OrvaneFreeBuilderResult(block);
}

TEST(AggregateAllocation, FailureClearsEveryVariable) {
    LogCapture log;
    char* a = nullptr;
    char* b = nullptr;
    orvane::AggregateAllocate(&a, 16);
    orvane::AggregateAllocate(&b, size_t{3} << 30);
    EXPECT_EQ(ORVANE_AGGREGATE_END(), nullptr);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_GE(log.errors(), 1u);
}

TEST(MemoryUtilities, FillCompareAndReverse) {
    uint32_t words[3];
    orvane::SetUInt32(3, 0xA1B2C3D4u, words);
    EXPECT_EQ(words[2], 0xA1B2C3D4u);
    orvane::Reverse32(11, words);  // two whole words and the rest untouched
    EXPECT_EQ(words[0], 0xD4C3B2A1u);
    EXPECT_EQ(words[1], 0xD4C3B2A1u);
    EXPECT_EQ(words[2], 0xA1B2C3D4u);
    uint16_t halves[3] = {0x0102, 0x0304, 0x0506};
    orvane::Reverse16(6, halves);
    EXPECT_EQ(halves[0], 0x0201);
    EXPECT_EQ(halves[2], 0x0605);
    float reals[2];
    orvane::SetReal32(2, 1.5f, reals);
    EXPECT_EQ(reals[1], 1.5f);
    EXPECT_TRUE(orvane::Compare(4, words, words + 1));
    EXPECT_FALSE(orvane::Compare(4, words, words + 2));
}

TEST(Threads, AllocateFreeAndLogFromSeveralThreadsAtOnce) {
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            std::vector<void*> blocks;
            for (int i = 0; i < 2000; ++i) {
                blocks.push_back(ORVANE_ALLOCATE(16, size_t(i % 97)));
                if (i % 3 == 0) {
                    ORVANE_DEALLOCATE(blocks.back());
                    blocks.pop_back();
                }
                if (i % 100 == 0) {
                    ORVANE_LOG_WARNING(OrvaneApplicationOrigin, "thread %d step %d", t, i);
                    char* piece = nullptr;
                    orvane::AggregateAllocate(&piece, 10);
                    OrvaneFreeBuilderResult(ORVANE_AGGREGATE_END());
                }
            }
            for (void* p : blocks)
                ORVANE_DEALLOCATE(p);
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(log.warnings(), 80u);
}

}  // namespace
