// bottle cut: the samples of a bottle between two times, as a new bottle
// of the same type, interval and unusable value.

#include <string>
#include <vector>

#include "command.h"
#include "cut.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle cut IN -o OUT [--from TIME] [--to TIME] [--force]\n"
    "       bottle cut IN OUT [--from TIME] [--to TIME] [--force]\n"
    "Writes to a new bottle OUT the samples of the bottle IN whose times lie from\n"
    "TIME to TIME, both included, with the type, interval and unusable value of IN.\n"
    "OUT begins at the time of the first sample it holds, and its sample bytes are\n"
    "those of IN, unchanged.  When no sample lies in the times, OUT holds none and\n"
    "begins where the next sample of IN after them would be.\n";

constexpr Option kOutput{.name = "output", .alias = 'o', .value = "OUT",
                         .help = "the new bottle; without it, the operand after IN"};
constexpr Option kFrom{.name = "from", .value = "TIME", .help = "the earliest time kept",
                       .fallback = "the first sample"};
constexpr Option kTo{.name = "to", .value = "TIME", .help = "the latest time kept", .fallback = "the last sample"};
constexpr Option kForce{.name = "force", .help = "replace OUT if it exists"};
constexpr const Option *kOptions[] = {&kOutput, &kFrom, &kTo, &kForce};

const char kNotes[] =
    "OUT is a regular file (a link is followed to the file it names, and stays); it\n"
    "changes only once it is complete, and is never IN.  The bottle library's\n"
    "messages go to standard error.\n";

int run_cut(const Args &args, const Context &) {
    const JobFiles files = job_files(args, kOutput, 1, 1, OutOperand::kLast);
    const TimeRange range = read_time_range(args, kFrom, kTo);
    zulu::archive::cut(files.in[0], files.out, {range.from, range.to, {.force = args.has(kForce)}});
    return 0;
}

}  // namespace

const Subcommand kCut{.name = "cut", .summary = "copy the samples between two times to a new bottle",
                      .usage = kSynopsis, .options = kOptions, .notes = kNotes, .takes_time = true, .reroutes = true,
                      .run = run_cut};

}  // namespace bottletool
