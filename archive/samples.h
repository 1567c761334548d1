// Samples of a bottle as the archive operations move them: their text forms, and
// block-wise reading and writing by sample index through the bottle core,
// in constant memory whatever the bottle's size.
#pragma once

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bot.h"
#include "failure.h"
#include "core.h"
#include "files.h"
#include "format.h"
#include "series.h"

namespace zulu::archive {

using zulu::format::type_code;
using zulu::format::unusable_as;
using zulu::format::valid_type;
using zulu::format::with_sample_type;

// Writes the shortest text that reads back as exactly v; at most
// kMaxValueChars characters.
inline constexpr std::size_t kMaxValueChars = 32;
template <class T>
char *write_value(char *out, T v) {
    return std::to_chars(out, out + kMaxValueChars, v).ptr;
}
template <class T>
std::string value_text(T v) {
    char text[kMaxValueChars];
    return std::string(text, write_value(text, v));
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

// A fraction of an interval as short text for messages ("0.25").
std::string interval_fraction_text(double fraction);

// Samples per block.
inline constexpr std::int64_t kBlock = std::int64_t{1} << 16;

// Bytes per block where samples are copied as stored: large transfers keep
// the system calls few.
inline constexpr std::int64_t kCopyBytes = std::int64_t{4} << 20;

// Samples per chunk of the scans that look at every sample: a fixed count,
// which the compiler turns into vector instructions.
inline constexpr std::size_t kChunk = 16;

// How many of the kChunk values at v equal x.
template <class T>
int count_equal(const T *v, T x) {
    int n = 0;
    for (std::size_t j = 0; j < kChunk; ++j) n += v[j] == x;
    return n;
}

// How many of the kChunk values at v are missing (format::missing).
template <class T>
int count_missing(const T *v, T unusable) {
    int n = 0;
    for (std::size_t j = 0; j < kChunk; ++j) n += zulu::format::missing(v[j], unusable);
    return n;
}

// Sixteen bytes of samples of type T as one value of the compiler's vector
// extension: arithmetic and comparisons on it work lane by lane.
template <class T>
struct Vector16 {
    typedef T type __attribute__((vector_size(16)));
};

// Whether any of the n values at v is missing (format::missing), sixteen
// bytes at a time: one pass of vector compares, with no count to add up.
template <class T>
bool any_missing(const T *v, std::int64_t n, T unusable) {
    using V = typename Vector16<T>::type;
    constexpr std::int64_t kLanes = sizeof(V) / sizeof(T);
    V u;
    for (std::int64_t j = 0; j < kLanes; ++j) u[j] = unusable;
    decltype(u == u) seen = {};
    std::int64_t k = 0;
    for (; k + kLanes <= n; k += kLanes) {
        V x;
        std::memcpy(&x, v + k, sizeof x);
        seen |= (x == u) | (x != x);  // format::missing, lane by lane
    }
    bool any = false;
    for (std::int64_t j = 0; j < kLanes; ++j) any = any || seen[j] != 0;
    for (; k < n && !any; ++k) any = zulu::format::missing(v[k], unusable);
    return any;
}

// Calls fn(index, samples, n) for the samples [first, end) of a series
// (or of anything read as a SeriesReader is), of type T, a block at a
// time, in order.
template <class T, class Reader, class Fn>
void read_samples(Reader &reader, std::int64_t first, std::int64_t end, Fn &&fn) {
    std::vector<T> buffer(static_cast<std::size_t>(kBlock));
    for (std::int64_t i = first; i < end;) {
        const std::int64_t n = std::min(end - i, kBlock);
        reader.read(i, n, buffer.data());
        fn(i, buffer.data(), static_cast<std::size_t>(n));
        i += n;
    }
}

// Appends samples to a new bottle, a block at a time.
template <class T>
class SampleWriter {
public:
    explicit SampleWriter(bottle_hdr *h) : h_(h), buffer_(static_cast<std::size_t>(kBlock)) {}

    void push(T v) {
        if (held_ == buffer_.size()) write_held();
        buffer_[held_++] = v;
        ++count_;
    }
    // Writes what is held; the bottle then has count() samples.
    void finish() { write_held(); }
    std::int64_t count() const { return count_; }

private:
    void write_held() {
        const auto n = static_cast<std::int64_t>(held_);
        if (zulu::core::write_at(h_, count_ - n, n, buffer_.data()) != zulu::core::WriteResult::kDone)
            throw Failure("a bottle holds no more than " + std::to_string(zulu::core::stored_samples(h_)) + " samples");
        held_ = 0;
    }

    bottle_hdr *h_;
    std::vector<T> buffer_;
    std::size_t held_ = 0;  // samples in buffer_, the last of the count_ pushed
    std::int64_t count_ = 0;
};

}  // namespace zulu::archive
