// bottle cut: the samples of bottles between two times, as a new bottle
// of the same type, interval and unusable value.

#include <string>
#include <vector>

#include "command.h"
#include "cut.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle cut IN... -o OUT [--from TIME] [--to TIME] [--partial]\n"
    "                  [--overlap first|last] [--snap DURATION] [--force]\n"
    "       bottle cut IN OUT [--from TIME] [--to TIME] [--partial] [--force]\n"
    "Writes to a new bottle OUT the samples whose times lie from TIME to TIME, both\n"
    "included, of the series the bottles IN make (joined as cat joins them), with\n"
    "their type, interval and unusable value.  OUT begins at the time of the first\n"
    "sample it holds, and its sample bytes are those of IN, unchanged.  A window\n"
    "that runs past the data (before its first sample or after its last) is\n"
    "refused, with what the data covers, unless --partial asks for the samples\n"
    "there are.  When no sample lies in the times, OUT holds none and begins where\n"
    "the next sample after them would be.\n";

constexpr Option kOutput{.name = "output", .alias = 'o', .value = "OUT",
                         .help = "the new bottle; without it, the operand after IN"};
constexpr Option kFrom{.name = "from", .value = "TIME", .help = "the earliest time kept",
                       .fallback = "the first sample"};
constexpr Option kTo{.name = "to", .value = "TIME", .help = "the latest time kept", .fallback = "the last sample"};
constexpr Option kPartial{.name = "partial",
                          .help = "keep the samples there are of a window that runs past the data, and say how many"};
constexpr Option kForce{.name = "force", .help = "replace OUT if it exists"};
constexpr const Option *kOptions[] = {&kOutput, &kFrom, &kTo, &kPartial, &kOverlapOption, &kSnapOption, &kForce};

const char kNotes[] =
    "OUT is a regular file (a link is followed to the file it names, and stays); it\n"
    "changes only once it is complete, and is never an input.  Only the samples kept\n"
    "are read.  The bottle library's messages go to standard error.\n";

int run_cut(const Args &args, const Context &) {
    // The older form takes one input and OUT after it.
    const JobFiles files = job_files(args, kOutput, 1, args.has(kOutput) ? SIZE_MAX : 1, OutOperand::kLast);
    const TimeRange range = read_time_range(args, kFrom, kTo);
    CutRequest request{range.from, range.to, read_join_rules(args, &kOverlapOption, kSnapOption),
                       args.has(kPartial), {.force = args.has(kForce)}};
    report_notes("cut", on_series([&] { return zulu::archive::cut(files.in, files.out, request); }).notes);
    return 0;
}

}  // namespace

const Subcommand kCut{.name = "cut", .summary = "copy the samples between two times to a new bottle",
                      .usage = kSynopsis, .options = kOptions, .notes = kNotes, .takes_time = true, .reroutes = true,
                      .run = run_cut};

}  // namespace bottletool
