// The bottle file format, in one place: the header's size and magic number,
// the four sample types, the unusable value in each type, and the sample
// count a file of a given size holds.  For the bottle library and the
// programs of this project; not installed.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

namespace zulu::format {

// A bottle begins with a 40-byte little-endian header; its first 16-bit
// field holds the magic number.
inline constexpr int kHeaderSize = 40;
inline constexpr std::int16_t kMagic = 349;

// The sample types by type code: the name, the bytes per sample and the
// unusable value a new bottle of the type gets.
struct SampleType {
    const char *name;
    int width;
    std::int32_t unusable;
};
inline constexpr int kTypeCount = 4;
inline constexpr std::array<SampleType, kTypeCount> kTypes{{
    {"int", 2, 32767},
    {"long", 4, 999999},
    {"float", 4, 999999},
    {"double", 8, 9999999},
}};
inline constexpr int kMaxWidth = 8;

constexpr bool valid_type(int type) { return type >= 0 && type < kTypeCount; }

// The type code of a type's name ("int", "long", "float", "double").
constexpr std::optional<int> type_code(std::string_view name) {
    for (int i = 0; i < kTypeCount; ++i)
        if (name == kTypes[static_cast<std::size_t>(i)].name) return i;
    return std::nullopt;
}

constexpr int width_of(int type) { return kTypes[static_cast<std::size_t>(type)].width; }

// A bottle file holds at most INT_MAX bytes: its byte positions are ints.
inline constexpr std::int64_t kMaxFileSize = INT_MAX;

// Samples of a type that lie wholly within the largest file when sample 0
// is at byte `doff`.
constexpr std::int64_t addressable_samples(int type, std::int64_t doff) {
    return doff < 0 || doff > kMaxFileSize ? 0 : (kMaxFileSize - doff) / width_of(type);
}

// The sample count of a file of `size` bytes: whole samples after the
// 40-byte header (not after doff), never negative and never past the
// largest file.
constexpr std::int32_t count_from_size(int type, std::int64_t doff, std::int64_t size) {
    const std::int64_t n = size > kHeaderSize ? (size - kHeaderSize) / width_of(type) : 0;
    const std::int64_t most = addressable_samples(type, doff);
    return static_cast<std::int32_t>(n < most ? n : most);
}

// The samples a file of `size` bytes holds: the whole samples from the data
// offset `doff` to its end, never past the largest file.  Every job and the
// Python package count so; bopen keeps the count above, from byte 40, for
// the programs that link it.
constexpr std::int64_t samples_held(int type, std::int64_t doff, std::int64_t size) {
    const std::int64_t n = doff >= 0 && size > doff ? (size - doff) / width_of(type) : 0;
    const std::int64_t most = addressable_samples(type, doff);
    return n < most ? n : most;
}

// Whether a stored sample is missing: the unusable value, or NaN in a
// float or double bottle.  One rule for every job, masked reads and xarray;
// the C interface hands samples over as stored.
template <class T>
constexpr bool missing(T v, T unusable) {
    return v == unusable || v != v;  // v != v: NaN
}

// The nearest float to d, as the header holds an interval and as a sample
// is read as a float.  Beyond the largest float (after rounding) the
// nearest is an infinity, which the plain conversion does not promise.
constexpr float narrow_to_float(double d) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp+127;  // FLT_MAX plus half its last unit
    if (d >= kRoundsToInfinity) return std::numeric_limits<float>::infinity();
    if (d <= -kRoundsToInfinity) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

// The C++ type that holds samples of a type code: int16_t, int32_t, float
// or double.  with_sample_type(type, f) calls f with a value of that type.
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
// for int16_t, the integer for int32_t, the nearest float, the exact double.
template <class T>
constexpr T unusable_as(std::int32_t usym) {
    return static_cast<T>(usym);
}

// The unusable value of a type as the bytes of one stored sample.
struct Slot {
    std::array<unsigned char, kMaxWidth> bytes{};
    int width = 0;
};
inline Slot unusable_slot(int type, std::int32_t usym) {
    Slot s;
    with_sample_type(type, [&](auto tag) {
        const auto v = unusable_as<decltype(tag)>(usym);
        s.width = static_cast<int>(sizeof v);
        std::memcpy(s.bytes.data(), &v, sizeof v);
    });
    return s;
}

}  // namespace zulu::format
