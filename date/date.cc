// The date and time library: calendar tables, the zone and daylight rule,
// conversion between times and records, and between text and times.
//
// The calendar is computed in closed form on 64-bit day counts (calendar.h),
// so every conversion takes the same few steps whatever the year, and no
// field of a record, however wild, can overflow the arithmetic.

#include "date.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "calendar.h"

#ifndef ZULU_DTOA_LAYOUTS
#define ZULU_DTOA_LAYOUTS 6  // layouts 0 to 5
#endif

int zone = 0;
int dtoa_fmt = 0;

namespace {

using calendar::days_before_year;
using calendar::days_from_civil;
using calendar::is_leap;

// Month lengths, February's in a common year.
constexpr int montab[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

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

// The names dtoa writes are all three letters long.
template <size_t N>
constexpr bool three_letters(const char *const (&names)[N]) {
    for (const char *name : names)
        if (std::char_traits<char>::length(name) != 3) return false;
    return true;
}
static_assert(three_letters(dname) && three_letters(mname) && three_letters(zname) && three_letters(znamd));

// Limit days of the daylight changeovers: ordinary years, 1974, 1975.
constexpr int dtab0[3] = {120, 6, 59};
constexpr int dtab1[3] = {304, 334, 304};

constexpr int kSecondsPerDay = 86400;

// Days of a common year before the first of each month.
constexpr auto kDaysBeforeMonth = [] {
    std::array<int, 13> before{};
    for (int mo = 2; mo <= 12; ++mo) before[mo] = before[mo - 1] + montab[mo - 1];
    return before;
}();
static_assert(kDaysBeforeMonth[12] == 334);

// Day of the year of month mo, day dm of year yr, where a month above 12
// counts on into the following years and a month of 1 or less adds none.
inline int64_t day_of_year(int32_t yr, int32_t mo, int32_t dm) {
    if (mo <= 12) return kDaysBeforeMonth[mo > 1 ? mo : 1] + (mo > 2 && is_leap(yr)) + int64_t{dm};
    return days_from_civil(yr, mo, dm) - days_before_year(yr) + 1;
}

int32_t saturate32(int64_t x) {
    if (x > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (x < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(x);
}

// Local times whose year fits an int32_t: [kFirstTime, kEndTime).  Both are
// multiples of 128 below 2^57 and so exact doubles.
constexpr double kFirstTime =
    static_cast<double>(days_before_year(std::numeric_limits<int32_t>::min())) * kSecondsPerDay;
constexpr double kEndTime =
    static_cast<double>(days_from_civil(std::numeric_limits<int32_t>::max(), 13, 1)) * kSecondsPerDay;

// A local time split into its day count, the whole seconds into that day
// and the fraction of that second.
struct DaySplit {
    int64_t days;
    uint32_t second;  // 0 to 86399
    double fraction;  // 0 <= fraction < 1
};

// Splits t, a time of a representable year, into whole days (the floor of
// t / 86400) and the seconds into that day, t − 86400 × days rounded to a
// double.  The whole seconds, t truncated, and the fraction t − whole are
// exact, and so is their sum once the day is taken off; rounded, it is the
// seconds of the day.  A time a hair before midnight whose seconds round up
// to the whole day is the following midnight, not hour 24.
DaySplit split_day_rounded(double t) {
    const auto whole = static_cast<int64_t>(t);
    const double fraction = t - static_cast<double>(whole);
    int64_t days = calendar::floor_div(whole - (fraction < 0), kSecondsPerDay);
    double seconds = static_cast<double>(whole - days * kSecondsPerDay) + fraction;
    if (seconds >= kSecondsPerDay) {
        ++days;
        seconds = 0;
    }
    const auto second = static_cast<uint32_t>(seconds);
    return {days, second, seconds - second};
}

// The split of a time whose whole seconds, truncated toward zero, fall on
// `second` of day `days`, with `fraction` (exact, of either sign) after
// them: a negative fraction, before 1970, takes a second off.
inline DaySplit borrow_second(int64_t days, uint32_t second, double fraction) {
    if (fraction < 0) {
        if (second == 0) {
            second = kSecondsPerDay;
            --days;
        }
        --second;
        fraction += 1;
    }
    return {days, second, fraction};
}

// As split_day_rounded, false when t is not a time of a representable year
// (NaN and infinities included).  From 2^17 s on either side of 1970 the
// last digit of t lies no further right than that of a time of day (below
// 2^17 s), so the seconds of the day need no rounding: t is split into its
// whole seconds and their fraction, both exact, and the days and the time
// of day are integer arithmetic, unsigned from a day 2^40 days before 1970
// (before every representable time), where dividing by a constant is a
// multiplication.
inline bool split_day(double t, DaySplit &out) {
    if (!(t >= kFirstTime && t < kEndTime)) return false;
    const auto whole = static_cast<int64_t>(t);  // toward zero
    if (whole > -0x20000 && whole < 0x20000) {
        out = split_day_rounded(t);
        return true;
    }
    constexpr uint64_t kShiftDays = uint64_t{1} << 40;
    static_assert(kFirstTime > -static_cast<double>(kShiftDays * kSecondsPerDay));
    const uint64_t shifted = static_cast<uint64_t>(whole) + kShiftDays * kSecondsPerDay;
    int64_t days = static_cast<int64_t>(shifted / kSecondsPerDay - kShiftDays);
    auto second = static_cast<uint32_t>(shifted % kSecondsPerDay);
    out = borrow_second(days, second, t - static_cast<double>(whole));
    return true;
}

// As split_day for the times from 2^17 s to 2^37 s (about 4355 years) on
// either side of 1970, false for every other.  Shifted by 2^21 days, their
// whole seconds are below 2^39, so that the shifted days are the quotient
// of a 32-bit number, the seconds without their last 7 bits, by 675.
inline bool split_day_near(double t, DaySplit &out) {
    const double magnitude = std::fabs(t);
    if (!(magnitude >= 0x1p17 && magnitude < 0x1p37)) return false;
    const auto whole = static_cast<int64_t>(t);  // toward zero
    constexpr int64_t kShiftDays = int64_t{1} << 21;
    static_assert(kShiftDays * kSecondsPerDay > (int64_t{1} << 37) &&
                  kShiftDays * kSecondsPerDay + (int64_t{1} << 37) <= (int64_t{1} << 39) && kSecondsPerDay % 128 == 0);
    const auto shifted = static_cast<uint64_t>(whole + kShiftDays * kSecondsPerDay);
    const uint32_t shifted_days = static_cast<uint32_t>(shifted >> 7) / (kSecondsPerDay >> 7);
    auto second = static_cast<uint32_t>(shifted - uint64_t{shifted_days} * kSecondsPerDay);
    int64_t days = int64_t{shifted_days} - kShiftDays;
    out = borrow_second(days, second, t - static_cast<double>(whole));
    return true;
}

// Every routine below that depends on the zone takes it as `z`: the
// exported ones pass the process-wide setting, their reentrant forms
// their caller's.
int zone_index(int z) {
    if (z == 0) return 1;
    if (z >= -11 && z <= -5) return -3 - z;
    return 0;
}

// The daylight rule (daylit), for the library's own callers: inline, where
// a call of the exported routine would go through the symbol table.
inline int daylight_rule(const datevec *v, int z) {
    if (z == 0) return 0;
    const int row = v->yr == 1974 ? 1 : v->yr == 1975 ? 2 : 0;
    // In a leap year a limit day after 28 February moves one day on.  The
    // tests below are bitwise, not logical: a date's season and year are
    // unpredictable branches.
    const bool leap = is_leap(v->yr);
    const uint32_t begin = dtab0[row] + (leap & (dtab0[row] > 58));
    const uint32_t end = dtab1[row] + (leap & (dtab1[row] > 58));
    // The Sunday on or before a limit day, located from the record's
    // weekday: day jl falls on weekday dw, so day 0 on (dw - jl) mod 7.
    const auto day0_weekday = static_cast<uint32_t>(calendar::floor_mod(int64_t{v->dw} - v->jl, 7));
    const auto sunday_before = [=](uint32_t limit) { return int64_t{limit} - calendar::mod7(day0_weekday + limit); };
    const int64_t sb = sunday_before(begin), se = sunday_before(end);
    // Daylight time from hour 2 of the begin Sunday to hour 1 of the end one.
    const bool begun = (v->jl > sb) | ((v->jl == sb) & (v->hr >= 2));
    const bool ended = (v->jl > se) | ((v->jl == se) & (v->hr >= 1));
    return begun & !ended;
}

// The zone name (znam), for the library's own callers.
// The two tables are chosen by index, not by a branch on the daylight
// decision, which follows the season and so is unpredictable.
inline const char *zone_name(const datevec *v, int z) {
    constexpr const char *const *kNames[2] = {zname, znamd};
    return kNames[daylight_rule(v, z)][zone_index(z)];
}

// Seconds since 1970 of a local record on day count `days` (taken apart
// from the record so that a day of the year that does not fit an int32_t
// counts whole).  GMT has neither a daylight hour nor an offset to take off.
inline double record_time(const datevec *v, int64_t days, int z) {
    const double of_day = v->mi / 1000.0 + v->se + 60.0 * v->mn + 3600.0 * v->hr;
    double t = static_cast<double>(days) * kSecondsPerDay + of_day;
    if (z != 0) {
        t -= 3600.0 * daylight_rule(v, z);
        t -= 3600.0 * z;
    }
    return t;
}

// Whether a local standard time is daylight time: daylit asked with a
// record of its year, day of the year, weekday and hour.
bool is_daylight_time(const calendar::Civil &c, const DaySplit &standard, int z) {
    datevec probe{};
    probe.yr = static_cast<int32_t>(c.year);  // split_day keeps it in range
    probe.jl = c.yday;
    probe.dw = c.wday;
    probe.hr = static_cast<int32_t>(standard.second / 3600);
    return daylight_rule(&probe, z) != 0;
}

// Whether the split of local + 3600 is that of local with 3600 more seconds:
// when the integer path of split_day took local and the sum is exact (then
// both splits hold the same fraction).  Where not, split_day must take the
// sum itself.
bool hour_adds_exactly(double local) {
    const double later = local + 3600;
    const auto whole = static_cast<int64_t>(local);
    return !(whole > -0x20000 && whole < 0x20000) && later - local == 3600 && later < kEndTime;
}

// Writes the record of a local clock time from its date and its split.
inline void put_record(datevec *v, const calendar::Civil &c, const DaySplit &split) {
    v->yr = static_cast<int32_t>(c.year);
    v->jl = c.yday;
    v->mo = c.month;
    v->dm = c.day;
    v->dw = c.wday;
    const uint32_t minutes = split.second / 60;
    v->hr = static_cast<int32_t>(minutes / 60);
    v->mn = static_cast<int32_t>(minutes % 60);
    v->se = static_cast<int32_t>(split.second % 60);
    v->mi = static_cast<int32_t>(split.fraction * 1000);
}

// dtov for a zone, with its daylight hour, for the times near 1970 and for
// those out of range; out of line, so that the common case of dtov, GMT
// far enough from 1970, is short.
[[gnu::noinline]] datevec *dtov_general(double t, datevec *v, int z) {
    const double local = z == 0 ? t : t + 3600.0 * z;
    DaySplit split;
    if (!split_day(local, split)) {
        *v = datevec{};
        return v;
    }
    calendar::Civil c = calendar::civil_from_days(split.days);
    // Daylight time is decided on the standard-time record, then applied;
    // where the hour adds exactly, by arithmetic rather than a branch on
    // the decision, which follows the season and so is unpredictable.
    if (z != 0) {
        const bool daylight = is_daylight_time(c, split, z);
        if (hour_adds_exactly(local)) {
            split.second += 3600 * daylight;
            if (split.second >= kSecondsPerDay) {
                split.second -= kSecondsPerDay;
                c = calendar::civil_from_days(++split.days);
            }
        } else if (daylight) {
            const int64_t standard_day = split.days;
            if (!split_day(local + 3600, split)) {
                *v = datevec{};
                return v;
            }
            if (split.days != standard_day) c = calendar::civil_from_days(split.days);
        }
    }
    put_record(v, c, split);
    return v;
}

// Value of a text character in a digit position: its code minus that of '0'.
int digit(char c) { return static_cast<unsigned char>(c) - '0'; }

// Value of the pair of characters at p, in the same way.
int32_t pair(const char *p) { return 10 * digit(p[0]) + digit(p[1]); }

}  // namespace

int ysize(int yr) { return is_leap(yr) ? 366 : 365; }

int msize(int mo, int yr) {
    if (mo < 0 || mo > 12) return 0;
    return montab[mo] + (mo == 2 && is_leap(yr));
}

const char *dw_name(int dw) { return dname[calendar::floor_mod(dw, 7)]; }
const char *Dw_name(int dw) { return Dname[calendar::floor_mod(dw, 7)]; }
const char *mo_name(int mo) { return mo >= 0 && mo <= 12 ? mname[mo] : mname[0]; }
const char *Mo_name(int mo) { return mo >= 0 && mo <= 12 ? Mname[mo] : Mname[0]; }

void d_dump(const datevec *v) {
    std::puts("   yr    jl    mo    dm    dw    hr    mn    se    mi");
    std::printf("%5d %5d %5d %5d %5d %5d %5d %5d %5d\n", v->yr, v->jl, v->mo, v->dm, v->dw, v->hr, v->mn, v->se,
                v->mi);
}

int daylit(const datevec *v) { return daylight_rule(v, zone); }

const char *znam(const datevec *v) { return zone_name(v, zone); }

double vtod_r(datevec *v, int z) {
    int64_t jl = v->jl;
    if (jl == 0) {
        jl = day_of_year(v->yr, v->mo, v->dm);
        v->jl = saturate32(jl);
    }
    return record_time(v, days_before_year(v->yr) + jl - 1, z);
}

double vtod(datevec *v) { return vtod_r(v, zone); }

datevec *dtov_r(double t, datevec *v, int z) {
    DaySplit split;
    if (z != 0 || !split_day_near(t, split)) return dtov_general(t, v, z);
    put_record(v, calendar::civil_from_days(split.days), split);
    return v;
}

datevec *dtov(double t, datevec *v) { return dtov_r(t, v, zone); }

double atod(const char *s) { return atod_r(s, zone); }

double atod_r(const char *s, int z) {
    if (!s) s = "";
    const size_t len = std::strlen(s);
    const char *point = std::strrchr(s, '.');
    const size_t date_len = point ? static_cast<size_t>(point - s) : len;
    const bool four_digit = date_len == 14;

    // The pairs of digits of the date part: the century in the four-digit
    // forms, then year of the century, month, day, hour, minute, second.
    // Pairs the text does not reach are 0, and pairs beyond them are not
    // read.  The second character of a last odd pair is the point or the
    // terminator, both inside the text.
    const int32_t century = four_digit ? pair(s) : 19;
    const char *pairs = four_digit ? s + 2 : s;
    const size_t count = four_digit ? 6 : std::min<size_t>((date_len + 1) / 2, 6);
    int32_t value[6] = {};
    for (size_t k = 0; k < count; ++k) value[k] = pair(pairs + 2 * k);

    datevec v{};
    const int32_t yy = value[0];
    v.yr = yy <= 49 ? 2000 + yy : 100 * century + yy;
    v.mo = value[1];
    v.dm = value[2];
    v.hr = value[3];
    v.mn = value[4];
    v.se = value[5];
    // Milliseconds: the first three digits after the point weigh 100, 10
    // and 1; any further ones nothing.
    if (point) {
        constexpr int kWeight[3] = {100, 10, 1};
        for (int k = 0; k < 3 && point[k + 1]; ++k) v.mi += digit(point[k + 1]) * kWeight[k];
    }

    // The day of the year from the text's day form, or from the month and
    // the day of the month (as vtod fills a day 0).
    const size_t j_pos = four_digit ? 4 : 2;
    int64_t jl = len > j_pos && s[j_pos] == 'j' ? 100 * digit(s[j_pos + 1]) + v.dm : 0;
    if (jl == 0) jl = day_of_year(v.yr, v.mo, v.dm);
    const int64_t days = days_before_year(v.yr) + jl - 1;
    if (z != 0) {  // the daylight rule reads the day of the year and the weekday, which no text names
        v.jl = static_cast<int32_t>(jl);
        v.dw = calendar::weekday(days);
    }
    return record_time(&v, days, z);
}

namespace {

// The layouts of dtoa.  Text stands for itself; "%" and a letter stand for
// a field of the record (see put_field): %a and %b the names of the weekday
// and the month, %Z the zone, %Y the year, %y the year of its century, %j
// the day of the year, %m %d %H %M %S month, day, hour, minute and second,
// and %f the milliseconds as ".mmm" where there are any.
constexpr const char *kLayouts[] = {
    "%a %b %d %H:%M:%S%f %Z %Y %j",
    "%H:%M %d %b %Y %j",
    "%y%m%d%H%M%S",
    "%yj%j%H%M%S",
    "%H:%M:%S %d %b %Y %j",
    "%Y-%m-%dT%H:%M:00",
};
static_assert(ZULU_DTOA_LAYOUTS <= std::size(kLayouts));

constexpr bool fields_known(std::string_view layout) {
    constexpr std::string_view kLetters = "abZYyjmdHMSf";
    for (size_t i = 0; i < layout.size(); ++i)
        if (layout[i] == '%' && (++i == layout.size() || kLetters.find(layout[i]) == std::string_view::npos))
            return false;
    return true;
}
static_assert([] {
    for (const char *layout : kLayouts)
        if (!fields_known(layout)) return false;
    return true;
}());

constexpr int kTextSize = 40;  // the buffers dtoa writes, its own and its callers'

// The part of a buffer of kTextSize characters still to be written: from
// p up to end, where the terminating NUL goes.  What does not fit is
// dropped, as snprintf drops it.  Passed and returned by value, so that
// the position stays in a register.
struct Text {
    char *p;
    char *end;
};

Text put(Text t, char c) {
    if (t.p < t.end) *t.p++ = c;
    return t;
}

// printf's "%0Wd": at least W characters, zeros after any minus sign.
template <int W>
[[gnu::always_inline]] inline Text put_number(Text t, int32_t value) {
    static_assert(W >= 2 && W <= 4);
    constexpr int32_t kLimit = W == 2 ? 100 : W == 3 ? 1000 : 10000;  // 10^W
    if (value >= 0 && value < kLimit && t.end - t.p >= W) {  // the common case, W digits
        for (int i = W - 1; i >= 0; --i, value /= 10) t.p[i] = static_cast<char>('0' + value % 10);
        t.p += W;
        return t;
    }
    char digits[10];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int width = W;
    if (value < 0) {
        t = put(t, '-');
        --width;
    }
    for (int i = n; i < width; ++i) t = put(t, '0');
    while (n > 0) t = put(t, digits[--n]);
    return t;
}

// A name of three letters, which printf's "%3s" writes as it is.
Text put_name(Text t, const char *name) { return put(put(put(t, name[0]), name[1]), name[2]); }

// Writes the field a layout letter stands for, as printf's "%3s" of the
// names, "%04d" of the year, "%03d" of the day of the year and "%02d" of
// the rest would.
[[gnu::always_inline]] inline Text put_field(Text t, char letter, const datevec &v, int z) {
    switch (letter) {
    case 'a': return put_name(t, dw_name(v.dw));
    case 'b': return put_name(t, mo_name(v.mo));
    case 'Z': return put_name(t, zone_name(&v, z));
    case 'Y': return put_number<4>(t, v.yr);
    case 'y': return put_number<2>(t, v.yr % 100);
    case 'j': return put_number<3>(t, v.jl);
    case 'm': return put_number<2>(t, v.mo);
    case 'd': return put_number<2>(t, v.dm);
    case 'H': return put_number<2>(t, v.hr);
    case 'M': return put_number<2>(t, v.mn);
    case 'S': return put_number<2>(t, v.se);
    case 'f': return v.mi != 0 ? put_number<3>(put(t, '.'), v.mi) : t;  // milliseconds, where there are any
    }
    return t;
}

// The text of layout L from its character I on; as the layout is a
// constant, each layout becomes straight-line code.
template <int L, size_t I = 0>
[[gnu::always_inline]] inline Text put_layout(Text t, const datevec &v, int z) {
    constexpr std::string_view layout = kLayouts[L];
    if constexpr (I == layout.size())
        return t;
    else if constexpr (layout[I] == '%')
        return put_layout<L, I + 2>(put_field(t, layout[I + 1], v, z), v, z);
    else
        return put_layout<L, I + 1>(put(t, layout[I]), v, z);
}

template <int L>
void write_layout(const datevec &v, char *buf, int z) {
    *put_layout<L>(Text{buf, buf + kTextSize - 1}, v, z).p = '\0';
}

// The writers of the layouts, by number.
template <size_t... L>
constexpr auto layout_writers(std::index_sequence<L...>) {
    return std::array<void (*)(const datevec &, char *, int), sizeof...(L)>{&write_layout<L>...};
}
constexpr auto kLayoutWriters = layout_writers(std::make_index_sequence<ZULU_DTOA_LAYOUTS>());

}  // namespace

char *dtoa_r(double t, char *buf, int layout, int z) {
    if (!buf || layout < 0 || layout >= ZULU_DTOA_LAYOUTS) return buf;
    datevec v;
    dtov_r(t, &v, z);
    kLayoutWriters[static_cast<size_t>(layout)](v, buf, z);
    return buf;
}

char *dtoa(double t, char *buf) {
    static char strg0[kTextSize], strg1[kTextSize];
    static bool alt = false;
    if (!buf) {
        buf = alt ? strg1 : strg0;
        alt = !alt;
    }
    return dtoa_r(t, buf, dtoa_fmt, zone);
}

int wallclock(void) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (now.tv_sec < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(now.tv_sec);
}
