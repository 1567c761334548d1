// Integer arithmetic of the proleptic Gregorian calendar, on day counts
// from 1970-01-01 (day 0, a Thursday; day -1 is 31 December 1969).
//
// Shared by the date library and the programs built with it; not
// installed.  Every function is constexpr and gives a defined result for
// every value of its argument types: nothing overflows.
#pragma once

#include <array>
#include <cstdint>

namespace calendar {

// The floor of a / b, and the remainder that goes with it (0 <= r < b),
// for a divisor b above 0.  A divisor of 0 or less gives 0 for both.
constexpr int64_t floor_div(int64_t a, int64_t b) { return b > 0 ? a / b - (a % b < 0) : 0; }
constexpr int64_t floor_mod(int64_t a, int64_t b) { return b > 0 ? a % b + (a % b < 0 ? b : 0) : 0; }

// Leap years: divisible by 4 and not by 100, or by 400 (which, among
// multiples of 100, is divisibility by 16).  Bitwise, not logical: no
// branches on an unpredictable year.
template <typename Year>
constexpr bool is_leap(Year year) {
    return ((year & 3) == 0) & ((year % 100 != 0) | ((year & 15) == 0));
}

// Days in the 400 years of a Gregorian era, and from 1 March of year 0 (an
// era's first day) to 1970-01-01.
inline constexpr int64_t kEraDays = 146097;
inline constexpr int64_t kEpochFromEra = 719468;

// Day count of day `day` of month `month` of `year`.  A month outside 1 to
// 12 counts on into the years after or before (month 13 is January of the
// next year, month 0 December of the one before); a day outside the month
// counts on as well (day 0 is the last day of the month before).
constexpr int64_t days_from_civil(int32_t year, int32_t month, int32_t day) {
    const int64_t month0 = int64_t{month} - 1;
    // Years counted from 1 March, so that the leap day ends the year.
    const int64_t from_march = floor_mod(month0 - 2, 12);                    // March 0 to February 11
    const int64_t y = year + floor_div(month0, 12) - (from_march >= 10);
    const int64_t era = floor_div(y, 400);
    const int64_t year_of_era = y - era * 400;                                // 0 to 399
    const int64_t day_of_year = (153 * from_march + 2) / 5;                  // from 1 March
    const int64_t day_of_era = 365 * year_of_era + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * kEraDays + day_of_era - kEpochFromEra + (int64_t{day} - 1);
}

// Day count of 1 January of `year`: 365 days a year from 1970, and the leap
// days before it, counted in unsigned arithmetic from a multiple of 400
// years below every int32_t year, where each quotient is a multiplication.
constexpr int64_t days_before_year(int32_t year) {
    constexpr int64_t kShift = int64_t{400} * 5368710;  // above 2^31
    constexpr auto leap_days = [](int64_t y) {          // in the years kShift to y, y included
        const auto u = static_cast<uint64_t>(y + kShift);
        const uint64_t centuries = u / 100;
        return static_cast<int64_t>(u / 4 - centuries + centuries / 4);
    };
    return 365 * (int64_t{year} - 1970) + leap_days(int64_t{year} - 1) - leap_days(1969);
}

struct Civil {
    int64_t year;
    int month;  // 1 to 12
    int day;    // 1 to 31
    int yday;   // 1 to 366
    int wday;   // 0 (Sunday) to 6
};

// Day counts from about 1.47 million years before 1970 to as many after
// are converted in 32-bit unsigned arithmetic, counted from 1 March of a
// year kNearEras 400-year eras before year 0, where every division by a
// constant is a multiplication.
inline constexpr uint32_t kNearEras = 3674;
inline constexpr uint64_t kNearShift = kNearEras * kEraDays + kEpochFromEra;  // day 0 of the near range
inline constexpr uint64_t kNearDays = uint64_t{1} << 30;                       // so that 4 * day + 3 fits 32 bits
static_assert(kNearShift < kNearDays && kNearDays - kNearShift > 2 * kEraDays);
static_assert(kEraDays % 7 == 0, "an era is whole weeks: the weekdays repeat with the dates");
inline constexpr uint32_t kNearWeekday = (4 + 7 - kNearShift % 7) % 7;  // of day 0 of the near range; 1970-01-01 was a Thursday

// n mod 7 for n below 2^32 / 3, where the quotient by 7 is the product with
// 2^32 / 7 rounded up, shifted: its excess, below 3 in 7 * 2^32 for each
// unit, stays under the 1/7 that the remainder leaves.  Shorter than the
// remainder of any 32-bit number.
constexpr uint32_t mod7(uint32_t n) {
    static_assert(613566757 * uint64_t{7} == (uint64_t{1} << 32) + 3);
    return n - 7 * static_cast<uint32_t>(n * uint64_t{613566757} >> 32);
}

// Weekday of a day of the near range.
constexpr int near_weekday(uint32_t near) {
    static_assert(kNearDays + kNearWeekday < (uint64_t{1} << 32) / 3);
    return static_cast<int>(mod7(near + kNearWeekday));
}

// Month, day of the month and day of the year of each day of a year that
// begins on 1 March, so that the leap day ends it.  March to December are
// days 0 to 305 and have their day of the year as in a common year; January
// and February, days 306 to 365, belong to the next year from 1 January.
struct MarchDay {
    uint8_t month, day;
    uint16_t yday;
};

// Hidden, so that position-independent code reaches it directly.
[[gnu::visibility("hidden")]] inline constexpr auto kMarchDays = [] {
    constexpr int kLengths[12] = {31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 31, 29};  // March to February
    std::array<MarchDay, 366> days{};
    int n = 0;
    for (int m = 0; m < 12; ++m)
        for (int d = 1; d <= kLengths[m]; ++d, ++n)
            days[n] = {static_cast<uint8_t>((m + 2) % 12 + 1), static_cast<uint8_t>(d),
                       static_cast<uint16_t>(n < 306 ? n + 60 : n - 305)};
    return days;
}();
static_assert(kMarchDays[305].month == 12 && kMarchDays[305].yday == 365 && kMarchDays[365].yday == 60);

// Date of a day count, by Neri and Schneider's Euclidean affine functions
// for the year and the day from 1 March, and the table above for the rest.
// A day count further out is moved by whole eras, over which the calendar
// repeats.
constexpr Civil civil_from_days(int64_t days) {
    const uint64_t near = static_cast<uint64_t>(days) + kNearShift;
    if (near >= kNearDays) [[unlikely]] {
        Civil c = civil_from_days(floor_mod(days, kEraDays));
        c.year += 400 * floor_div(days, kEraDays);
        return c;
    }
    constexpr uint32_t kEra = kEraDays;
    const uint32_t n1 = 4 * static_cast<uint32_t>(near) + 3;
    const uint32_t centuries = n1 / kEra;                                     // since 1 March of the first near era
    const uint32_t of_century = n1 % kEra / 4;                                // 0 to 36524
    const uint64_t p2 = uint64_t{2939745} * (4 * of_century + 3);
    const auto year_of_century = static_cast<uint32_t>(p2 >> 32);             // 0 to 99
    const uint32_t day_of_year = static_cast<uint32_t>(p2) / 2939745 / 4;     // 0 to 365, from 1 March
    const bool jan_feb = day_of_year >= 306;
    const MarchDay &date = kMarchDays[day_of_year];
    Civil c{};
    c.year = int64_t{100 * centuries + year_of_century} - int64_t{400} * kNearEras + jan_feb;
    c.month = date.month;
    c.day = date.day;
    // March to December follow the leap day of their year, if it has one.
    // It is a leap year when its number in the century is a multiple of 4;
    // the first year of a century is one when the number of the century is
    // (the eras begin at multiples of 400 years).
    const bool leap = (year_of_century != 0 ? year_of_century : centuries) % 4 == 0;
    c.yday = date.yday + (leap & !jan_feb);
    c.wday = near_weekday(static_cast<uint32_t>(near));
    return c;
}

// Weekday of a day count, 0 = Sunday.
constexpr int weekday(int64_t days) {
    const uint64_t near = static_cast<uint64_t>(days) + kNearShift;
    if (near >= kNearDays) [[unlikely]]
        return static_cast<int>((floor_mod(days, 7) + 4) % 7);
    return near_weekday(static_cast<uint32_t>(near));
}

static_assert(days_from_civil(1970, 1, 1) == 0 && days_from_civil(1969, 12, 31) == -1);
static_assert(days_before_year(1970) == 0 && days_before_year(1969) == -365 && days_before_year(2001) == 11323);
static_assert(days_from_civil(2000, 2, 29) == 11016 && days_from_civil(1984, 13, 1) == days_from_civil(1985, 1, 1));
static_assert(civil_from_days(11016).month == 2 && civil_from_days(11016).day == 29);
static_assert(civil_from_days(-1).year == 1969 && civil_from_days(-1).yday == 365);
static_assert(weekday(0) == 4 && weekday(-1) == 3);

}  // namespace calendar
