// The parts of the _zulukit extension, each adding its names to the module.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace zulu::archive {
class Failure;
}

namespace zulukit {

// Text of the file system (names, and messages that hold them) as a str,
// bytes that are not UTF-8 as surrogate escapes (errors.cc).
pybind11::str fs_text(const std::string &text);

// Raise, as Python exceptions whose text holds names as fs_text does:
// OSError(err, `what` or the system's words, path) of the errno's subclass
// (FileNotFoundError and the like), with no filename for an empty path;
// zulukit.BottleError (set once, when the module starts); and an archive
// Failure as the exception of its kind (OSError with its errno,
// BottleError, or ValueError), with the command's text less its hints.
[[noreturn]] void raise_os_error(int err, const std::string &path, const std::string &what = "");
void set_bottle_error(PyObject *type);
[[noreturn]] void raise_not_bottle(const std::string &message);
[[noreturn]] void raise_failure(const zulu::archive::Failure &f);

// The time grid and the archive operations (archive.cc).
void bind_archive(pybind11::module_ &m);

// For the tests: failures of system calls on demand (fault_hook.cc, built
// with the tests).
void bind_fault_hook(pybind11::module_ &m);

// Following a bottle as its writer flushes samples (follow.cc).
void bind_follow(pybind11::module_ &m);

}  // namespace zulukit
