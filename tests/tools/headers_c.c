/* Compiled as C: the public headers must be usable from C callers. */
#include <stdlib.h>
#include <string.h>

#include "dotalign.h"
#include "gincross.h"

/* Redeclarations with the intended types: the build fails if a header
 * declares anything else. */
typedef int crosshair_reader(int16_t *, int16_t *);
extern crosshair_reader gincross;
int move(int x, int y);
int dotalign(char **strings, int count);
int places(const char *str);
int where(const char *str);

int c_caller_round_trip(void);

/* Aligns a column from C and frees the new blocks with free().  Returns 0
 * when all is as expected, else the line of the first failed check. */
int c_caller_round_trip(void) {
    char a[] = "7", b[] = "0.25";
    char *col[] = {a, b, NULL};
    if (dotalign(col, 3) != 0) return __LINE__;
    if (col[0] == a || strcmp(col[0], "7.00") != 0) return __LINE__;
    if (col[1] != b || col[2] != NULL) return __LINE__;
    if (places(col[0]) != 3 || where(col[0]) != 1) return __LINE__;
    free(col[0]);
    return 0;
}
