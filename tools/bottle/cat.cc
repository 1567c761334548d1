// bottle cat: one bottle from several of the same type, interval and
// unusable value, in time order (the join of the archive library).

#include <string>
#include <vector>

#include "command.h"
#include "join.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle cat OUT IN... [--overlap first|last] [--force]\n"
    "Joins the bottles IN into one bottle OUT, in time order whatever the order they\n"
    "are named in: OUT begins with the earliest sample, and the gaps between inputs\n"
    "hold the unusable value.  The inputs must have one type, interval and unusable\n"
    "value, and begin times a whole number of intervals apart on the nominal grid\n"
    "(to within half a millisecond, or a quarter of the interval where that is less);\n"
    "an input that does not is named in the error.  Where inputs\n"
    "overlap, an unusable sample gives way to a usable one, and usable samples must\n"
    "be equal (byte for byte); the first time where they differ is an error, unless\n"
    "  --overlap first   the input named first on the command line wins\n"
    "  --overlap last    the input named last wins\n"
    "  --force           replace OUT if it exists\n"
    "Sample bytes are copied unchanged.  OUT is a regular file (a link is followed to\n"
    "the file it names, and stays); it changes only once it is complete, and is never\n"
    "one of the inputs.  The bottle library's messages go to standard error.\n";

Overlap read_overlap(const Args &args) {
    const auto v = args.value("overlap");
    if (!v) return Overlap::kRefuse;
    if (*v == "first") return Overlap::kFirst;
    if (*v == "last") return Overlap::kLast;
    throw UsageError("--overlap must be first or last, not " + quoted(*v));
}

int run_cat(const std::vector<std::string> &words) {
    const Args args(words, {{"overlap", 0, true}, {"force"}});
    const std::vector<std::string> &files = args.operands(2, SIZE_MAX);
    const Overlap overlap = read_overlap(args);
    const StdoutToStderr route;  // the library's messages are errors here
    zulu::archive::join(files[0], {files.begin() + 1, files.end()}, {overlap, {.force = args.has("force")}});
    return 0;
}

}  // namespace

const Subcommand kCat{"cat", "join bottles of one type and interval in time order", kHelp, false, run_cat};

}  // namespace bottletool
