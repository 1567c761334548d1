// The archive operations for Python: the one time grid of bottles, and the
// jobs the bottle command runs (cut, cat, gaps, stats, export), each called
// as the command calls it, with the same output rule: an output is written
// under a temporary name and renamed into place, an existing one replaced
// only with force.  Failures become exceptions: OSError (of the errno's
// subclass) where a system call failed, BottleError for a file that is not
// a bottle, ValueError for bad data or arguments.  The jobs run without
// the GIL.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>

#include <optional>
#include <string>
#include <vector>

#include "bindings.h"
#include "cut.h"
#include "decimate.h"
#include "export.h"
#include "failure.h"
#include "format.h"
#include "gaps.h"
#include "grid.h"
#include "join.h"
#include "series.h"
#include "stats.h"

namespace py = pybind11;
namespace ops = zulu::archive;
using zulu::archive::Grid;

namespace zulukit {
namespace {

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

// Which file of overlapping ones wins, by the names Python uses.
ops::Overlap overlap_of(const std::optional<std::string> &overlap) {
    if (!overlap) return ops::Overlap::kRefuse;
    if (*overlap == "first") return ops::Overlap::kFirst;
    if (*overlap == "last") return ops::Overlap::kLast;
    throw py::value_error("overlap must be None, \"first\" or \"last\", not \"" + *overlap + "\"");
}

ops::JoinRules rules_of(const std::optional<std::string> &overlap, double snap) { return {overlap_of(overlap), snap}; }

// Runs a job on a series without the GIL; usable samples of overlapping
// files that differ are a ValueError that says how to pick one.
template <class F>
auto run_series_job(F &&job) {
    return run_job([&] {
        try {
            return job();
        } catch (const ops::OverlapConflict &conflict) {
            throw ops::Failure(std::string(conflict.what()) + "; overlap='first' or overlap='last' says which input wins");
        }
    });
}

// Texts that may name files, each as fs_text gives it.
py::list fs_texts(const std::vector<std::string> &texts) {
    py::list out;
    for (const std::string &text : texts) out.append(fs_text(text));
    return out;
}

// The samples a job wrote and its notes, which the package gives as warnings.
py::tuple report_of(const ops::JobReport &report) { return py::make_tuple(report.samples, fs_texts(report.notes)); }

py::tuple cut(const std::vector<std::string> &srcs, const std::string &dst, std::optional<double> start,
              std::optional<double> end, bool partial, const std::optional<std::string> &overlap, double snap,
              bool force) {
    const ops::CutRequest request{start, end, rules_of(overlap, snap), partial, output_of(force)};
    return report_of(run_series_job([&] { return ops::cut(srcs, dst, request); }));
}

py::tuple cat(const std::string &dst, const std::vector<std::string> &srcs, const std::optional<std::string> &overlap,
              double snap, bool force) {
    const ops::JoinRequest request{rules_of(overlap, snap), output_of(force)};
    return report_of(run_series_job([&] { return ops::join(dst, srcs, request); }));
}

ops::Reduction reduction_of(const std::string &method) {
    const auto r = ops::reduction_named(method);
    if (!r) throw py::value_error("method must be \"fir\", \"mean\", \"min\" or \"max\", not \"" + method + "\"");
    return *r;
}

py::tuple decimate(const std::vector<std::string> &srcs, const std::string &dst, std::int64_t factor,
                   const std::string &method, bool strict, const std::optional<std::string> &overlap, double snap,
                   bool force) {
    const ops::DecimateRequest request{factor, reduction_of(method), strict, rules_of(overlap, snap), output_of(force)};
    return report_of(run_series_job([&] { return ops::decimate(srcs, dst, request); }));
}

// Decimates values in memory (NaN where missing), as the job decimates a
// series: for ds.bottle.decimate.
py::array_t<double> decimate_values(const py::array_t<double, py::array::c_style | py::array::forcecast> &values,
                                    std::int64_t factor, const std::string &method, bool strict) {
    const ops::Reduction reduction = reduction_of(method);
    const auto in = values.unchecked<1>();
    const std::int64_t n = in.shape(0);
    const double *at = n > 0 ? in.data(0) : nullptr;
    const std::vector<double> out = run_job([&] {
        const ops::Decimator decimator(factor, reduction, strict);
        try {
            return ops::decimate_values(at, n, decimator);
        } catch (const ops::MissingInput &missing) {
            throw ops::Failure(ops::MissingInput::message("position " + std::to_string(missing.index())));
        }
    });
    return py::array_t<double>(static_cast<py::ssize_t>(out.size()), out.data());
}

// The rows bottle gaps writes: (kind, file, start, end, samples, other,
// detail), or with runs, (file, start, end, samples) of each file alone.
std::vector<py::tuple> gaps(const std::vector<std::string> &paths, std::int64_t least, double snap, bool runs) {
    if (least < 1) throw py::value_error("min must be 1 or more");
    std::vector<ops::SurveyRow> found;
    run_job([&] {
        const auto keep = [&](const ops::SurveyRow &row) { found.push_back(row); };
        if (!runs) {
            if (!paths.empty()) ops::survey(paths, {least, snap}, keep);
            return;
        }
        for (const std::string &path : paths) {
            const ops::Series series = ops::Series::of_bottle(path);
            ops::SeriesReader reader(series);
            ops::find_gaps(reader, least, [&](std::int64_t first, std::int64_t end) {
                keep({ops::RowKind::kMissing, path, ops::gap_fields(series.grid(), first, end), "", ""});
            });
        }
    });
    std::vector<py::tuple> rows;
    rows.reserve(found.size());
    for (const ops::SurveyRow &r : found) {
        if (runs) rows.push_back(py::make_tuple(fs_text(r.file), r.span.start, r.span.end, r.span.samples));
        else rows.push_back(py::make_tuple(ops::kind_name(r.kind), fs_text(r.file), r.span.start, r.span.end, r.span.samples,
                                           fs_text(r.other), fs_text(r.detail)));
    }
    return rows;
}

py::dict stats(const std::string &path) {
    const ops::Stats s = run_job([&] {
        const ops::Series series = ops::Series::of_bottle(path);
        ops::SeriesReader reader(series);
        return ops::stats_of(reader);
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

// --- Grids and series ------------------------------------------------------

using Stamps = py::array_t<std::int64_t, py::array::c_style>;
using Indices = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

// The unit of stamps by its digits (0 s, 3 ms, 6 us, 9 ns).
int checked_digits(int digits) {
    if (digits < 0 || digits > ops::kNanoDigits) throw py::value_error("no such unit of time");
    return digits;
}

// Raised by the grid's conversions to datetime64 of a unit.
[[noreturn]] void raise_unstamped(const Grid &grid) {
    if (!grid.usable()) throw py::value_error(grid.problem() + ", so the samples have no times");
    throw py::value_error("the sample times reach past what datetime64 holds in that unit");
}

// The stamps of `out.size` samples from index first.
void stamps_into(const Grid &grid, Stamps out, std::int64_t first, int digits) {
    checked_digits(digits);
    auto view = out.mutable_unchecked<1>();
    const std::int64_t n = view.shape(0);
    bool ok = true;
    {
        py::gil_scoped_release unlocked;
        ok = grid.stamps(first, n, digits, n > 0 ? view.mutable_data(0) : nullptr);
    }
    if (!ok) raise_unstamped(grid);
}

// The stamps of the samples at `indices`.
Stamps stamps_at(const Grid &grid, const Indices &indices, int digits) {
    checked_digits(digits);
    const auto in = indices.unchecked<1>();
    Stamps out(in.shape(0));
    auto o = out.mutable_unchecked<1>();
    bool ok = true;
    {
        py::gil_scoped_release unlocked;
        const ops::UnitClock clock = grid.clock(digits);
        for (py::ssize_t k = 0; k < in.shape(0) && ok; ++k) {
            const std::int64_t i = in(k);
            const auto s = i >= -(std::int64_t{1} << 62) && i <= (std::int64_t{1} << 62) ? clock.at(i) : std::nullopt;
            ok = s.has_value();
            o(k) = s.value_or(0);
        }
    }
    if (!ok) raise_unstamped(grid);
    return out;
}

// For each stamp of `labels` (units of 10^-digits s) the sample index that
// `method` picks on a forward grid: "exact" the sample it names within the
// grid's tolerance, "pad" the last at or before it, "backfill" the first at
// or after it, "nearest" the nearer of those two (the later on a tie);
// kNone where none is.
constexpr std::int64_t kNone = INT64_MIN;

Stamps locate(const Grid &grid, const Indices &labels, int digits, const std::string &method) {
    checked_digits(digits);
    enum { kExact, kPad, kBackfill, kNearest } how;
    if (method == "exact") how = kExact;
    else if (method == "pad") how = kPad;
    else if (method == "backfill") how = kBackfill;
    else if (method == "nearest") how = kNearest;
    else throw py::value_error("no such method of lookup: " + method);
    if (!grid.forward()) throw py::value_error(grid.problem() + ", so samples cannot be found by time");
    const auto in = labels.unchecked<1>();
    Stamps out(in.shape(0));
    auto o = out.mutable_unchecked<1>();
    py::gil_scoped_release unlocked;
    const ops::UnitClock clock = grid.clock(digits);
    long double per_second = 1;
    for (int d = 0; d < digits; ++d) per_second *= 10;
    const long double h = static_cast<long double>(grid.tolerance()) * per_second;
    for (py::ssize_t k = 0; k < in.shape(0); ++k) {
        const std::int64_t t = in(k);
        const auto before = grid.last_stamp_at_or_before(t, digits);
        std::int64_t pick = kNone;
        if (before) {
            const std::int64_t after = *before + 1;
            const auto sb = clock.at(*before), sa = clock.at(after);
            switch (how) {
            case kPad:
                pick = *before;
                break;
            case kBackfill:
                pick = after;
                break;
            case kNearest:
                if (!sa) pick = *before;
                else if (!sb) pick = after;
                else pick = (t - *sb) < (*sa - t) ? *before : after;
                break;
            case kExact:
                // The sample whose time lies in [t - h, t + h).
                if (sb && static_cast<long double>(*sb) >= static_cast<long double>(t) - h) pick = *before;
                if (sa && static_cast<long double>(*sa) < static_cast<long double>(t) + h &&
                    (pick == kNone || *sa - t < t - *sb))
                    pick = after;
                break;
            }
        }
        o(k) = pick;
    }
    return out;
}

py::object overlap_name(ops::Overlap overlap) {
    if (overlap == ops::Overlap::kFirst) return py::str("first");
    if (overlap == ops::Overlap::kLast) return py::str("last");
    return py::none();
}

// Reads into a contiguous one-dimensional buffer of `width`-byte items.
void *checked_out(const py::buffer_info &info, py::ssize_t width) {
    if (info.ndim != 1 || info.itemsize != width || (info.shape[0] > 1 && info.strides[0] != width) || info.readonly)
        throw py::value_error("the output must be a writable contiguous one-dimensional array of the samples' type");
    return info.ptr;
}

template <class F>
void values_into(const ops::Series &series, py::array_t<F, py::array::c_style> out, std::int64_t first) {
    auto view = out.template mutable_unchecked<1>();
    const std::int64_t n = view.shape(0);
    F *to = n > 0 ? view.mutable_data(0) : nullptr;
    run_series_job([&] { ops::SeriesReader(series).read_values(first, n, to); });
}

template <class F>
void take_values_into(const ops::Series &series, const Indices &indices, py::array_t<F, py::array::c_style> out) {
    const auto in = indices.unchecked<1>();
    auto view = out.template mutable_unchecked<1>();
    if (view.shape(0) != in.shape(0)) throw py::value_error("the output must be as long as the indices");
    const std::int64_t n = in.shape(0);
    const std::int64_t *at = n > 0 ? in.data(0) : nullptr;
    F *to = n > 0 ? view.mutable_data(0) : nullptr;
    run_series_job([&] { ops::SeriesReader(series).take_values(at, n, to); });
}

// A series as pickled: the rule for overlaps and, per file, its name,
// device and inode, its 40 header bytes, its samples, where they go and
// how far a snap moved them.
py::tuple series_state(const ops::Series &series) {
    py::list pieces;
    for (const ops::Piece &p : series.pieces())
        pieces.append(py::make_tuple(py::bytes(p.name), static_cast<unsigned long long>(p.id.dev),
                                     static_cast<unsigned long long>(p.id.ino),
                                     py::bytes(reinterpret_cast<const char *>(&p.header), zulu::format::kHeaderSize),
                                     p.count, p.offset, p.moved));
    return py::make_tuple(overlap_name(series.overlap()), py::tuple(pieces));
}

ops::Series series_from_state(const py::tuple &state) {
    if (state.size() != 2) throw py::value_error("not the state of a series");
    std::vector<ops::Piece> pieces;
    for (const py::handle item : state[1].cast<py::tuple>()) {
        const auto t = item.cast<py::tuple>();
        if (t.size() != 6 && t.size() != 7) throw py::value_error("not the state of a series");
        ops::Piece p;
        p.name = t[0].cast<std::string>();
        p.id.dev = static_cast<dev_t>(t[1].cast<unsigned long long>());
        p.id.ino = static_cast<ino_t>(t[2].cast<unsigned long long>());
        const std::string header = t[3].cast<std::string>();
        if (header.size() != static_cast<std::size_t>(zulu::format::kHeaderSize)) throw py::value_error("not the state of a series");
        std::memcpy(&p.header, header.data(), header.size());
        p.header.pbuf = nullptr;
        p.count = t[4].cast<std::int64_t>();
        p.offset = t[5].cast<std::int64_t>();
        if (t.size() == 7) p.moved = t[6].cast<double>();
        pieces.push_back(std::move(p));
    }
    const auto overlap = state[0].is_none() ? std::nullopt : std::optional<std::string>(state[0].cast<std::string>());
    ops::Overlap rule = overlap_of(overlap);
    return run_job([&] { return ops::Series::from_pieces(std::move(pieces), rule); });
}

// Which samples of an array of a bottle's type are missing.
py::array_t<bool> missing_mask(const py::array &samples, std::int32_t usym) {
    const py::dtype dt = samples.dtype();
    const char kind = dt.kind();
    const py::ssize_t size = dt.itemsize();
    int type = -1;
    if (kind == 'i' && size == 2) type = 0;
    else if (kind == 'i' && size == 4) type = 1;
    else if (kind == 'f' && size == 4) type = 2;
    else if (kind == 'f' && size == 8) type = 3;
    if (type < 0) throw py::type_error("samples must be int16, int32, float32 or float64");
    const py::array in = py::array::ensure(samples, py::array::c_style);
    py::array_t<bool> out(in.size());
    bool *o = out.mutable_data();
    zulu::format::with_sample_type(type, [&](auto tag) {
        using T = decltype(tag);
        const T *v = static_cast<const T *>(in.data());
        const T unusable = zulu::format::unusable_as<T>(usym);
        for (py::ssize_t k = 0; k < in.size(); ++k) o[k] = zulu::format::missing(v[k], unusable);
    });
    return out.reshape(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
}

// The header fields of a piece, by the names Python gives them.
py::dict header_dict(const ops::Piece &p) {
    const bottle_hdr &h = p.header;
    py::dict d;
    d["source"] = fs_text(p.name);
    d["magic"] = h.magic;
    d["spare0"] = h.spare0;
    d["doff"] = h.doff;
    d["begin"] = h.beg;
    d["interval"] = h.ivl;
    d["nsam"] = h.nsam;
    d["type"] = h.type;
    d["usym"] = h.usym;
    d["spare1"] = h.spare1;
    d["spare2"] = h.spare2;
    d["count"] = p.count;
    d["offset"] = p.offset;
    return d;
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
        .def("offset_of", &Grid::offset_of, py::arg("other"))
        .def("stamp", [](const Grid &g, std::int64_t i, int digits) { return g.stamp(i, checked_digits(digits)); },
             py::arg("i"), py::arg("digits"))
        .def("stamps_into", &stamps_into, py::arg("out"), py::arg("first"), py::arg("digits"))
        .def("stamps_at", &stamps_at, py::arg("indices"), py::arg("digits"))
        .def("locate", &locate, py::arg("labels"), py::arg("digits"), py::arg("method"))
        .def("continues", &Grid::continues, py::arg("other"), py::arg("offset"))
        .def("exact", [](const Grid &g, int digits) { return g.clock(checked_digits(digits)).exact(); }, py::arg("digits"))
        .def("whole_step", [](const Grid &g, int digits) { return g.clock(checked_digits(digits)).whole_step(); },
             py::arg("digits"))
        .def("__eq__", [](const Grid &a, const Grid &b) {
            return a.count() == b.count() && a.stored_interval() == b.stored_interval() &&
                   (a.begin() == b.begin() || (a.begin() != a.begin() && b.begin() != b.begin()));
        })
        .def("__repr__", [](const Grid &g) {
            return "Grid(begin=" + py::repr(py::float_(g.begin())).cast<std::string>() + ", interval=" +
                   py::repr(py::float_(g.stored_interval())).cast<std::string>() + ", count=" + std::to_string(g.count()) + ")";
        })
        .def(py::pickle([](const Grid &g) { return py::make_tuple(g.begin(), g.stored_interval(), g.count()); },
                        [](const py::tuple &t) {
                            if (t.size() != 3) throw py::value_error("not the state of a grid");
                            return Grid(t[0].cast<double>(), t[1].cast<float>(), t[2].cast<std::int64_t>());
                        }));
    m.attr("NO_SAMPLE") = kNone;

    py::class_<ops::Series>(m, "Series", "Samples of one bottle or of several joined on one grid (see open_archive).")
        .def_static("of_bottle", [](const std::string &path) { return run_job([&] { return ops::Series::of_bottle(path); }); },
                    py::arg("path"))
        .def_static("joined",
                    [](const std::vector<std::string> &paths, const std::optional<std::string> &overlap, double snap) {
                        const ops::JoinRules rules = rules_of(overlap, snap);
                        return run_job([&] { return ops::Series::joined(paths, rules); });
                    },
                    py::arg("paths"), py::arg("overlap") = std::nullopt, py::arg("snap") = 0.0)
        .def_property_readonly("move_notes", [](const ops::Series &s) { return fs_texts(s.move_notes()); })
        .def_property_readonly("moves",
                               [](const ops::Series &s) {
                                   py::dict moves;  // seconds, exactly as the stamps have them
                                   for (const ops::Piece &p : s.pieces())
                                       if (p.moved != 0) moves[py::str(p.name)] = static_cast<double>(s.move_ns(p)) / 1e9;
                                   return moves;
                               })
        .def_property_readonly("count", &ops::Series::count)
        .def_property_readonly("type", &ops::Series::type)
        .def_property_readonly("usym", &ops::Series::unusable)
        .def_property_readonly("grid", [](const ops::Series &s) { return s.grid(); })
        .def_property_readonly("overlap", [](const ops::Series &s) { return overlap_name(s.overlap()); })
        .def_property_readonly("overlapping", &ops::Series::overlapping)
        .def_property_readonly("first_header", [](const ops::Series &s) { return header_dict(s.first_piece()); })
        .def_property_readonly("headers", [](const ops::Series &s) {
            py::list headers;
            for (const ops::Piece &p : s.pieces()) headers.append(header_dict(p));
            return headers;
        })
        .def("read_into",
             [](const ops::Series &s, const py::buffer &out, std::int64_t first) {
                 const py::buffer_info info = out.request(true);
                 void *to = checked_out(info, zulu::format::width_of(s.type()));
                 const std::int64_t n = info.shape[0];
                 run_series_job([&] { ops::SeriesReader(s).read(first, n, to); });
             },
             py::arg("out"), py::arg("first"))
        .def("take_into",
             [](const ops::Series &s, const Indices &indices, const py::buffer &out) {
                 const py::buffer_info info = out.request(true);
                 void *to = checked_out(info, zulu::format::width_of(s.type()));
                 const auto in = indices.unchecked<1>();
                 if (info.shape[0] != in.shape(0)) throw py::value_error("the output must be as long as the indices");
                 const std::int64_t n = in.shape(0);
                 const std::int64_t *at = n > 0 ? in.data(0) : nullptr;
                 run_series_job([&] { ops::SeriesReader(s).take(at, n, to); });
             },
             py::arg("indices"), py::arg("out"))
        .def("values_into", &values_into<float>, py::arg("out"), py::arg("first"))
        .def("values_into", &values_into<double>, py::arg("out"), py::arg("first"))
        .def("take_values_into", &take_values_into<float>, py::arg("indices"), py::arg("out"))
        .def("take_values_into", &take_values_into<double>, py::arg("indices"), py::arg("out"))
        .def("__dask_tokenize__", &series_state)
        .def(py::pickle(&series_state, &series_from_state));

    m.def("looks_like_bottle", &ops::looks_like_bottle, py::arg("path"),
          "Whether the file at path is a bottle by its header; reads nothing else and never waits (a FIFO is none).");
    m.def("missing", &missing_mask, py::arg("samples"), py::arg("usym"),
          "Which of the samples (an array of a bottle's type) are missing: the unusable value, or NaN.");

    m.def("cut", &cut, py::arg("srcs"), py::arg("dst"), py::arg("start"), py::arg("end"), py::arg("partial"),
          py::arg("overlap"), py::arg("snap"), py::arg("force"));
    m.def("cat", &cat, py::arg("dst"), py::arg("srcs"), py::arg("overlap"), py::arg("snap"), py::arg("force"));
    m.def("gaps", &gaps, py::arg("paths"), py::arg("min"), py::arg("snap"), py::arg("runs"));
    m.def("decimate", &decimate, py::arg("srcs"), py::arg("dst"), py::arg("factor"), py::arg("method"),
          py::arg("strict"), py::arg("overlap"), py::arg("snap"), py::arg("force"));
    m.def("decimate_values", &decimate_values, py::arg("values"), py::arg("factor"), py::arg("method"),
          py::arg("strict"));
    m.def("decimated_type", [](int type, const std::string &method) {
        if (!zulu::format::valid_type(type)) throw py::value_error("no such sample type");
        return ops::decimated_type(type, reduction_of(method));
    }, py::arg("type"), py::arg("method"));
    m.def("decimated_grid", [](const Grid &grid, std::int64_t factor) {
        return run_job([&] { return ops::decimated_grid(grid, factor); });
    }, py::arg("grid"), py::arg("factor"));
    m.def("read_duration", [](const std::string &text) { return ops::read_duration(text); }, py::arg("text"),
          "Seconds of a duration text (\"5ms\", \"0.005\"), or None.");
    m.def("interval_text", &ops::interval_text, py::arg("interval"),
          "The nominal interval of a stored float as messages name it (\"0.02 s, 50 Hz\").");
    m.def("stats", &stats, py::arg("path"));
    m.def("export", &export_netcdf, py::arg("src"), py::arg("dst"), py::arg("name"), py::arg("units"),
          py::arg("title"), py::arg("deflate"), py::arg("force"));
    m.def("can_export", &ops::can_export);
}

}  // namespace zulukit
