/*
 * zulucal: dates and times of regularly sampled data.
 *
 * A time is a double: seconds since 1970-01-01 00:00:00 GMT, negative
 * before it, with the fraction for parts of a second.  A record
 * (datevec) holds local civil time: GMT shifted by `zone` hours, and by
 * one more hour while daylight saving applies (any non-zero zone).
 *
 * Its process-wide state is the two settings below, zone and dtoa_fmt,
 * which the linking program sets, and dtoa's two static buffers with the
 * flag that says which of them comes next; every table is constant.  The
 * library is meant for one thread at a time, except for the reentrant
 * forms (atod_r, dtoa_r, dtov_r, vtod_r), which take the settings as
 * arguments and keep no state.
 */
#ifndef ZULU_DATE_H
#define ZULU_DATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Broken-down local date and time.  Filled by dtov with
 * yr any, jl 1..366, mo 1..12, dm 1..31, dw 0 (Sunday)..6,
 * hr 0..23, mn 0..59, se 0..59, mi 0..999. */
typedef struct datevec {
    int32_t yr, jl, mo, dm, dw, hr, mn, se, mi;
} datevec;

/* Standard-time offset from Greenwich in whole hours (-5 is EST).
 * 0 means GMT with no daylight saving.  Set by the linking program. */
extern int zone;

/* Layout written by dtoa, 0 to 5 (see dtoa).  Set by the linking program. */
extern int dtoa_fmt;

/* Length of month `mo` in year `yr` (29 for a leap February).  Month 0,
 * and any month outside 0 to 12, gives 0. */
int msize(int mo, int yr);

/* 366 for a Gregorian leap year, else 365. */
int ysize(int yr);

/* Day names, "Sun".."Sat" and "Sunday".."Saturday".  The day is reduced
 * into 0..6 (Sunday 0), negative days included: -1 is Saturday. */
const char *dw_name(int dw);
const char *Dw_name(int dw);

/* Month names, "Jan".."Dec" and "January".."December".  Month 0 is
 * "000"; any month outside 0 to 12 is "000" as well. */
const char *mo_name(int mo);
const char *Mo_name(int mo);

/* Prints a header line and the nine fields, five columns each. */
void d_dump(const datevec *v);

/* 1 when the record's local time is daylight time, else 0.  Reads yr,
 * jl, dw (which must be the weekday of jl) and hr. */
int daylit(const datevec *v);

/* Zone abbreviation for the record's time: "GMT" for zone 0, "EST"/"EDT"
 * to "BST"/"BDT" for zones -5 to -11, "***" for any other zone. */
const char *znam(const datevec *v);

/* Record to time.  When jl is 0 it is first filled from mo and dm and
 * stored back (saturated to the int32_t range); a month above 12 counts
 * on into the following years (13 is January of the next year, 14 its
 * February), a month of 1 or less adds nothing.  Out-of-range fields
 * simply add their days and seconds.  The result is the nearest double. */
double vtod(datevec *v);

/* Time to record: writes all nine fields of *v and returns v.  Exact for
 * every time whose local year fits an int32_t.  A NaN, an infinity or a
 * time beyond that range gives the all-zero record (jl 0 and mo 0 mark
 * it as no date). */
datevec *dtov(double t, datevec *v);

/* Text to time.  Reads YY[MM[DD[hh[mm[ss]]]]], CCYYMMDDhhmmss, YYjDDD[hh[mm[ss]]]
 * or CCYYjDDDhhmmss as local time, each optionally followed by "." and a
 * fraction of a second.  Two-digit years 00-49 are 20YY, 50-99 are 19YY.
 * Nothing is validated: any byte in a digit position counts as its code
 * minus that of '0'. */
double atod(const char *s);

/* Time to text in the layout dtoa_fmt selects (time 489162896.789, zone 0):
 *   0  "Tue Jul 02 14:34:56.788 GMT 1985 183"
 *   1  "14:34 02 Jul 1985 183"
 *   2  "850702143456"
 *   3  "85j183143456"
 *   4  "14:34:56 02 Jul 1985 183"
 *   5  "1985-07-02T14:34:00"
 * Any other layout writes nothing.  buf must hold 40 bytes; at most 40 are
 * written.  With a null buf one of two static buffers is used in turn, so
 * the texts of the last two such calls stay intact. */
char *dtoa(double t, char *buf);

/* Reentrant forms of atod, dtoa, dtov and vtod, for threads that each use
 * settings of their own: the zone (and for dtoa_r the layout) is an
 * argument instead of the process-wide setting, which they neither read
 * nor change.  dtoa_r writes only into buf (40 bytes), and nothing when
 * buf is null. */
double atod_r(const char *s, int zone_hours);
char *dtoa_r(double t, char *buf, int layout, int zone_hours);
datevec *dtov_r(double t, datevec *v, int zone_hours);
double vtod_r(datevec *v, int zone_hours);

/* The wall clock: the current time in whole seconds since 1970. */
int wallclock(void);

#ifdef __cplusplus
}
#endif

#endif
