/* The umbrella header compiles as C, and the shared library exports what it declares. */
#include <stdio.h>
#include <string.h>

#include "orvane.h"

int main(void) {
    orvane_int32 major = 0, minor = 0, customization = 0, build = 0;
    OrvaneGetVersion(&major, &minor, &customization, &build);
    if (!OrvaneVersionsMatch() || strcmp(OrvaneGetVersionString(), ORVANE_VERSION_STRING) != 0) {
        fprintf(stderr, "version mismatch: %d.%d.%d.%d\n", major, minor, customization, build);
        return 1;
    }
    void* marker = OrvaneBeginAllocationCheck();
    orvane_memory_arena* arena = OrvaneNewMemoryArena();
    if (!arena || !OrvaneMemoryArenaPush(arena, 100)) return 1;
    OrvaneFreeMemoryArena(arena);
    if (!OrvaneEndAllocationCheck(marker)) return 1;
    orvane_uint32 crc;
    OrvaneBeginCRC32(&crc);
    OrvaneAddToCRC32(&crc, 3, "abc");
    OrvaneEndCRC32(&crc);
    if (crc != 0x352441C2u) return 1;
    puts("1 passed, 0 failed");
    return 0;
}
