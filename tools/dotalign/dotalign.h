/* Decimal-point alignment of a column of number strings.
 *
 * A string's decimal point is its first '.'; its tail is the part from that
 * point to the end, point included ("3.14" has a tail of 3 characters, "7."
 * of 1, "12" and "" of 0). */
#ifndef DOTALIGN_H
#define DOTALIGN_H

#ifdef __cplusplus
extern "C" {
#endif

/* Pads every string of strings[0..count-1] on the right until all have the
 * tail of the longest one: a string without a point gets '.' first, then
 * '0's; "12", "3.5", "0.125" become "12.000", "3.500", "0.125".  Null
 * entries and empty strings are skipped.  Always returns 0; a count of 0 or
 * less changes nothing.
 *
 * The caller's strings are never changed or freed.  Each string that needs
 * padding is copied into a new block from malloc() and the entry is pointed
 * at the copy; the copy belongs to the caller, who releases it with free().
 * Entries that need no padding keep their pointers.  If an allocation fails,
 * that entry is left as it was and the others are still padded. */
int dotalign(char **strings, int count);

/* The tail length of str: 0 for a string without a point, an empty string
 * or a null pointer. */
int places(const char *str);

/* The index of the first '.' in str (0 when str begins with it), or -1 for a
 * string without a point, an empty string or a null pointer. */
int where(const char *str);

#ifdef __cplusplus
}
#endif

#endif
