// Entry point of every test program: runs the tests, then fails the program when any block of
// the library's default allocator is still live.
#include <cstdio>

#include <gtest/gtest.h>

#include "orvane/core.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    int leaked = 0;
    for (orvane_allocation_header* header = OrvaneAllocationsBegin();
         header != OrvaneAllocationsEnd(); header = OrvaneNextAllocation(header)) {
        orvane_allocation_information info;
        OrvaneGetAllocationInformation(header, &info);
        std::fprintf(stderr, "leak: %d bytes from %s:%d\n", info.RequestedSize,
                     info.SourceFile ? info.SourceFile : "?", info.SourceLine);
        ++leaked;
    }
    if (leaked != 0) {
        std::fprintf(stderr, "%d block(s) of the library's allocator were not freed\n", leaked);
        return 1;
    }
    return result;
}
