// bottle export: bottles as netCDF files (the export of the archive
// library).

#include <string>
#include <vector>

#include "command.h"
#include "export.h"
#include "subcommands.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle export FILE... -o OUT [--name NAME] [--units TEXT] [--title TEXT]\n"
    "                     [--deflate LEVEL] [--force]\n"
    "Writes each bottle FILE as a netCDF-4 file (classic model): one variable over a\n"
    "\"time\" dimension holding the samples in the bottle's own type (short, int,\n"
    "float or double) with the unusable value as its _FillValue, and a \"time\"\n"
    "coordinate that decodes to each sample's time on the nominal grid, exact to the\n"
    "microsecond: whole numbers of seconds, milliseconds or microseconds since the\n"
    "whole second of the first sample.  The global attributes name the bottle file\n"
    "and its header fields.  With one FILE, OUT is the file written (or a directory,\n"
    "as below); with several, OUT is a directory and each FILE is written as\n"
    "OUT/BASE.nc, BASE being its base name without \".bot\".\n"
    "  -o, --output OUT   the netCDF file, or the directory for them\n"
    "  --name NAME        the variable's name (default: value)\n"
    "  --units TEXT       the variable's units attribute\n"
    "  --title TEXT       the file's title attribute\n"
    "  --deflate LEVEL    compress at LEVEL, 1 (fastest) to 9 (smallest); 0, as\n"
    "                     without it, writes the samples uncompressed\n"
    "  --force            replace a netCDF file that exists\n"
    "A file is written whole under a temporary name and renamed into place; OUT must\n"
    "be a regular file or a new name (not standard output or a device), and an\n"
    "existing file is replaced only with --force.  Files are written in order; the\n"
    "first failure stops the command with status 1.\n";

int run_export(const std::vector<std::string> &words) {
    const Args args(words, {{"output", 'o', true}, {"name", 0, true}, {"units", 0, true}, {"title", 0, true},
                            {"deflate", 0, true}, {"force"}});
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const auto out = args.value("output");
    if (!out) throw UsageError("-o OUT is required");
    ExportRequest request;
    request.name = args.value("name").value_or(zulu::archive::kDefaultVariable);
    if (request.name.empty()) throw UsageError("--name needs a name");
    request.units = args.value("units");
    request.title = args.value("title");
    if (auto v = args.value("deflate")) request.deflate = static_cast<int>(read_count("deflate", *v, 0, 9));
    request.output.force = args.has("force");
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
    const StdoutToStderr route;  // the library's messages are errors here
    for (std::size_t i = 0; i < files.size(); ++i) zulu::archive::export_netcdf(files[i], paths[i], request, inputs);
    return 0;
}

}  // namespace

const Subcommand kExport{"export", "write bottles as netCDF files", kHelp, false, run_export};

}  // namespace bottletool
