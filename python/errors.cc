// Failures as Python exceptions, and the text of the file system as
// Python's str: names are bytes, and a name that is not UTF-8 keeps its
// bytes as surrogate escapes, as os.fsdecode keeps them, so that a
// message naming it can be raised and the name given back reopens the
// same file.

#include <cstring>

#include "bindings.h"
#include "failure.h"

namespace py = pybind11;

namespace zulukit {
namespace {

// zulukit.BottleError, for a file that is not a bottle.  Held for the
// life of the process: the module is never unloaded.
PyObject *bottle_error = nullptr;

[[noreturn]] void raise_text(PyObject *type, const std::string &message) {
    PyErr_SetObject(type, fs_text(message).ptr());
    throw py::error_already_set();
}

}  // namespace

py::str fs_text(const std::string &text) {
    PyObject *s = PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

void set_bottle_error(PyObject *type) { bottle_error = type; }

void raise_os_error(int err, const std::string &path, const std::string &what) {
    const std::string text = what.empty() ? std::strerror(err) : what;
    if (path.empty())
        PyErr_SetObject(PyExc_OSError, py::make_tuple(err, fs_text(text)).ptr());
    else
        PyErr_SetObject(PyExc_OSError, py::make_tuple(err, fs_text(text), fs_text(path)).ptr());
    throw py::error_already_set();
}

void raise_not_bottle(const std::string &message) { raise_text(bottle_error, message); }

void raise_failure(const zulu::archive::Failure &f) {
    if (f.error_number() != 0 && f.status() != zulu::archive::kUsage) {
        PyErr_SetObject(PyExc_OSError, py::make_tuple(f.error_number(), fs_text(f.message())).ptr());
        throw py::error_already_set();
    }
    if (f.not_bottle()) raise_not_bottle(f.message());
    raise_text(PyExc_ValueError, f.message());
}

}  // namespace zulukit
