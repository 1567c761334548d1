// How the archive operations fail, and the pieces of their messages.
#pragma once

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "timetext.h"

namespace zulu::archive {

// Exit statuses of the jobs: a failure of the work itself (a file that
// cannot be read or written, bad input data) and a request that cannot be
// carried out as made (a usage error of the command).
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Ends the job; what() says what went wrong (empty when a message has
// already been given), status() is the exit status it stands for.
class Failure : public std::runtime_error {
public:
    // `error_number`: the errno value of the system call that failed, or 0;
    // `not_bottle`: the file is not a usable bottle.
    explicit Failure(const std::string &what, int status = kFailed, std::string library_line = "",
                     int error_number = 0, bool not_bottle = false)
        : Failure(what, "", status, std::move(library_line), error_number, not_bottle) {}
    // A Failure whose what() ends with a hint on the command's options
    // (" (--force replaces it)"), which message() leaves out.
    static Failure hinted(const std::string &message, const std::string &hint, int error_number = 0) {
        return Failure(message, hint, kFailed, "", error_number, false);
    }
    // what() without the hint on the command's options, for callers that
    // have other ways to say it, as the Python package does.
    const std::string &message() const { return message_; }
    int status() const { return status_; }
    // The line the C interface prints for the same failure ("bopen:  ...\n"),
    // which the command shows before its own message; may be empty.
    const std::string &library_line() const { return library_line_; }
    // For callers that raise exceptions by kind, as the Python package does.
    int error_number() const { return error_number_; }
    bool not_bottle() const { return not_bottle_; }

private:
    Failure(const std::string &message, const std::string &hint, int status, std::string library_line,
            int error_number, bool not_bottle)
        : std::runtime_error(message + hint), message_(message), status_(status),
          library_line_(std::move(library_line)), error_number_(error_number), not_bottle_(not_bottle) {}

    std::string message_;
    int status_;
    std::string library_line_;
    int error_number_ = 0;
    bool not_bottle_ = false;
};

// A system call that failed with `error_number`: "WHAT: REASON", the
// system's words for it, carrying the number.
inline Failure system_failure(const std::string &what, int error_number) {
    return Failure(what + ": " + std::strerror(error_number), kFailed, "", error_number);
}
// The same for the call that failed last (errno).
inline Failure system_failure(const std::string &what) { return system_failure(what, errno); }

using zulu::timetext::quoted;

// Text as one CSV field: as it is, or in double quotes (inner ones
// doubled) when it holds a comma, a double quote or a line break.
std::string csv_field(std::string_view text);

}  // namespace zulu::archive
