/* Crosshair position from a Tektronix 4010-series graphics terminal (or an
 * emulator of one) on standard input and standard output. */
#ifndef GINCROSS_H
#define GINCROSS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Puts the terminal in crosshair mode, waits for the user to place the
 * crosshair and press a key, and stores the position through x and y as
 * the terminal's 10-bit screen address times 4 (0 to 4092 on each axis).
 * Then calls move(0, 500) and returns the terminal to alphanumeric mode.
 *
 * The terminal's report is five bytes (key, high X, low X, high Y, low Y);
 * nothing after them is read, so a line end the terminal may send after the
 * report stays in the input.  With the terminal in canonical (line) mode the
 * report would not be delivered until a line end: callers normally switch
 * off canonical mode and echo around the call.
 *
 * Returns the last byte written as putc() returns it, or EOF when that write
 * failed.  If standard input ends or fails before the report is complete,
 * reading stops, *x and *y are left unchanged, move(0, 500) and the return
 * to alphanumeric mode still happen, and the result is EOF.  A null x or y
 * is not written through. */
int gincross(int16_t *x, int16_t *y);

/* Supplied by the program that links gincross: moves the drawing position
 * to (x, y).  gincross calls it once, as move(0, 500), before leaving
 * graph mode, and ignores its result. */
int move(int x, int y);

#ifdef __cplusplus
}
#endif

#endif
