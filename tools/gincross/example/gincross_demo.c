/* gincross-demo: draws a frame on a Tektronix 4010/4014 terminal (or an
 * emulator such as "xterm -t"), reads one crosshair position with gincross,
 * marks it with a small cross and prints it.
 *
 * The terminal sends its position report without a line end, so while the
 * crosshair is up the terminal is switched out of canonical mode and echo;
 * the saved settings come back afterwards, and also when a signal ends the
 * program.  With standard input not a terminal (a pipe, a file) the report
 * is simply read from it. */
#define _POSIX_C_SOURCE 200809L

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "gincross.h"
#include "output.h"

enum {
    GS = 0x1D,   /* graph mode; the next address is a dark move */
    ESC = 0x1B,
    FF = 0x0C,   /* ESC FF clears the screen */
    US = 0x1F,   /* alphanumeric mode at the last graph position */
    MAX = 4095,  /* drawing coordinates run 0..MAX, four per screen address */
    TOP = 3119,  /* the 4010's 780 visible rows, in drawing coordinates */
    ARM = 60     /* half the width of the mark */
};

/* ---- drawing ---------------------------------------------------------- */

static int clamp(int v) { return v < 0 ? 0 : v > MAX ? MAX : v; }

/* One point as the terminal's four address bytes (high Y, low Y, high X,
 * low X), each coordinate reduced to the 10-bit screen address. */
static void address(int x, int y) {
    x = clamp(x) / 4;
    y = clamp(y) / 4;
    putchar(0x20 | y >> 5);
    putchar(0x60 | (y & 0x1F));
    putchar(0x20 | x >> 5);
    putchar(0x40 | (x & 0x1F));
}

/* The routine gincross needs: a dark move to (x, y). */
int move(int x, int y) {
    putchar(GS);
    address(x, y);
    return 0;
}

/* A visible line from the current position to (x, y); follows a move. */
static void draw(int x, int y) { address(x, y); }

/* Text in alphanumeric mode, starting at (x, y). */
static void text_at(int x, int y, const char *s) {
    move(x, y);
    putchar(US);
    fputs(s, stdout);
}

static void draw_frame(void) {
    putchar(ESC);
    putchar(FF);
    move(0, 0);
    draw(MAX, 0);
    draw(MAX, TOP);
    draw(0, TOP);
    draw(0, 0);
    text_at(40, TOP - 120, "Place the crosshair and press a key.");
    fflush(stdout);
}

static void mark(int x, int y) {
    move(x - ARM, y);
    draw(x + ARM, y);
    move(x, y - ARM);
    draw(x, y + ARM);
    putchar(US);
}

/* ---- terminal modes --------------------------------------------------- */

static struct termios saved;
static volatile sig_atomic_t raw_on;

static void restore_terminal(int when) {
    if (raw_on) {
        tcsetattr(STDIN_FILENO, when, &saved);
        raw_on = 0;
    }
}

/* Puts the terminal back as it was, leaves graph mode and dies of the same
 * signal (everything here is safe inside a signal handler). */
static void on_signal(int sig) {
    static const char alpha = US;
    restore_terminal(TCSANOW);
    if (write(STDOUT_FILENO, &alpha, 1) < 0) { /* nothing more to try */ }
    signal(sig, SIG_DFL);
    raise(sig);
}

static void catch_signals(void) {
    static const int sigs[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
    struct sigaction sa;
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    for (size_t i = 0; i < sizeof sigs / sizeof sigs[0]; ++i) sigaction(sigs[i], &sa, NULL);
}

/* Bytes arrive one by one, unechoed and unchanged: no line editing, no
 * flow-control characters (a key such as ^S must reach gincross). */
static void raw_mode(void) {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return;
    struct termios raw = saved;
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
    raw.c_iflag &= ~(tcflag_t)(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    raw_on = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) raw_on = 0;
}

/* ---- main ------------------------------------------------------------- */

static const char usage[] =
    "usage: gincross-demo\n"
    "Run it in a Tektronix 4010/4014 terminal or emulator (xterm -t): it draws a frame,\n"
    "reads one crosshair position (place the crosshair, press a key) and prints it.\n";

int main(int argc, char **argv) {
    if (argc > 2) {
        fprintf(stderr, "gincross-demo: too many arguments\n%s", usage);
        return 2;
    }
    if (argc > 1) {
        if (!strcmp(argv[1], "-h") || !strcmp(argv[1], "--help")) {
            fputs(usage, stdout);
            return close_stdout("gincross-demo");
        }
        if (!strcmp(argv[1], "--version")) {
            puts("gincross-demo " GINCROSS_DEMO_VERSION);
            return close_stdout("gincross-demo");
        }
        fprintf(stderr, "gincross-demo: unknown argument \"%s\"\n%s", argv[1], usage);
        return 2;
    }
    catch_signals();
    draw_frame();

    raw_mode();
    /* gincross returns EOF both when the report is cut short and when its
     * output fails; only a cut-short report leaves x and y as they were,
     * and no position is negative. */
    int16_t x = -1, y = -1;
    gincross(&x, &y);
    /* TCSAFLUSH drops what the terminal sent after its report (a line end,
     * on some terminals) along with the mode change. */
    restore_terminal(TCSAFLUSH);

    if (x < 0) {
        fflush(stdout);
        fputs("gincross-demo: no crosshair position was read\n", stderr);
        close_stdout("gincross-demo");
        return 1;
    }
    mark(x, y);
    move(0, 400);
    putchar(US);
    printf("x=%d y=%d\n", x, y);
    return close_stdout("gincross-demo");
}
