// A C++ program built against an installed Orvane: the version check, a mismatch reported
// through the log callback, the math routines and a leak check around the work.
#include <orvane.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

int g_warnings = 0;

void Count(orvane_log_message_type type, orvane_log_message_origin, const char* text, void*) {
    if (type == OrvaneWarningMessage) ++g_warnings;
    std::fprintf(stderr, "consumer: library says: %s\n", text);
}

}  // namespace

int main() {
    if (!OrvaneVersionsMatch()) return 1;
    std::printf("consumer: Orvane %s (header %s)\n", OrvaneGetVersionString(),
                ORVANE_VERSION_STRING);
    orvane_log_callback log = {Count, nullptr};
    OrvaneSetLogCallback(&log);
    void* check = OrvaneBeginAllocationCheck();

    // A version this library is not: false, and a warning through the callback.
    if (OrvaneVersionsMatch_(ORVANE_VERSION_MAJOR + 1, 0, 0, 0) || g_warnings != 1) {
        std::fprintf(stderr, "consumer: a mismatched version was not reported\n");
        return 1;
    }

    // A quarter turn about z then a shift along x maps (1, 0, 0) to (1, 1, 0).
    const float half = std::sqrt(0.5f);
    const float position[3] = {1, 0, 0}, orientation[4] = {0, 0, half, half};
    const float scaleShear[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    orvane_transform t;
    OrvaneSetTransform(&t, position, orientation, scaleShear);
    float point[3] = {1, 0, 0};
    OrvaneTransformPointInPlace(point, &t);
    if (std::fabs(point[0] - 1) > 1e-5f || std::fabs(point[1] - 1) > 1e-5f ||
        std::fabs(point[2]) > 1e-5f) {
        std::fprintf(stderr, "consumer: transformed point %g %g %g\n", point[0], point[1],
                     point[2]);
        return 1;
    }

    orvane_uint32 crc;
    const char text[] = "123456789";
    OrvaneBeginCRC32(&crc);
    OrvaneAddToCRC32(&crc, orvane_uint32(std::strlen(text)), text);
    OrvaneEndCRC32(&crc);
    if (crc != 0xCBF43926u) return 1;

    const bool clean = OrvaneEndAllocationCheck(check);
    OrvaneSetLogCallback(nullptr);
    std::printf("consumer: OK\n");
    return clean ? 0 : 1;
}
