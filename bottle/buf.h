/*
 * buf: one cached 512-byte page of an open file.
 *
 * Byte ranges of a file are read and written through the one page the
 * buffer holds.  A page is read only when an access lands outside the
 * held page; write-back covers the page from its first byte up to the
 * last byte changed, so writing past the end of a file extends it exactly
 * to the last byte written.  A page whose load failed holds zeros, not
 * the file's bytes: its write-back covers only the bytes changed since.
 * Failed system calls are reported with perror and the operation carries
 * on; no routine returns an error code.
 *
 * Byte positions are 0 to INT_MAX.  Bytes of a range that lie before 0
 * (or past INT_MAX) belong to no file: getb gives zeros for them and putb
 * drops them.
 */
#ifndef ZULU_BUF_H
#define ZULU_BUF_H

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes in a page; page n covers file bytes n * 512 to n * 512 + 511. */
#define BUF_PAGESIZE 512

typedef struct pagebuf {
    char data[BUF_PAGESIZE]; /* the bytes of page `page`; first, so the record's address is theirs */
    int fd;                  /* descriptor worked on; never closed by the buffer */
    int page;                /* page held, -1 when none */
    int dirty;               /* bytes from the page start to write back, 0 (clean) to 512 */
} pagebuf;

/* Non-zero: every disk transfer prints a trace line on standard output,
 *   "disk[fd page]->core[address count]" for a load and
 *   "disk[fd page]<-core[address count]" for a write-back.
 * A failed transfer prints its line (count -1) whatever Verbose holds. */
extern int Verbose;

/* A new buffer on fd with no page held, or null when out of memory. */
pagebuf *openb(int fd);

/* Writes a dirty page back, frees the buffer (fd stays open); returns 0. */
int closeb(pagebuf *pb);

/* Makes `page` the held page and returns its 512 bytes.  A page outside
 * 0 to INT_MAX / 512 is reported as a failed positioning and gives a
 * zero-filled page with none held. */
char *ptrb(pagebuf *pb, int page);

/* Marks the whole held page for write-back (no effect with none held). */
void wrib(pagebuf *pb);

/* Drops the held page without writing it. */
void clrb(pagebuf *pb);

/* The buffer's descriptor (-1 for a null buffer). */
int getfdb(pagebuf *pb);

/* Copies the n file bytes at position start to dst; returns 0.  Bytes
 * past the end of the file read as zeros. */
int getb(pagebuf *pb, int start, int n, void *dst);

/* Copies n bytes from src into the file image at position start;
 * returns 0. */
int putb(pagebuf *pb, int start, int n, const void *src);

/* Writes the held page's first `dirty` bytes back; returns 0.  The page
 * stays dirty. */
int wripage(pagebuf *pb);

/* Loads `page`, held and clean, without writing the old one; returns 0.
 * Bytes past the end of the file, and the whole page after a failed
 * read, are zero. */
int reapage(pagebuf *pb, int page);

#ifdef __cplusplus
}
#endif

#endif
