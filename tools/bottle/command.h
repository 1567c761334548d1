// The command line of the bottle program: failures that end a command, and
// the options each subcommand takes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bottletool {

// Exit statuses: a failure of the work itself (a file that cannot be read
// or written, bad input data) and a command line that cannot be used.
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Ends the running subcommand; main prints "bottle CMD: what()" on
// standard error and exits with `status`.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string &what, int status = kFailed) : std::runtime_error(what), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// A command line the subcommand cannot use; main adds a pointer to --help.
class UsageError : public Failure {
public:
    explicit UsageError(const std::string &what) : Failure(what, kUsage) {}
};

// One option a subcommand accepts: its long name ("from" for --from), an
// optional one-letter alias, and whether a value follows it.
struct OptionSpec {
    std::string_view name;
    char alias = 0;
    bool takes_value = false;
};

// A parsed command line: option values by long name (flags map to "") and
// the operands in order.  "--opt VALUE", "--opt=VALUE" and "-o VALUE" are
// accepted; "--" ends the options.
class Args {
public:
    Args(const std::vector<std::string> &words, const std::vector<OptionSpec> &options);

    bool has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
    std::optional<std::string> value(std::string_view name) const;
    const std::vector<std::string> &operands() const { return operands_; }

    // The operands, checked to number from `min` to `max`.
    const std::vector<std::string> &operands(std::size_t min, std::size_t max) const;

private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
};

// True when the words ask for help (-h or --help anywhere before "--").
bool wants_help(const std::vector<std::string> &words);

// A whole number from an option value, within [min, max]; a usage error
// naming the option otherwise.
std::int64_t read_count(std::string_view option, std::string_view text, std::int64_t min, std::int64_t max);

// Standard input, output and error closed when the program started are
// held open on /dev/null by main, which notes them here.  A command that
// needs one of them calls need_standard_stream before it touches any file:
// a Failure when that stream was closed.
void note_closed_at_start(int fd);
void need_standard_stream(int fd);

// Text in double quotes, for messages.
std::string quoted(std::string_view text);

// Text as one CSV field: as it is, or in double quotes (inner ones
// doubled) when it holds a comma, a double quote or a line break.
std::string csv_field(std::string_view text);

// Standard output and standard error carry the library's printed messages
// and the program's own: flush standard output before writing a message so
// the two streams keep their order on a shared terminal.
void report(std::string_view command, std::string_view message);

}  // namespace bottletool
