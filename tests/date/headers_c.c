/* The date header compiled as C: the interface must be plain C. */
#include "date.h"

#include <stddef.h>

/* Called from the C++ tests, so the C view of the record and the calls is
 * exercised as well as compiled. */
int date_header_c_round_trip(void) {
    datevec v;
    char text[40];
    if (sizeof(datevec) != 9 * sizeof(int32_t) || offsetof(datevec, mi) != 8 * sizeof(int32_t)) return 0;
    zone = 0;
    dtoa_fmt = 2;
    dtov(atod("850704123456"), &v);
    dtoa(vtod(&v), text);
    return v.jl == 185 && msize(2, 1984) == 29 && text[0] == '8' && text[11] == '6' && text[12] == '\0';
}
