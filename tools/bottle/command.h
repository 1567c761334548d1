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

#include "failure.h"
#include "files.h"
#include "timetext.h"

namespace bottletool {

using namespace zulu::archive;
using namespace zulu::timetext;

using zulu::archive::Failure;
using zulu::archive::kFailed;
using zulu::archive::kUsage;
using zulu::archive::quoted;
using zulu::archive::csv_field;

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

// Standard output and standard error carry the library's printed messages
// and the program's own: flush standard output before writing a message so
// the two streams keep their order on a shared terminal.
void report(std::string_view command, std::string_view message);

// parse_time, or a usage error naming the option and what is wrong (with
// the accepted forms when the text is in none of them).
double read_time(std::string_view option, std::string_view text);

// The times of --from and --to, each where given; a usage error when
// --from is later than --to.
struct TimeRange {
    std::optional<double> from, to;
};
TimeRange read_time_range(const Args &args);

// Sends what the program prints on standard output (the library's
// messages and traces included) to standard error from construction on,
// and keeps the original standard output as data_fd() for the command's
// own output.  Restored on destruction.
class StdoutToStderr {
public:
    StdoutToStderr();
    ~StdoutToStderr();
    StdoutToStderr(const StdoutToStderr &) = delete;
    StdoutToStderr &operator=(const StdoutToStderr &) = delete;

    int data_fd() const { return saved_; }

private:
    int saved_;
};

}  // namespace bottletool
