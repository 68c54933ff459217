// The default allocator with its tracking list, the allocation check, aggregate allocation and
// the memory utilities.
#include "core/orvane_memory.h"

#include <mutex>
#include <numeric>

#include "core/orvane_linked_list.h"
#include "core/orvane_log.h"
#include "platform/orvane_platform.h"

static_assert(sizeof(orvane_allocation_header) <= ORVANE_ALLOCATION_HEADER_SIZE,
              "the allocation header must fit its reserved size");
static_assert(ORVANE_ALLOCATION_HEADER_SIZE % 16 == 0 || sizeof(void*) == 4,
              "the header size keeps 16-byte alignment of the heap's blocks");

namespace orvane {
namespace {

constexpr size_t kHeaderSize = ORVANE_ALLOCATION_HEADER_SIZE;

void* DefaultAllocate(const char* file, int32_t line, uint32_t alignment, int32_t size);
void DefaultDeallocate(const char* file, int32_t line, void* memory);

// The current callbacks are read on every allocation from any thread and replaced rarely.
std::atomic<orvane_allocate_callback> g_allocate{&DefaultAllocate};
std::atomic<orvane_deallocate_callback> g_deallocate{&DefaultDeallocate};

// The tracking list: circular, closed by the sentinel, newest block first.
orvane_allocation_header g_sentinel = {
    ORVANE_ALLOCATION_MAGIC, 0, nullptr, 0, nullptr, 0, &g_sentinel, &g_sentinel};
std::mutex g_trackingMutex;

orvane_allocation_header* HeaderOf(void* memory) {
    return reinterpret_cast<orvane_allocation_header*>(static_cast<char*>(memory) - kHeaderSize);
}

void* DefaultAllocate(const char* file, int32_t line, uint32_t alignment, int32_t size) {
    if (alignment == 0) alignment = 1;
    // The block starts at a multiple of the alignment. The heap's blocks are aligned for the
    // header, which lies right before the block: a power of two keeps it so, any other
    // alignment (3, 12, ...) is rounded to a multiple of the header's alignment as well.
    const bool power = (alignment & (alignment - 1)) == 0;
    const uint64_t step =
        power ? uint64_t{alignment}
              : std::lcm(uint64_t{alignment}, uint64_t{alignof(orvane_allocation_header)});
    uint64_t heapSize = step + uint64_t(size < 0 ? 0 : size) + kHeaderSize - 1;
    void* heapBlock = nullptr;
    if (size >= 0 && heapSize <= INT32_MAX) heapBlock = platform::HeapAllocate(heapSize);
    if (heapBlock == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMemoryOrigin, "Unable to allocate %d bytes (%d requested by %s:%d).",
                         static_cast<int32_t>(heapSize > INT32_MAX ? INT32_MAX : heapSize), size,
                         file, line);
        return nullptr;
    }
    uintptr_t address = reinterpret_cast<uintptr_t>(heapBlock) + kHeaderSize;
    address = (address + step - 1) / step * step;
    void* memory = reinterpret_cast<void*>(address);
    orvane_allocation_header* header = HeaderOf(memory);
    header->Magic = ORVANE_ALLOCATION_MAGIC;
    header->RequestedSize = size;
    header->HeapBlock = heapBlock;
    header->HeapSize = static_cast<int32_t>(heapSize);
    header->SourceFile = file;
    header->SourceLine = line;
    {
        std::lock_guard<std::mutex> lock(g_trackingMutex);
        LinkAtFront(&g_sentinel, header);
    }
    return memory;
}

void DefaultDeallocate(const char* file, int32_t line, void* memory) {
    if (memory == nullptr) return;
    orvane_allocation_header* header = HeaderOf(memory);
    void* heapBlock = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_trackingMutex);
        if (header->Magic == ORVANE_ALLOCATION_MAGIC && header->RequestedSize != -1 &&
            header != &g_sentinel) {
            header->RequestedSize = -1;
            Unlink(header);
            heapBlock = header->HeapBlock;
        }
    }
    if (heapBlock == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMemoryOrigin,
                         "%s:%d Attempted to free 0x%p, which was not allocated by this allocator.",
                         file, line, memory);
        return;
    }
    platform::HeapFree(heapBlock);
}

}  // namespace

void* Allocate(const char* file, int32_t line, uint32_t alignment, size_t size) {
    if (alignment == 0) alignment = 1;
    if (size > size_t{INT32_MAX}) {
        ORVANE_LOG_ERROR(
            OrvaneMemoryOrigin, "Unable to allocate %u bytes aligned to %u (requested by %s:%d).",
            static_cast<uint32_t>(size > UINT32_MAX ? UINT32_MAX : size), alignment, file, line);
        return nullptr;
    }
    return g_allocate.load(std::memory_order_acquire)(file, line, alignment,
                                                      static_cast<int32_t>(size));
}

void Deallocate(const char* file, int32_t line, void* memory) {
    g_deallocate.load(std::memory_order_acquire)(file, line, memory);
}

namespace {

// Sets count words at destination to value (any alignment).
template <typename Word>
void SetWords(size_t count, Word value, void* destination) {
    auto* out = static_cast<unsigned char*>(destination);
    for (size_t i = 0; i < count; ++i)
        std::memcpy(out + sizeof(Word) * i, &value, sizeof(Word));
}

// Reverses the bytes of each whole word in the first byteCount bytes (any alignment).
template <typename Word, Word (*Swap)(Word)>
void ReverseWords(size_t byteCount, void* buffer) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i + sizeof(Word) <= byteCount; i += sizeof(Word)) {
        Word word;
        std::memcpy(&word, bytes + i, sizeof(Word));
        word = Swap(word);
        std::memcpy(bytes + i, &word, sizeof(Word));
    }
}

}  // namespace

void SetUInt32(size_t count, uint32_t value, void* destination) {
    SetWords(count, value, destination);
}

void SetReal32(size_t count, float value, void* destination) {
    SetWords(count, value, destination);
}

void Reverse32(size_t byteCount, void* buffer) {
    ReverseWords<uint32_t, ByteSwap32>(byteCount, buffer);
}

void Reverse16(size_t byteCount, void* buffer) {
    ReverseWords<uint16_t, ByteSwap16>(byteCount, buffer);
}

// ------------------------------------------------------------------------------------------
// Aggregate allocation. The state is per thread; the table starts with room for 64 pieces and
// grows on the heap when a build needs more.

namespace {

struct AggregatePiece {
    void** variable;       // the caller's variable, or null
    size_t pointerOffset;  // pointer member, used when there is no variable
    size_t offset;         // the piece's offset in the block
    int32_t count;         // -1: no count member
    size_t countOffset;
};

constexpr int kInlinePieces = 64;

struct AggregateState {
    uint32_t alignment = 4;
    uint32_t largestAlignment = 4;
    size_t size = 0;
    int pieceCount = 0;
    int capacity = kInlinePieces;
    bool failed = false;  // a piece could not be recorded: the end fails
    AggregatePiece* pieces = inlinePieces;
    AggregatePiece inlinePieces[kInlinePieces];
};

thread_local AggregateState t_aggregate;

void ResetAggregate(AggregateState& state) {
    if (state.pieces != state.inlinePieces) {
        AggregatePiece* grown = state.pieces;
        state.pieces = state.inlinePieces;
        ORVANE_DEALLOCATE(grown);
    }
    state.capacity = kInlinePieces;
    state.alignment = 4;
    state.largestAlignment = 4;
    state.size = 0;
    state.pieceCount = 0;
    state.failed = false;
}

intptr_t AddPiece(void** variable, size_t pointerOffset, int32_t count, size_t countOffset,
                  size_t size) {
    AggregateState& state = t_aggregate;
    // The block's alignment is a multiple of every piece's: the largest one for powers of two,
    // the least common multiple when an alignment is not a power of two.
    const uint64_t blockAlignment = std::lcm(uint64_t{state.largestAlignment}, state.alignment);
    if (blockAlignment > UINT32_MAX) {
        state.failed = true;
    } else {
        state.largestAlignment = static_cast<uint32_t>(blockAlignment);
    }
    size_t offset = (state.size + state.alignment - 1) / state.alignment * state.alignment;
    if (offset < state.size || size > SIZE_MAX - offset) state.failed = true;
    if (state.pieceCount == state.capacity && !state.failed) {
        int capacity = state.capacity * 2;
        auto* grown = static_cast<AggregatePiece*>(
            ORVANE_ALLOCATE(alignof(AggregatePiece), sizeof(AggregatePiece) * size_t(capacity)));
        if (grown == nullptr) {
            state.failed = true;
        } else {
            Copy(sizeof(AggregatePiece) * size_t(state.pieceCount), state.pieces, grown);
            if (state.pieces != state.inlinePieces) ORVANE_DEALLOCATE(state.pieces);
            state.pieces = grown;
            state.capacity = capacity;
        }
    }
    if (state.failed) {
        if (variable) *variable = nullptr;
        return 0;
    }
    state.pieces[state.pieceCount++] = {variable, pointerOffset, offset, count, countOffset};
    state.size = offset + size;
    if (variable) *variable = reinterpret_cast<void*>(offset);
    return static_cast<intptr_t>(offset);
}

void FillAggregate(AggregateState& state, char* block) {
    for (int i = 0; i < state.pieceCount; ++i) {
        const AggregatePiece& piece = state.pieces[i];
        void* address = block + piece.offset;
        if (piece.variable) {
            *piece.variable = address;
        } else {
            std::memcpy(block + piece.pointerOffset, &address, sizeof address);
            if (piece.count != -1) std::memcpy(block + piece.countOffset, &piece.count, 4);
        }
    }
}

}  // namespace

void SetAggregateAlignment(uint32_t alignment) {
    t_aggregate.alignment = alignment == 0 ? 1 : alignment;
}

intptr_t AggregateAllocate(void** variable, size_t size) {
    return AddPiece(variable, 0, -1, 0, size);
}

intptr_t AggregateAllocateMember(intptr_t ownerOffset, size_t memberOffset, size_t size) {
    return AddPiece(nullptr, size_t(ownerOffset) + memberOffset, -1, 0, size);
}

intptr_t AggregateAllocateArrayMember(intptr_t ownerOffset, size_t countMemberOffset,
                                      size_t pointerMemberOffset, int32_t count,
                                      size_t elementSize) {
    size_t bytes;
    if (!CheckedArrayBytes(count, elementSize, &bytes)) {
        t_aggregate.failed = true;
        bytes = 0;
    }
    return AddPiece(nullptr, size_t(ownerOffset) + pointerMemberOffset, count < 0 ? 0 : count,
                    size_t(ownerOffset) + countMemberOffset, bytes);
}

void* AggregateAllocationEnd(const char* file, int32_t line) {
    AggregateState& state = t_aggregate;
    char* block = nullptr;
    if (state.failed) {
        LogMessage(OrvaneErrorMessage, OrvaneMemoryOrigin,
                   "%s(%d): Aggregate allocation of more than %d bytes is not possible.", file,
                   line, INT32_MAX);
    } else {
        block = static_cast<char*>(Allocate(file, line, state.largestAlignment, state.size));
    }
    if (block) {
        FillAggregate(state, block);
    } else {
        for (int i = 0; i < state.pieceCount; ++i) {
            if (state.pieces[i].variable) *state.pieces[i].variable = nullptr;
        }
    }
    ResetAggregate(state);
    return block;
}

void* AggregateAllocationEndInPlace(const char*, int32_t, void* block) {
    AggregateState& state = t_aggregate;
    if (block && !state.failed) FillAggregate(state, static_cast<char*>(block));
    ResetAggregate(state);
    return state.failed ? nullptr : block;
}

size_t AggregateAllocationSize(const char*, int32_t) {
    AggregateState& state = t_aggregate;
    size_t size = state.failed ? SIZE_MAX : state.size;
    ResetAggregate(state);
    return size;
}

}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneSetAllocator(orvane_allocate_callback Allocate,
                                   orvane_deallocate_callback Deallocate) {
    // A null callback stands for the default one: every request needs a callback to call.
    g_allocate.store(Allocate ? Allocate : &DefaultAllocate, std::memory_order_release);
    g_deallocate.store(Deallocate ? Deallocate : &DefaultDeallocate, std::memory_order_release);
}

ORVANE_API void OrvaneGetAllocator(orvane_allocate_callback* Allocate,
                                   orvane_deallocate_callback* Deallocate) {
    if (Allocate) *Allocate = g_allocate.load(std::memory_order_acquire);
    if (Deallocate) *Deallocate = g_deallocate.load(std::memory_order_acquire);
}

ORVANE_API orvane_allocation_header* OrvaneAllocationsBegin(void) {
    std::lock_guard<std::mutex> lock(g_trackingMutex);
    return g_sentinel.Next;
}

ORVANE_API orvane_allocation_header* OrvaneNextAllocation(orvane_allocation_header* Header) {
    std::lock_guard<std::mutex> lock(g_trackingMutex);
    return Header->Next;
}

ORVANE_API orvane_allocation_header* OrvaneAllocationsEnd(void) {
    return &g_sentinel;
}

ORVANE_API void OrvaneGetAllocationInformation(orvane_allocation_header* Header,
                                               orvane_allocation_information* Information) {
    Information->Memory = reinterpret_cast<char*>(Header) + kHeaderSize;
    Information->RequestedSize = Header->RequestedSize;
    Information->ActualSize = Header->RequestedSize + static_cast<int32_t>(kHeaderSize);
    Information->SourceFile = Header->SourceFile;
    Information->SourceLine = Header->SourceLine;
}

ORVANE_API void* OrvaneBeginAllocationCheck(void) {
    return ORVANE_ALLOCATE(4, 0);
}

ORVANE_API orvane_allocation_header* OrvaneCheckedAllocationsEnd(void* Marker) {
    // No marker (the check could not begin): the end of the whole walk, which always comes.
    if (Marker == nullptr) return &g_sentinel;
    return HeaderOf(Marker);
}

ORVANE_API orvane_bool OrvaneEndAllocationCheck(void* Marker) {
    if (Marker == nullptr) return false;
    orvane_allocation_header* markerHeader = HeaderOf(Marker);
    bool passed;
    int64_t total = 0;  // the blocks newer than the marker
    {
        std::lock_guard<std::mutex> lock(g_trackingMutex);
        passed = g_sentinel.Next == markerHeader;
        for (orvane_allocation_header* h = g_sentinel.Next; h != markerHeader && h != &g_sentinel;
             h = h->Next)
            ++total;
    }
    // Every one of them is reported, newest first. They are read under the lock a batch at a
    // time (never through a pointer kept across the unlocking, since another thread may free
    // the block meanwhile) and logged after unlocking: the log callback may allocate. At most
    // the blocks counted above are reported, so a callback that keeps memory cannot prolong it.
    struct Leak {
        const char* file;
        int32_t line;
        int32_t size;
        void* memory;
    };
    for (int64_t reported = 0; !passed && reported < total;) {
        Leak leaks[64];
        int count = 0;
        {
            std::lock_guard<std::mutex> lock(g_trackingMutex);
            orvane_allocation_header* h = g_sentinel.Next;
            for (int64_t skip = 0; skip < reported && h != markerHeader && h != &g_sentinel; ++skip)
                h = h->Next;
            for (; count < 64 && reported + count < total && h != markerHeader && h != &g_sentinel;
                 h = h->Next)
                leaks[count++] = {h->SourceFile, h->SourceLine, h->RequestedSize,
                                  reinterpret_cast<char*>(h) + kHeaderSize};
        }
        if (count == 0) break;
        for (int i = 0; i < count; ++i)
            ORVANE_LOG_WARNING(OrvaneMemoryOrigin, "Unfreed block %s:%d (%d bytes at 0x%p)",
                               leaks[i].file, leaks[i].line, leaks[i].size, leaks[i].memory);
        reported += count;
    }
    ORVANE_DEALLOCATE(Marker);
    return passed;
}

ORVANE_API void OrvaneFreeBuilderResult(void* Memory) {
    ORVANE_DEALLOCATE(Memory);
}

}  // extern "C"
