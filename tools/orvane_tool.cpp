// The orvane command-line tool.
#include <cstdio>
#include <cstring>

#include "orvane.h"

namespace {

int g_messages = 0;

void PrintMessage(orvane_log_message_type type, orvane_log_message_origin origin, const char* text,
                  void*) {
    ++g_messages;
    std::printf("  log: type %d, origin %d: %s\n", int(type), int(origin), text);
}

int Usage(FILE* out) {
    std::fprintf(out,
                 "usage: orvane <command> [options]\n"
                 "commands:\n"
                 "  demo      exercise allocation tracking, logging and the timing counters\n"
                 "  version   print the library version\n"
                 "Every command accepts --help.\n");
    return out == stdout ? 0 : 1;
}

int Demo() {
    std::printf("Orvane %s\n", OrvaneGetVersionString());
    orvane_log_callback callback = {PrintMessage, nullptr};
    OrvaneSetLogCallback(&callback);

    std::printf("allocation tracking:\n");
    void* marker = OrvaneBeginAllocationCheck();
    orvane_memory_arena* arena = OrvaneNewMemoryArena();
    for (int i = 0; i < 3; ++i)
        OrvaneMemoryArenaPush(arena, 1000 * (i + 1));
    int live = 0;
    for (orvane_allocation_header* h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd();
         h = OrvaneNextAllocation(h)) {
        orvane_allocation_information info;
        OrvaneGetAllocationInformation(h, &info);
        std::printf("  live block: %d bytes from %s:%d\n", info.RequestedSize, info.SourceFile,
                    info.SourceLine);
        ++live;
    }
    std::printf("  %d live blocks while the arena holds 3 chunks\n", live);
    std::printf("  leak check with the arena still live (expect warnings):\n");
    void* inner = OrvaneBeginAllocationCheck();
    orvane_memory_arena* leaked = OrvaneNewMemoryArena();
    bool clean = OrvaneEndAllocationCheck(inner);
    std::printf("  check passed: %s\n", clean ? "yes" : "no");
    OrvaneFreeMemoryArena(leaked);
    OrvaneFreeMemoryArena(arena);
    std::printf("  after freeing everything, check passed: %s\n",
                OrvaneEndAllocationCheck(marker) ? "yes" : "no");

    std::printf("logging:\n");
    OrvaneClearMostSeriousMessage();
    OrvaneVersionsMatch_(1, 0, 0, 0);
    std::printf("  most serious message (type %d): %s\n", int(OrvaneGetMostSeriousMessageType()),
                OrvaneGetMostSeriousMessage());

    std::printf("CRC-32:\n");
    orvane_uint32 crc;
    OrvaneBeginCRC32(&crc);
    OrvaneAddToCRC32(&crc, 3, "abc");
    OrvaneEndCRC32(&crc);
    std::printf("  CRC-32 of \"abc\" = 0x%08X\n", crc);

    std::printf("clock and counters:\n");
    orvane_system_clock start = OrvaneGetSystemSeconds();
    OrvaneSleepForSeconds(0.05f);
    orvane_system_clock end = OrvaneGetSystemSeconds();
    std::printf("  slept 0.05 s, clock advanced %.4f s\n", OrvaneGetSecondsElapsed(&start, &end));
    std::printf("  timing blocks registered: %d\n", OrvaneGetCounterCount());
    for (int i = 0; i < OrvaneGetCounterCount(); ++i) {
        orvane_counter_results r;
        OrvaneGetCounterResults(i, &r);
        std::printf("  %-32s %6d calls %10.6f s\n", r.Name, r.Count, r.SecondsElapsed);
    }
    OrvaneSetLogCallback(nullptr);
    std::printf("%d messages logged\n", g_messages);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(stderr);
    const char* command = argv[1];
    bool help = argc > 2 && std::strcmp(argv[2], "--help") == 0;
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "help") == 0)
        return Usage(stdout);
    if (std::strcmp(command, "version") == 0) {
        if (help) return std::puts("usage: orvane version"), 0;
        std::printf("%s\n", OrvaneGetVersionString());
        return 0;
    }
    if (std::strcmp(command, "demo") == 0) {
        if (help) return std::puts("usage: orvane demo"), 0;
        return Demo();
    }
    std::fprintf(stderr, "orvane: unknown command '%s'\n", command);
    return Usage(stderr);
}
