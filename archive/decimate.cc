#include "decimate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <numbers>
#include <type_traits>

#include "core.h"
#include "samples.h"

namespace zulu::archive {
namespace {

// Inputs per block: enough that the filter's overlap of 20 * factor
// samples between blocks costs little, few enough to stay in the cache.
constexpr std::int64_t kBlockInputs = std::int64_t{1} << 16;

// The taps of scipy.signal.firwin(20 * factor + 1, 1 / factor,
// window="hamming"): the windowed sinc, scaled to sum to 1.
std::vector<double> filter_taps(std::int64_t factor) {
    const std::int64_t n = 20 * factor + 1, half = 10 * factor;
    const double cutoff = 1.0 / static_cast<double>(factor);
    std::vector<double> taps(static_cast<std::size_t>(n));
    double sum = 0;
    for (std::int64_t k = 0; k < n; ++k) {
        const double x = std::numbers::pi * cutoff * static_cast<double>(k - half);
        const double sinc = k == half ? 1.0 : std::sin(x) / x;
        const double window =
            0.54 - 0.46 * std::cos(2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n - 1));
        taps[static_cast<std::size_t>(k)] = cutoff * sinc * window;
        sum += taps[static_cast<std::size_t>(k)];
    }
    for (double &t : taps) t /= sum;
    return taps;
}

// The sum of h[k] * x[k] for k < n, in four vectors of two doubles.
double dot(const double *h, const double *x, std::size_t n) {
    using V2 = double __attribute__((vector_size(16)));
    V2 a[4] = {};
    std::size_t k = 0;
    for (; k + 8 <= n; k += 8)
        for (std::size_t l = 0; l < 4; ++l) {
            V2 hv, xv;
            std::memcpy(&hv, h + k + 2 * l, sizeof hv);
            std::memcpy(&xv, x + k + 2 * l, sizeof xv);
            a[l] += hv * xv;
        }
    const V2 s = (a[0] + a[1]) + (a[2] + a[3]);
    double sum = s[0] + s[1];
    for (; k < n; ++k) sum += h[k] * x[k];
    return sum;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

void check_factor(std::int64_t factor) {
    if (factor < 2) throw Failure("the factor must be a whole number of 2 or more, not " + std::to_string(factor), kUsage);
}

}  // namespace

std::optional<Reduction> reduction_named(std::string_view name) {
    if (name == "fir") return Reduction::kFilter;
    if (name == "mean") return Reduction::kMean;
    if (name == "min") return Reduction::kMin;
    if (name == "max") return Reduction::kMax;
    return std::nullopt;
}

int decimated_type(int type, Reduction method) {
    if (method == Reduction::kMin || method == Reduction::kMax) return type;
    return type == 0 || type == 2 ? 2 : 3;
}

std::string MissingInput::message(const std::string &where) {
    return "the input has a missing sample at " + where + ", which a strict decimation refuses";
}

Decimator::Decimator(std::int64_t factor, Reduction method, bool strict)
    : factor_(factor), method_(method), strict_(strict) {
    check_factor(factor);
    if (method == Reduction::kFilter) {
        if (factor > kMostFilterFactor)
            throw Failure("the filter takes factors up to " + std::to_string(kMostFilterFactor) + ", not " +
                              std::to_string(factor) + ": decimate in steps whose factors multiply to it, or take "
                                                       "block means",
                          kUsage);
        taps_ = filter_taps(factor);
    }
}

std::int64_t Decimator::outputs(std::int64_t count) const {
    return count <= 0 ? 0 : count / factor_ + (count % factor_ != 0 ? 1 : 0);
}

void Decimator::run(std::int64_t count, const Reader &read, const Writer &write) const {
    if (method_ == Reduction::kFilter) return filter(count, read, write);
    reduce<double>(count, kNaN, read, write);  // NaN is missing, and no value equals it
}

void Decimator::filter(std::int64_t count, const Reader &read, const Writer &write) const {
    const std::int64_t total = outputs(count), half = 10 * factor_, width = 2 * half + 1;
    const std::int64_t per_block = std::max<std::int64_t>(1, kBlockInputs / factor_);
    std::vector<double> in(static_cast<std::size_t>((per_block - 1) * factor_ + width));
    std::vector<double> out(static_cast<std::size_t>(per_block));
    std::vector<std::int64_t> holes;  // positions in `in` of missing samples, in order
    for (std::int64_t j0 = 0; j0 < total; j0 += per_block) {
        const std::int64_t n = std::min(per_block, total - j0), first = j0 * factor_ - half;
        const std::int64_t span = (n - 1) * factor_ + width;
        read(first, span, in.data());
        holes.clear();
        for (std::int64_t i = 0; i < span; ++i) {
            double &v = in[static_cast<std::size_t>(i)];
            if (v == v) continue;
            if (strict_ && first + i >= 0 && first + i < count) throw MissingInput(first + i);
            holes.push_back(i);
            v = 0;
        }
        std::size_t next = 0;  // the first hole at or after the window in hand
        for (std::int64_t j = 0; j < n; ++j) {
            const std::int64_t a = j * factor_;
            while (next < holes.size() && holes[next] < a) ++next;
            out[static_cast<std::size_t>(j)] =
                next < holes.size() && holes[next] < a + width
                    ? kNaN
                    : dot(taps_.data(), in.data() + a, static_cast<std::size_t>(width));
        }
        write(out.data(), n);
    }
}

namespace {

// The usable samples of a block and their sum, least or greatest.
struct BlockValue {
    double acc;
    std::int64_t usable;
};

// Of the n samples at v as stored.  Long blocks go through kChunk lanes,
// which the compiler turns into vector instructions.
template <Reduction M, class T>
BlockValue block_value(const T *v, std::int64_t n, T unusable) {
    constexpr double kStart = M == Reduction::kMean ? 0.0 : M == Reduction::kMin ? HUGE_VAL : -HUGE_VAL;
    const auto add = [](double acc, double x, bool ok) {
        if constexpr (M == Reduction::kMean) return acc + (ok ? x : 0.0);
        else if constexpr (M == Reduction::kMin) return ok && x < acc ? x : acc;
        else return ok && x > acc ? x : acc;
    };
    BlockValue b{kStart, 0};
    std::int64_t k = 0;
    if (n >= static_cast<std::int64_t>(kChunk)) {
        double lane[kChunk];
        std::int64_t count[kChunk];
        for (std::size_t j = 0; j < kChunk; ++j) lane[j] = kStart, count[j] = 0;
        for (; k + static_cast<std::int64_t>(kChunk) <= n; k += static_cast<std::int64_t>(kChunk))
            for (std::size_t j = 0; j < kChunk; ++j) {
                const T x = v[k + static_cast<std::int64_t>(j)];
                const bool ok = !format::missing(x, unusable);
                lane[j] = add(lane[j], static_cast<double>(x), ok);
                count[j] += ok;
            }
        for (std::size_t j = 0; j < kChunk; ++j) {
            b.acc = M == Reduction::kMean ? b.acc + lane[j] : add(b.acc, lane[j], count[j] > 0);
            b.usable += count[j];
        }
    }
    for (; k < n; ++k) {
        const bool ok = !format::missing(v[k], unusable);
        b.acc = add(b.acc, static_cast<double>(v[k]), ok);
        b.usable += ok;
    }
    return b;
}

// The blocks of a series as the chunks of it come: a block may span
// chunks, and the last one may be short.
template <Reduction M, class T>
class BlockReducer {
public:
    BlockReducer(std::int64_t factor, bool strict, T unusable) : factor_(factor), strict_(strict), unusable_(unusable) {}

    // The n samples at v, the next of the series; `last`: the series ends
    // with them.  Appends the value of each block they complete to out.
    void add(const T *v, std::int64_t n, bool last, std::vector<double> &out) {
        std::int64_t k = 0;
        if (at_ > 0) {  // the block in hand
            const std::int64_t len = std::min(n, factor_ - at_);
            merge(part_value(v, len), len);
            k = len;
            if (at_ == factor_) emit(out);
        }
        const std::int64_t blocks = (n - k) / factor_;
        if (blocks > 0) {
            const std::size_t start = out.size();
            out.resize(start + static_cast<std::size_t>(blocks));
            if (none_missing(v + k, blocks * factor_)) whole_blocks(v + k, blocks, out.data() + start);
            else
                for (std::int64_t r = 0; r < blocks; ++r)
                    out[start + static_cast<std::size_t>(r)] =
                        value(block_value<M>(v + k + r * factor_, factor_, unusable_), factor_);
            k += blocks * factor_;
        }
        if (k < n) merge(part_value(v + k, n - k), n - k);
        if (last && at_ > 0) emit(out);
    }

private:
    void merge(const BlockValue &b, std::int64_t len) {
        held_ = at_ == 0 ? b : BlockValue{combined(held_.acc, b.acc), held_.usable + b.usable};
        at_ += len;
    }
    static double combined(double a, double b) {
        if constexpr (M == Reduction::kMean) return a + b;
        else if constexpr (M == Reduction::kMin) return std::fmin(a, b);
        else return std::fmax(a, b);
    }
    void emit(std::vector<double> &out) {
        out.push_back(value(held_, at_));
        at_ = 0;
    }
    double value(const BlockValue &b, std::int64_t len) const {
        if (b.usable == 0 || (strict_ && b.usable < len)) return kNaN;
        return M == Reduction::kMean ? b.acc / static_cast<double>(b.usable) : b.acc;
    }

    // The value of n samples of a block, by the quicker way where none is
    // missing.
    BlockValue part_value(const T *v, std::int64_t n) const {
        if (n > 0 && none_missing(v, n)) return {clean_block(v, n), n};
        return block_value<M>(v, n, unusable_);
    }

    bool none_missing(const T *v, std::int64_t n) const { return !any_missing(v, n, unusable_); }

    using V2 = Vector16<double>::type;

    // The samples at p and `apart` after it, as two doubles side by side.
    static V2 pair(const T *p, std::int64_t apart) {
        return V2{static_cast<double>(p[0]), static_cast<double>(p[apart])};
    }

    // The values of `blocks` whole blocks at v, none of whose samples is
    // missing: the common case, without the checks of each sample.
    void whole_blocks(const T *v, std::int64_t blocks, double *out) const {
        const std::int64_t f = factor_;
        std::int64_t r = 0;
        if (M == Reduction::kMean && f < static_cast<std::int64_t>(kChunk)) {
            // Short blocks eight at a time, their sums side by side in four
            // vectors of two doubles, so that no block waits for the one
            // before; each block's samples are added in order.
            for (; r + 8 <= blocks; r += 8) {
                const T *b = v + r * f;
                V2 s0 = pair(b, f), s1 = pair(b + 2 * f, f), s2 = pair(b + 4 * f, f), s3 = pair(b + 6 * f, f);
                for (std::int64_t m = 1; m < f; ++m) {
                    s0 += pair(b + m, f);
                    s1 += pair(b + 2 * f + m, f);
                    s2 += pair(b + 4 * f + m, f);
                    s3 += pair(b + 6 * f + m, f);
                }
                double *o = out + r;
                o[0] = s0[0], o[1] = s0[1], o[2] = s1[0], o[3] = s1[1];
                o[4] = s2[0], o[5] = s2[1], o[6] = s3[0], o[7] = s3[1];
            }
        } else if (f < static_cast<std::int64_t>(kChunk)) {
            // Short blocks eight at a time, their least or greatest side by
            // side, so that no block waits for the one before.
            constexpr std::int64_t kSide = 8;
            for (; r + kSide <= blocks; r += kSide) {
                const T *b = v + r * f;
                double acc[kSide];
                for (std::int64_t j = 0; j < kSide; ++j) acc[j] = static_cast<double>(b[j * f]);
                for (std::int64_t m = 1; m < f; ++m)
                    for (std::int64_t j = 0; j < kSide; ++j) {
                        const T x = b[j * f + m];
                        if constexpr (M == Reduction::kMin) acc[j] = static_cast<double>(x) < acc[j] ? x : acc[j];
                        else acc[j] = static_cast<double>(x) > acc[j] ? x : acc[j];
                    }
                for (std::int64_t j = 0; j < kSide; ++j) out[r + j] = acc[j];
            }
        }
        for (; r < blocks; ++r) out[r] = clean_block(v + r * f, f);
        if constexpr (M == Reduction::kMean) {
            const auto d = static_cast<double>(f);
            constexpr std::int64_t kSide = 8;  // divided side by side
            std::int64_t k = 0;
            for (; k + kSide <= blocks; k += kSide)
                for (std::int64_t j = 0; j < kSide; ++j) out[k + j] /= d;
            for (; k < blocks; ++k) out[k] /= d;
        }
    }

    // The sum, least or greatest of n samples none of which is missing; long
    // blocks in kChunk lanes, which the compiler turns into vector
    // instructions.
    static double clean_block(const T *v, std::int64_t n) {
        std::int64_t k = 0;
        double acc = static_cast<double>(v[0]);
        if constexpr (M == Reduction::kMean) {
            acc = 0;
            // Eight sums, sample k into sum k % 8, in four vectors of two
            // doubles that stay in the registers.
            if (n >= 8) {
                V2 a = {}, b = {}, c = {}, d = {};
                for (; k + 8 <= n; k += 8) {
                    a += pair(v + k, 1);
                    b += pair(v + k + 2, 1);
                    c += pair(v + k + 4, 1);
                    d += pair(v + k + 6, 1);
                }
                acc = ((a[0] + a[1]) + (b[0] + b[1])) + ((c[0] + c[1]) + (d[0] + d[1]));
            }
            for (; k < n; ++k) acc += static_cast<double>(v[k]);
        } else {
            T best = v[0];
            if (n >= static_cast<std::int64_t>(kChunk)) {
                T lane[kChunk];
                for (std::size_t j = 0; j < kChunk; ++j) lane[j] = v[j];
                for (; k + static_cast<std::int64_t>(kChunk) <= n; k += static_cast<std::int64_t>(kChunk))
                    for (std::size_t j = 0; j < kChunk; ++j) {
                        const T x = v[k + static_cast<std::int64_t>(j)];
                        if constexpr (M == Reduction::kMin) lane[j] = x < lane[j] ? x : lane[j];
                        else lane[j] = x > lane[j] ? x : lane[j];
                    }
                for (std::size_t j = 0; j < kChunk; ++j) {
                    if constexpr (M == Reduction::kMin) best = lane[j] < best ? lane[j] : best;
                    else best = lane[j] > best ? lane[j] : best;
                }
            }
            for (; k < n; ++k) {
                if constexpr (M == Reduction::kMin) best = v[k] < best ? v[k] : best;
                else best = v[k] > best ? v[k] : best;
            }
            acc = static_cast<double>(best);
        }
        return acc;
    }

    std::int64_t factor_;
    bool strict_;
    T unusable_;
    std::int64_t at_ = 0;  // samples of the block in hand
    BlockValue held_{0, 0};
};

// Calls fn(samples, n, last) for the count samples that read gives, in
// reads of kCopyBytes, each begun on a thread of its own while fn takes the
// one before: the copy from the file overlaps the work on the samples.
// Where no thread can be started, the read waits for get().  A failed read
// throws here, in order.
template <class T, class Fn>
void read_ahead(const Decimator::StoredReader<T> &read, std::int64_t count, Fn &&fn) {
    const std::int64_t per_read = kCopyBytes / static_cast<std::int64_t>(sizeof(T));
    const std::int64_t block = std::min(per_read, std::max<std::int64_t>(count, 1));
    std::vector<T> ready(static_cast<std::size_t>(block)), filling(ready.size());
    std::future<void> next;  // destroyed first: waits for a read still going
    const auto start = [&](std::int64_t first) {
        const std::int64_t n = std::min(block, count - first);
        T *to = filling.data();
        next = std::async(std::launch::async | std::launch::deferred, [&read, first, n, to] { read(first, n, to); });
    };
    if (count > 0) start(0);
    for (std::int64_t i = 0; i < count;) {
        next.get();
        std::swap(ready, filling);
        const std::int64_t n = std::min(block, count - i);
        if (i + n < count) start(i + n);
        fn(ready.data(), n, i + n == count);
        i += n;
    }
}

template <Reduction M, class T>
void reduce_as(std::int64_t count, std::int64_t factor, bool strict, T unusable,
               const Decimator::StoredReader<T> &read, const Decimator::Writer &write) {
    BlockReducer<M, T> blocks(factor, strict, unusable);
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(kBlockInputs / factor + 2));
    read_ahead<T>(read, count, [&](const T *in, std::int64_t n, bool last) {
        for (std::int64_t k = 0; k < n; k += kBlockInputs) {  // a cache's worth at a time
            const std::int64_t m = std::min(kBlockInputs, n - k);
            blocks.add(in + k, m, last && k + m == n, out);
            if (!out.empty()) write(out.data(), static_cast<std::int64_t>(out.size()));
            out.clear();
        }
    });
}

}  // namespace

template <class T>
void Decimator::reduce(std::int64_t count, T unusable, const StoredReader<T> &read, const Writer &write) const {
    switch (method_) {
    case Reduction::kMean:
        return reduce_as<Reduction::kMean>(count, factor_, strict_, unusable, read, write);
    case Reduction::kMin:
        return reduce_as<Reduction::kMin>(count, factor_, strict_, unusable, read, write);
    case Reduction::kMax:
        return reduce_as<Reduction::kMax>(count, factor_, strict_, unusable, read, write);
    case Reduction::kFilter:
        break;
    }
    throw Failure("the filter takes values, not stored samples");
}

template void Decimator::reduce(std::int64_t, std::int16_t, const StoredReader<std::int16_t> &, const Writer &) const;
template void Decimator::reduce(std::int64_t, std::int32_t, const StoredReader<std::int32_t> &, const Writer &) const;
template void Decimator::reduce(std::int64_t, float, const StoredReader<float> &, const Writer &) const;
template void Decimator::reduce(std::int64_t, double, const StoredReader<double> &, const Writer &) const;

Grid decimated_grid(const Grid &grid, std::int64_t factor) {
    check_factor(factor);
    if (!grid.forward()) throw Failure(grid.problem() + "; decimation needs times that run forward");
    const auto interval = grid.scaled_interval(factor);
    if (!interval)
        throw Failure("a factor of " + std::to_string(factor) + " makes the interval " + std::to_string(factor) +
                          " times " + interval_text(grid.stored_interval()) +
                          ", which no interval of a header holds exactly (the samples would drift off their times)",
                      kUsage);
    const std::int64_t count = grid.count();
    return Grid(grid.begin(), *interval, count / factor + (count % factor != 0 ? 1 : 0));
}

std::vector<double> decimate_values(const double *values, std::int64_t n, const Decimator &decimator) {
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(decimator.outputs(n)));
    decimator.run(
        n,
        [&](std::int64_t first, std::int64_t count, double *to) {
            for (std::int64_t k = 0; k < count; ++k) {
                const std::int64_t i = first + k;
                to[k] = i >= 0 && i < n ? values[i] : kNaN;
            }
        },
        [&](const double *v, std::int64_t count) { out.insert(out.end(), v, v + count); });
    return out;
}

namespace {

// An output value as a sample of type T: the unusable value where missing,
// and a value that would read back as missing moved to the nearest other.
template <class T>
T stored(double v, T unusable) {
    if (v != v) return unusable;
    T t = static_cast<T>(v);
    if constexpr (std::is_floating_point_v<T>) {
        if (t == unusable) t = std::nextafter(t, T{0});
    }
    return t;
}

}  // namespace

JobReport decimate(const std::vector<std::string> &srcs, const std::string &dst, const DecimateRequest &request) {
    if (srcs.empty()) throw Failure("no bottles to decimate", kUsage);
    const Decimator decimator(request.factor, request.method, request.strict);
    OutputTarget target(dst, input_files(srcs), data_rules(request.output));
    const Series series = Series::of_files(srcs, request.rules);
    const Grid &grid = series.grid_for_times();
    const Grid decimated = decimated_grid(grid, decimator.factor());
    const int type = decimated_type(series.type(), decimator.method());
    const std::int64_t total = decimator.outputs(series.count());
    if (total > format::addressable_samples(type, format::kHeaderSize))
        throw Failure("the output would hold " + std::to_string(total) + " samples of type " +
                      format::kTypes[static_cast<std::size_t>(type)].name + ", more than a bottle holds");
    NewBottle out(target.temp_path(), dst, decimated.begin(), decimated.stored_interval(), type);
    if (type == series.type()) out.set_unusable(series.unusable());
    SeriesReader reader(series);
    try {
        with_sample_type(type, [&](auto tag) {
            using T = decltype(tag);
            const T unusable = unusable_as<T>(out.get()->usym);
            SampleWriter<T> writer(out.get());
            // Sent on to the disk every kCopyBytes of output, as cut and cat do.
            const std::int64_t per_writeback = kCopyBytes / static_cast<std::int64_t>(sizeof(T));
            std::int64_t pending = 0;
            const Decimator::Writer write = [&](const double *values, std::int64_t n) {
                for (std::int64_t k = 0; k < n; ++k) writer.push(stored<T>(values[k], unusable));
                if ((pending += n) < per_writeback) return;
                target.start_writeback();
                pending = 0;
            };
            if (decimator.method() == Reduction::kFilter) {
                decimator.run(
                    series.count(),
                    [&](std::int64_t first, std::int64_t n, double *values) { reader.read_values(first, n, values); },
                    write);
            } else {  // the statistics of the samples as stored
                with_sample_type(series.type(), [&](auto in_tag) {
                    using In = decltype(in_tag);
                    decimator.reduce<In>(series.count(), unusable_as<In>(series.unusable()),
                                         [&](std::int64_t first, std::int64_t n, In *to) { reader.read(first, n, to); },
                                         write);
                });
            }
            writer.finish();
        });
    } catch (const MissingInput &missing) {
        throw Failure(MissingInput::message(sample_time_text(grid, missing.index())));
    }
    out.finish();
    target.commit();
    return {total, series.move_notes()};
}

}  // namespace zulu::archive
