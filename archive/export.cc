#include "export.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <type_traits>

#include <sys/stat.h>

#include "calendar.h"
#include "samples.h"
#include "timetext.h"

#if ZULU_WITH_NETCDF
#include <hdf5.h>
#include <netcdf.h>
#include <netcdf_mem.h>
#endif

namespace zulu::archive {

TimeAxis::TimeAxis(const Grid &grid, const std::string &file) {
    struct Unit {
        int digits;
        const char *name;
    };
    constexpr Unit kUnits[] = {{kSecondDigits, "seconds"},
                               {kMilliDigits, "milliseconds"},
                               {kMicroDigits, "microseconds"},
                               {kNanoDigits, "nanoseconds"}};
    constexpr std::int64_t kExactInDouble = std::int64_t{1} << 53;
    const std::int64_t last = std::max<std::int64_t>(grid.count() - 1, 0);
    const Unit *unit = nullptr;
    for (const Unit &u : kUnits)
        if (!unit && grid.clock(u.digits).exact()) unit = &u;
    if (!unit) {
        const auto a = grid.stamp(0, kNanoDigits), b = grid.stamp(last, kNanoDigits);
        const bool ns_fits = a && b && *b - *a < kExactInDouble - 1'000'000'000;
        unit = &kUnits[ns_fits ? 3 : 2];
    }
    clock_ = grid.clock(unit->digits);
    const auto first = clock_.at(0), end = clock_.at(last);
    const auto beyond = [&](std::int64_t i) {
        return Failure(file + ": the sample times reach " + timetext::iso_time(grid.time(i)) +
                       ", past what a netCDF time coordinate holds");
    };
    if (!first) throw beyond(0);
    if (!end) throw beyond(last);
    std::int64_t per_second = 1;
    for (int d = 0; d < unit->digits; ++d) per_second *= 10;
    const std::int64_t second = calendar::floor_div(*first, per_second);
    reference_ = second * per_second;
    std::int64_t span = 0;
    if (__builtin_sub_overflow(*end, reference_, &span) || span >= kExactInDouble || span <= -kExactInDouble)
        throw beyond(last);
    fits_int_ = std::max(*first - reference_, span) <= INT32_MAX && span >= INT32_MIN;
    const auto day = calendar::floor_div(second, 86400);
    const auto of_day = second - day * 86400;
    const calendar::Civil c = calendar::civil_from_days(day);
    if (c.year < 0 || c.year > 9999)
        throw Failure(file + ": the sample times lie outside the years 0 to 9999, which a netCDF time coordinate names");
    char text[96];
    std::snprintf(text, sizeof text, "%s since %04d-%02d-%02d %02d:%02d:%02d", unit->name, static_cast<int>(c.year),
                  c.month, c.day, static_cast<int>(of_day / 3600), static_cast<int>(of_day / 60 % 60),
                  static_cast<int>(of_day % 60));
    units_ = text;
}

void TimeAxis::values(std::int64_t first, std::int64_t n, std::int64_t *out) const {
    clock_.fill(first, n, out);  // within range: the ends were checked
    for (std::int64_t k = 0; k < n; ++k) out[k] -= reference_;
}

#if ZULU_WITH_NETCDF

namespace {

constexpr const char *kTimeName = "time";

// The file a bottle is written to in a directory: BASE.nc for the bottle's
// base name BASE.bot (or BASE).
std::string netcdf_name(const std::string &file) {
    std::string base = file.substr(file.find_last_of('/') + 1);
    if (base.empty() || base == "." || base == "..")
        throw Failure(quoted(file) + " has no base name to name its netCDF file after", kUsage);
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
std::vector<std::string> paths_in(const std::vector<std::string> &files, const std::string &out) {
    if (files.size() == 1 && !is_directory(out)) return {out};
    if (!is_directory(out)) throw Failure("with several files, the output names a directory, and " + out + " is none", kUsage);
    const std::string directory = out + "/";
    std::vector<std::string> paths;
    std::set<std::string> taken;
    for (const std::string &f : files) {
        std::string path = directory + netcdf_name(f);
        if (!taken.insert(path).second) throw Failure("two files would be written as " + path, kUsage);
        paths.push_back(std::move(path));
    }
    return paths;
}

// A Failure naming `file` when a netCDF call has failed: the system's
// reason where a write to the disk failed (the library reports a full disk
// as an HDF error or a permission problem), the library's message else.
void check(int status, const std::string &file) {
    if (status == NC_NOERR) return;
    const int e = errno;
    const bool disk = e == ENOSPC || e == EDQUOT || e == EFBIG || e == EIO || e == EROFS;
    throw Failure("cannot write " + file + ": " + (disk ? std::strerror(e) : nc_strerror(status)));
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
void check_name(const std::string &name) {
    if (name == kTimeName) throw Failure("the variable cannot be named \"time\", the name of the time coordinate", kUsage);
    int id = 0, dim = 0, var = 0;
    if (nc_create_mem("name check", NC_CLOBBER, 0, &id) != NC_NOERR) return;  // checked again when written
    int status = nc_def_dim(id, kTimeName, 1, &dim);
    if (status == NC_NOERR) status = nc_def_var(id, name.c_str(), NC_FLOAT, 1, &dim, &var);
    nc_abort(id);
    if (status != NC_NOERR) throw Failure("the variable name " + quoted(name) + ": " + nc_strerror(status), kUsage);
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
    void check(int status) const { archive::check(status, shown_); }
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
    bool int_times = false;
};

// Defines the time dimension, the bottle's variable and the time
// coordinate, with their attributes and the file's.
template <class T>
Variables define(const Dataset &nc, const ViewedBottle &bottle, const TimeAxis &axis, const ExportRequest &o) {
    bottle_hdr *h = bottle.get();
    const int type = bot_type(h);
    const std::int64_t count = bottle.count();
    int dim = 0;
    Variables v;
    v.int_times = axis.fits_int();
    // A length of 0 makes the dimension unlimited: an empty bottle gives a
    // time dimension with no records.
    nc.check(nc_def_dim(nc.id(), kTimeName, static_cast<std::size_t>(count), &dim));
    nc.check(nc_def_var(nc.id(), o.name.c_str(), netcdf_type<T>(), 1, &dim, &v.values));
    nc.check(nc_def_var(nc.id(), kTimeName, v.int_times ? NC_INT : NC_DOUBLE, 1, &dim, &v.time));
    if (o.deflate > 0) {
        nc.check(nc_def_var_deflate(nc.id(), v.values, 1, 1, o.deflate));
        nc.check(nc_def_var_deflate(nc.id(), v.time, 1, 1, o.deflate));
    }
    nc.number(v.values, "_FillValue", unusable_as<T>(bot_usym(h)));
    if (o.units) nc.text(v.values, "units", *o.units);
    nc.text(v.time, "standard_name", "time");
    nc.text(v.time, "long_name", "time");
    nc.text(v.time, "units", axis.units());
    nc.text(v.time, "calendar", "proleptic_gregorian");
    nc.text(v.time, "axis", "T");
    nc.text(NC_GLOBAL, "Conventions", "CF-1.8");
    if (o.title) nc.text(NC_GLOBAL, "title", *o.title);
    nc.text(NC_GLOBAL, "bottle_file", bottle.name());
    nc.text(NC_GLOBAL, "bottle_type", format::kTypes[static_cast<std::size_t>(type)].name);
    nc.number(NC_GLOBAL, "bottle_begin", bot_beg(h));
    nc.number(NC_GLOBAL, "bottle_interval", bot_ivl(h));
    nc.number(NC_GLOBAL, "bottle_samples", static_cast<std::int32_t>(count));
    nc.number(NC_GLOBAL, "bottle_unusable", std::int32_t{bot_usym(h)});
    nc.check(nc_enddef(nc.id()));
    return v;
}

// Writes the samples of the bottle and their times, a block at a time,
// each sent on to the disk of `target` (the file the dataset is written
// to) as it is written.
template <class T>
void write_samples(const Dataset &nc, SeriesReader &reader, const TimeAxis &axis, const Variables &v,
                   const OutputTarget &target) {
    std::vector<std::int64_t> stamps(static_cast<std::size_t>(kBlock));
    std::vector<double> times(v.int_times ? 0 : stamps.size());
    std::vector<std::int32_t> int_times(v.int_times ? stamps.size() : 0);
    read_samples<T>(reader, 0, reader.series().count(), [&](std::int64_t index, const T *values, std::size_t n) {
        const auto start = static_cast<std::size_t>(index);
        nc.check(nc_put_vara(nc.id(), v.values, &start, &n, values));
        axis.values(index, static_cast<std::int64_t>(n), stamps.data());
        if (v.int_times) {
            for (std::size_t k = 0; k < n; ++k) int_times[k] = static_cast<std::int32_t>(stamps[k]);
            nc.check(nc_put_vara(nc.id(), v.time, &start, &n, int_times.data()));
        } else {
            for (std::size_t k = 0; k < n; ++k) times[k] = static_cast<double>(stamps[k]);
            nc.check(nc_put_vara(nc.id(), v.time, &start, &n, times.data()));
        }
        target.start_writeback();
    });
}

}  // namespace

bool can_export() { return true; }

void check_variable_name(const std::string &name) {
    // After a write that failed (a full disk), the HDF5 library's exit
    // handler crashes on the file it could not close: it is not installed,
    // before the library first starts, and the system reclaims what the
    // library holds when the program ends.
    H5dont_atexit();
    if (name.empty()) throw Failure("the variable needs a name", kUsage);
    check_name(name);
}

std::vector<std::string> export_paths(const std::vector<std::string> &files, const std::string &out) {
    return paths_in(files, out);
}

void export_netcdf(const std::string &src, const std::string &dst, const ExportRequest &request,
                   const std::vector<InputFile> &inputs) {
    if (request.deflate < 0 || request.deflate > 9) throw Failure("the deflate level runs from 0 to 9", kUsage);
    check_variable_name(request.name);
    std::vector<InputFile> read = inputs;
    if (auto f = input_file(src)) read.push_back(*f);
    // The library writes by path: a temporary file renamed onto the
    // target, never the target itself, so only a regular file will do.
    OutputTarget target(dst, read, data_rules(request.output));
    const ViewedBottle bottle(src);
    bottle.require_reachable();
    const Series series = Series::of_bottle(src);
    const TimeAxis axis(series.grid_for_times(), src);
    SeriesReader reader(series);
    Dataset nc(target.temp_path(), target.name());
    with_sample_type(series.type(), [&](auto tag) {
        using T = decltype(tag);
        write_samples<T>(nc, reader, axis, define<T>(nc, bottle, axis, request), target);
    });
    nc.close();
    target.commit();
}

#else

namespace {
[[noreturn]] void unavailable() { throw Failure("this program was built without netCDF; export is not available"); }
}  // namespace

bool can_export() { return false; }
void check_variable_name(const std::string &) { unavailable(); }
std::vector<std::string> export_paths(const std::vector<std::string> &, const std::string &) { unavailable(); }
void export_netcdf(const std::string &, const std::string &, const ExportRequest &, const std::vector<InputFile> &) {
    unavailable();
}

#endif

}  // namespace zulu::archive
