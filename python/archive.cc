// The archive operations for Python: the one time grid of bottles, and the
// jobs the bottle command runs (cut, cat, gaps, stats, export), each called
// as the command calls it, with the same output rule: an output is written
// under a temporary name and renamed into place, an existing one replaced
// only with force.  Failures become exceptions: OSError (of the errno's
// subclass) where a system call failed, BottleError for a file that is not
// a bottle, ValueError for bad data or arguments.  The jobs run without
// the GIL.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "cut.h"
#include "export.h"
#include "failure.h"
#include "gaps.h"
#include "grid.h"
#include "join.h"
#include "stats.h"

namespace py = pybind11;
namespace ops = zulu::archive;
using zulu::archive::Grid;

namespace zulukit {
namespace {

// The command's text of the failure, less its hints on options.
[[noreturn]] void raise_failure(const ops::Failure &f) {
    if (f.error_number() != 0 && f.status() != ops::kUsage) {
        PyErr_SetObject(PyExc_OSError, py::make_tuple(f.error_number(), f.message()).ptr());
        throw py::error_already_set();
    }
    if (f.not_bottle()) {
        const py::object error = py::module_::import("zulukit._zulukit").attr("BottleError");
        PyErr_SetString(error.ptr(), f.message().c_str());
        throw py::error_already_set();
    }
    throw py::value_error(f.message());
}

// Runs a job without the GIL, its Failure raised as an exception.
template <class F>
auto run_job(F &&job) {
    try {
        py::gil_scoped_release unlocked;
        return job();
    } catch (const ops::Failure &f) {
        raise_failure(f);
    }
}

ops::Output output_of(bool force) { return {.force = force, .watch_signals = false}; }

void cut(const std::string &src, const std::string &dst, std::optional<double> start, std::optional<double> end,
         bool force) {
    run_job([&] { ops::cut(src, dst, {start, end, output_of(force)}); });
}

void cat(const std::string &dst, const std::vector<std::string> &srcs, const std::optional<std::string> &overlap,
         bool force) {
    ops::Overlap rule = ops::Overlap::kRefuse;
    if (overlap == "first") rule = ops::Overlap::kFirst;
    else if (overlap == "last") rule = ops::Overlap::kLast;
    else if (overlap) throw py::value_error("overlap must be None, \"first\" or \"last\", not \"" + *overlap + "\"");
    run_job([&] { ops::join(dst, srcs, {rule, output_of(force)}); });
}

// The rows bottle gaps writes: (file, start, end, samples).
std::vector<py::tuple> gaps(const std::vector<std::string> &paths, std::int64_t least) {
    if (least < 1) throw py::value_error("min must be 1 or more");
    std::vector<std::tuple<std::string, ops::GapFields>> found;
    run_job([&] {
        for (const std::string &path : paths) {
            const ops::ViewedBottle bottle(path);
            bottle.require();
            const Grid grid = bottle.grid();
            ops::find_gaps(bottle, least, [&](std::int64_t first, std::int64_t end) {
                found.emplace_back(path, ops::gap_fields(grid, first, end));
            });
        }
    });
    std::vector<py::tuple> rows;
    rows.reserve(found.size());
    for (const auto &[path, f] : found) rows.push_back(py::make_tuple(path, f.start, f.end, f.samples));
    return rows;
}

py::dict stats(const std::string &path) {
    const ops::Stats s = run_job([&] {
        const ops::ViewedBottle bottle(path);
        bottle.require_reachable();
        return ops::stats_of(bottle);
    });
    const bool whole = s.type < 2;  // int and long samples are whole numbers
    const auto number = [&](const std::optional<double> &v, bool as_int) -> py::object {
        if (!v) return py::none();
        if (as_int) return py::int_(static_cast<long long>(*v));
        return py::float_(*v);
    };
    py::dict d;
    d["count"] = s.count;
    d["usable"] = s.usable;
    d["unusable"] = s.unusable;
    d["nan"] = s.nan;
    d["min"] = number(s.min, whole);
    d["max"] = number(s.max, whole);
    d["mean"] = number(s.mean, false);
    return d;
}

void export_netcdf(const std::string &src, const std::string &dst, const std::string &name,
                   const std::optional<std::string> &units, const std::optional<std::string> &title, int deflate,
                   bool force) {
    ops::ExportRequest request;
    request.name = name;
    request.units = units;
    request.title = title;
    request.deflate = deflate;
    request.output = output_of(force);
    run_job([&] { ops::export_netcdf(src, dst, request); });
}

}  // namespace

void bind_archive(py::module_ &m) {
    py::class_<Grid>(m, "Grid", "The nominal time grid of a bottle (see the README's section on the time grid).")
        .def(py::init<double, float, std::int64_t>(), py::arg("begin"), py::arg("interval"), py::arg("count"))
        .def_property_readonly("begin", &Grid::begin)
        .def_property_readonly("step", &Grid::step)
        .def_property_readonly("rate", [](const Grid &g) { return ops::whole_rate(g.stored_interval()); })
        .def_property_readonly("stored_interval", &Grid::stored_interval)
        .def_property_readonly("count", &Grid::count)
        .def_property_readonly("usable", &Grid::usable)
        .def_property_readonly("forward", &Grid::forward)
        .def_property_readonly("problem", &Grid::problem)
        .def_property_readonly("tolerance", &Grid::tolerance)
        .def_property_readonly("end_time", &Grid::end_time)
        .def("time", &Grid::time, py::arg("i"))
        .def("index_at", &Grid::index_at, py::arg("t"))
        .def("first_at_or_after", &Grid::first_at_or_after, py::arg("t"))
        .def("last_at_or_before", &Grid::last_at_or_before, py::arg("t"))
        .def("select", &Grid::select, py::arg("start") = std::nullopt, py::arg("end") = std::nullopt,
             py::arg("end_included") = true)
        .def("offset_of", &Grid::offset_of, py::arg("other"));

    m.def("cut", &cut, py::arg("src"), py::arg("dst"), py::arg("start"), py::arg("end"), py::arg("force"));
    m.def("cat", &cat, py::arg("dst"), py::arg("srcs"), py::arg("overlap"), py::arg("force"));
    m.def("gaps", &gaps, py::arg("paths"), py::arg("min"));
    m.def("stats", &stats, py::arg("path"));
    m.def("export", &export_netcdf, py::arg("src"), py::arg("dst"), py::arg("name"), py::arg("units"),
          py::arg("title"), py::arg("deflate"), py::arg("force"));
    m.def("can_export", &ops::can_export);
}

}  // namespace zulukit
