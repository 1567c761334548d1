// The command line of the bottle program: failures that end a command, and
// the options each subcommand takes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "failure.h"
#include "files.h"
#include "series.h"
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

// The whole numbers an option accepts, least to most; shown in --help as
// ", LEAST to MOST" after the option's help when `shown`.
struct Bounds {
    std::int64_t least = 0, most = -1;  // none when most < least
    bool shown = false;
};

// One option of a subcommand, as its command line takes it and its --help
// lists it: the long name ("from" for --from), an optional one-letter
// alias, the name of its value (empty for a flag), its help, and the
// default that --help names ("(default: X)").  A subcommand's code names
// its options by these rows, never by their text.
struct Option {
    std::string_view name = {};
    char alias = 0;
    std::string_view value = {};
    std::string_view help = {};
    std::string_view fallback = {};
    Bounds bounds = {};
    // The value is optional: "--name" alone, or "--name=VALUE" (never the
    // next word), shown in --help as "--name[=VALUE]".
    bool value_optional = false;
};

using Options = std::span<const Option *const>;

// A parsed command line: the value of each option given (flags, and
// options whose optional value is not given, have "") and the operands in
// order.  "--opt VALUE", "--opt=VALUE" and "-o VALUE" are accepted; "--"
// ends the options.  Asking for an option that is not
// one of the rows parsed from is a fault in the program (std::logic_error).
class Args {
public:
    Args(const std::vector<std::string> &words, Options options);

    bool has(const Option &option) const { return find(option) != nullptr; }
    std::optional<std::string> value(const Option &option) const;
    // The value read as a whole number within the option's bounds (a usage
    // error otherwise); the row's default when the option is not given and
    // the row has one.
    std::optional<std::int64_t> count(const Option &option) const;
    const std::vector<std::string> &operands() const { return operands_; }

    // The operands, checked to number from `min` to `max`.
    const std::vector<std::string> &operands(std::size_t min, std::size_t max) const;

private:
    const std::string *find(const Option &option) const;

    Options options_;
    std::vector<std::pair<const Option *, std::string>> values_;
    std::vector<std::string> operands_;
};

// The text of --help: the usage and description, the rows of the options
// in aligned columns (help wrapped to lines of at most 79 characters),
// the closing notes, and the forms of TIME where the subcommand takes one.
std::string help_text(std::string_view usage, Options options, std::string_view notes, bool takes_time);

// True when the words ask for help (-h or --help anywhere before "--").
bool wants_help(const std::vector<std::string> &words);

// Standard output and standard error carry the library's printed messages
// and the program's own: flush standard output before writing a message so
// the two streams keep their order on a shared terminal.
void report(std::string_view command, std::string_view message);

// One message for a failure: the command's own, which names the file and
// the system's reason; the C interface's line ("bopen:  ...") only where
// the failure has no message of its own.
void report_failure(std::string_view command, const Failure &failure);
// The same for a bottle that did not open.
void report_unopened(std::string_view command, const ViewedBottle &bottle);

// parse_time, or a usage error naming the option and what is wrong (with
// the accepted forms when the text is in none of them).
double read_time(std::string_view option, std::string_view text);

// The times of --from and --to, each where given; a usage error when
// --from is later than --to.
struct TimeRange {
    std::optional<double> from, to;
};
TimeRange read_time_range(const Args &args, const Option &from, const Option &to);

// --from and --to as dump and plot take them: the samples from the first
// at or after one time to the last before another.
inline constexpr Option kStartAt{.name = "from", .value = "TIME",
                                 .help = "start at the first sample at or after TIME"};
inline constexpr Option kStopBefore{.name = "to", .value = "TIME",
                                    .help = "stop before the first sample at or after TIME"};

// How the jobs that read several bottles as one series (cat, cut,
// decimate, gaps) join them: --overlap and --snap.
inline constexpr Option kOverlapOption{
    .name = "overlap", .value = "first|last",
    .help = "first: the input named first on the command line wins; last: the input named last wins"};
inline constexpr Option kSnapOption{
    .name = "snap", .value = "DURATION",
    .help = "place an input whose begin time lies within DURATION of the grid on the nearest sample time, and say "
            "so; a number of seconds, or with s, ms, us or ns (5ms)",
    .fallback = "0, none"};
// The rules the options give; `overlap` may be null for a job without it.
JoinRules read_join_rules(const Args &args, const Option *overlap, const Option &snap);

// Runs a job on a series; inputs that overlap and differ are a Failure
// that names the option which settles them.
template <class Job>
auto on_series(Job &&job) {
    try {
        return job();
    } catch (const OverlapConflict &conflict) {
        throw Failure(std::string(conflict.what()) + "; --overlap first or --overlap last says which input wins");
    }
}

// Each of a job's notes on standard error, as "bottle COMMAND: NOTE".
void report_notes(std::string_view command, const std::vector<std::string> &notes);

// The files of a job that writes one: `out`, and the inputs in the order
// named.  With the option `output` (-o OUT) given, every operand is an
// input; without it, the operand that the command's older positional form
// gives OUT (first or last) is OUT.  Inputs number from `least` to `most`.
struct JobFiles {
    std::string out;
    std::vector<std::string> in;
};
enum class OutOperand { kFirst, kLast };
JobFiles job_files(const Args &args, const Option &output, std::size_t least, std::size_t most, OutOperand where);

// Sends what the program prints on standard output (the library's
// messages and traces included) to standard error from construction on,
// and keeps the original standard output as data_fd() for the command's
// own output.  Restored on destruction.  Main does this for the
// subcommands whose table entry asks for it.
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
