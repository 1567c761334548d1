// bottle export: bottles as netCDF files, for the tools that read netCDF
// (ncdump, xarray, Panoply and the like).

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "command.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"

#if ZULU_WITH_NETCDF
#include <hdf5.h>
#include <netcdf.h>
#include <netcdf_mem.h>
#endif

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle export FILE... -o OUT [--name NAME] [--units TEXT] [--title TEXT]\n"
    "                     [--deflate LEVEL]\n"
    "Writes each bottle FILE as a netCDF-4 file (classic model): one variable over a\n"
    "\"time\" dimension holding the samples in the bottle's own type (short, int,\n"
    "float or double) with the unusable value as its _FillValue, and a \"time\"\n"
    "coordinate in seconds since 1970-01-01 00:00:00 GMT.  The global attributes\n"
    "name the bottle file and its header fields.  With one FILE, OUT is the file\n"
    "written (or a directory, as below); with several, OUT is a directory and each\n"
    "FILE is written as OUT/BASE.nc, BASE being its base name without \".bot\".\n"
    "  -o, --output OUT   the netCDF file, or the directory for them\n"
    "  --name NAME        the variable's name (default: value)\n"
    "  --units TEXT       the variable's units attribute\n"
    "  --title TEXT       the file's title attribute\n"
    "  --deflate LEVEL    compress at LEVEL, 1 (fastest) to 9 (smallest); 0, as\n"
    "                     without it, writes the samples uncompressed\n"
    "A file is written whole under a temporary name and renamed into place; OUT must\n"
    "be a regular file or a new name (not standard output or a device).  Files are\n"
    "written in order; the first failure stops the command with status 1.\n";

constexpr const char *kDefaultName = "value";

struct ExportOptions {
    std::string name = kDefaultName;
    std::optional<std::string> units, title;
    std::optional<int> deflate;
};

#if ZULU_WITH_NETCDF

constexpr const char *kTimeName = "time";

// The file a bottle is written to in a directory: BASE.nc for the bottle's
// base name BASE.bot (or BASE).
std::string netcdf_name(const std::string &file) {
    std::string base = file.substr(file.find_last_of('/') + 1);
    if (base.empty() || base == "." || base == "..")
        throw UsageError(quoted(file) + " has no base name to name its netCDF file after");
    const std::string suffix = ".bot";
    if (base.size() > suffix.size() && base.compare(base.size() - suffix.size(), suffix.size(), suffix) == 0)
        base.resize(base.size() - suffix.size());
    return base + ".nc";
}

bool is_directory(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The output path of each file: OUT itself for one file, unless OUT is a
// directory; OUT/BASE.nc otherwise, each name once.
std::vector<std::string> output_paths(const std::vector<std::string> &files, const std::string &out) {
    if (files.size() == 1 && !is_directory(out)) return {out};
    if (!is_directory(out)) throw UsageError("with several files, -o names a directory, and " + out + " is none");
    const std::string directory = out + "/";
    std::vector<std::string> paths;
    std::set<std::string> taken;
    for (const std::string &f : files) {
        std::string path = directory + netcdf_name(f);
        if (!taken.insert(path).second) throw UsageError("two files would be written as " + path);
        paths.push_back(std::move(path));
    }
    return paths;
}

// A Failure naming `file` with the library's message when a netCDF call
// has failed.
void check(int status, const std::string &file) {
    if (status != NC_NOERR) throw Failure("cannot write " + file + ": " + with_write_reason(nc_strerror(status)));
}

template <class T>
constexpr nc_type netcdf_type() {
    if constexpr (std::is_same_v<T, std::int16_t>) return NC_SHORT;
    if constexpr (std::is_same_v<T, std::int32_t>) return NC_INT;
    if constexpr (std::is_same_v<T, float>) return NC_FLOAT;
    return NC_DOUBLE;
}

// The library's own rule for names: a variable of that name defined in a
// dataset held in memory.  A usage error with its message otherwise.
void check_variable_name(const std::string &name) {
    if (name == kTimeName) throw UsageError("--name cannot be \"time\", the name of the time coordinate");
    int id = 0, dim = 0, var = 0;
    if (nc_create_mem("name check", NC_CLOBBER, 0, &id) != NC_NOERR) return;  // checked again when written
    int status = nc_def_dim(id, kTimeName, 1, &dim);
    if (status == NC_NOERR) status = nc_def_var(id, name.c_str(), NC_FLOAT, 1, &dim, &var);
    nc_abort(id);
    if (status != NC_NOERR) throw UsageError("--name " + quoted(name) + ": " + nc_strerror(status));
}

// A netCDF dataset being written.  One left unfinished is closed, not
// aborted (the library's abort crashes after a write has failed); the
// output target then removes its file.
class Dataset {
public:
    Dataset(const std::string &path, const std::string &shown) : shown_(shown) {
        // NetCDF-4 in the classic model: every netCDF reader opens it, it
        // holds variables of any size, stores samples in the machine's own
        // byte order (a plain copy, where the older formats swap every
        // byte), and compresses.
        check(nc_create(path.c_str(), NC_CLOBBER | NC_NETCDF4 | NC_CLASSIC_MODEL, &id_));
        open_ = true;
        int old_mode = 0;
        check(nc_set_fill(id_, NC_NOFILL, &old_mode));  // every sample is written
    }
    ~Dataset() {
        if (open_) nc_close(id_);
    }
    Dataset(const Dataset &) = delete;
    Dataset &operator=(const Dataset &) = delete;

    int id() const { return id_; }
    void check(int status) const { bottletool::check(status, shown_); }
    void text(int var, const char *name, const std::string &value) const {
        check(nc_put_att_text(id_, var, name, value.size(), value.c_str()));
    }
    template <class T>
    void number(int var, const char *name, T value) const {
        check(nc_put_att(id_, var, name, netcdf_type<T>(), 1, &value));
    }
    void close() {
        open_ = false;
        check(nc_close(id_));
    }

private:
    std::string shown_;
    int id_ = 0;
    bool open_ = false;
};

struct Variables {
    int values = 0;
    int time = 0;
};

// Defines the time dimension, the bottle's variable and the time
// coordinate, with their attributes and the file's.
template <class T>
Variables define(const Dataset &nc, const ViewedBottle &bottle, const ExportOptions &o) {
    bottle_hdr *h = bottle.get();
    const int type = bot_type(h);
    int dim = 0;
    Variables v;
    // A length of 0 makes the dimension unlimited: an empty bottle gives a
    // time dimension with no records.
    nc.check(nc_def_dim(nc.id(), kTimeName, static_cast<std::size_t>(bot_nsam(h)), &dim));
    nc.check(nc_def_var(nc.id(), o.name.c_str(), netcdf_type<T>(), 1, &dim, &v.values));
    nc.check(nc_def_var(nc.id(), kTimeName, NC_DOUBLE, 1, &dim, &v.time));
    if (o.deflate && *o.deflate > 0) {
        nc.check(nc_def_var_deflate(nc.id(), v.values, 1, 1, *o.deflate));
        nc.check(nc_def_var_deflate(nc.id(), v.time, 1, 1, *o.deflate));
    }
    nc.number(v.values, "_FillValue", unusable_as<T>(bot_usym(h)));
    if (o.units) nc.text(v.values, "units", *o.units);
    nc.text(v.time, "standard_name", "time");
    nc.text(v.time, "long_name", "time");
    nc.text(v.time, "units", "seconds since 1970-01-01 00:00:00");
    nc.text(v.time, "calendar", "proleptic_gregorian");
    nc.text(v.time, "axis", "T");
    nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
    if (o.title) nc.text(NC_GLOBAL, "title", *o.title);
    nc.text(NC_GLOBAL, "bottle_file", bottle.name());
    nc.text(NC_GLOBAL, "bottle_type", zulu::format::kTypes[static_cast<std::size_t>(type)].name);
    nc.number(NC_GLOBAL, "bottle_begin", bot_beg(h));
    nc.number(NC_GLOBAL, "bottle_interval", bot_ivl(h));
    nc.number(NC_GLOBAL, "bottle_samples", std::int32_t{bot_nsam(h)});
    nc.number(NC_GLOBAL, "bottle_unusable", std::int32_t{bot_usym(h)});
    nc.check(nc_enddef(nc.id()));
    return v;
}

// Writes the samples of the bottle and their times, a block at a time,
// each sent on to the disk of `target` (the file the dataset is written
// to) as it is written.
template <class T>
void write_samples(const Dataset &nc, const ViewedBottle &bottle, const Variables &v, const OutputTarget &target) {
    const Timeline line = timeline_of(bottle.get());
    std::vector<double> times(static_cast<std::size_t>(kBlock));
    read_samples<T>(bottle, 0, line.count, [&](std::int64_t index, const T *values, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) times[k] = line.time(index + static_cast<std::int64_t>(k));
        const auto start = static_cast<std::size_t>(index);
        nc.check(nc_put_vara(nc.id(), v.values, &start, &n, values));
        nc.check(nc_put_vara(nc.id(), v.time, &start, &n, times.data()));
        target.start_writeback();
    });
}

void write_netcdf(const ViewedBottle &bottle, const OutputTarget &target, const ExportOptions &o) {
    Dataset nc(target.temp_path(), target.name());
    with_sample_type(bot_type(bottle.get()), [&](auto tag) {
        using T = decltype(tag);
        write_samples<T>(nc, bottle, define<T>(nc, bottle, o), target);
    });
    nc.close();
}

void export_bottle(const std::string &file, const std::string &out, const std::vector<InputFile> &inputs,
                   const ExportOptions &o) {
    // The library writes by path: a temporary file renamed onto the
    // target, never the target itself, so only a regular file will do.
    OutputTarget target(out, inputs, {.direct = false});
    const ViewedBottle bottle(file);
    bottle.require();
    write_netcdf(bottle, target, o);
    target.commit();
}

#endif

ExportOptions read_options(const Args &args) {
    ExportOptions o;
    if (auto v = args.value("name")) o.name = *v;
    if (o.name.empty()) throw UsageError("--name needs a name");
    o.units = args.value("units");
    o.title = args.value("title");
    if (auto v = args.value("deflate")) o.deflate = static_cast<int>(read_count("deflate", *v, 0, 9));
    return o;
}

int run_export(const std::vector<std::string> &words) {
    const Args args(words, {{"output", 'o', true}, {"name", 0, true}, {"units", 0, true}, {"title", 0, true},
                            {"deflate", 0, true}});
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    const auto out = args.value("output");
    if (!out) throw UsageError("-o OUT is required");
    const ExportOptions o = read_options(args);
#if ZULU_WITH_NETCDF
    // After a write that failed (a full disk), the HDF5 library's exit
    // handler crashes on the file it could not close: it is not installed,
    // and the system reclaims what the library holds when the command ends.
    H5dont_atexit();
    check_variable_name(o.name);
    const std::vector<std::string> paths = output_paths(files, *out);
    std::vector<InputFile> inputs;
    for (const std::string &f : files)
        if (auto in = input_file(f)) inputs.push_back(*in);
    const StdoutToStderr route;  // the library's messages are errors here
    for (std::size_t i = 0; i < files.size(); ++i) export_bottle(files[i], paths[i], inputs, o);
    return 0;
#else
    (void)files;
    throw Failure("this bottle program was built without netCDF; export is not available");
#endif
}

}  // namespace

const Subcommand kExport{"export", "write bottles as netCDF files", kHelp, false, run_export};

}  // namespace bottletool
