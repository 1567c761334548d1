// Export: bottles as netCDF-4 files (classic model), for the tools that
// read netCDF (ncdump, xarray, Panoply and the like): one variable over a
// "time" dimension holding the samples in the bottle's own type with the
// unusable value as its _FillValue, and a "time" coordinate that decodes
// to each sample's nominal time, exact to the microsecond.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files.h"

namespace zulu::archive {

inline constexpr const char *kDefaultVariable = "value";

struct ExportRequest {
    std::string name = kDefaultVariable;  // of the variable
    std::optional<std::string> units, title;
    int deflate = 0;  // 0: uncompressed; 1 (fastest) to 9 (smallest)
    Output output;
};

// Whether this build writes netCDF at all.
bool can_export();

// A Failure with status kUsage unless `name` is one the netCDF library
// takes for a variable beside the time coordinate.
void check_variable_name(const std::string &name);

// The netCDF file of each bottle: `out` itself for one file, unless it is
// a directory; OUT/BASE.nc otherwise (BASE the base name without ".bot"),
// each name once.  A Failure with status kUsage where that cannot be.
std::vector<std::string> export_paths(const std::vector<std::string> &files, const std::string &out);

// Writes the bottle `src` as the netCDF file `dst`; `inputs` are the files
// the job reads, none of which is written.
void export_netcdf(const std::string &src, const std::string &dst, const ExportRequest &request,
                   const std::vector<InputFile> &inputs = {});

// The time coordinate of a grid: its units ("milliseconds since
// 2015-06-23 00:00:00") and the value of sample i in them.  The unit is
// the coarsest of seconds, milliseconds and microseconds in which the
// begin time's fraction and the interval are whole; values are whole
// numbers (microseconds rounded to the nearest where no unit is exact).
// Times the coordinate cannot hold (beyond about 285 million years from
// 1970, or values past what a double holds exactly) are a Failure naming
// the bottle `name`.
class TimeAxis {
public:
    TimeAxis(const Grid &grid, const std::string &name);
    const std::string &units() const { return units_; }
    double value(std::int64_t i) const;
    // Whether every value of `count` samples fits a 32-bit integer.
    bool fits_int(std::int64_t count) const;

private:
    const Grid &grid_;
    double reference_ = 0;     // whole seconds since 1970
    double per_second_ = 1;    // units per second
    std::int64_t start_ = 0;   // value of sample 0
    std::int64_t per_step_ = 0;  // units per interval where whole, else 0
    std::string units_;
};

}  // namespace zulu::archive
