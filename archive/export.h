// Export: bottles as netCDF-4 files (classic model), for the tools that
// read netCDF (ncdump, xarray, Panoply and the like): one variable over a
// "time" dimension holding the samples in the bottle's own type with the
// unusable value as its _FillValue, and a "time" coordinate that decodes
// to each sample's stamp (TimeAxis).
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
// 2015-06-23 00:00:00", from the whole second at or before the first
// sample) and the value of each sample in them, whole numbers taken from
// the samples' stamps.  The unit is the coarsest of seconds, milliseconds,
// microseconds and nanoseconds in which every stamp is exact; where none
// is (1/3 s), nanoseconds while the values stay exact in a double (2^53),
// else microseconds.  A Failure naming `file` where the times lie beyond
// what the coordinate holds.
class TimeAxis {
public:
    TimeAxis(const Grid &grid, const std::string &file);
    const std::string &units() const { return units_; }
    // The values of samples [first, first + n).
    void values(std::int64_t first, std::int64_t n, std::int64_t *out) const;
    // Whether every value fits a 32-bit integer.
    bool fits_int() const { return fits_int_; }

private:
    UnitClock clock_;
    std::int64_t reference_ = 0;  // the whole second of the first sample, in units
    bool fits_int_ = true;
    std::string units_;
};

}  // namespace zulu::archive
