// The parts of the _zulukit extension, each adding its names to the module.
#pragma once

#include <pybind11/pybind11.h>

namespace zulukit {

// The time grid and the archive operations (archive.cc).
void bind_archive(pybind11::module_ &m);

// For the tests: failures of system calls on demand (fault_hook.cc, built
// with the tests).
void bind_fault_hook(pybind11::module_ &m);

}  // namespace zulukit
