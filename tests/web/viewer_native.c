/* The viewer's calls (web/viewer.c) against the native library: what the browser test compares
 * the page with, and the native side of the viewer's frame time.
 *
 *   viewer_native FILE SECONDS [FRAMES]
 *
 * Plays the file's first clip (with its second blended at weight 0.5, looping), poses the
 * first model at SECONDS and prints "checksum C"; with FRAMES, also poses that many frames
 * 1/60 s apart and prints "frame-ms M", the mean time of one. Ends with the library's leak
 * check. Exit status 0 on success. */
#define _POSIX_C_SOURCE 199309L /* clock_gettime */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <orvane.h>

#include "viewer.h"

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s FILE SECONDS [FRAMES]\n", argv[0]);
        return 2;
    }
    void* check = OrvaneBeginAllocationCheck();
    int ok = ViewerOpen(argv[1]) && ViewerSelectModel(0) &&
             ViewerPlay(0, ViewerClipCount() > 1 ? 1 : -1, 0.5f, 1) &&
             ViewerPose((float)atof(argv[2]));
    if (ok) {
        printf("checksum %.17g\n", ViewerChecksum());
        const int frames = argc > 3 ? atoi(argv[3]) : 0;
        if (frames > 0) {
            const double start = Now();
            for (int f = 0; f < frames; ++f)
                ViewerPose((float)f / 60.0f);
            printf("frame-ms %.4f\n", (Now() - start) * 1000.0 / frames);
        }
    } else {
        fprintf(stderr, "%s: %s\n", argv[1], ViewerError());
    }
    ViewerClose();
    if (!OrvaneEndAllocationCheck(check)) ok = 0;
    return ok ? 0 : 1;
}
