// bottle cat: one bottle from several of the same type, interval and
// unusable value, in time order (the join of the archive library).

#include <cerrno>
#include <string>
#include <vector>

#include "command.h"
#include "join.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle cat IN... -o OUT [--overlap first|last] [--snap DURATION]\n"
    "                  [--force]\n"
    "       bottle cat OUT IN... [--overlap first|last] [--snap DURATION] [--force]\n"
    "Joins the bottles IN into one bottle OUT, in time order whatever the order they\n"
    "are named in: OUT begins with the earliest sample, and the gaps between inputs\n"
    "hold the unusable value.  The inputs must have one type, interval and unusable\n"
    "value, and begin times a whole number of intervals apart on the nominal grid\n"
    "(to within half a millisecond, or a quarter of the interval where that is\n"
    "less); the grid is the one most inputs keep, and an input off it is named in\n"
    "the error.  With --snap, an input that begins within DURATION of the grid is\n"
    "placed on its nearest sample time instead, and the move is said on standard\n"
    "error.  Where inputs overlap, an unusable sample gives way to a usable one, and\n"
    "usable samples must be equal (byte for byte); the first time where they differ\n"
    "is an error, unless --overlap says which input wins.\n";

constexpr Option kOutput{.name = "output", .alias = 'o', .value = "OUT",
                         .help = "the new bottle; without it, the first operand"};
constexpr Option kForce{.name = "force", .help = "replace OUT if it exists"};
constexpr const Option *kOptions[] = {&kOutput, &kOverlapOption, &kSnapOption, &kForce};

const char kNotes[] =
    "Sample bytes are copied unchanged.  OUT is a regular file (a link is followed\n"
    "to the file it names, and stays); it changes only once it is complete, and is\n"
    "never one of the inputs.  The bottle library's messages go to standard error.\n";

int run_cat(const Args &args, const Context &) {
    const JobFiles files = job_files(args, kOutput, 1, SIZE_MAX, OutOperand::kFirst);
    const JoinRules rules = read_join_rules(args, &kOverlapOption, kSnapOption);
    try {
        const JobReport report =
            on_series([&] { return zulu::archive::join(files.out, files.in, {rules, {.force = args.has(kForce)}}); });
        report_notes("cat", report.notes);
    } catch (const Failure &e) {
        // "cat a.bot b.bot new.bot" meant to write new.bot: say which
        // operand the older form writes.
        if (e.error_number() != EEXIST || args.has(kOutput)) throw;
        throw Failure(e.what() + std::string("; without -o, cat writes its first operand"));
    }
    return 0;
}

}  // namespace

const Subcommand kCat{.name = "cat", .summary = "join bottles of one type and interval in time order",
                      .usage = kSynopsis, .options = kOptions, .notes = kNotes, .reroutes = true, .run = run_cat};

}  // namespace bottletool
