// The growable output buffer of the entropy coders.
#include "file/orvane_pelma_coder.h"

#include "core/orvane_memory.h"

namespace orvane {
namespace pelma {

bool ByteSink::Reserve(int64_t more) {
    if (size + more <= capacity) return true;
    if (failed) return false;
    int64_t grown = capacity + capacity / 2 + more + 64;
    uint8_t* bigger = grown > INT32_MAX ? nullptr : ORVANE_ALLOCATE_ARRAY(uint8_t, grown);
    if (bigger == nullptr) {
        failed = true;
        return false;
    }
    Copy(size_t(size), data, bigger);
    ORVANE_DEALLOCATE(data);
    data = bigger;
    capacity = grown;
    return true;
}

}  // namespace pelma
}  // namespace orvane
