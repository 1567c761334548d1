/* Creates a float bottle of one day of minute samples, writes it, reads a
 * window across its end back, prints the file size that bopen found and
 * shows the bottle's summary line. */
#include <stdio.h>

#include <zulukit/bot.h>
#include <zulukit/date.h>

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "consumer.bot";
    float day[1440], tail[4];
    int i;
    bottle_hdr *b = bcreat(path, 0.0, 60.0, 2);
    if (!b) return 1;
    for (i = 0; i < 1440; i++) day[i] = i * 0.5f;
    bwrite(b, 0.0, 1440, day);
    bclose(b);

    b = bopen(path);
    if (!b) return 1;
    bread(b, 1438 * 60.0, 4, tail); /* the last two samples, then two unusable */
    printf("%g %g %g %g\n", tail[0], tail[1], tail[2], tail[3]);
    /* statb is the library's: it has the library's layout here only when
     * this program is compiled with the flags the package passes on
     * (8-byte file offsets, on 32-bit hosts too). */
    printf("%lld bytes, %d-byte offsets\n", (long long)statb.st_size, (int)sizeof statb.st_size);
    bshow(b);
    bclose(b);
    return 0;
}
