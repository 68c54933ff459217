// The growable output buffer of the entropy coders and the reciprocals of the interval coder.
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

namespace {

struct ReciprocalTable {
    uint64_t values[kReciprocalTotals];
    ReciprocalTable() {
        values[0] = values[1] = 0;  // never used: totals 0 and 1 divide directly
        for (uint32_t t = 2; t < kReciprocalTotals; ++t)
            values[t] = UINT64_MAX / t + 1;
    }
};

}  // namespace

// A function-local static: built once, race-free, on the first use.
const uint64_t* Reciprocals() {
    static const ReciprocalTable table;
    return table.values;
}

}  // namespace pelma
}  // namespace orvane
