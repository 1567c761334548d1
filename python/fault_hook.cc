// For the package's tests: failures of the libraries' system calls on
// demand, armed from Python with the fault injector of the library tests.
// Built into the extension only where the tests are built.

#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>

#include "bindings.h"
#include "faults.h"

namespace py = pybind11;

namespace zulukit {
namespace {

std::optional<faults::FaultInjector> injector;

faults::Kind kind_named(const std::string &name) {
    for (faults::Kind k : {faults::Kind::kEIO, faults::Kind::kENOSPC, faults::Kind::kShort, faults::Kind::kEINTR})
        if (name == faults::name_of(k)) return k;
    throw py::value_error("no such kind of failure: " + name);
}

}  // namespace

void bind_fault_hook(py::module_ &m) {
    m.def(
        "_fail_call",
        [](const std::string &kind, int n) {
            injector.reset();
            injector.emplace(kind_named(kind), n);
        },
        py::arg("kind"), py::arg("n"), "Makes call n of the system-call table fail (\"EIO\", \"ENOSPC\", ...).");
    m.def(
        "_stop_failing",
        []() -> std::optional<std::pair<std::string, bool>> {
            std::optional<std::pair<std::string, bool>> failed;
            if (injector && injector->fired()) failed.emplace(injector->call(), injector->read_only());
            injector.reset();
            return failed;
        },
        "Puts the system's calls back; the call that failed (\"write\", ...) and whether its descriptor was "
        "open for reading only, or None.");
}

}  // namespace zulukit
