/* A C program that links the libraries with the C compiler's driver alone,
 * as programs that use them do: any need of the C++ runtime fails the link. */
#include <stdio.h>

int bottle_c_roundtrip(const char *path);

int main(int argc, char **argv) {
    if (argc != 2) return 2;
    const int failed = bottle_c_roundtrip(argv[1]);
    if (failed) printf("check %d failed\n", failed);
    return failed;
}
