#include "walk_reference.h"

#include <cmath>
#include <cstdint>

namespace walk {
namespace {

int montab[13] = {0, 31, 99, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const int dtab0[3] = {120, 6, 59};
const int dtab1[3] = {304, 334, 304};

bool leap(int yr) { return (yr % 4 == 0 && yr % 100 != 0) || yr % 400 == 0; }

void set_february(int yr) { montab[2] = leap(yr) ? 29 : 28; }

int weekday(int64_t days) { return static_cast<int>((days + 700000004) % 7); }

// Day count of a time: truncate, then one less when that overshoots.
int64_t day_count(double t) {
    int64_t days = static_cast<int64_t>(t / 86400);
    if (static_cast<double>(days * 86400) > t) --days;
    return days;
}

// The year walk: from 1970 forward, or from 1969 backward.
void year_walk(int64_t days, int *yr, int *jl) {
    int64_t n = days + 1;
    int y;
    if (days >= 0) {
        y = 1970;
        while (n > ysize(y)) n -= ysize(y++);
    } else {
        y = 1969;
        while (-n >= ysize(y)) n += ysize(y--);
        n += ysize(y);
    }
    *yr = y;
    *jl = static_cast<int>(n);
}

}  // namespace

int ysize(int yr) { return leap(yr) ? 366 : 365; }

int daylit(const datevec *v) {
    if (zone == 0) return 0;
    int row = v->yr == 1974 ? 1 : (v->yr == 1975 ? 2 : 0);
    int b = dtab0[row], e = dtab1[row];
    if (leap(v->yr)) {
        if (b > 58) b++;
        if (e > 58) e++;
    }
    int sb = b - ((v->dw + b - v->jl + 700) % 7);
    int se = e - ((v->dw + e - v->jl + 700) % 7);
    if (v->jl > se || (v->jl == se && v->hr >= 1)) return 0;
    if (v->jl > sb) return 1;
    if (v->jl == sb) return v->hr >= 2 ? 1 : 0;
    return 0;
}

double vtod(datevec *v) {
    if (v->jl == 0) {
        int jl = 0;
        if (v->mo >= 2) {
            set_february(v->yr);
            for (int m = 1; m < v->mo; m++) jl += montab[m];
        }
        v->jl = jl + v->dm;
    }
    double seconds = v->mi / 1000.0 + v->se + 60.0 * v->mn + 3600.0 * v->hr;
    double day_seconds = (v->jl - 1) * 86400.0;
    if (v->yr >= 1970)
        for (int y = 1970; y < v->yr; y++) day_seconds += ysize(y) * 86400.0;
    else
        for (int y = v->yr; y <= 1969; y++) day_seconds -= ysize(y) * 86400.0;
    double t = day_seconds + seconds;
    t -= 3600.0 * walk::daylit(v);
    t -= 3600.0 * zone;
    return t;
}

datevec *dtov(double t, datevec *v) {
    double local = t + 3600.0 * zone;
    int64_t days = day_count(local);
    int yr, jl;
    year_walk(days, &yr, &jl);
    datevec probe{};
    probe.yr = yr;
    probe.jl = jl;
    probe.dw = weekday(days);
    probe.hr = static_cast<int>(local - 86400.0 * static_cast<double>(days)) / 3600;
    if (walk::daylit(&probe)) local += 3600;

    days = day_count(local);
    year_walk(days, &yr, &jl);
    v->yr = yr;
    v->jl = jl;
    double s = local - 86400.0 * static_cast<double>(days);
    int w = static_cast<int>(s);
    v->mi = static_cast<int>((s - w) * 1000);
    v->se = w % 60;
    v->mn = w / 60 % 60;
    v->hr = w / 3600;
    v->dw = weekday(days);
    set_february(yr);
    int m = 1, d = jl;
    while (d > montab[m]) d -= montab[m++];
    v->mo = m;
    v->dm = d;
    return v;
}

}  // namespace walk
