// What the importer's test programs share: reading the pointer arrays of loaded content.
#pragma once

#include <cstring>

namespace import_support {

// Entry Index of a loaded array of pointers (content records are packed, so the array may
// sit at any address).
template <typename T>
T* Entry(T* const* array, int index) {
    T* p;
    std::memcpy(&p, reinterpret_cast<const char*>(array) + size_t(index) * sizeof p, sizeof p);
    return p;
}

}  // namespace import_support
