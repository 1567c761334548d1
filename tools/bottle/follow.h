// Following bottles from the command line (dump --follow, plot --follow):
// the option, the signals that end a follow, what the command says when a
// followed file is replaced, and lengths of time such as "10min".
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

#include "command.h"
#include "live.h"

namespace bottletool {

inline constexpr Option kFollow{
    .name = "follow",
    .alias = 'f',
    .value = "HOW",
    .help = "after the samples there are, wait for more and go on as the writer flushes them, until "
            "interrupted; when a file takes the name of FILE, stop (HOW: descriptor, the default) or go on "
            "with it (HOW: name)",
    .value_optional = true};

// The mode --follow asks for, or nothing when it is not given.
std::optional<Follower::Mode> follow_mode(const Args &args);

// From construction to destruction SIGINT and SIGTERM end a follow instead
// of the program: the signal is noted, and fd() becomes readable, for
// waits to end on.  One at a time.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    int fd() const;
    bool raised() const;
    // Waits for `span` unless a signal comes first; whether one came.
    bool wait(std::chrono::milliseconds span) const;
};

// After Follower::look() said that the file was replaced or rewritten:
// says so on standard error for `command` and, following by name, waits
// for a bottle under the name and follows it (true) unless stopped first
// (false).  Following by descriptor, false: the follow ends.  A Failure
// when the name comes to hold a file that is not a bottle.
bool follow_on(std::string_view command, Follower &follower, Follower::Event event, const StopSignals &stop);

// A length of time as --window and --every take it: a number of seconds,
// or a number followed by s, min, h or d ("10min", "1.5h").  A usage error
// naming the option unless positive and finite.
double read_duration(std::string_view option, std::string_view text);

}  // namespace bottletool
