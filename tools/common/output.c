#include "output.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

/* The reason printed when the stream's error flag is the only trace of a
 * failed write: the error number of that write is gone by now. */
static const char earlier_failure[] = "an earlier write failed";

static int report(const char *program, const char *reason) {
    fprintf(stderr, "%s: cannot write standard output: %s\n", program, reason);
    return 1;
}

int close_stdout(const char *program) {
    errno = 0;
    if (fflush(stdout) != 0) {
        const char *reason = errno ? strerror(errno) : earlier_failure;
        fclose(stdout);
        return report(program, reason);
    }
    const int failed_before = ferror(stdout);
    /* With nothing left to write, EBADF only says that standard output was
     * never open: nothing was lost. */
    errno = 0;
    if (fclose(stdout) != 0 && errno != EBADF) return report(program, errno ? strerror(errno) : earlier_failure);
    if (failed_before) return report(program, earlier_failure);
    return 0;
}
