// The archive operations for Python: the one time grid of bottles, and the
// jobs the bottle command runs, each called as the command calls it.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>

#include "bindings.h"
#include "grid.h"

namespace py = pybind11;
using zulu::archive::Grid;

namespace zulukit {

void bind_archive(py::module_ &m) {
    py::class_<Grid>(m, "Grid", "The nominal time grid of a bottle (see the README's section on the time grid).")
        .def(py::init<double, float, std::int64_t>(), py::arg("begin"), py::arg("interval"), py::arg("count"))
        .def_property_readonly("begin", &Grid::begin)
        .def_property_readonly("step", &Grid::step)
        .def_property_readonly("rate", [](const Grid &g) { return zulu::archive::whole_rate(g.stored_interval()); })
        .def_property_readonly("stored_interval", &Grid::stored_interval)
        .def_property_readonly("count", &Grid::count)
        .def_property_readonly("usable", &Grid::usable)
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
}

}  // namespace zulukit
