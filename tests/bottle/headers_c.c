/* The public headers used from C: a bottle and a page buffer round trip.
 * Returns 0 when everything read back as written, else the number of the
 * first check that failed. */
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include "bot.h"
#include "buf.h"

int bottle_c_roundtrip(const char *path);

int bottle_c_roundtrip(const char *path) {
    int32_t out[3] = {5, -6, 7}, in[4] = {0, 0, 0, 0};
    bottle_hdr *b = bcreat(path, 100.0, 10.0, 1);
    if (!b) return 1;
    bwrite(b, 110.0, 3, out);
    bread(b, 100.0, 4, in);
    if (bot_nsam(b) != 4 || in[0] != 999999 || in[1] != 5 || in[3] != 7) return 2;
    if (bread1(b, 130.0, 0) != 7.0f || bsamnum(b, 125.0) != 2) return 3;
    if (bflush(b) != 0 || berror(b) != 0) return 6;
    bclose(b);

    int fd = open(path, O_RDWR);
    pagebuf *pb = openb(fd);
    char magic[2];
    getb(pb, 0, 2, magic);
    if (memcmp(magic, "\x5d\x01", 2) != 0 || getfdb(pb) != fd) return 4;
    putb(pb, 44, 4, "\x01\x00\x00\x00");
    closeb(pb);
    close(fd);

    b = bopen(path);
    if (!b || bread1(b, 110.0, 0) != 1.0f || bot_type(b) != 1) return 5;
    bclose(b);
    return 0;
}
