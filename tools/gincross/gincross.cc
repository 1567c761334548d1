#include "gincross.h"

#include <array>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int GS = 0x1D;   // enter graph mode
constexpr int ESC = 0x1B;  // ESC SUB: enter crosshair (graphic input) mode
constexpr int SUB = 0x1A;
constexpr int US = 0x1F;   // back to alphanumeric mode

// Bytes of the terminal's report: the key, then high X, low X, high Y, low Y.
using Report = std::array<int, 5>;

// Reads the report one byte at a time; false if input ends or fails first.
bool read_report(Report &r) {
    for (int &byte : r) {
        byte = std::getc(stdin);
        if (byte == EOF) return false;
    }
    return true;
}

// A coordinate from its high and low bytes (five bits each), times 4.
std::int16_t coordinate(int high, int low) {
    return static_cast<std::int16_t>(((high & 0x1F) << 5 | (low & 0x1F)) << 2);
}

}  // namespace

extern "C" int gincross(std::int16_t *x, std::int16_t *y) {
    std::putc(GS, stdout);
    std::putc(ESC, stdout);
    std::putc(SUB, stdout);
    std::fflush(stdout);  // the terminal must see the request before we wait

    Report r{};
    const bool complete = read_report(r);
    if (complete) {
        if (x) *x = coordinate(r[1], r[2]);
        if (y) *y = coordinate(r[3], r[4]);
    }

    move(0, 500);
    int result = std::putc(US, stdout);
    if (std::fflush(stdout) != 0) result = EOF;
    return complete ? result : EOF;
}
