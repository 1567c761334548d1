// bottle export: bottles as netCDF files (the export of the archive
// library).

#include <string>
#include <vector>

#include "command.h"
#include "export.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle export FILE... -o OUT [--name NAME] [--units TEXT] [--title TEXT]\n"
    "                     [--deflate LEVEL] [--force]\n"
    "Writes each bottle FILE as a netCDF-4 file (classic model): one variable over a\n"
    "\"time\" dimension holding the samples in the bottle's own type (short, int,\n"
    "float or double) with the unusable value as its _FillValue, and a \"time\"\n"
    "coordinate that decodes to each sample's time on the nominal grid: whole\n"
    "numbers of seconds, milliseconds, microseconds or nanoseconds since the whole\n"
    "second of the first sample, the coarsest unit that holds every time exactly\n"
    "(nanoseconds where none does).  The global attributes name the bottle file\n"
    "and its header fields.  With one FILE, OUT is the file written (or a directory,\n"
    "as below); with several, OUT is a directory and each FILE is written as\n"
    "OUT/BASE.nc, BASE being its base name without \".bot\".\n";

constexpr Option kOutput{.name = "output", .alias = 'o', .value = "OUT",
                         .help = "the netCDF file, or the directory for them"};
constexpr Option kName{.name = "name",
                       .value = "NAME",
                       .help = "the variable's name",
                       .fallback = zulu::archive::kDefaultVariable};
constexpr Option kUnits{.name = "units", .value = "TEXT", .help = "the variable's units attribute"};
constexpr Option kTitle{.name = "title", .value = "TEXT", .help = "the file's title attribute"};
constexpr Option kDeflate{.name = "deflate",
                          .value = "LEVEL",
                          .help = "compress at LEVEL, 1 (fastest) to 9 (smallest); 0, as without it, writes the "
                                  "samples uncompressed",
                          .bounds = {0, 9}};
constexpr Option kForce{.name = "force", .help = "replace a netCDF file that exists"};
constexpr const Option *kOptions[] = {&kOutput, &kName, &kUnits, &kTitle, &kDeflate, &kForce};

const char kNotes[] =
    "A file is written whole under a temporary name and renamed into place; OUT must\n"
    "be a regular file or a new name (not standard output or a device), and an\n"
    "existing file is replaced only with --force.  Files are written in order; the\n"
    "first failure stops the command with status 1.\n";

int run_export(const Args &args, const Context &) {
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const auto out = args.value(kOutput);
    if (!out) throw UsageError("-o OUT is required");
    ExportRequest request;
    request.name = args.value(kName).value_or(zulu::archive::kDefaultVariable);
    if (request.name.empty()) throw UsageError("--name needs a name");
    request.units = args.value(kUnits);
    request.title = args.value(kTitle);
    if (auto level = args.count(kDeflate)) request.deflate = static_cast<int>(*level);
    request.output.force = args.has(kForce);
    if (!zulu::archive::can_export()) throw Failure("this bottle program was built without netCDF; export is not available");
    try {
        zulu::archive::check_variable_name(request.name);
    } catch (const Failure &e) {
        throw UsageError(std::string("--name: ") + e.what());
    }
    const std::vector<std::string> paths = zulu::archive::export_paths(files, *out);
    std::vector<InputFile> inputs;
    for (const std::string &f : files)
        if (auto in = input_file(f)) inputs.push_back(*in);
    for (std::size_t i = 0; i < files.size(); ++i) zulu::archive::export_netcdf(files[i], paths[i], request, inputs);
    return 0;
}

}  // namespace

const Subcommand kExport{.name = "export", .summary = "write bottles as netCDF files", .usage = kSynopsis,
                         .options = kOptions, .notes = kNotes, .reroutes = true, .run = run_export};

}  // namespace bottletool
