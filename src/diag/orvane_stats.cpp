// The statistics snapshot: live instances and controls, the binding cache's counters, live
// allocations by source location, the timing blocks; and its rendering as text for a log.
#include "instance/orvane_animation_binding.h"
#include "instance/orvane_model_instance.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "orvane/diag.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace orvane {
namespace {

constexpr int32_t kShownSites = 16;

bool SiteLess(const orvane_stats_allocation_site& a, const orvane_stats_allocation_site& b) {
    if (a.SourceFile != b.SourceFile) {
        const int d =
            std::strcmp(a.SourceFile ? a.SourceFile : "", b.SourceFile ? b.SourceFile : "");
        if (d != 0) return d < 0;
        return reinterpret_cast<uintptr_t>(a.SourceFile) <
               reinterpret_cast<uintptr_t>(b.SourceFile);
    }
    return a.SourceLine < b.SourceLine;
}

bool SameSite(const orvane_stats_allocation_site& a, const orvane_stats_allocation_site& b) {
    return !SiteLess(a, b) && !SiteLess(b, a);
}

// Text appended to a fixed buffer; what does not fit is cut (the size is computed first).
struct Text {
    char* at;
    char* end;
    size_t needed = 0;
    void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        const int n = std::vsnprintf(at, at ? size_t(end - at) : 0, format, args);
        va_end(args);
        if (n < 0) return;
        needed += size_t(n);
        if (at) at += std::min<size_t>(size_t(n), size_t(end - at) - 1);
    }
};

void Render(const orvane_stats& s, Text& t) {
    const double frames = s.FrameCount > 0 ? s.FrameCount : 1;
    const int32_t* c = s.AnimationBindingCacheStatus;
    t.Add("Model Instances: %d\n", s.ModelInstanceCount);
    t.Add("Controls: %d\n", s.ControlCount);
    t.Add("Animation binding cache: %d bindings, %d in use, %d unused (maximum kept %d)\n", c[5],
          c[6], c[5] - c[6], s.MaximumAnimationBindingCount);
    t.Add(
        "  lookups: %d hits, %d misses (%.1f%% hits); acquires %d by ID, %d direct; releases "
        "%d\n",
        c[7], c[8], c[7] + c[8] > 0 ? 100.0 * c[7] / double(c[7] + c[8]) : 0.0, c[3], c[2], c[4]);
    t.Add("  built %d, destroyed %d (evicted %d, flushed %d in %d flushes)\n", c[0], c[1], c[11],
          c[10], c[9]);
    t.Add("Allocations: %d (%dk / %dk)\n", s.AllocationCount,
          int32_t((s.AllocatedBytes + 1023) / 1024),
          int32_t((s.AllocatedBytesTotal + 1023) / 1024));
    const int32_t shown = std::min(s.AllocationSiteCount, kShownSites);
    for (int32_t i = 0; i < shown; ++i) {
        const orvane_stats_allocation_site& a = s.AllocationSites[i];
        t.Add("  %10lld bytes in %6d blocks  %s(%d)\n", static_cast<long long>(a.RequestedBytes),
              a.Count, a.SourceFile ? a.SourceFile : "?", a.SourceLine);
    }
    if (s.AllocationSiteCount > shown)
        t.Add("  ... %d more sites\n", s.AllocationSiteCount - shown);
    double exclusive = 0.0;
    for (int32_t i = 0; i < s.CounterCount; ++i)
        exclusive += s.Counters[i].SecondsWithoutChildren;
    t.Add("Clocks/frame: %fs (%.0f cycles)\n", exclusive / frames,
          exclusive / frames * s.TicksPerSecond);
    // The blocks that ran, most expensive (without children) first.
    int32_t order[512];
    int32_t n = 0;
    for (int32_t i = 0; i < s.CounterCount && n < 512; ++i)
        if (s.Counters[i].Count > 0) order[n++] = i;
    std::sort(order, order + n, [&](int32_t a, int32_t b) {
        return s.Counters[a].SecondsWithoutChildren > s.Counters[b].SecondsWithoutChildren;
    });
    if (n > 0) t.Add("  %-40s %10s %12s %12s\n", "block", "calls/frm", "us/frame", "excl us/frm");
    for (int32_t k = 0; k < n; ++k) {
        const orvane_counter_results& r = s.Counters[order[k]];
        t.Add("  %-40s %10.2f %12.3f %12.3f\n", r.Name ? r.Name : "?", r.Count / frames,
              r.SecondsElapsed / frames * 1e6, r.SecondsWithoutChildren / frames * 1e6);
    }
}

}  // namespace
}  // namespace orvane

using namespace orvane;

ORVANE_API orvane_stats* OrvaneCaptureCurrentStats(orvane_int32 FramesSinceLastCapture) {
    // Counted before the snapshot's own block exists; blocks that appear meanwhile (other
    // threads) are left out rather than written past the arrays.
    int32_t capacity = 0;
    for (orvane_allocation_header* h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd();
         h = OrvaneNextAllocation(h))
        ++capacity;
    const int32_t counters = OrvaneGetCounterCount();
    const double ticksPerSecond = OrvaneGetCounterTicksPerSecond();
    orvane_stats* s = nullptr;
    SetAggregateAlignment(alignof(orvane_stats));
    intptr_t owner = AggregateAllocate(&s, sizeof(orvane_stats));
    AggregateAllocateArrayMember(owner, offsetof(orvane_stats, AllocationSiteCount),
                                 offsetof(orvane_stats, AllocationSites), capacity,
                                 sizeof(orvane_stats_allocation_site));
    AggregateAllocateArrayMember(owner, offsetof(orvane_stats, CounterCount),
                                 offsetof(orvane_stats, Counters), counters,
                                 sizeof(orvane_counter_results));
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
    s->FrameCount = FramesSinceLastCapture > 0 ? FramesSinceLastCapture : 1;
    s->ModelInstanceCount = LiveModelInstanceCount();
    s->ControlCount = LiveControlCount();
    orvane_animation_binding_cache_status status;
    GetBindingCacheCounters(&status);
    std::memcpy(s->AnimationBindingCacheStatus, &status, sizeof(status));
    s->MaximumAnimationBindingCount = OrvaneGetMaximumAnimationBindingCount();
    s->TicksPerSecond = ticksPerSecond;
    for (int32_t i = 0; i < counters; ++i)
        OrvaneGetCounterResults(i, &s->Counters[i]);

    s->AllocationCount = 0;
    s->AllocatedBytes = s->AllocatedBytesTotal = 0;
    int32_t filled = 0;
    for (orvane_allocation_header* h = OrvaneAllocationsBegin();
         h != OrvaneAllocationsEnd() && filled < capacity; h = OrvaneNextAllocation(h)) {
        orvane_allocation_information info;
        OrvaneGetAllocationInformation(h, &info);
        if (info.Memory == s) continue;
        ++s->AllocationCount;
        s->AllocatedBytes += info.RequestedSize;
        s->AllocatedBytesTotal += info.ActualSize;
        s->AllocationSites[filled++] = {info.SourceFile, info.SourceLine, 1, info.RequestedSize};
    }
    // Group by location, then largest first.
    orvane_stats_allocation_site* sites = s->AllocationSites;
    std::sort(sites, sites + filled, SiteLess);
    int32_t groups = 0;
    for (int32_t i = 0; i < filled; ++i) {
        if (groups > 0 && SameSite(sites[groups - 1], sites[i])) {
            sites[groups - 1].Count += 1;
            sites[groups - 1].RequestedBytes += sites[i].RequestedBytes;
        } else {
            sites[groups++] = sites[i];
        }
    }
    std::sort(sites, sites + groups,
              [](const orvane_stats_allocation_site& a, const orvane_stats_allocation_site& b) {
                  return a.RequestedBytes > b.RequestedBytes;
              });
    s->AllocationSiteCount = groups;
    return s;
}

ORVANE_API void OrvaneFreeStats(orvane_stats* Stats) {
    if (Stats) ORVANE_DEALLOCATE(Stats);
}

ORVANE_API char* OrvaneDumpStatHUD(const orvane_stats* Stats) {
    ORVANE_CHECK_NOT_NULL(OrvaneApplicationOrigin, Stats, nullptr);
    Text measure{nullptr, nullptr};
    Render(*Stats, measure);
    const size_t size = measure.needed + 1;
    auto* text = static_cast<char*>(ORVANE_ALLOCATE(1, size));
    if (text == nullptr) return nullptr;
    Text write{text, text + size};
    text[0] = 0;
    Render(*Stats, write);
    return text;
}

ORVANE_API void OrvaneFreeStatHUDDump(char* Text) {
    if (Text) ORVANE_DEALLOCATE(Text);
}
