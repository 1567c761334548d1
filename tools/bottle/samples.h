// Samples of a bottle as the command moves them: the four sample types,
// their text forms, and block-wise reading and writing through the bottle
// library's windows, in constant memory whatever the bottle's size.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "bot.h"

namespace bottletool {

// The sample types by type code, with the unusable value a new bottle of
// each type gets.
struct TypeInfo {
    const char *name;
    int width;  // bytes per sample
    std::int32_t unusable;
};
inline constexpr std::array<TypeInfo, 4> kTypes{{
    {"int", 2, 32767},
    {"long", 4, 999999},
    {"float", 4, 999999},
    {"double", 8, 9999999},
}};

bool valid_type(int type);
std::optional<int> type_code(std::string_view name);

// The largest number of samples a bottle of the given type holds: its file
// is at most INT_MAX bytes.
std::int64_t max_samples(int type);

// Calls f with a value of the C++ type that stores samples of `type` (0 to 3).
template <class F>
decltype(auto) with_sample_type(int type, F &&f) {
    switch (type) {
    case 0:
        return f(std::int16_t{});
    case 1:
        return f(std::int32_t{});
    case 2:
        return f(float{});
    default:
        return f(double{});
    }
}

// The header's unusable value as a slot of type T holds it: the low 16 bits
// for int, the integer for long, the nearest float, the exact double.
template <class T>
T unusable_as(std::int32_t usym) {
    return static_cast<T>(usym);
}

// Writes the shortest text that reads back as exactly v; at most
// kMaxValueChars characters.
inline constexpr std::size_t kMaxValueChars = 32;
template <class T>
char *write_value(char *out, T v) {
    return std::to_chars(out, out + kMaxValueChars, v).ptr;
}

// What a text field of the input holds for a sample of type T.
enum class ValueText {
    kValue,           // a number the type holds
    kUnusable,        // empty, or "nan"
    kNotNumber,       // not a number of the type's kind
    kOutOfRange,      // a number the type cannot hold
    kIsUnusableValue  // the type's unusable value itself, which would read back as missing
};

// Reads one field (surrounding blanks and one pair of double quotes
// allowed) as a sample of type T.
template <class T>
ValueText read_value(std::string_view field, T unusable, T &out);

// --- Times of samples ----------------------------------------------------

// Sample i of a bottle lies at beg + i * step, where step is the interval,
// or 1 when the interval is 0, as the library maps times to samples.
struct Timeline {
    double beg = 0;
    double step = 1;
    std::int64_t count = 0;

    double time(std::int64_t i) const { return beg + static_cast<double>(i) * step; }
    bool finite() const;

    // The samples [first, end) whose times t satisfy from <= t < to (a
    // missing bound does not limit); times run backward when step < 0.
    std::pair<std::int64_t, std::int64_t> select(std::optional<double> from, std::optional<double> to) const;
};
Timeline timeline_of(bottle_hdr *h);

// A window of the library begins at the sample index of a time.  Returns a
// time whose window begins at the largest index at or below i that any time
// reaches, with that index.  Where the interval is fine against the size of
// the begin time, neighbouring indices can share one time, and only some
// indices begin windows.
struct WindowStart {
    double t;
    std::int64_t index;
};
WindowStart locate_window(bottle_hdr *h, std::int64_t i);

// Samples per block: windows hold at most two blocks.
inline constexpr std::int64_t kBlock = std::int64_t{1} << 16;

// The window for index i, with i - index at most kBlock; a Failure naming
// the sample when there is none.
WindowStart reachable_window(bottle_hdr *h, std::int64_t i);

// Calls fn(index, samples, n) for the samples [first, end) of the open
// bottle (0 <= first <= end <= its count), a block at a time, in order.
template <class T, class Fn>
void read_samples(bottle_hdr *h, std::int64_t first, std::int64_t end, Fn &&fn) {
    std::vector<T> buffer(static_cast<std::size_t>(2 * kBlock));
    for (std::int64_t i = first; i < end;) {
        const WindowStart w = reachable_window(h, i);
        const std::int64_t skip = i - w.index, n = std::min(end - i, kBlock);
        bread(h, w.t, static_cast<int>(skip + n), buffer.data());
        fn(i, buffer.data() + skip, static_cast<std::size_t>(n));
        i += n;
    }
}

// Appends samples to a new bottle, a block at a time.  A window that cannot
// begin where the last one ended begins at the nearest reachable index
// before it, and writes the samples from there again.
template <class T>
class SampleWriter {
public:
    explicit SampleWriter(bottle_hdr *h) : h_(h), buffer_(static_cast<std::size_t>(2 * kBlock)) {}

    void push(T v) {
        if (held_ == buffer_.size()) flush_and_keep_tail();
        buffer_[held_++] = v;
        ++count_;
    }
    // Writes what is held; the bottle then has count() samples.
    void finish() {
        if (base_ + static_cast<std::int64_t>(held_) > written_) write_held();
    }
    std::int64_t count() const { return count_; }

private:
    void write_held() {
        const WindowStart w = reachable_window(h_, base_);
        bwrite(h_, w.t, static_cast<int>(held_), buffer_.data());
        written_ = base_ + static_cast<std::int64_t>(held_);
    }
    // Writes the buffer and keeps the samples from the start of the next
    // window on, which is at most a block before the end of this one.
    void flush_and_keep_tail() {
        write_held();
        const WindowStart next = reachable_window(h_, written_);
        const auto keep = static_cast<std::size_t>(written_ - next.index);
        const auto tail = buffer_.begin() + static_cast<std::ptrdiff_t>(held_ - keep);
        std::copy(tail, tail + static_cast<std::ptrdiff_t>(keep), buffer_.begin());
        held_ = keep;
        base_ = next.index;
    }

    bottle_hdr *h_;
    std::vector<T> buffer_;
    std::size_t held_ = 0;       // samples in buffer_, for indices base_ on
    std::int64_t base_ = 0;      // index of buffer_[0]
    std::int64_t written_ = 0;   // samples before this index are in the bottle
    std::int64_t count_ = 0;
};

}  // namespace bottletool
