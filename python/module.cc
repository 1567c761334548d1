// _zulukit: the compiled half of the zulukit package.  Bottles opened and
// moved to and from numpy arrays by sample index through the bottle core,
// and the date routines applied to whole arrays.  The Python half
// (zulukit/__init__.py) turns times into indices, checks values and
// documents the interface.
//
// Nothing here prints: bottles are opened quiet, and every failure becomes
// a Python exception.  File transfers run without the GIL, so that threads
// working on distinct bottles proceed side by side.  Dates are written and
// read by the date routines' reentrant forms, with the zone and layout of
// each call: no call depends on settings another thread changes.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bindings.h"
#include "bot.h"
#include "buf.h"
#include "core.h"
#include "date.h"
#include "failure.h"
#include "files.h"
#include "format.h"
#include "grid.h"
#include "live.h"
#include "sysio.h"
#include "timetext.h"

namespace py = pybind11;
namespace core = zulu::core;
namespace format = zulu::format;
namespace archive = zulu::archive;

namespace {

using zulukit::raise_os_error;

[[noreturn]] void raise_not_bottle(const std::string &path, const std::string &why) {
    zulukit::raise_not_bottle(path + ": not a bottle: " + why);
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

// An open bottle, which threads may share.  Each call holds the handle's
// lock, taken with the GIL released (nothing done under it needs the GIL):
// reads share it, and as they read by position (read_shared) threads each
// get their own window; writes, flushes and close hold it alone.  close()
// thus waits for the calls under way, and later calls raise ValueError.
//
// A created bottle is written under a temporary name beside its target
// (OutputTarget), renamed onto the target by close().
class Handle {
public:
    ~Handle() {
        // A bottle dropped without close(): kept as a file is, where nothing
        // failed; failures have no caller left to report to.
        try {
            finish();
        } catch (...) {
        }
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    static std::unique_ptr<Handle> open(const std::string &path, bool write) {
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
        // The samples the file holds from its data offset, as every job counts.
        opened.bottle->nsam = static_cast<std::int32_t>(
            format::samples_held(opened.bottle->type, opened.bottle->doff, opened.status.st_size));
        auto h = std::unique_ptr<Handle>(new Handle(opened.bottle, path));
        h->unreachable_ = archive::unreachable_problem(path, opened.header, opened.status.st_size);
        return h;
    }

    // A new bottle under a temporary name; the checks come first, so that a
    // refused call makes no file.
    static std::unique_ptr<Handle> create(const std::string &path, double beg, double ivl, int type, bool overwrite) {
        if (!format::valid_type(type)) throw py::value_error("no such sample type");
        if (!std::isfinite(beg)) throw py::value_error("the begin time must be a finite number of seconds");
        if (!std::isfinite(ivl) || !(ivl > 0))
            throw py::value_error("the interval must be a positive finite number of seconds, not " + number(ivl));
        const float stored = format::narrow_to_float(ivl);
        if (stored == 0 || !std::isfinite(stored))
            throw py::value_error("the interval " + number(ivl) + " does not fit the header, which holds it as a float32");
        struct stat st;
        if (!overwrite && ::stat(path.c_str(), &st) == 0) raise_os_error(EEXIST, path);
        std::unique_ptr<archive::OutputTarget> target;
        core::Created created;
        try {
            py::gil_scoped_release unlocked;
            target = std::make_unique<archive::OutputTarget>(
                path, std::vector<archive::InputFile>{}, archive::OutputTarget::Rules{overwrite, false, 0664, false});
            core::CreateOptions options;
            options.open.access = core::Access::kReadWrite;
            options.open.quiet = true;
            options.open.direct = true;
            created = core::create(target->temp_path().c_str(), beg, ivl, type, options);
        } catch (const archive::Failure &failure) {
            raise_failure(failure, path, overwrite);
        }
        if (created.error == core::CreateError::kNone) {
            auto h = std::unique_ptr<Handle>(new Handle(created.bottle, path));
            h->target_ = std::move(target);
            h->overwrite_ = overwrite;
            return h;
        }
        if (created.bottle) core::close(created.bottle);  // the header write failed: nothing to keep
        if (created.error == core::CreateError::kOpen) raise_open_failure(path, created.opened);
        raise_os_error(created.sys_errno != 0 ? created.sys_errno : EIO, path);
    }

    bool closed() const {
        py::gil_scoped_release unlocked;
        std::shared_lock lock(mutex_);
        return b_ == nullptr;
    }
    bool writable() const { return writable_; }
    double begin() const { return beg_; }
    double interval() const { return ivl_; }
    int type() const { return type_; }
    std::int32_t usym() const { return usym_; }
    std::int64_t count() const {
        return shared([](bottle_hdr *b) { return static_cast<std::int64_t>(b->nsam); });
    }
    // A new descriptor of the file this bottle opened (the temporary file of
    // a new bottle until close()), for the caller to map and close: never
    // the file's name opened again, which may lead to another file since.
    int duplicate_descriptor() const {
        const int fd = shared([](bottle_hdr *b) { return ::fcntl(getfdb(b->pbuf), F_DUPFD_CLOEXEC, 0); });
        if (fd < 0) raise_os_error(errno, path_);
        return fd;
    }
    // What makes samples of the file unreachable (past the largest bottle
    // file), or empty.
    py::str unreachable() const { return zulukit::fs_text(unreachable_); }
    // The unusable value as a slot of the bottle's type holds it.
    py::object unusable() const {
        return format::with_sample_type(type_, [&](auto tag) { return py::cast(format::unusable_as<decltype(tag)>(usym_)); });
    }

    // The 40 header bytes as the file holds them now, field by field, and
    // the samples its size gives.
    py::tuple header() const {
        bottle_hdr h{};
        struct stat st{};
        const int err = shared([&](bottle_hdr *b) {
            const int fd = getfdb(b->pbuf);
            const ssize_t got = zulu::sysio::read_fully_at(fd, &h, format::kHeaderSize, 0);
            if (got < 0) return errno;
            if (got < format::kHeaderSize) return EIO;  // cut short since it was opened
            return ::fstat(fd, &st) == 0 ? 0 : errno;
        });
        if (err != 0) raise_os_error(err, path_);
        const std::int64_t count =
            format::valid_type(h.type) && h.doff >= 0 ? format::samples_held(h.type, h.doff, st.st_size) : 0;
        return py::make_tuple(h.magic, h.spare0, h.doff, h.beg, h.ivl, h.nsam, h.type, h.usym, h.spare1, h.spare2, count);
    }

    // Takes the samples the file holds now as the bottle's, as opening it
    // again would count them (a writer's own count stays where it is
    // higher), and returns the count.  A file written anew in place since
    // it was opened (its samples placed otherwise) is an OSError.
    std::int64_t refresh() {
        const int err = exclusive([&](bottle_hdr *b) {
            const int fd = getfdb(b->pbuf);
            bottle_hdr now{};
            struct stat st{};
            const ssize_t got = zulu::sysio::read_fully_at(fd, &now, format::kHeaderSize, 0);
            if (got < 0) return errno;
            if (got < format::kHeaderSize || archive::placement_changed(*b, now)) return ESTALE;
            if (::fstat(fd, &st) != 0) return errno;
            const std::int64_t held = format::samples_held(type_, b->doff, st.st_size);
            b->nsam = static_cast<std::int32_t>(writable_ ? std::max<std::int64_t>(b->nsam, held) : held);
            return 0;
        });
        if (err == ESTALE) raise_os_error(err, path_, "the file was written anew since it was opened");
        if (err != 0) raise_os_error(err, path_);
        return count();
    }

    // Fills `out` (contiguous, of the bottle's sample width) from index first.
    void read_into(const py::buffer &out, std::int64_t first) const {
        checked_index(first);
        const py::buffer_info info = out.request(true);
        const std::int64_t n = checked_slots(info);
        const int err = shared([&](bottle_hdr *b) { return core::read_shared(b, first, n, info.ptr); });
        if (err != 0) raise_os_error(err, path_);
    }

    // Fills `out` (float64) with the samples from index first, NaN where
    // missing, a block at a time.
    void floats_into(const py::array_t<double, py::array::c_style> &out, std::int64_t first) const {
        checked_index(first);
        const py::buffer_info info = out.request(true);
        auto *into = static_cast<double *>(info.ptr);
        const std::int64_t n = info.size;
        const int err = shared([&](bottle_hdr *b) {
            return format::with_sample_type(type_, [&](auto tag) {
                using T = decltype(tag);
                constexpr std::int64_t kBlock = std::int64_t{1} << 16;
                std::vector<T> block(kBlock);
                const T unusable = format::unusable_as<T>(usym_);
                for (std::int64_t done = 0; done < n; done += kBlock) {
                    const std::int64_t k = std::min(n - done, kBlock);
                    if (const int e = core::read_shared(b, first + done, k, block.data())) return e;
                    for (std::int64_t i = 0; i < k; ++i)
                        into[done + i] = format::missing(block[i], unusable) ? NAN : static_cast<double>(block[i]);
                }
                return 0;
            });
        });
        if (err != 0) raise_os_error(err, path_);
    }

    // Stores `in` (contiguous, of the bottle's sample width) from index
    // first, NaN as the unusable value.  Unless `checked`, the unusable
    // value itself is refused: the index of the first that holds it, with
    // nothing written; else -1.
    std::int64_t write_from(const py::buffer &in, std::int64_t first, bool checked) {
        checked_index(first);
        const py::buffer_info info = in.request();
        const std::int64_t n = checked_slots(info);
        if (!writable_) raise_read_only();
        std::int64_t refused = -1;
        const int err = exclusive([&](bottle_hdr *b) {
            if (!core::placeable(b, first, n))
                throw py::value_error("the window reaches past the largest bottle file (2 GiB); nothing was written");
            int cut_error = 0;
            const core::FailureMark mark = core::failure_mark(b);  // every failure of this call is raised
            format::with_sample_type(type_, [&](auto tag) {
                using T = decltype(tag);
                const T *v = static_cast<const T *>(info.ptr);
                if (!checked && n > 0 && past_the_end(b, first)) {
                    refused = write_appending(b, first, n, v, format::unusable_as<T>(usym_), cut_error, mark);
                    return;
                }
                const Scan scan = scan_samples(v, n, format::unusable_as<T>(usym_), !checked);
                refused = scan.first_unusable;
                if (refused >= 0) return;
                if (scan.any_nan)
                    write_staged(b, first, n, v, mark);
                else
                    core::write_at(b, first, n, v);  // as they are, in one transfer
            });
            return cut_error != 0 ? cut_error : core::error_since(b, mark);
        });
        if (err != 0) raise_os_error(err, path_);
        return refused;
    }

    void flush() {
        const int err = exclusive([&](bottle_hdr *b) {
            if (core::flush(b)) return 0;
            const int first = core::error(b);
            return first != 0 ? first : EIO;
        });
        if (err != 0) raise_os_error(err, path_);
    }

    // Writes back and closes; a new bottle is then renamed onto its target.
    // Any failure of the bottle's transfers is raised here, whether or not
    // the call that met it raised it too.
    void close() {
        int err = 0;
        std::optional<archive::Failure> failed;
        {
            py::gil_scoped_release unlocked;
            std::unique_lock lock(mutex_);
            try {
                err = finish();
            } catch (const archive::Failure &failure) {
                failed = failure;
            }
        }
        if (err != 0) raise_os_error(err, path_);
        if (failed) raise_failure(*failed, path_, overwrite_);
    }

    // The line bshow prints, without its leading blank and newline, its
    // times in layout 0 and GMT.
    std::string show() const {
        char line[160] = "";
        shared([&](bottle_hdr *b) {
            core::show_line(b, line, sizeof line, 0, 0);
            return 0;
        });
        std::string text(line);
        while (!text.empty() && (text.back() == '\n')) text.pop_back();
        return text.empty() || text.front() != ' ' ? text : text.substr(1);
    }

private:
    Handle(bottle_hdr *b, std::string path)
        : b_(b), path_(std::move(path)), writable_(core::writable(b)), beg_(b->beg), ivl_(b->ivl), type_(b->type),
          usym_(b->usym) {}

    static std::string number(double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", v);
        return text;
    }

    // Calls f(bottle) holding the lock shared (or alone), with the GIL
    // released; ValueError when the bottle is closed.
    template <class F>
    auto shared(F &&f) const -> decltype(f(nullptr)) {
        py::gil_scoped_release unlocked;
        std::shared_lock lock(mutex_);
        return f(live());
    }
    template <class F>
    auto exclusive(F &&f) -> decltype(f(nullptr)) {
        py::gil_scoped_release unlocked;
        std::unique_lock lock(mutex_);
        return f(live());
    }

    // Closes the bottle and commits a new one; the errno of the first
    // failure of its transfers, or 0.  Called with the lock held (or from
    // the destructor).
    int finish() {
        if (!b_) return 0;
        bottle_hdr *b = std::exchange(b_, nullptr);
        const bool flushed = core::flush(b);
        int err = 0;
        const bool closed = core::close(b, "bclose", &err);  // frees b
        std::unique_ptr<archive::OutputTarget> target = std::move(target_);
        if (!flushed || !closed) return err != 0 ? err : EIO;  // a new bottle is not made: its temporary file goes
        if (target) target->commit();
        return 0;
    }

    struct Scan {
        std::int64_t first_unusable = -1;
        bool any_nan = false;
    };

    // Where the unusable value first lies among n samples (when `find`),
    // and whether any is NaN; chunks of a fixed count, in vector
    // instructions.
    template <class T>
    static Scan scan_samples(const T *v, std::int64_t n, T unusable, bool find) {
        constexpr std::int64_t kChunk = 16;
        Scan scan;
        const auto look = [&](std::int64_t a, std::int64_t z) {
            for (std::int64_t i = a; i < z; ++i) {
                scan.any_nan |= v[i] != v[i];
                if (find && v[i] == unusable) return scan.first_unusable = i, true;
            }
            return false;
        };
        std::int64_t a = 0;
        for (; a + kChunk <= n; a += kChunk) {
            int nan = 0, equal = 0;
            for (std::int64_t j = 0; j < kChunk; ++j) {
                nan |= v[a + j] != v[a + j];
                equal |= v[a + j] == unusable;
            }
            if (find && equal && look(a, a + kChunk)) return scan;
            scan.any_nan |= nan != 0;
        }
        look(a, n);
        return scan;
    }

    // Whether a window from `first` on begins at or past the end of the
    // file, which holds nothing past the stored samples.
    bool past_the_end(bottle_hdr *b, std::int64_t first) const {
        struct stat st;
        const std::int64_t end = b->doff + std::int64_t{b->nsam} * format::width_of(type_);
        return first >= b->nsam && ::fstat(getfdb(b->pbuf), &st) == 0 && st.st_size <= end;
    }

    // Writes a window that begins past the end of the file a block at a
    // time, each scanned just after its transfer while it is in the cache
    // (one pass over the samples in memory, not two).  A block with NaN is
    // written again through the staging block; the unusable value cuts the
    // file back to its old end, so that nothing is written, and is the
    // index returned.  A failure to cut it back goes to `cut_error`; a
    // failed transfer since `mark` ends the writing.
    template <class T>
    static std::int64_t write_appending(bottle_hdr *b, std::int64_t first, std::int64_t n, const T *v, T unusable,
                                        int &cut_error, const core::FailureMark &mark) {
        constexpr std::int64_t kBlock = (std::int64_t{256} << 10) / sizeof(T);
        const std::int32_t nsam = b->nsam;
        const off_t end = b->doff + static_cast<off_t>(nsam) * static_cast<off_t>(sizeof(T));
        for (std::int64_t done = 0; done < n; done += kBlock) {
            const std::int64_t k = std::min(n - done, kBlock);
            core::write_at(b, first + done, k, v + done);
            const Scan scan = scan_samples(v + done, k, unusable, true);
            if (scan.first_unusable >= 0) {
                if (::ftruncate(getfdb(b->pbuf), end) != 0) cut_error = errno;
                b->nsam = nsam;
                return done + scan.first_unusable;
            }
            if (scan.any_nan) write_staged(b, first + done, k, v + done, mark);
            if (core::error_since(b, mark) != 0) break;
        }
        return -1;
    }

    // Writes samples with NaN among them through a staging block that
    // holds the unusable value in their place, and lies in memory as the
    // samples will in the file (the header puts sample 0 at byte 40): the
    // kernel copies aligned runs much faster.  A failed transfer since
    // `mark` ends the writing.
    template <class T>
    static void write_staged(bottle_hdr *b, std::int64_t first, std::int64_t n, const T *in,
                             const core::FailureMark &mark) {
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
            if (core::error_since(b, mark) != 0 || k == 0) break;
            done += k;
        }
    }

    bottle_hdr *live() const {
        if (!b_) throw py::value_error("I/O operation on closed bottle");
        return b_;
    }

    // Indices stay within about 2^62, as the grid's do, so that no window
    // end overflows.
    static std::int64_t checked_index(std::int64_t i) {
        constexpr std::int64_t kFar = std::int64_t{1} << 62;
        if (i < -kFar || i > kFar) throw py::value_error("sample index out of range");
        return i;
    }

    std::int64_t checked_slots(const py::buffer_info &info) const {
        const int width = format::width_of(type_);
        if (info.itemsize != width || info.ndim != 1 || (info.shape[0] > 1 && info.strides[0] != width))
            throw py::value_error("samples must be a contiguous one-dimensional array of the bottle's type");
        return info.shape[0];
    }

    [[noreturn]] void raise_read_only() const { raise_os_error(EBADF, path_, "bottle opened for reading (mode 'r')"); }

    // An archive Failure as the OSError Python has for it: of its errno's
    // subclass, with the command's text less its hints on options.
    [[noreturn]] static void raise_failure(const archive::Failure &failure, const std::string &path, bool overwrite) {
        struct stat st;
        if (!overwrite && ::stat(path.c_str(), &st) == 0) raise_os_error(EEXIST, path);
        if (failure.error_number() != 0) raise_os_error(failure.error_number(), "", failure.message());
        PyErr_SetObject(PyExc_OSError, zulukit::fs_text(failure.message()).ptr());
        throw py::error_already_set();
    }

    mutable std::shared_mutex mutex_;
    bottle_hdr *b_ = nullptr;
    std::unique_ptr<archive::OutputTarget> target_;
    std::string path_;
    std::string unreachable_;
    const bool writable_;
    const double beg_;
    const float ivl_;
    const int type_;
    const std::int32_t usym_;
    bool overwrite_ = true;   // a new bottle may replace a file of its name
};

// --- Dates --------------------------------------------------------------

// The time a text names, in the forms the bottle command reads.
double parse_time(const std::string &text) {
    zulu::timetext::TimeProblem problem;
    if (const auto t = zulu::timetext::parse_time(text, &problem)) return *t;
    std::string message = zulu::timetext::quoted(text) + " is not a time: " + problem.what;
    if (problem.form) message += std::string("; ") + zulu::timetext::kTimeForms;
    throw py::value_error(message);
}

using Times = py::array_t<double, py::array::c_style | py::array::forcecast>;

Times atod_all(const std::vector<std::string> &texts, int z) {
    Times out(static_cast<py::ssize_t>(texts.size()));
    double *t = out.mutable_data();
    for (std::size_t i = 0; i < texts.size(); ++i) t[i] = atod_r(texts[i].c_str(), z);
    return out;
}

py::list dtoa_all(const Times &times, int layout, int z) {
    const double *t = times.data();
    py::list out(times.size());
    for (py::ssize_t i = 0; i < times.size(); ++i) {
        char text[41] = "";
        dtoa_r(t[i], text, layout, z);
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
    py::array out(record_dtype(), std::vector<py::ssize_t>{times.size()});
    auto *v = static_cast<datevec *>(out.mutable_data());
    const double *t = times.data();
    for (py::ssize_t i = 0; i < times.size(); ++i) dtov_r(t[i], &v[i], z);
    return out;
}

Times vtod_all(const py::array &records, int z) {
    if (!records.dtype().equal(record_dtype())) throw py::type_error("records must have the dtype of dtov's result");
    const py::array copy = py::array::ensure(records, py::array::c_style);
    Times out(copy.size());
    const auto *v = static_cast<const datevec *>(copy.data());
    double *t = out.mutable_data();
    for (py::ssize_t i = 0; i < copy.size(); ++i) {
        datevec record = v[i];  // vtod fills in a day of the year of 0
        t[i] = vtod_r(&record, z);
    }
    return out;
}

}  // namespace

PYBIND11_MODULE(_zulukit, m) {
    m.doc() = "Compiled core of zulukit; use the zulukit package.";
    PyObject *bottle_error = PyErr_NewExceptionWithDoc("zulukit.BottleError",
                                             "The file is not a usable bottle (a ValueError); the message says why.",
                                             PyExc_ValueError, nullptr);
    if (!bottle_error) throw py::error_already_set();
    zulukit::set_bottle_error(bottle_error);
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
        .def_property_readonly("usym", [](const Handle &h) { return h.usym(); })
        .def("duplicate_descriptor", &Handle::duplicate_descriptor)
        .def_property_readonly("unreachable", &Handle::unreachable)
        .def("header", &Handle::header)
        .def("refresh", &Handle::refresh)
        .def("read_into", &Handle::read_into)
        .def("floats_into", &Handle::floats_into)
        .def("write_from", &Handle::write_from, py::arg("samples"), py::arg("first"), py::arg("checked"))
        .def("flush", &Handle::flush)
        .def("close", &Handle::close)
        .def("show", &Handle::show);

    m.def("parse_time", &parse_time, py::arg("text"));
    m.attr("TIME_LIMIT") = zulu::timetext::kIsoTimeLimit;
    m.def("atod", &atod_all, py::arg("texts"), py::arg("zone"));
    m.def("dtoa", &dtoa_all, py::arg("times"), py::arg("layout"), py::arg("zone"));
    m.def("dtov", &dtov_all, py::arg("times"), py::arg("zone"));
    m.def("vtod", &vtod_all, py::arg("records"), py::arg("zone"));
    m.def("record_dtype", &record_dtype);

    zulukit::bind_archive(m);
    zulukit::bind_follow(m);
#ifdef ZULU_FAULT_HOOK
    zulukit::bind_fault_hook(m);
#endif
}
