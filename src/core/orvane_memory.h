// Allocation through the current callbacks, aggregate allocation and memory utilities.
#ifndef ORVANE_MEMORY_H
#define ORVANE_MEMORY_H

#include "core/orvane_private.h"
#include "orvane/core.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace orvane {

// Calls of the current callbacks. Sizes above INT32_MAX are refused with an error (they would
// not fit the callback's size). Any alignment of at least 1 is passed on (the default allocator
// rounds up to the next multiple of it, powers of two or not); an alignment of 0 is taken as 1.
void* Allocate(const char* file, int32_t line, uint32_t alignment, size_t size);
void Deallocate(const char* file, int32_t line, void* memory);

// Multiplies count by size, or returns false when the product overflows or count is negative.
inline bool CheckedArrayBytes(int64_t count, size_t size, size_t* bytes) {
    if (count < 0) return false;
    if (size != 0 && static_cast<uint64_t>(count) > SIZE_MAX / size) return false;
    *bytes = static_cast<size_t>(count) * size;
    return true;
}

// Typed array allocation; null when the byte count overflows or memory runs out.
template <typename T>
T* AllocateArray(const char* file, int32_t line, int64_t count) {
    size_t bytes;
    if (!CheckedArrayBytes(count, sizeof(T), &bytes)) bytes = SIZE_MAX;
    return static_cast<T*>(Allocate(file, line, alignof(T) < 4 ? 4 : alignof(T), bytes));
}

// Aggregate allocation: piece requests, then exactly one end. The state is per thread, so
// builders on different threads do not interfere; one aggregate at a time per thread.
// Pieces requested from now on start on multiples of alignment; the block is requested with the
// least common multiple of the alignments used (the largest, for powers of two).
void SetAggregateAlignment(uint32_t alignment);
// The variable holds the piece's offset until the end writes the address; returns the offset.
intptr_t AggregateAllocate(void** variable, size_t size);
template <typename T>
intptr_t AggregateAllocate(T** variable, size_t size) {
    return AggregateAllocate(reinterpret_cast<void**>(variable), size);
}
// The piece's address goes to the pointer member at owner offset + member offset.
intptr_t AggregateAllocateMember(intptr_t ownerOffset, size_t memberOffset, size_t size);
template <typename T>
intptr_t AggregateAllocateMember(T* ownerVariable, size_t memberOffset, size_t size) {
    return AggregateAllocateMember(reinterpret_cast<intptr_t>(ownerVariable), memberOffset, size);
}
// count × elementSize bytes; the address goes to the pointer member and count to the int32
// count member, both within the owner piece.
intptr_t AggregateAllocateArrayMember(intptr_t ownerOffset, size_t countMemberOffset,
                                      size_t pointerMemberOffset, int32_t count,
                                      size_t elementSize);
template <typename T>
intptr_t AggregateAllocateArrayMember(T* ownerVariable, size_t countMemberOffset,
                                      size_t pointerMemberOffset, int32_t count,
                                      size_t elementSize) {
    return AggregateAllocateArrayMember(reinterpret_cast<intptr_t>(ownerVariable),
                                        countMemberOffset, pointerMemberOffset, count, elementSize);
}
void* AggregateAllocationEnd(const char* file, int32_t line);
void* AggregateAllocationEndInPlace(const char* file, int32_t line, void* block);
size_t AggregateAllocationSize(const char* file, int32_t line);

// Memory utilities.
void SetUInt32(size_t count, uint32_t value, void* destination);
void SetReal32(size_t count, float value, void* destination);
inline void Copy(size_t bytes, const void* source, void* destination) {
    if (bytes) std::memmove(destination, source, bytes);
}
inline void Copy32(size_t words, const void* source, void* destination) {
    Copy(words * 4, source, destination);
}
inline bool Compare(size_t bytes, const void* a, const void* b) {
    return bytes == 0 || std::memcmp(a, b, bytes) == 0;
}
// Reverse the bytes of each whole 32-bit / 16-bit word in the first byteCount bytes.
void Reverse32(size_t byteCount, void* buffer);
void Reverse16(size_t byteCount, void* buffer);

inline uint32_t ByteSwap32(uint32_t v) {
    return __builtin_bswap32(v);
}
inline uint16_t ByteSwap16(uint16_t v) {
    return __builtin_bswap16(v);
}

}  // namespace orvane

#define ORVANE_ALLOCATE(alignment, size) \
    ::orvane::Allocate(ORVANE_SOURCE_FILE, __LINE__, (alignment), (size))
#define ORVANE_ALLOCATE_ARRAY(T, count) \
    ::orvane::AllocateArray<T>(ORVANE_SOURCE_FILE, __LINE__, (count))
#define ORVANE_DEALLOCATE(memory) ::orvane::Deallocate(ORVANE_SOURCE_FILE, __LINE__, (memory))
#define ORVANE_AGGREGATE_END() ::orvane::AggregateAllocationEnd(ORVANE_SOURCE_FILE, __LINE__)
#define ORVANE_AGGREGATE_END_IN_PLACE(block) \
    ::orvane::AggregateAllocationEndInPlace(ORVANE_SOURCE_FILE, __LINE__, (block))
#define ORVANE_AGGREGATE_SIZE() ::orvane::AggregateAllocationSize(ORVANE_SOURCE_FILE, __LINE__)

#endif  // ORVANE_MEMORY_H
