// Times as the archive tools read and write them: the date library's
// compact forms (local time of a zone, GMT unless told otherwise), ISO 8601
// and seconds since 1970.  Nothing here reads the global `zone`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zulu::timetext {

// Text in double quotes, for messages.
std::string quoted(std::string_view text);

// The accepted forms of a TIME, for messages and help texts.
extern const char kTimeForms[];

// What is wrong with a text that names no time.
struct TimeProblem {
    std::string what;   // such as "month 13 does not exist"
    bool form = false;  // the text is in none of the accepted forms
};

// The time a text names, or nothing when it is in none of the accepted
// forms or names a time that does not exist, such as month 13 (what is
// wrong then goes to `problem`, when given):
//  - the date library's compact forms, read by atod: YY[MM[DD[hh[mm[ss]]]]],
//    CCYYMMDDhhmmss, YYjDDD[hh[mm[ss]]], CCYYjDDDhhmmss, each with an
//    optional ".fraction"; four-digit years only from 1950 to 2049, the
//    years atod reads as written;
//  - ISO 8601 dates and times, YYYY-MM-DD[(T| )hh[:mm[:ss[.f]]][Z|+hh:mm]];
//  - "@" and a number of seconds since 1970-01-01 00:00:00 GMT.
//  The compact forms are read as local time of `zone` (hours east of
//  Greenwich, as the date library's zone), the others carry their own.
std::optional<double> parse_time(std::string_view text, TimeProblem *problem = nullptr, int zone = 0);

// The most characters write_iso_time and write_epoch_time produce.
inline constexpr std::size_t kMaxTimeChars = 40;

// Times from this distance of 1970 on (about 285 million years), and times
// that are not finite, are written as "@SECONDS" rather than in ISO 8601;
// nearer ones have years of at most nine digits, which parse_time reads.
inline constexpr double kIsoTimeLimit = 9.0e15;

// Writes times as ISO 8601 in GMT with milliseconds, rounded to the
// nearest millisecond (halves upward): "2015-06-23T12:34:56.500Z".  Years
// outside 0 to 9999 get a sign and at least four digits
// ("+12345-01-01T...").  Times beyond kIsoTimeLimit are written as
// "@SECONDS".  The text of the last second written is kept, so the times
// of one second cost only their milliseconds.
class IsoTimeWriter {
public:
    // Writes at most kMaxTimeChars characters at out, and may change the
    // characters after them up to out + kMaxTimeChars; returns the end.
    char *write(char *out, double t);
    // The same for a time in whole milliseconds since 1970.
    char *write_milliseconds(char *out, std::int64_t ms);

private:
    char *write_parts(char *out, std::int64_t second, int milli);
    void set_second(std::int64_t second);

    std::int64_t day_ = INT64_MIN;     // day whose date_ is held
    char date_[20] = {};               // "YYYY-MM-DDT"
    std::size_t date_len_ = 0;
    std::int64_t second_ = INT64_MIN;  // second whose prefix_ is held
    char prefix_[32] = {};             // "YYYY-MM-DDThh:mm:ss."
    std::size_t prefix_len_ = 0;
};

// Writes the shortest number that reads back as exactly t (at most
// kMaxTimeChars - 1 characters); returns the end.
char *write_epoch_time(char *out, double t);

std::string iso_time(double t);
std::string iso_time_ms(std::int64_t ms);

}  // namespace zulu::timetext
