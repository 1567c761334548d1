/*
 * bot: bottle files, each one regularly sampled time series.
 *
 * A bottle is a 40-byte little-endian header followed by its samples,
 * oldest first; sample i belongs to the time beg + i * ivl.  Samples are
 * 16-bit integers (type 0, "int"), 32-bit integers (1, "long"), floats
 * (2, "float") or doubles (3, "double"); the header's `usym` marks an
 * unusable sample.  Every sample byte moves through the bottle's page
 * buffer.
 *
 * The sample index of a time t is (t - beg) / ivl truncated toward zero,
 * with an interval of 0 taken as 1.  A bottle file holds at most
 * 2^31 - 1 bytes: reads beyond that give the unusable value and writes
 * that would reach beyond it are refused.
 */
#ifndef ZULU_BOT_H
#define ZULU_BOT_H

#include <stdint.h>
#include <sys/stat.h>

#include "buf.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An open bottle: the 40 header bytes field for field, then its buffer. */
typedef struct bottle_hdr {
    int16_t magic;  /* 349 */
    int16_t spare0;
    int32_t doff;   /* byte position of sample 0, 40 */
    double beg;     /* time of sample 0 */
    float ivl;      /* seconds between samples */
    int32_t nsam;   /* sample count; while open, the library's own */
    int32_t type;   /* 0 to 3 */
    int32_t usym;   /* unusable value */
    int32_t spare1;
    int32_t spare2;
    pagebuf *pbuf;
} bottle_hdr;

/* File status of the file the last successful bopen opened.  Its layout
 * depends on _FILE_OFFSET_BITS, which is 64 for the library and for its
 * users (the CMake package and the pkg-config file pass it). */
extern struct stat statb;

/* Opens a bottle for reading and writing, or for reading only when that
 * is all the file allows.  Null after a message on standard output. */
bottle_hdr *bopen(const char *name);

/* Creates (or empties) the file as a bottle with no samples and opens it.
 * Null after a message on standard output. */
bottle_hdr *bcreat(const char *name, double beg, double ivl, int type);

/* Writes back the page buffer, then the header with the sample count (no
 * more than the whole samples the file holds), closes the file and frees
 * the record. */
void bclose(bottle_hdr *b);

/* Writes back the held page, then the header with the current sample
 * count, waits until the file is on the disk (fsync), and keeps the bottle
 * open: a program killed, or a system that crashes, after it returns 0
 * leaves a bottle that reopens with every sample written so far.  It also
 * publishes them: programs that follow the file as it is written see the
 * samples its header counts, so they see what was written since the last
 * bflush only after the next one.  0 when every transfer of the bottle
 * has succeeded, now and since it was opened; -1 otherwise (see berror). */
int bflush(bottle_hdr *b);

/* Non-zero once any transfer of this bottle (a page write-back or load, a
 * header write) has failed since it was opened, as ferror for a stream.
 * Failed transfers are also reported on standard error, and print their
 * trace line whatever Verbose holds.  b must come from bopen or bcreat. */
int berror(bottle_hdr *b);

/* Fills the header fields of a new bottle in memory; nothing for a type
 * outside 0 to 3. */
void sethead(bottle_hdr *b, double beg, double ivl, int nsam, int type);

/* The sample at index(t) + k as a float, or usym when there is none. */
float bread1(bottle_hdr *b, double t, int k);

/* Fills count slots, in the bottle's sample type, with the samples from
 * index(t) on; slots outside the stored samples, and those of samples the
 * file no longer holds (cut short since it was opened), get usym. */
void bread(bottle_hdr *b, double t, int count, void *buf);

/* Stores count samples from index(t) on, padding any gap after the last
 * stored sample with usym; samples of negative index are dropped. */
void bwrite(bottle_hdr *b, double t, int count, const void *buf);

/* Prints " BEGIN -> END  sec: IVL  TYPE: NSAM" and returns printf's result. */
int bshow(bottle_hdr *b);

double bot_beg(bottle_hdr *b);
float bot_ivl(bottle_hdr *b);
int bot_nsam(bottle_hdr *b);
int bot_type(bottle_hdr *b);
int bot_usym(bottle_hdr *b);

/* Time of the last sample, beg + (nsam - 1) * ivl. */
double bot_end(bottle_hdr *b);

/* index(t), saturated to the int range; INT_MIN for a NaN. */
int bsamnum(bottle_hdr *b, double t);

#ifdef __cplusplus
}
#endif

#endif
