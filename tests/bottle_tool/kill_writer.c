/* A C program that writes a bottle as programs linking the library do,
 * for tests that kill it: KILL_WRITER PATH WRITES FLUSH_EVERY STOP_AFTER
 * creates PATH as a "long" bottle and writes WRITES windows of 37 samples
 * (sample i holds 3 * i + 1), calling bflush after every FLUSH_EVERY
 * windows and then printing "flushed N" (N samples) on standard output.
 * After window STOP_AFTER (when not 0) it kills itself with SIGKILL,
 * between two bwrite calls. */
#define _POSIX_C_SOURCE 200809L
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "bot.h"

enum { kWindow = 37 };

int main(int argc, char **argv) {
    if (argc != 5) return 2;
    const int writes = atoi(argv[2]), flush_every = atoi(argv[3]), stop_after = atoi(argv[4]);
    bottle_hdr *b = bcreat(argv[1], 1000.0, 1.0, 1);
    if (!b) return 1;
    int32_t window[kWindow];
    for (int w = 0; w < writes; ++w) {
        for (int k = 0; k < kWindow; ++k) window[k] = 3 * (w * kWindow + k) + 1;
        bwrite(b, 1000.0 + (double)w * kWindow, kWindow, window);
        if (flush_every > 0 && (w + 1) % flush_every == 0) {
            if (bflush(b) != 0) return 1;
            printf("flushed %d\n", (w + 1) * kWindow);
            fflush(stdout);
        }
        if (w + 1 == stop_after) raise(SIGKILL);
    }
    bclose(b);
    return 0;
}
