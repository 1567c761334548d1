// julstamp DATE: prints the year and day of the year of a date, read from
// fixed character positions of DATE (2-3 year, 5-6 month, 8-9 day), as
// "YYYY.DDD" with no line end.

#include <cctype>
#include <cstdio>
#include <cstring>

#include "date.h"
#include "output.h"

namespace {

constexpr const char *kUsage = "usage: julstamp DATE\n"
                               "  DATE is read by position: characters 2-3 are the year within the century\n"
                               "  (00-49 is 20YY, 50-99 is 19YY), 5-6 the month (00-13), 8-9 the day, as in\n"
                               "  2015-06-23.  Prints the year and day of the year, as 2015.174, with no\n"
                               "  line end.\n"
                               "  -h, --help  show this help and exit\n"
                               "  --version   show the version and exit\n";

constexpr int kDigitPositions[6] = {2, 3, 5, 6, 8, 9};

bool readable(const char *arg) {
    if (std::strlen(arg) < 10) return false;
    for (int pos : kDigitPositions)
        if (!std::isdigit(static_cast<unsigned char>(arg[pos]))) return false;
    return true;
}

int usage_error(const char *why) {
    if (why) std::fprintf(stderr, "julstamp: %s\n", why);
    std::fputs(kUsage, stderr);
    return 2;
}

// Prints what the command line asks for; returns the exit status.
int run(int argc, char **argv) {
    if (argc < 2) return usage_error(nullptr);
    if (argc > 2) return usage_error("too many arguments");
    const char *arg = argv[1];
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
        std::puts("julstamp " ZULU_VERSION);
        return 0;
    }
    if (!readable(arg)) {
        std::fprintf(stderr, "julstamp: cannot read a date from \"%s\": need digits at positions 2-3, 5-6 and 8-9, as in 2015-06-23\n",
                     arg);
        return 2;
    }
    // The date library counts month 13 as January of the next year; a
    // month beyond it is a mistake, not a date.
    if (const int month = (arg[5] - '0') * 10 + (arg[6] - '0'); month > 13) {
        std::fprintf(stderr, "julstamp: month %02d of \"%s\" is not from 00 to 13\n", month, arg);
        return 2;
    }
    const char compact[7] = {arg[2], arg[3], arg[5], arg[6], arg[8], arg[9], '\0'};
    datevec v;
    dtov(atod(compact), &v);
    std::printf("%4d.%03d", v.yr, v.jl);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const int status = run(argc, argv);
    return close_stdout("julstamp") != 0 ? 1 : status;
}
