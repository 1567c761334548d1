// Little-endian bytes of bottle files, encoded and decoded by hand so that
// the tests check the library against the format rather than against
// itself.
#pragma once

#include <bit>
#include <cstdint>
#include <ostream>
#include <string>

namespace bytes {

inline uint64_t get(const std::string &b, size_t at, int width) {
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b.at(at + i));
    return v;
}

inline void put(std::string &b, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}

// One sample type: its width and its value <-> bytes conversions.
struct SampleType {
    int code;
    const char *name;
    int width;
    double unusable;

    std::string encode(double v) const {
        std::string b;
        switch (code) {
        case 0: put(b, static_cast<uint16_t>(static_cast<int16_t>(v)), 2); break;
        case 1: put(b, static_cast<uint32_t>(static_cast<int32_t>(v)), 4); break;
        case 2: put(b, std::bit_cast<uint32_t>(static_cast<float>(v)), 4); break;
        default: put(b, std::bit_cast<uint64_t>(v), 8); break;
        }
        return b;
    }
    double decode(const std::string &b, size_t at) const {
        switch (code) {
        case 0: return static_cast<int16_t>(get(b, at, 2));
        case 1: return static_cast<int32_t>(get(b, at, 4));
        case 2: return std::bit_cast<float>(static_cast<uint32_t>(get(b, at, 4)));
        default: return std::bit_cast<double>(get(b, at, 8));
        }
    }
};

// Names parameterised tests by the type's name.
inline void PrintTo(const SampleType &t, std::ostream *os) { *os << t.name; }

inline const SampleType kTypes[] = {
    {0, "int", 2, 32767},
    {1, "long", 4, 999999},
    {2, "float", 4, 999999},
    {3, "double", 8, 9999999},
};

struct Header {
    int16_t magic = 349;
    int32_t doff = 40;
    double beg = 0;
    float ivl = 1;
    int32_t nsam = 0;
    int32_t type = 0;
    int32_t usym = 32767;
};

inline std::string encode(const Header &h) {
    std::string b;
    put(b, static_cast<uint16_t>(h.magic), 2);
    put(b, 0, 2);
    put(b, static_cast<uint32_t>(h.doff), 4);
    put(b, std::bit_cast<uint64_t>(h.beg), 8);
    put(b, std::bit_cast<uint32_t>(h.ivl), 4);
    put(b, static_cast<uint32_t>(h.nsam), 4);
    put(b, static_cast<uint32_t>(h.type), 4);
    put(b, static_cast<uint32_t>(h.usym), 4);
    put(b, 0, 8);
    return b;
}

}  // namespace bytes
