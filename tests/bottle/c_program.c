/* A C program that links the libraries with the C compiler's driver alone,
 * as programs that use them do: any need of the C++ runtime fails the link. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int bottle_c_roundtrip(const char *path);

int main(void) {
    char path[] = "/tmp/zulu-c-program-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 2;
    close(fd);
    const int failed = bottle_c_roundtrip(path);
    unlink(path);
    if (failed) printf("check %d failed\n", failed);
    return failed;
}
