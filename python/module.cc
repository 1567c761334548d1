// _zulukit: the compiled half of the zulukit package.  Bottles opened and
// moved to and from numpy arrays by sample index through the bottle core,
// and the date routines applied to whole arrays.  The Python half
// (zulukit/__init__.py) turns times into indices, checks values and
// documents the interface.
//
// Nothing here prints: bottles are opened quiet, and every failure becomes
// a Python exception.  File transfers run without the GIL, so that threads
// working on distinct bottles proceed side by side; the date routines read
// process-wide settings (zone, dtoa_fmt) and run with the GIL held.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "bindings.h"
#include "bot.h"
#include "core.h"
#include "date.h"
#include "format.h"

namespace py = pybind11;
namespace core = zulu::core;
namespace format = zulu::format;

namespace {

// Raises OSError(err, its message or `what`, path): FileNotFoundError and
// the like where Python has a subclass for the errno value.
[[noreturn]] void raise_os_error(int err, const std::string &path, const char *what = nullptr) {
    PyErr_SetObject(PyExc_OSError, py::make_tuple(err, what ? what : std::strerror(err), path).ptr());
    throw py::error_already_set();
}

// zulukit.BottleError, for a file that is not a bottle.  Held for the
// life of the process: the module is never unloaded.
PyObject *bottle_error = nullptr;

[[noreturn]] void raise_not_bottle(const std::string &path, const std::string &why) {
    PyErr_SetString(bottle_error, (path + ": not a bottle: " + why).c_str());
    throw py::error_already_set();
}

[[noreturn]] void raise_open_failure(const std::string &path, const core::Opened &opened) {
    switch (opened.error) {
    case core::OpenError::kCannotOpen:
        raise_os_error(opened.sys_errno, path);
    case core::OpenError::kNoMemory:
    case core::OpenError::kNoBuffer:
        throw std::bad_alloc();
    default:
        if (opened.problem == core::HeaderProblem::kUnreadable) raise_os_error(opened.sys_errno, path);
        raise_not_bottle(path, core::problem_text(opened));
    }
}

// An open bottle.  Closed at the latest when the object goes; close()
// reports what the closing found.
class Handle {
public:
    Handle(bottle_hdr *b, std::string path) : b_(b), path_(std::move(path)) {}
    ~Handle() {
        if (b_) core::close(b_);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    static Handle open(const std::string &path, bool write) {
        core::OpenOptions options;
        options.access = write ? core::Access::kReadWrite : core::Access::kRead;
        options.quiet = true;
        options.direct = true;
        core::Opened opened;
        {
            py::gil_scoped_release unlocked;
            opened = core::open(path.c_str(), options);
        }
        if (!opened.bottle) raise_open_failure(path, opened);
        return Handle(opened.bottle, path);
    }

    static Handle create(const std::string &path, double beg, double ivl, int type, bool overwrite) {
        if (!format::valid_type(type)) throw py::value_error("no such sample type");
        core::CreateOptions options;
        options.open.access = core::Access::kReadWrite;
        options.open.quiet = true;
        options.open.direct = true;
        options.exclusive = !overwrite;
        core::Created created;
        {
            py::gil_scoped_release unlocked;
            created = core::create(path.c_str(), beg, ivl, type, options);
        }
        switch (created.error) {
        case core::CreateError::kNone:
            return Handle(created.bottle, path);
        case core::CreateError::kOpen:
            raise_open_failure(path, created.opened);
        case core::CreateError::kExists:
            raise_os_error(EEXIST, path);
        default:
            raise_os_error(created.sys_errno, path);
        }
    }

    Handle(Handle &&other) noexcept : b_(other.b_), path_(std::move(other.path_)), reported_(other.reported_) {
        other.b_ = nullptr;
    }

    bool closed() const { return b_ == nullptr; }
    bool writable() const { return core::writable(live()); }
    double begin() const { return live()->beg; }
    double interval() const { return live()->ivl; }
    std::int64_t count() const { return live()->nsam; }
    int type() const { return live()->type; }
    // The unusable value as a slot of the bottle's type holds it.
    py::object unusable() const {
        const bottle_hdr *b = live();
        return format::with_sample_type(b->type, [&](auto tag) {
            return py::cast(format::unusable_as<decltype(tag)>(b->usym));
        });
    }

    // The index of the sample at time t; a time too far out for any sample
    // gives an index that reaches none.
    std::int64_t index(double t) const {
        const auto i = core::index_of(live(), t);
        if (!i) throw py::value_error("a NaN time has no sample index");
        return *i;
    }
    double time(std::int64_t i) const { return core::time_of(live(), i); }

    // Fills `out` (contiguous, of the bottle's sample width) from index first.
    void read_into(const py::buffer &out, std::int64_t first) {
        const py::buffer_info info = out.request(true);
        const std::int64_t n = checked_slots(info);
        bottle_hdr *b = live();
        {
            py::gil_scoped_release unlocked;
            core::read_at(b, first, n, info.ptr);
        }
        check_transfers();
    }

    // Stores `in` (contiguous, of the bottle's sample width) from index
    // first, NaN as the unusable value.  The samples go through a staging
    // block that lies in memory as they will in the file (the header puts
    // sample 0 at byte 40): the kernel copies aligned runs much faster.
    void write_from(const py::buffer &in, std::int64_t first) {
        const py::buffer_info info = in.request();
        const std::int64_t n = checked_slots(info);
        bottle_hdr *b = live();
        if (!core::writable(b)) raise_read_only();
        if (!core::placeable(b, first, n))
            throw py::value_error("the window reaches past the largest bottle file (2 GiB); nothing was written");
        {
            py::gil_scoped_release unlocked;
            format::with_sample_type(b->type, [&](auto tag) {
                using T = decltype(tag);
                write_staged(b, first, n, static_cast<const T *>(info.ptr));
            });
        }
        check_transfers();
    }

    void flush() {
        bottle_hdr *b = live();
        bool ok;
        {
            py::gil_scoped_release unlocked;
            ok = core::flush(b);
        }
        if (!ok) {
            reported_ = core::error(b);
            raise_os_error(reported_ != 0 ? reported_ : EIO, path_);
        }
    }

    // Writes back and closes.  A failure not yet raised by the call that
    // met it is raised here.
    void close() {
        if (!b_) return;
        bottle_hdr *b = b_;
        b_ = nullptr;
        bool flushed, closed;
        int err;
        {
            py::gil_scoped_release unlocked;
            flushed = core::flush(b);
            err = core::error(b);
            closed = core::close(b);  // frees b
        }
        if (err != 0 && err != reported_) raise_os_error(err, path_);
        if ((!flushed || !closed) && err == 0) raise_os_error(EIO, path_);
    }

    // The line bshow prints, without its leading blank and newline.
    std::string show() const {
        char line[160];
        core::show_line(live(), line, sizeof line);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n')) text.pop_back();
        return text.empty() || text.front() != ' ' ? text : text.substr(1);
    }

private:
    template <class T>
    static void write_staged(bottle_hdr *b, std::int64_t first, std::int64_t n, const T *in) {
        constexpr std::int64_t kSlots = (std::int64_t{1} << 20) / sizeof(T);
        constexpr std::size_t kAlign = 64;
        std::vector<unsigned char> block(kSlots * sizeof(T) + kAlign);
        const T unusable = format::unusable_as<T>(b->usym);
        const auto position = static_cast<std::size_t>(b->doff + first * static_cast<std::int64_t>(sizeof(T)));
        const std::size_t shift = (position - reinterpret_cast<std::uintptr_t>(block.data())) % kAlign;
        T *staged = reinterpret_cast<T *>(block.data() + shift);
        for (std::int64_t done = 0; done < n || (n == 0 && done == 0);) {
            const std::int64_t k = std::min(n - done, kSlots);
            for (std::int64_t i = 0; i < k; ++i) {
                const T v = in[done + i];
                staged[i] = v != v ? unusable : v;  // NaN, where T is floating
            }
            core::write_at(b, first + done, k, staged);
            if (core::error(b) || k == 0) break;
            done += k;
        }
    }

    bottle_hdr *live() const {
        if (!b_) throw py::value_error("I/O operation on a closed bottle");
        return b_;
    }

    std::int64_t checked_slots(const py::buffer_info &info) const {
        const int width = format::width_of(live()->type);
        if (info.itemsize != width || info.ndim != 1 || (info.shape[0] > 1 && info.strides[0] != width))
            throw py::value_error("samples must be a contiguous one-dimensional array of the bottle's type");
        return info.shape[0];
    }

    void check_transfers() {
        if (const int err = core::error(b_)) {
            reported_ = err;
            raise_os_error(err, path_);
        }
    }

    [[noreturn]] void raise_read_only() const { raise_os_error(EBADF, path_, "bottle opened for reading (mode 'r')"); }

    bottle_hdr *b_ = nullptr;
    std::string path_;
    int reported_ = 0;  // the error state when last raised
};

// --- Dates --------------------------------------------------------------

// Sets the zone and layout for one call and puts the program's own back.
class DateSettings {
public:
    DateSettings(int z, int layout = dtoa_fmt) : zone_(zone), layout_(dtoa_fmt) {
        zone = z;
        dtoa_fmt = layout;
    }
    ~DateSettings() {
        zone = zone_;
        dtoa_fmt = layout_;
    }
    DateSettings(const DateSettings &) = delete;
    DateSettings &operator=(const DateSettings &) = delete;

private:
    int zone_, layout_;
};

using Times = py::array_t<double, py::array::c_style | py::array::forcecast>;

Times atod_all(const std::vector<std::string> &texts, int z) {
    DateSettings settings(z);
    Times out(static_cast<py::ssize_t>(texts.size()));
    double *t = out.mutable_data();
    for (std::size_t i = 0; i < texts.size(); ++i) t[i] = atod(texts[i].c_str());
    return out;
}

py::list dtoa_all(const Times &times, int layout, int z) {
    DateSettings settings(z, layout);
    const double *t = times.data();
    py::list out(times.size());
    for (py::ssize_t i = 0; i < times.size(); ++i) {
        char text[41] = "";
        dtoa(t[i], text);
        text[40] = '\0';
        out[static_cast<std::size_t>(i)] = py::str(text);
    }
    return out;
}

// The fields of a date record, for numpy's structured dtype.
constexpr const char *kFields[] = {"yr", "jl", "mo", "dm", "dw", "hr", "mn", "se", "mi"};
static_assert(sizeof(datevec) == sizeof kFields / sizeof *kFields * sizeof(int32_t));

py::dtype record_dtype() {
    py::list fields;
    for (const char *f : kFields) fields.append(py::make_tuple(f, "<i4"));
    return py::dtype::from_args(fields);
}

py::array dtov_all(const Times &times, int z) {
    DateSettings settings(z);
    py::array out(record_dtype(), std::vector<py::ssize_t>{times.size()});
    auto *v = static_cast<datevec *>(out.mutable_data());
    const double *t = times.data();
    for (py::ssize_t i = 0; i < times.size(); ++i) dtov(t[i], &v[i]);
    return out;
}

Times vtod_all(const py::array &records, int z) {
    if (!records.dtype().equal(record_dtype())) throw py::type_error("records must have the dtype of dtov's result");
    const py::array copy = py::array::ensure(records, py::array::c_style);
    DateSettings settings(z);
    Times out(copy.size());
    const auto *v = static_cast<const datevec *>(copy.data());
    double *t = out.mutable_data();
    for (py::ssize_t i = 0; i < copy.size(); ++i) {
        datevec record = v[i];  // vtod fills in a day of the year of 0
        t[i] = vtod(&record);
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(_zulukit, m) {
    m.doc() = "Compiled core of zulukit; use the zulukit package.";
    bottle_error = PyErr_NewExceptionWithDoc("zulukit.BottleError",
                                             "The file is not a usable bottle (a ValueError); the message says why.",
                                             PyExc_ValueError, nullptr);
    if (!bottle_error) throw py::error_already_set();
    m.attr("BottleError") = py::reinterpret_borrow<py::object>(bottle_error);

    py::list types;
    for (const auto &t : format::kTypes) types.append(py::make_tuple(t.name, t.width, t.unusable));
    m.attr("TYPES") = types;
    m.attr("FLOAT_TYPES") = py::make_tuple(2, 3);

    py::class_<Handle>(m, "Handle")
        .def_static("open", &Handle::open, py::arg("path"), py::arg("write"))
        .def_static("create", &Handle::create, py::arg("path"), py::arg("begin"), py::arg("interval"), py::arg("type"),
                    py::arg("overwrite"))
        .def_property_readonly("closed", &Handle::closed)
        .def_property_readonly("writable", &Handle::writable)
        .def_property_readonly("begin", &Handle::begin)
        .def_property_readonly("interval", &Handle::interval)
        .def_property_readonly("count", &Handle::count)
        .def_property_readonly("type", &Handle::type)
        .def_property_readonly("unusable", &Handle::unusable)
        .def("index", &Handle::index)
        .def("time", &Handle::time)
        .def("read_into", &Handle::read_into)
        .def("write_from", &Handle::write_from)
        .def("flush", &Handle::flush)
        .def("close", &Handle::close)
        .def("show", &Handle::show);

    m.def("atod", &atod_all, py::arg("texts"), py::arg("zone"));
    m.def("dtoa", &dtoa_all, py::arg("times"), py::arg("layout"), py::arg("zone"));
    m.def("dtov", &dtov_all, py::arg("times"), py::arg("zone"));
    m.def("vtod", &vtod_all, py::arg("records"), py::arg("zone"));
    m.def("record_dtype", &record_dtype);

    zulukit::bind_archive(m);
}
