// The date and time library: calendar tables, the zone and daylight rule,
// conversion between times and records, and between text and times.
//
// The calendar is computed in closed form on 64-bit day counts, so every
// conversion takes the same few steps whatever the year, and no field of a
// record, however wild, can overflow the arithmetic.

#include "date.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#ifndef ZULU_DTOA_LAYOUTS
#define ZULU_DTOA_LAYOUTS 6  // layouts 0 to 5
#endif

int zone = 0;
int dtoa_fmt = 0;

namespace {

// Month lengths.  The February slot is rewritten for the year in hand by
// every month computation; it starts as 99, a value that is never read.
int montab[13] = {0, 31, 99, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr const char *dname[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char *Dname[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};
constexpr const char *mname[13] = {"000", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char *Mname[13] = {"000",  "January", "February",  "March",   "April",    "May",
                                   "June", "July",    "August",    "September", "October", "November",
                                   "December"};

// Zone abbreviations by zone index, standard and daylight time.
constexpr const char *zname[9] = {"***", "GMT", "EST", "CST", "MST", "PST", "YST", "AST", "BST"};
constexpr const char *znamd[9] = {"***", "GMT", "EDT", "CDT", "MDT", "PDT", "YDT", "ADT", "BDT"};

// Limit days of the daylight changeovers: ordinary years, 1974, 1975.
constexpr int dtab0[3] = {120, 6, 59};
constexpr int dtab1[3] = {304, 334, 304};

constexpr int kSecondsPerDay = 86400;

// Days before each month (index 1 to 12) and in the whole year (index 13),
// for common and leap years.
struct CumulativeDays {
    int days[2][14];
};
constexpr CumulativeDays make_cumulative() {
    CumulativeDays c{};
    constexpr int common[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int leap = 0; leap < 2; ++leap)
        for (int m = 1; m <= 12; ++m)
            c.days[leap][m + 1] = c.days[leap][m] + common[m] + (m == 2 ? leap : 0);
    return c;
}
constexpr CumulativeDays kCumulative = make_cumulative();

// Gregorian leap years: divisible by 4 and not by 100, or by 400 (which,
// among multiples of 100, is divisibility by 16).
constexpr bool is_leap(int64_t y) { return (y & 3) == 0 && (y % 100 != 0 || (y & 15) == 0); }

constexpr int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }
constexpr int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

void set_february(bool leap) { montab[2] = leap ? 29 : 28; }

// Leap years from year 1 up to and including year y - 1 (proleptic Gregorian;
// negative for years before 1).
constexpr int64_t leaps_before(int64_t y) {
    return floor_div(y - 1, 4) - floor_div(y - 1, 100) + floor_div(y - 1, 400);
}

// Day count (days since 1970-01-01) of 1 January of year y.
constexpr int64_t days_before_year(int64_t y) {
    return 365 * (y - 1970) + leaps_before(y) - leaps_before(1970);
}

// Days from 1 January of year y to the first of month m, where a month above
// 12 counts on into the following years and a month of 1 or less adds none.
int64_t days_before_month(int64_t y, int64_t m) {
    if (m <= 1) return 0;
    set_february(is_leap(y));
    const int64_t years = (m - 1) / 12;
    const int64_t month = (m - 1) % 12 + 1;
    return days_before_year(y + years) - days_before_year(y) + kCumulative.days[is_leap(y + years)][month];
}

int32_t saturate32(int64_t x) {
    if (x > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (x < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(x);
}

// Day counts are shifted by whole 400-year eras so that every day count of
// an int32_t year is positive, and the calendar is done in unsigned
// arithmetic, where division by a constant is a multiplication.
constexpr uint64_t kEraDays = 146097;
constexpr uint64_t kEraShift = 6'000'000;  // eras: 2.4e9 years
constexpr uint64_t kMarchShift = 719468 + kEraShift * kEraDays;  // day 0 is 1 March, 2.4e9 years before year 0

// Weekday of a day count, 0 = Sunday (1970-01-01 was a Thursday); kWeekShift
// turns a shifted day number into a count from a Sunday.
constexpr uint64_t kWeekShift = 4 + 7 * (kMarchShift / 7 + 1) - kMarchShift;
constexpr int weekday(int64_t days) {
    return static_cast<int>((static_cast<uint64_t>(days) + kMarchShift + kWeekShift) % 7);
}

struct Civil {
    int64_t year;
    int month, day, yday, wday;
    bool leap;
};

// Date of a day count, |days| below 8e11, by Neri and Schneider's Euclidean
// affine functions: years counted from 1 March, so that the leap day ends
// the year, and every step after the century a 32-bit multiplication.
constexpr Civil civil_from_days(int64_t days) {
    const uint64_t n = static_cast<uint64_t>(days) + kMarchShift;
    const uint64_t n1 = 4 * n + 3;
    const uint64_t century = n1 / kEraDays;                                      // since the shifted day 0
    const uint32_t of_century = static_cast<uint32_t>(n1 % kEraDays / 4);       // 0 to 36524
    const uint64_t p2 = uint64_t{2939745} * (4 * of_century + 3);
    const uint32_t year_of_century = static_cast<uint32_t>(p2 >> 32);           // 0 to 99
    const uint32_t doy = static_cast<uint32_t>(p2 & 0xFFFFFFFFu) / 2939745 / 4;  // 0 to 365, from 1 March
    const uint32_t n3 = 2141 * doy + 197913;
    const bool jan_feb = doy >= 306;
    Civil c{};
    c.month = static_cast<int>((n3 >> 16) - (jan_feb ? 12 : 0));
    c.day = static_cast<int>((n3 & 0xFFFFu) / 2141 + 1);
    c.year = static_cast<int64_t>(100 * century + year_of_century + jan_feb) - static_cast<int64_t>(kEraShift * 400);
    const uint32_t y400 = static_cast<uint32_t>((100 * (century % 4) + year_of_century + jan_feb) % 400);
    // Bitwise, not logical: no branches on an unpredictable year.
    c.leap = ((y400 & 3) == 0) & ((y400 % 100 != 0) | (y400 == 0));
    c.yday = static_cast<int>(jan_feb ? doy - 305 : doy + 60 + c.leap);
    c.wday = weekday(days);
    return c;
}

static_assert(civil_from_days(0).year == 1970 && civil_from_days(0).yday == 1 && civil_from_days(0).wday == 4);
static_assert(civil_from_days(-1).year == 1969 && civil_from_days(-1).yday == 365 && weekday(-1) == 3);
static_assert(civil_from_days(11016).month == 2 && civil_from_days(11016).day == 29);  // 2000-02-29

// Local times whose year fits an int32_t: [kFirstTime, kEndTime).  Both are
// multiples of 128 below 2^57 and so exact doubles.
constexpr double kFirstTime =
    static_cast<double>(days_before_year(std::numeric_limits<int32_t>::min())) * kSecondsPerDay;
constexpr double kEndTime =
    static_cast<double>(days_before_year(int64_t{std::numeric_limits<int32_t>::max()} + 1)) * kSecondsPerDay;

// A local time split into its day count and the seconds into that day.
struct DaySplit {
    int64_t days;
    double seconds;  // 0 <= seconds < 86400
};

// Splits t into whole days (the floor of t / 86400) and the seconds into
// that day, t − 86400 × days.  Below 2^52 that product is exact in a double;
// the quotient is taken through the reciprocal, rounded down, and corrected
// in the rare case that rounding left it one off.  Above, fma gives exact
// products.  False when t is not a time of a representable year (NaN and
// infinities included).
inline bool split_day(double t, DaySplit &out) {
    if (!(t >= kFirstTime && t < kEndTime)) return false;
    constexpr double kDay = kSecondsPerDay;
    int64_t days = static_cast<int64_t>(t * (1 / kDay)) - (t < 0);
    double seconds;
    if (std::fabs(t) < 0x1p52) {
        seconds = t - static_cast<double>(days) * kDay;
        if (seconds < 0 || seconds >= kDay) {
            days += seconds < 0 ? -1 : 1;
            seconds = t - static_cast<double>(days) * kDay;
        }
    } else {
        days -= std::fma(static_cast<double>(days), kDay, -t) > 0;
        days += std::fma(static_cast<double>(days + 1), kDay, -t) <= 0;
        seconds = std::fma(-static_cast<double>(days), kDay, t);
    }
    // A time a hair before midnight can round up to the whole day; it is the
    // following midnight, not hour 24 (nor a hair before 0 of that day, when
    // the correction above already moved to it).
    if (seconds >= kDay) {
        ++days;
        seconds = 0;
    } else if (seconds < 0) {
        seconds = 0;
    }
    out.days = days;
    out.seconds = seconds;
    return true;
}

int zone_index() {
    if (zone == 0) return 1;
    if (zone >= -11 && zone <= -5) return -3 - zone;
    return 0;
}

// Seconds since 1970 of a local record with day of the year jl (taken apart
// from the record so that a day that does not fit an int32_t counts whole).
double record_time(const datevec *v, int64_t jl) {
    const int64_t days = days_before_year(v->yr) + jl - 1;
    const double of_day = v->mi / 1000.0 + v->se + 60.0 * v->mn + 3600.0 * v->hr;
    double t = static_cast<double>(days) * kSecondsPerDay + of_day;
    t -= 3600.0 * daylit(v);
    t -= 3600.0 * zone;
    return t;
}

// Day of the year of month mo, day dm of year yr.
int64_t day_of_year(int64_t yr, int64_t mo, int64_t dm) { return days_before_month(yr, mo) + dm; }

// Value of a text character in a digit position: its code minus that of '0'.
int digit(char c) { return static_cast<unsigned char>(c) - '0'; }

}  // namespace

int ysize(int yr) { return is_leap(yr) ? 366 : 365; }

int msize(int mo, int yr) {
    set_february(is_leap(yr));
    return mo >= 0 && mo <= 12 ? montab[mo] : 0;
}

const char *dw_name(int dw) { return dname[floor_mod(dw, 7)]; }
const char *Dw_name(int dw) { return Dname[floor_mod(dw, 7)]; }
const char *mo_name(int mo) { return mo >= 0 && mo <= 12 ? mname[mo] : mname[0]; }
const char *Mo_name(int mo) { return mo >= 0 && mo <= 12 ? Mname[mo] : Mname[0]; }

void d_dump(const datevec *v) {
    std::puts("   yr    jl    mo    dm    dw    hr    mn    se    mi");
    std::printf("%5d %5d %5d %5d %5d %5d %5d %5d %5d\n", v->yr, v->jl, v->mo, v->dm, v->dw, v->hr, v->mn, v->se,
                v->mi);
}

int daylit(const datevec *v) {
    if (zone == 0) return 0;
    const int row = v->yr == 1974 ? 1 : v->yr == 1975 ? 2 : 0;
    int64_t begin = dtab0[row], end = dtab1[row];
    if (is_leap(v->yr)) {
        if (begin > 58) ++begin;
        if (end > 58) ++end;
    }
    // The Sunday on or before a limit day, located from the record's weekday.
    const auto sunday_before = [v](int64_t limit) { return limit - floor_mod(v->dw + limit - v->jl, 7); };
    const int64_t sb = sunday_before(begin), se = sunday_before(end);
    if (v->jl > se || (v->jl == se && v->hr >= 1)) return 0;
    if (v->jl > sb) return 1;
    if (v->jl == sb) return v->hr >= 2;
    return 0;
}

const char *znam(const datevec *v) { return (daylit(v) ? znamd : zname)[zone_index()]; }

double vtod(datevec *v) {
    int64_t jl = v->jl;
    if (jl == 0) {
        jl = day_of_year(v->yr, v->mo, v->dm);
        v->jl = saturate32(jl);
    }
    return record_time(v, jl);
}

datevec *dtov(double t, datevec *v) {
    double local = t + 3600.0 * zone;
    DaySplit split;
    if (!split_day(local, split)) {
        *v = datevec{};
        return v;
    }
    Civil c = civil_from_days(split.days);
    // Daylight time is decided on the standard-time record, then applied.
    datevec probe{};
    probe.yr = static_cast<int32_t>(c.year);  // split_day keeps it in range
    probe.jl = c.yday;
    probe.dw = c.wday;
    probe.hr = static_cast<int32_t>(static_cast<uint32_t>(split.seconds) / 3600);
    if (zone != 0 && daylit(&probe)) {
        local += 3600;
        if (!split_day(local, split)) {
            *v = datevec{};
            return v;
        }
        c = civil_from_days(split.days);
    }
    set_february(c.leap);
    const auto whole = static_cast<uint32_t>(split.seconds);  // 0 to 86399
    v->yr = static_cast<int32_t>(c.year);
    v->jl = c.yday;
    v->mo = c.month;
    v->dm = c.day;
    v->dw = c.wday;
    v->hr = static_cast<int32_t>(whole / 3600);
    v->mn = static_cast<int32_t>(whole / 60 % 60);
    v->se = static_cast<int32_t>(whole % 60);
    v->mi = static_cast<int32_t>((split.seconds - whole) * 1000);
    return v;
}

double atod(const char *s) {
    if (!s) s = "";
    const size_t len = std::strlen(s);
    const char *point = std::strrchr(s, '.');
    const size_t date_len = point ? static_cast<size_t>(point - s) : len;
    const bool four_digit = date_len == 14;

    // Pairs of digits go into the record by position, skipping the weekday;
    // pairs beyond the last position are ignored.  The second character of
    // a last odd pair is the point or the terminator, both inside the text.
    int32_t field[9] = {19};
    int pos = four_digit ? 0 : 1;
    for (size_t i = 0; i < date_len && pos < 9; i += 2) {
        field[pos] = 10 * digit(s[i]) + digit(s[i + 1]);
        pos = pos == 3 ? 5 : pos + 1;
    }

    datevec v{};
    const int32_t yy = field[1];
    v.yr = yy <= 49 ? 2000 + yy : 100 * field[0] + yy;
    v.mo = field[2];
    v.dm = field[3];
    v.hr = field[5];
    v.mn = field[6];
    v.se = field[7];
    if (point && point[1]) {
        int weight = 1000;
        for (const char *p = point + 1; *p && weight > 1; ++p) {
            weight /= 10;
            v.mi += digit(*p) * weight;
        }
    }

    const size_t j_pos = four_digit ? 4 : 2;
    int64_t jl;
    if (len > j_pos && s[j_pos] == 'j')
        jl = 100 * digit(s[j_pos + 1]) + field[3];
    else
        jl = day_of_year(v.yr, v.mo, v.dm);
    if (jl == 0) jl = day_of_year(v.yr, v.mo, v.dm);  // as vtod fills a day 0
    v.jl = static_cast<int32_t>(jl);
    // The text names no weekday; the daylight rule needs the true one.
    v.dw = weekday(days_before_year(v.yr) + jl - 1);
    return vtod(&v);
}

namespace {

// The six layouts of dtoa, as printf formats.  The fast writer below gives
// the same text for every record it handles; the formats serve the rest.
constexpr const char *kLayout[6] = {
    "%3s %3s %02d %02d:%02d:%02d%s %3s %04d %03d",
    "%02d:%02d %02d %3s %04d %03d",
    "%02d%02d%02d%02d%02d%02d",
    "%02dj%03d%02d%02d%02d",
    "%02d:%02d:%02d %02d %3s %04d %03d",
    "%04d-%02d-%02dT%02d:%02d:00",
};

constexpr int kTextSize = 40;  // the buffers dtoa writes, its own and its callers'

void format_layout(int layout, const datevec &v, char *buf) {
    const char *fmt = kLayout[layout];
    const char *mon = mo_name(v.mo);
    switch (layout) {
    case 0: {
        char millis[16] = "";
        if (v.mi != 0) std::snprintf(millis, sizeof millis, ".%03d", v.mi);
        std::snprintf(buf, kTextSize, fmt, dw_name(v.dw), mon, v.dm, v.hr, v.mn, v.se, millis, znam(&v), v.yr, v.jl);
        break;
    }
    case 1: std::snprintf(buf, kTextSize, fmt, v.hr, v.mn, v.dm, mon, v.yr, v.jl); break;
    case 2: std::snprintf(buf, kTextSize, fmt, v.yr % 100, v.mo, v.dm, v.hr, v.mn, v.se); break;
    case 3: std::snprintf(buf, kTextSize, fmt, v.yr % 100, v.jl, v.hr, v.mn, v.se); break;
    case 4: std::snprintf(buf, kTextSize, fmt, v.hr, v.mn, v.se, v.dm, mon, v.yr, v.jl); break;
    case 5: std::snprintf(buf, kTextSize, fmt, v.yr, v.mo, v.dm, v.hr, v.mn); break;
    }
}

// Appends fixed-width decimal fields and names without printf.
class Writer {
public:
    explicit Writer(char *p) : p_(p) {}
    Writer &text3(const char *s) {
        std::memcpy(p_, s, 3);
        p_ += 3;
        return *this;
    }
    Writer &ch(char c) {
        *p_++ = c;
        return *this;
    }
    Writer &digits(int value, int width) {
        for (int i = width - 1; i >= 0; --i, value /= 10) p_[i] = static_cast<char>('0' + value % 10);
        p_ += width;
        return *this;
    }
    void end() { *p_ = '\0'; }

private:
    char *p_;
};

// Writes a record whose fields dtov produced; false when a field would not
// print in its fixed width (a year outside 0 to 9999).
bool write_layout_fast(int layout, const datevec &v, char *buf) {
    if (v.yr < 0 || v.yr > 9999) return false;
    Writer w(buf);
    const char *mon = mo_name(v.mo);
    switch (layout) {
    case 0:
        w.text3(dw_name(v.dw)).ch(' ').text3(mon).ch(' ').digits(v.dm, 2).ch(' ');
        w.digits(v.hr, 2).ch(':').digits(v.mn, 2).ch(':').digits(v.se, 2);
        if (v.mi != 0) w.ch('.').digits(v.mi, 3);
        w.ch(' ').text3(znam(&v)).ch(' ').digits(v.yr, 4).ch(' ').digits(v.jl, 3);
        break;
    case 1:
        w.digits(v.hr, 2).ch(':').digits(v.mn, 2).ch(' ').digits(v.dm, 2).ch(' ').text3(mon);
        w.ch(' ').digits(v.yr, 4).ch(' ').digits(v.jl, 3);
        break;
    case 2:
        w.digits(v.yr % 100, 2).digits(v.mo, 2).digits(v.dm, 2).digits(v.hr, 2).digits(v.mn, 2).digits(v.se, 2);
        break;
    case 3:
        w.digits(v.yr % 100, 2).ch('j').digits(v.jl, 3).digits(v.hr, 2).digits(v.mn, 2).digits(v.se, 2);
        break;
    case 4:
        w.digits(v.hr, 2).ch(':').digits(v.mn, 2).ch(':').digits(v.se, 2).ch(' ').digits(v.dm, 2);
        w.ch(' ').text3(mon).ch(' ').digits(v.yr, 4).ch(' ').digits(v.jl, 3);
        break;
    case 5:
        w.digits(v.yr, 4).ch('-').digits(v.mo, 2).ch('-').digits(v.dm, 2).ch('T');
        w.digits(v.hr, 2).ch(':').digits(v.mn, 2).ch(':').ch('0').ch('0');
        break;
    }
    w.end();
    return true;
}

}  // namespace

char *dtoa(double t, char *buf) {
    static char strg0[kTextSize], strg1[kTextSize];
    static bool alt = false;
    if (!buf) {
        buf = alt ? strg1 : strg0;
        alt = !alt;
    }
    const int layout = dtoa_fmt;
    if (layout < 0 || layout >= ZULU_DTOA_LAYOUTS) return buf;
    datevec v;
    dtov(t, &v);
    if (!write_layout_fast(layout, v, buf)) format_layout(layout, v, buf);
    return buf;
}

int wallclock(void) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (now.tv_sec < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(now.tv_sec);
}
