// Arenas, stack allocators and fixed-size allocators.
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/core.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

int LiveBlocks() {
    int n = 0;
    for (auto* h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd();
         h = OrvaneNextAllocation(h))
        ++n;
    return n;
}

TEST(MemoryArena, PushesAlignedChunksAndReleasesThemTogether) {
    int before = LiveBlocks();
    orvane_memory_arena* arena = OrvaneNewMemoryArena();
    ASSERT_NE(arena, nullptr);
    for (int i = 0; i < 10; ++i) {
        void* p = OrvaneMemoryArenaPush(arena, 13 * i);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    }
    EXPECT_EQ(LiveBlocks(), before + 11);
    OrvaneClearArena(arena);
    EXPECT_EQ(LiveBlocks(), before + 1);
    EXPECT_NE(OrvaneMemoryArenaPush(arena, 8), nullptr);  // usable after a clear
    OrvaneFreeMemoryArena(arena);
    EXPECT_EQ(LiveBlocks(), before);
}

// Records the addresses released through the deallocate callback while installed.
class ReleaseRecorder {
public:
    ReleaseRecorder() {
        OrvaneGetAllocator(&allocate_, &deallocate_);
        inner_ = deallocate_;
        released_ = &released;
        OrvaneSetAllocator(allocate_, &Record);
    }
    ~ReleaseRecorder() {
        OrvaneSetAllocator(allocate_, deallocate_);
        released_ = nullptr;
    }
    std::vector<void*> released;

private:
    static void Record(const char* file, orvane_int32 line, void* memory) {
        if (released_) released_->push_back(memory);
        inner_(file, line, memory);
    }
    static inline orvane_deallocate_callback inner_ = nullptr;
    static inline std::vector<void*>* released_ = nullptr;
    orvane_allocate_callback allocate_;
    orvane_deallocate_callback deallocate_;
};

TEST(MemoryArena, FreeingReleasesTheHandleThenTheChunksNewestFirst) {
    orvane_memory_arena* arena = OrvaneNewMemoryArena();
    ASSERT_NE(arena, nullptr);
    std::vector<char*> data;
    for (int i = 0; i < 3; ++i)
        data.push_back(static_cast<char*>(OrvaneMemoryArenaPush(arena, 8)));
    ReleaseRecorder recorder;
    OrvaneFreeMemoryArena(arena);
    ASSERT_EQ(recorder.released.size(), 4u);
    EXPECT_EQ(recorder.released[0], static_cast<void*>(arena));
    // Each chunk's block starts a little before its data: newest first, oldest last.
    for (size_t i = 1; i < 4; ++i) {
        char* chunk = static_cast<char*>(recorder.released[i]);
        char* pushed = data[3 - i];
        EXPECT_LT(chunk, pushed);
        EXPECT_GE(chunk + 64, pushed);
    }
}

TEST(StackAllocator, GrowsInBlocksAndPopsFromTheEnd) {
    int before = LiveBlocks();
    orvane_stack_allocator stack;
    OrvaneStackInitialize(&stack, sizeof(int32_t), 4);
    for (int32_t i = 0; i < 9; ++i) {
        int32_t index = -1;
        ASSERT_TRUE(OrvaneNewStackUnit(&stack, &index));
        EXPECT_EQ(index, i);
        *static_cast<int32_t*>(OrvaneGetStackUnit(&stack, index)) = i;
    }
    EXPECT_EQ(OrvaneGetStackUnitCount(&stack), 9);
    EXPECT_EQ(LiveBlocks(), before + 3);
    // Unit 5 is the second unit of the second block.
    EXPECT_EQ(static_cast<char*>(OrvaneGetStackUnit(&stack, 5)),
              static_cast<char*>(OrvaneGetStackUnit(&stack, 4)) + 4);
    int32_t serialized[9];
    OrvaneSerializeStack(&stack, serialized);
    for (int32_t i = 0; i < 9; ++i)
        EXPECT_EQ(serialized[i], i);

    OrvanePopStackUnits(&stack, 5);
    EXPECT_EQ(OrvaneGetStackUnitCount(&stack), 4);
    EXPECT_EQ(LiveBlocks(), before + 1);
    EXPECT_EQ(*static_cast<int32_t*>(OrvaneGetStackUnit(&stack, 3)), 3);
    OrvanePopStackUnits(&stack, 4);  // exactly the last block's units
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_EQ(OrvaneGetStackUnitCount(&stack), 0);
    int32_t index;
    ASSERT_TRUE(OrvaneNewStackUnit(&stack, &index));
    EXPECT_EQ(index, 0);
    OrvaneStackCleanUp(&stack);
    EXPECT_EQ(LiveBlocks(), before);
}

TEST(StackAllocator, FailsCleanlyWithoutUnitsPerBlock) {
    orvane_stack_allocator stack;
    OrvaneStackInitialize(&stack, 8, 0);
    int32_t index = 7;
    EXPECT_FALSE(OrvaneNewStackUnit(&stack, &index));
    EXPECT_EQ(index, -1);
}

TEST(StackAllocator, StopsAtTheLargestIndex) {
    int before = LiveBlocks();
    orvane_stack_allocator stack;
    OrvaneStackInitialize(&stack, sizeof(int32_t), 4);
    // A stack that already holds nearly 2^31 units (the count is part of the public record).
    stack.UnitCount = INT32_MAX - 2;
    int32_t index = 0;
    ASSERT_TRUE(OrvaneNewStackUnit(&stack, &index));
    EXPECT_EQ(index, INT32_MAX - 2);
    ASSERT_TRUE(OrvaneNewStackUnit(&stack, &index));
    EXPECT_EQ(index, INT32_MAX - 1);
    EXPECT_NE(OrvaneGetStackUnit(&stack, INT32_MAX - 1), nullptr);
    // Index INT32_MAX would leave a count of 2^31, which an int32 cannot hold.
    EXPECT_FALSE(OrvaneNewStackUnit(&stack, &index));
    EXPECT_EQ(index, -1);
    EXPECT_EQ(OrvaneGetStackUnitCount(&stack), INT32_MAX);
    EXPECT_EQ(LiveBlocks(), before + 1);
    OrvaneStackCleanUp(&stack);
    EXPECT_EQ(OrvaneGetStackUnitCount(&stack), 0);
    EXPECT_EQ(LiveBlocks(), before);
}

TEST(FixedAllocator, HandsOutFourByteUnitsAndReusesFreedOnes) {
    int before = LiveBlocks();
    orvane_fixed_allocator fixed;
    OrvaneInitializeFixedAllocator(&fixed, 2);
    void* first = OrvaneAllocateFixed(&fixed);
    ASSERT_NE(first, nullptr);
    // A free unit holds a 4-byte link, so a 2-byte unit becomes 4 bytes: 1000 to a block.
    EXPECT_EQ(fixed.UnitSize, 4);
    EXPECT_EQ(fixed.UnitsPerBlock, 1000);
    void* second = OrvaneAllocateFixed(&fixed);
    EXPECT_EQ(static_cast<char*>(second), static_cast<char*>(first) + 4);
    OrvaneDeallocateFixed(&fixed, first);
    EXPECT_EQ(OrvaneAllocateFixed(&fixed), first);
    OrvaneDeallocateFixed(&fixed, first);
    OrvaneDeallocateFixed(&fixed, second);  // the block's last unit releases the block
    EXPECT_EQ(LiveBlocks(), before);
    OrvaneDeallocateFixed(&fixed, nullptr);
}

TEST(FixedAllocator, SpreadsOverBlocksAndReportsForeignMemory) {
    int before = LiveBlocks();
    orvane_fixed_allocator fixed;
    OrvaneInitializeFixedAllocator(&fixed, 100);
    std::vector<void*> units;
    std::set<void*> distinct;
    for (int i = 0; i < 200; ++i) {
        units.push_back(OrvaneAllocateFixed(&fixed));
        ASSERT_NE(units.back(), nullptr);
        distinct.insert(units.back());
    }
    EXPECT_EQ(distinct.size(), 200u);
    EXPECT_EQ(fixed.UnitsPerBlock, 64);  // 4000 / 100 raised to 64
    EXPECT_EQ(LiveBlocks(), before + 4);
    LogCapture log;
    int stranger;
    OrvaneDeallocateFixed(&fixed, &stranger);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_TRUE(log.Contains("was not allocated by this allocator."));
    for (size_t i = 0; i < units.size(); i += 2)
        OrvaneDeallocateFixed(&fixed, units[i]);
    OrvaneDeallocateAllFixed(&fixed);
    EXPECT_EQ(LiveBlocks(), before);
    EXPECT_NE(OrvaneAllocateFixed(&fixed), nullptr);  // still usable
    OrvaneDeallocateAllFixed(&fixed);
}

TEST(FixedAllocator, KeepsTheUnitSizeAndChainsFreedUnitsMostRecentFirst) {
    int before = LiveBlocks();
    orvane_fixed_allocator fixed;
    OrvaneInitializeFixedAllocator(&fixed, 12);
    std::vector<char*> units;
    for (int i = 0; i < 6; ++i)
        units.push_back(static_cast<char*>(OrvaneAllocateFixed(&fixed)));
    EXPECT_EQ(fixed.UnitSize, 12);
    EXPECT_EQ(fixed.UnitsPerBlock, 333);  // 4000 / 12
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(units[size_t(i)], units[0] + 12 * i);
    // Freed units come back last freed first, then the block goes on past its used units.
    OrvaneDeallocateFixed(&fixed, units[0]);
    OrvaneDeallocateFixed(&fixed, units[4]);
    OrvaneDeallocateFixed(&fixed, units[2]);
    EXPECT_EQ(OrvaneAllocateFixed(&fixed), units[2]);
    EXPECT_EQ(OrvaneAllocateFixed(&fixed), units[4]);
    EXPECT_EQ(OrvaneAllocateFixed(&fixed), units[0]);
    EXPECT_EQ(OrvaneAllocateFixed(&fixed), units[0] + 12 * 6);
    EXPECT_EQ(LiveBlocks(), before + 1);
    OrvaneDeallocateAllFixed(&fixed);
    EXPECT_EQ(LiveBlocks(), before);
}

TEST(FixedAllocator, ReportsAnAddressInsideAUnitAndKeepsThePoolIntact) {
    int before = LiveBlocks();
    orvane_fixed_allocator fixed;
    OrvaneInitializeFixedAllocator(&fixed, 12);
    char* first = static_cast<char*>(OrvaneAllocateFixed(&fixed));
    char* second = static_cast<char*>(OrvaneAllocateFixed(&fixed));
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(second, first + 12);
    LogCapture log;
    OrvaneDeallocateFixed(&fixed, first + 4);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_TRUE(log.Contains("was not allocated by this allocator."));
    EXPECT_EQ(log.messages()[0].origin, OrvaneFixedAllocatorOrigin);
    // Nothing was taken back: the next unit is a fresh one, and the two live units still hold
    // the block, which goes when both come back.
    char* third = static_cast<char*>(OrvaneAllocateFixed(&fixed));
    EXPECT_EQ(third, first + 24);
    OrvaneDeallocateFixed(&fixed, third);
    OrvaneDeallocateFixed(&fixed, first);
    EXPECT_EQ(LiveBlocks(), before + 1);
    OrvaneDeallocateFixed(&fixed, second);
    EXPECT_EQ(LiveBlocks(), before);
}

TEST(FixedAllocator, RefusesAZeroUnitSize) {
    LogCapture log;
    orvane_fixed_allocator fixed;
    OrvaneInitializeFixedAllocator(&fixed, 0);
    EXPECT_EQ(OrvaneAllocateFixed(&fixed), nullptr);
    EXPECT_TRUE(log.Contains("The fixed allocator cannot be used with a unit size of 0."));
    EXPECT_EQ(log.messages()[0].origin, OrvaneFixedAllocatorOrigin);
}

}  // namespace
