/* A C program that writes a bottle as programs linking the library do,
 * for tests that kill it or follow it: KILL_WRITER PATH WRITES FLUSH_EVERY
 * STOP_AFTER [PAUSE_US] creates PATH as a "long" bottle beginning at 1000 s
 * with an interval of 1 s and writes WRITES windows of 37 samples (sample
 * i holds 3 * i + 1), calling bflush after every FLUSH_EVERY windows and
 * then printing "flushed N T" on standard output: N samples, T the
 * CLOCK_MONOTONIC seconds just before that bflush.  After window
 * STOP_AFTER (when not 0) it kills itself with SIGKILL, between two bwrite
 * calls.  With PAUSE_US it sleeps that many microseconds after each window,
 * as a recorder waits for its instrument. */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "bot.h"

enum { kWindow = 37 };

static double monotonic_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    if (argc != 5 && argc != 6) return 2;
    const int writes = atoi(argv[2]), flush_every = atoi(argv[3]), stop_after = atoi(argv[4]);
    const long pause_us = argc == 6 ? atol(argv[5]) : 0;
    const struct timespec pause = {pause_us / 1000000, pause_us % 1000000 * 1000};
    bottle_hdr *b = bcreat(argv[1], 1000.0, 1.0, 1);
    if (!b) return 1;
    int32_t window[kWindow];
    for (int w = 0; w < writes; ++w) {
        for (int k = 0; k < kWindow; ++k) window[k] = 3 * (w * kWindow + k) + 1;
        bwrite(b, 1000.0 + (double)w * kWindow, kWindow, window);
        if (flush_every > 0 && (w + 1) % flush_every == 0) {
            const double before = monotonic_seconds();
            if (bflush(b) != 0) return 1;
            printf("flushed %d %.6f\n", (w + 1) * kWindow, before);
            fflush(stdout);
        }
        if (w + 1 == stop_after) raise(SIGKILL);
        if (pause_us > 0) nanosleep(&pause, NULL);
    }
    bclose(b);
    return 0;
}
