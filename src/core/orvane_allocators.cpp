// Memory arenas, stack allocators and fixed-size allocators. Each takes its memory in blocks
// through aggregate allocation: a block record and its units are one heap block.
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

#include <cstring>

using namespace orvane;

// Arena chunks: a link to the next older chunk, then the data.
struct ArenaChunk {
    ArenaChunk* older;
    void* padding;  // keeps the data 16-byte aligned
};

struct orvane_memory_arena {
    ArenaChunk* newest;
};

struct orvane_stack_block {
    int32_t UsedCount;
    char* Storage;
    int32_t FirstUnitIndex;
    orvane_stack_block* OlderBlock;
};

extern "C" {

ORVANE_API orvane_memory_arena* OrvaneNewMemoryArena(void) {
    auto* arena = static_cast<orvane_memory_arena*>(
        ORVANE_ALLOCATE(alignof(orvane_memory_arena), sizeof(orvane_memory_arena)));
    if (arena) arena->newest = nullptr;
    return arena;
}

ORVANE_API void* OrvaneMemoryArenaPush(orvane_memory_arena* Arena, orvane_int32 Size) {
    if (Arena == nullptr || Size < 0) return nullptr;
    ArenaChunk* chunk = nullptr;
    void* data = nullptr;
    SetAggregateAlignment(16);
    AggregateAllocate(&chunk, sizeof(ArenaChunk));
    AggregateAllocate(&data, size_t(Size));
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
    chunk->older = Arena->newest;
    Arena->newest = chunk;
    return data;
}

ORVANE_API void OrvaneClearArena(orvane_memory_arena* Arena) {
    if (Arena == nullptr) return;
    while (Arena->newest) {
        ArenaChunk* older = Arena->newest->older;
        ORVANE_DEALLOCATE(Arena->newest);
        Arena->newest = older;
    }
}

ORVANE_API void OrvaneFreeMemoryArena(orvane_memory_arena* Arena) {
    if (Arena == nullptr) return;
    // The handle goes first, then the chain it pointed to, newest chunk first.
    ArenaChunk* chunk = Arena->newest;
    ORVANE_DEALLOCATE(Arena);
    while (chunk) {
        ArenaChunk* older = chunk->older;
        ORVANE_DEALLOCATE(chunk);
        chunk = older;
    }
}

// ------------------------------------------------------------------------------------------

ORVANE_API void OrvaneStackInitialize(orvane_stack_allocator* Allocator, orvane_int32 UnitSize,
                                      orvane_int32 UnitsPerBlock) {
    Allocator->UnitSize = UnitSize;
    Allocator->UnitsPerBlock = UnitsPerBlock;
    Allocator->UnitCount = 0;
    Allocator->NewestBlock = nullptr;
}

ORVANE_API orvane_bool OrvaneNewStackUnit(orvane_stack_allocator* Allocator, orvane_int32* Index) {
    if (Allocator->UnitCount == INT32_MAX) {
        // Indices are int32: no unit can follow the one at INT32_MAX - 1.
        if (Index) *Index = -1;
        return false;
    }
    orvane_stack_block* block = Allocator->NewestBlock;
    if (block == nullptr || block->UsedCount >= Allocator->UnitsPerBlock) {
        block = nullptr;
        size_t bytes;
        if (Allocator->UnitsPerBlock > 0 && Allocator->UnitSize >= 0 &&
            CheckedArrayBytes(Allocator->UnitsPerBlock, size_t(Allocator->UnitSize), &bytes)) {
            orvane_stack_block* fresh = nullptr;
            char* storage = nullptr;
            SetAggregateAlignment(alignof(orvane_stack_block));
            AggregateAllocate(&fresh, sizeof(orvane_stack_block));
            AggregateAllocate(&storage, bytes);
            if (ORVANE_AGGREGATE_END()) {
                fresh->UsedCount = 0;
                fresh->Storage = storage;
                fresh->FirstUnitIndex = Allocator->UnitCount;
                fresh->OlderBlock = Allocator->NewestBlock;
                Allocator->NewestBlock = block = fresh;
            }
        }
    }
    if (block == nullptr) {
        if (Index) *Index = -1;
        return false;
    }
    ++block->UsedCount;
    if (Index) *Index = Allocator->UnitCount;
    ++Allocator->UnitCount;
    return true;
}

ORVANE_API void* OrvaneGetStackUnit(orvane_stack_allocator* Allocator, orvane_int32 Index) {
    orvane_stack_block* block = Allocator->NewestBlock;
    while (block && block->FirstUnitIndex > Index)
        block = block->OlderBlock;
    if (block == nullptr || Index < 0 || Index >= Allocator->UnitCount) return nullptr;
    return block->Storage + size_t(Index - block->FirstUnitIndex) * size_t(Allocator->UnitSize);
}

ORVANE_API orvane_int32 OrvaneGetStackUnitCount(const orvane_stack_allocator* Allocator) {
    return Allocator->UnitCount;
}

ORVANE_API void OrvanePopStackUnits(orvane_stack_allocator* Allocator, orvane_int32 Count) {
    if (Count <= 0) return;
    while (Allocator->NewestBlock && Count >= Allocator->NewestBlock->UsedCount) {
        orvane_stack_block* block = Allocator->NewestBlock;
        Allocator->UnitCount -= block->UsedCount;
        Count -= block->UsedCount;
        Allocator->NewestBlock = block->OlderBlock;
        ORVANE_DEALLOCATE(block);
    }
    if (Allocator->NewestBlock) {
        Allocator->NewestBlock->UsedCount -= Count;
        Allocator->UnitCount -= Count;
    }
}

ORVANE_API void OrvaneStackCleanUp(orvane_stack_allocator* Allocator) {
    OrvanePopStackUnits(Allocator, Allocator->UnitCount);
    // Blocks with no used units (none are normally left) go too.
    while (Allocator->NewestBlock) {
        orvane_stack_block* block = Allocator->NewestBlock;
        Allocator->NewestBlock = block->OlderBlock;
        ORVANE_DEALLOCATE(block);
    }
    Allocator->UnitCount = 0;
}

ORVANE_API void OrvaneSerializeStack(const orvane_stack_allocator* Allocator, void* Destination) {
    auto* out = static_cast<char*>(Destination);
    for (orvane_stack_block* b = Allocator->NewestBlock; b; b = b->OlderBlock) {
        Copy(size_t(b->UsedCount) * size_t(Allocator->UnitSize), b->Storage,
             out + size_t(b->FirstUnitIndex) * size_t(Allocator->UnitSize));
    }
}

// ------------------------------------------------------------------------------------------

}  // extern "C"

namespace {

// The first 4 bytes of a free unit hold the byte offset, from the block's storage, of the next
// free unit, or kNoFreeUnit. An offset rather than an address keeps the link at 4 bytes on
// every host, so units need only be 4 bytes; a block is smaller than 2 GiB (one allocation).
constexpr uint32_t kNoFreeUnit = 0xFFFFFFFFu;

void* NextFreeUnit(const orvane_fixed_block* block, const void* unit) {
    uint32_t next;
    std::memcpy(&next, unit, sizeof next);
    return next == kNoFreeUnit ? nullptr : static_cast<char*>(block->Storage) + next;
}

void PushFreeUnit(orvane_fixed_block* block, void* unit) {
    uint32_t next = kNoFreeUnit;
    if (block->FirstFreeUnit) {
        next = static_cast<uint32_t>(static_cast<char*>(block->FirstFreeUnit) -
                                     static_cast<char*>(block->Storage));
    }
    std::memcpy(unit, &next, sizeof next);
    block->FirstFreeUnit = unit;
}

}  // namespace

extern "C" {

ORVANE_API void OrvaneInitializeFixedAllocator(orvane_fixed_allocator* Allocator,
                                               orvane_int32 UnitSize) {
    *Allocator = orvane_fixed_allocator{};
    Allocator->UnitSize = UnitSize;
}

ORVANE_API void* OrvaneAllocateFixed(orvane_fixed_allocator* Allocator) {
    if (Allocator->UnitSize <= 0) {
        ORVANE_LOG_ERROR(OrvaneFixedAllocatorOrigin,
                         "The fixed allocator cannot be used with a unit size of 0.");
        return nullptr;
    }
    orvane_fixed_block* sentinel = &Allocator->Sentinel;
    if (Allocator->UnitsPerBlock == 0 || sentinel->Next == nullptr) {
        // A free unit holds a 4-byte link (FreeLink), so units are at least 4 bytes.
        if (Allocator->UnitSize < int32_t(sizeof(uint32_t)))
            Allocator->UnitSize = int32_t(sizeof(uint32_t));
        if (Allocator->UnitsPerBlock == 0) Allocator->UnitsPerBlock = 4000 / Allocator->UnitSize;
        if (Allocator->UnitsPerBlock < 64) Allocator->UnitsPerBlock = 64;
        if (sentinel->Next == nullptr) sentinel->Next = sentinel->Previous = sentinel;
    }
    orvane_fixed_block* block = sentinel->Next;
    while (block != sentinel && block->FirstFreeUnit == nullptr &&
           block->UsedCount >= Allocator->UnitsPerBlock) {
        block = block->Next;
    }
    if (block == sentinel) {
        size_t bytes;
        if (!CheckedArrayBytes(Allocator->UnitsPerBlock, size_t(Allocator->UnitSize), &bytes))
            return nullptr;
        orvane_fixed_block* fresh = nullptr;
        void* storage = nullptr;
        SetAggregateAlignment(alignof(orvane_fixed_block));
        AggregateAllocate(&fresh, sizeof(orvane_fixed_block));
        AggregateAllocate(&storage, bytes);
        if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
        fresh->UsedCount = 0;
        fresh->Storage = storage;
        fresh->FirstFreeUnit = nullptr;
        fresh->Next = sentinel;
        fresh->Previous = sentinel->Previous;
        sentinel->Previous->Next = fresh;
        sentinel->Previous = fresh;
        block = fresh;
    }
    void* unit;
    if (block->FirstFreeUnit) {
        unit = block->FirstFreeUnit;
        block->FirstFreeUnit = NextFreeUnit(block, unit);
    } else {
        unit = static_cast<char*>(block->Storage) +
               size_t(block->UsedCount) * size_t(Allocator->UnitSize);
    }
    ++block->UsedCount;
    return unit;
}

ORVANE_API void OrvaneDeallocateFixed(orvane_fixed_allocator* Allocator, void* Memory) {
    if (Memory == nullptr) return;
    orvane_fixed_block* sentinel = &Allocator->Sentinel;
    orvane_fixed_block* block = sentinel->Next;
    size_t blockBytes = size_t(Allocator->UnitsPerBlock) * size_t(Allocator->UnitSize);
    auto address = reinterpret_cast<uintptr_t>(Memory);
    while (block && block != sentinel) {
        auto start = reinterpret_cast<uintptr_t>(block->Storage);
        if (address >= start && address < start + blockBytes) break;
        block = block->Next;
    }
    // Units start UnitSize bytes apart: an address between two starts was never handed out.
    if (block == nullptr || block == sentinel ||
        (address - reinterpret_cast<uintptr_t>(block->Storage)) % size_t(Allocator->UnitSize) !=
            0) {
        ORVANE_LOG_ERROR(OrvaneFixedAllocatorOrigin,
                         "Memory block 0x%p was not allocated by this allocator.", Memory);
        return;
    }
    if (--block->UsedCount == 0) {
        block->Previous->Next = block->Next;
        block->Next->Previous = block->Previous;
        ORVANE_DEALLOCATE(block);
        return;
    }
    PushFreeUnit(block, Memory);
}

ORVANE_API void OrvaneDeallocateAllFixed(orvane_fixed_allocator* Allocator) {
    orvane_fixed_block* sentinel = &Allocator->Sentinel;
    if (sentinel->Next == nullptr) return;
    for (orvane_fixed_block* block = sentinel->Next; block != sentinel;) {
        orvane_fixed_block* next = block->Next;
        ORVANE_DEALLOCATE(block);
        block = next;
    }
    sentinel->Next = sentinel->Previous = sentinel;
}

}  // extern "C"
