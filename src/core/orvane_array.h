// The library's growable array: elements of a trivially copyable type in one block from the
// library's allocator (tagged with the place that owns the array), growing by doubling. Every
// operation that may allocate reports failure instead of throwing: a false result means the
// array is unchanged, and the allocator has already logged why. Not copyable; movable.
//
// Used for work stacks, byte images and buffers alike, so that the library has one of each and
// the run time can rely on the same behaviour everywhere.
#ifndef ORVANE_ARRAY_H
#define ORVANE_ARRAY_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/orvane_memory.h"

namespace orvane {

template <typename T>
class Array {
    static_assert(std::is_trivially_copyable_v<T>, "elements are moved with memcpy");

public:
    // SourceFile and SourceLine name the owner in the allocator's tracking; Alignment is that of
    // the block (at least alignof(T)).
    explicit Array(const char* sourceFile = ORVANE_SOURCE_FILE, int32_t sourceLine = __LINE__,
                   size_t alignment = alignof(T))
        : sourceFile_(sourceFile),
          sourceLine_(sourceLine),
          alignment_(alignment < alignof(T) ? alignof(T) : alignment) {}
    ~Array() { Release(); }
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    Array(Array&& other) noexcept { Take(other); }
    Array& operator=(Array&& other) noexcept {
        if (this != &other) {
            Release();
            Take(other);
        }
        return *this;
    }

    size_t Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }
    T* Data() { return items_; }
    const T* Data() const { return items_; }
    T& operator[](size_t i) { return items_[i]; }
    const T& operator[](size_t i) const { return items_[i]; }
    T& Back() { return items_[size_ - 1]; }
    T* begin() { return items_; }
    T* end() { return items_ + size_; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + size_; }

    // Room for at least `count` elements without another allocation.
    bool Reserve(size_t count) {
        if (count <= capacity_) return true;
        if (count > SIZE_MAX / sizeof(T)) return false;
        void* block = Allocate(sourceFile_, sourceLine_, uint32_t(alignment_), count * sizeof(T));
        if (block == nullptr) return false;
        if (size_ != 0) std::memcpy(block, static_cast<const void*>(items_), size_ * sizeof(T));
        if (items_ != nullptr) Deallocate(sourceFile_, sourceLine_, items_);
        items_ = static_cast<T*>(block);
        capacity_ = count;
        return true;
    }
    bool Push(const T& item) {
        if (size_ == capacity_ && !Grow(size_ + 1)) return false;
        items_[size_++] = item;
        return true;
    }
    // Appends `count` elements copied from `items` (which must not lie in this array).
    bool Append(const T* items, size_t count) {
        if (count == 0) return true;
        if (count > SIZE_MAX / sizeof(T) - size_) return false;
        if (size_ + count > capacity_ && !Grow(size_ + count)) return false;
        std::memcpy(static_cast<void*>(items_ + size_), items, count * sizeof(T));
        size_ += count;
        return true;
    }
    // Sets the size; new elements are zero bytes.
    bool Resize(size_t count) {
        if (count > capacity_ && !Grow(count)) return false;
        if (count > size_)
            std::memset(static_cast<void*>(items_ + size_), 0, (count - size_) * sizeof(T));
        size_ = count;
        return true;
    }
    // Takes the last element; false when there is none.
    bool Pop(T* item) {
        if (size_ == 0) return false;
        *item = items_[--size_];
        return true;
    }
    void PopBack() { --size_; }
    void Clear() { size_ = 0; }
    // Gives the block back; the array stays usable.
    void Release() {
        if (items_ != nullptr) Deallocate(sourceFile_, sourceLine_, items_);
        items_ = nullptr;
        size_ = capacity_ = 0;
    }

private:
    bool Grow(size_t needed) {
        size_t capacity = capacity_ ? capacity_ : (64 / sizeof(T) > 4 ? 64 / sizeof(T) : 4);
        while (capacity < needed) {
            if (capacity > SIZE_MAX / 2 / sizeof(T)) {
                capacity = needed;
                break;
            }
            capacity *= 2;
        }
        return Reserve(capacity);
    }
    void Take(Array& other) {
        sourceFile_ = other.sourceFile_;
        sourceLine_ = other.sourceLine_;
        alignment_ = other.alignment_;
        items_ = other.items_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.items_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }

    const char* sourceFile_;
    int32_t sourceLine_;
    size_t alignment_;
    T* items_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

}  // namespace orvane

#endif  // ORVANE_ARRAY_H
