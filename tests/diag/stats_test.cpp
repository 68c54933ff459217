// The statistics snapshot and its text: counts of live instances and controls, the binding
// cache's counters, allocations grouped by source location, the timing blocks.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "orvane/core.h"
#include "orvane/diag.h"
#include "orvane/instance.h"

namespace {

TEST(Stats, CountsLiveObjectsAndGroupsAllocationsBySite) {
    orvane_skeleton skeleton{};
    orvane_model model{};
    model.Name = const_cast<char*>("Nobody");
    model.Skeleton = &skeleton;
    orvane_stats* before = OrvaneCaptureCurrentStats(1);
    ASSERT_NE(before, nullptr);
    orvane_model_instance* a = OrvaneInstantiateModel(&model);
    orvane_model_instance* b = OrvaneInstantiateModel(&model);
    orvane_control* c = OrvaneCreateControl(0.0f, 1.0f);
    void* blocks[3];
    orvane_memory_arena* arena = OrvaneNewMemoryArena();
    for (int i = 0; i < 3; ++i)
        blocks[i] = OrvaneMemoryArenaPush(arena, 100000);
    ASSERT_NE(blocks[2], nullptr);
    orvane_stats* after = OrvaneCaptureCurrentStats(4);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->ModelInstanceCount - before->ModelInstanceCount, 2);
    EXPECT_EQ(after->ControlCount - before->ControlCount, 1);
    EXPECT_EQ(after->FrameCount, 4);
    EXPECT_GT(after->AllocationCount, before->AllocationCount);
    EXPECT_GE(after->AllocatedBytes - before->AllocatedBytes, 300000);
    // Sites are grouped (no location twice) and sorted by size.
    int64_t total = 0;
    int32_t count = 0;
    for (int32_t i = 0; i < after->AllocationSiteCount; ++i) {
        const orvane_stats_allocation_site& s = after->AllocationSites[i];
        total += s.RequestedBytes;
        count += s.Count;
        if (i > 0) {
            EXPECT_LE(s.RequestedBytes, after->AllocationSites[i - 1].RequestedBytes);
        }
        for (int32_t j = 0; j < i; ++j)
            EXPECT_FALSE(s.SourceLine == after->AllocationSites[j].SourceLine &&
                         std::strcmp(s.SourceFile, after->AllocationSites[j].SourceFile) == 0);
    }
    EXPECT_EQ(total, after->AllocatedBytes);
    EXPECT_EQ(count, after->AllocationCount);

    char* text = OrvaneDumpStatHUD(after);
    ASSERT_NE(text, nullptr);
    const std::string hud(text);
    for (const char* heading : {"Model Instances: ", "Controls: ", "Animation binding cache: ",
                                "Allocations: ", "Clocks/frame: "})
        EXPECT_NE(hud.find(heading), std::string::npos) << heading << "\n" << hud;
    EXPECT_NE(hud.find("bytes in"), std::string::npos) << hud;
    OrvaneFreeStatHUDDump(text);
    OrvaneFreeStats(after);
    OrvaneFreeStats(before);
    OrvaneFreeMemoryArena(arena);
    OrvaneFreeControl(c);
    OrvaneFreeModelInstance(a);
    OrvaneFreeModelInstance(b);
    EXPECT_EQ(OrvaneDumpStatHUD(nullptr), nullptr);
    OrvaneFreeStats(nullptr);
    OrvaneFreeStatHUDDump(nullptr);
}

}  // namespace
