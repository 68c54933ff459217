// Conversion of native objects and object trees between two descriptions of their types, and the
// relocation of every pointer of a tree.
//
// Everything here works on native descriptions (orvane_data_type_definition records) and objects
// in the native layout. File loading builds a native tree of a content file first and then calls
// the exported OrvaneConvertTree when the file was written against another layout of the content
// types.
//
// Members are matched by name; numbers convert between every numeric kind and to and from text;
// sub-objects whose types did not change (and that hold no curves) are shared with the source,
// so a converted tree may point into its source, which must outlive it. Curves in the old layout
// (degree, knots, controls) become DaK32fC32f curves whose arrays stay in the source or in the
// converted block.
//
// Converted trees are laid out root first, depth first; every reservation starts on a
// pointer-size boundary (relative to the block's start) so that pointer arrays inside the block
// are naturally aligned on 64-bit hosts. The sizing pass makes exactly the reservations the
// writing pass makes, text made from numbers included.
#ifndef ORVANE_CONVERT_H
#define ORVANE_CONVERT_H

#include "core/orvane_private.h"
#include "orvane/types.h"

#include <cstdint>
#include <cstring>

#include "core/orvane_memory.h"

namespace orvane {

// A growable stack of plain values for the iterative tree walks (fix-up after conversion,
// rebasing), so that long chains of references cannot exhaust the machine stack.
template <typename T>
class WorkStack {
public:
    WorkStack() = default;
    WorkStack(const WorkStack&) = delete;
    WorkStack& operator=(const WorkStack&) = delete;
    ~WorkStack() {
        if (items_) ORVANE_DEALLOCATE(items_);
    }
    // False (after the allocator's message) when the stack cannot grow.
    bool Push(const T& item) {
        if (count_ == capacity_) {
            const int32_t capacity = capacity_ ? capacity_ * 2 : 64;
            T* items = ORVANE_ALLOCATE_ARRAY(T, capacity);
            if (items == nullptr) return false;
            if (count_) std::memcpy(static_cast<void*>(items), items_, sizeof(T) * count_);
            if (items_) ORVANE_DEALLOCATE(items_);
            items_ = items;
            capacity_ = capacity;
        }
        items_[count_++] = item;
        return true;
    }
    bool Pop(T* item) {
        if (count_ == 0) return false;
        *item = items_[--count_];
        return true;
    }

private:
    T* items_ = nullptr;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

// Deepest chain of references one conversion follows; a deeper (or hostile, cyclic through
// arrays of unbounded length) tree fails the conversion with an error instead of exhausting the
// stack.
constexpr int32_t kMaxConversionDepth = 1024;

// Bytes the converted tree needs; false (with an error) when the tree cannot be converted: too
// deep, or larger than INT32_MAX bytes, or out of memory for the bookkeeping.
bool GetConvertedTreeSize(const orvane_data_type_definition* sourceType, const void* sourceRoot,
                          const orvane_data_type_definition* destinationType, int32_t* size);

// Member-name equality as conversion uses it: ASCII case-insensitive (the application's string
// comparison callback, when installed, also counts).
bool ConversionNamesMatch(const char* a, const char* b);

}  // namespace orvane

#endif  // ORVANE_CONVERT_H
