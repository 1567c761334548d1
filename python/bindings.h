// The parts of the _zulukit extension, each adding its names to the module.
#pragma once

#include <pybind11/pybind11.h>

#include "failure.h"

namespace zulukit {

// The time grid and the archive operations (archive.cc).
void bind_archive(pybind11::module_ &m);

// Following a bottle as its writer flushes samples (follow.cc).
void bind_follow(pybind11::module_ &m);

// An archive Failure as the Python exception for it: OSError (of the
// errno's subclass) where a system call failed, BottleError for a file
// that is not a bottle, ValueError otherwise.
[[noreturn]] void raise_failure(const zulu::archive::Failure &f);

}  // namespace zulukit
