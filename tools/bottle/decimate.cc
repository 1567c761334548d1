// bottle decimate: bottles as one series, at a rate a whole factor lower.

#include <charconv>
#include <string>
#include <vector>

#include "command.h"
#include "decimate.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle decimate FACTOR IN... -o OUT [--method fir|mean|min|max]\n"
    "                       [--strict] [--overlap first|last] [--snap DURATION]\n"
    "                       [--force]\n"
    "Writes to a new bottle OUT the series the bottles IN make (joined as cat joins\n"
    "them) at a rate FACTOR times lower: sample j of OUT lies at the time of sample\n"
    "j * FACTOR of the series, and the interval of OUT is FACTOR times the nominal\n"
    "one.  By default a low-pass filter comes first, as scipy's and ObsPy's decimate\n"
    "have it: a linear-phase FIR of 20 * FACTOR + 1 taps (a Hamming-windowed sinc\n"
    "with its cutoff at the new Nyquist frequency), centred on each kept sample, so\n"
    "that its delay is compensated.  Its gain is within 0.03 dB of 1 up to 0.8 of\n"
    "the new Nyquist frequency, -6 dB at it, and -52 dB or less from 1.2 times it.\n"
    "An output whose window touches a missing sample, or reaches past either end of\n"
    "the data, is missing.  The filter and the mean write float samples for int and\n"
    "float inputs, double for long and double; min and max keep the input's type.\n";

constexpr Option kOutput{.name = "output", .alias = 'o', .value = "OUT", .help = "the new bottle"};
constexpr Option kMethod{.name = "method", .value = "fir|mean|min|max",
                         .help = "fir: the filter, then every FACTOR-th sample; mean, min, max: of each block of "
                                 "FACTOR samples, unfiltered (output j over inputs j*FACTOR to j*FACTOR+FACTOR-1; "
                                 "missing where the block holds no usable sample)",
                         .fallback = "fir"};
constexpr Option kStrict{.name = "strict",
                         .help = "with the filter, refuse an input that has a missing sample; with mean, min or "
                                 "max, a block that holds one is missing"};
constexpr Option kForce{.name = "force", .help = "replace OUT if it exists"};
constexpr const Option *kOptions[] = {&kOutput, &kMethod, &kStrict, &kOverlapOption, &kSnapOption, &kForce};

const char kNotes[] =
    "FACTOR is a whole number from 2 on, at most 100000 with the filter.  OUT is a\n"
    "regular file (a link is followed to the file it names, and stays); it changes\n"
    "only once it is complete, and is never an input.\n";

int run_decimate(const Args &args, const Context &) {
    if (!args.has(kOutput)) throw UsageError("name the file to write with -o OUT");
    const std::vector<std::string> &operands = args.operands(2, SIZE_MAX);
    std::int64_t factor = 0;
    const std::string &word = operands.front();
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), factor);
    if (ec != std::errc() || end != word.data() + word.size())
        throw UsageError("FACTOR must be a whole number of 2 or more, not " + quoted(word));  // the job checks the rest
    const auto method = reduction_named(args.value(kMethod).value_or("fir"));
    if (!method) throw UsageError("--method must be fir, mean, min or max, not " + quoted(*args.value(kMethod)));
    DecimateRequest request{factor, *method, args.has(kStrict), read_join_rules(args, &kOverlapOption, kSnapOption),
                            {.force = args.has(kForce)}};
    const std::vector<std::string> inputs(operands.begin() + 1, operands.end());
    const std::string out = *args.value(kOutput);
    report_notes("decimate", on_series([&] { return zulu::archive::decimate(inputs, out, request); }).notes);
    return 0;
}

}  // namespace

const Subcommand kDecimate{.name = "decimate", .summary = "lower the rate of bottles by a whole factor",
                           .usage = kSynopsis, .options = kOptions, .notes = kNotes, .reroutes = true,
                           .run = run_decimate};

}  // namespace bottletool
