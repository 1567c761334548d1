// Helpers for tests that run the bottle command: running it (directly or
// through the shell), reading its CSV output, and bottle files written
// byte by byte.
#pragma once

#include <bit>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture.h"

namespace bottletest {

using testsupport::read_file;
using testsupport::RunResult;
using testsupport::TempDir;
using testsupport::write_file;

inline RunResult bottle(const std::vector<std::string> &args, const std::string &input = "") {
    return testsupport::run(BOTTLE_PATH, args, input);
}

inline bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

inline std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Field `index` (0 time, 1 value) of each line of a dump, after its header.
inline std::vector<std::string> dump_column(const std::string &csv, int index) {
    std::vector<std::string> lines = lines_of(csv), out;
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return out;
    EXPECT_EQ(lines[0], "time,value");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t comma = lines[i].find(',');
        out.push_back(index == 0 ? lines[i].substr(0, comma) : lines[i].substr(comma + 1));
    }
    return out;
}

inline std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// --- Bottle files byte by byte (little-endian) ---------------------------

inline void put(std::string &b, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<char>(v >> (8 * i) & 0xff));
}

inline constexpr std::int32_t kUnusable[] = {32767, 999999, 999999, 9999999};

inline std::string header(int type, double beg, float ivl, std::int32_t nsam, std::int32_t doff = 40) {
    std::string b;
    put(b, 349, 2);
    put(b, 0, 2);
    put(b, static_cast<std::uint32_t>(doff), 4);
    put(b, std::bit_cast<std::uint64_t>(beg), 8);
    put(b, std::bit_cast<std::uint32_t>(ivl), 4);
    put(b, static_cast<std::uint32_t>(nsam), 4);
    put(b, static_cast<std::uint32_t>(type), 4);
    put(b, static_cast<std::uint32_t>(type >= 0 && type < 4 ? kUnusable[type] : 0), 4);
    put(b, 0, 8);
    return b;
}

inline std::string float_samples(const std::vector<float> &v) {
    std::string b;
    for (float x : v) put(b, std::bit_cast<std::uint32_t>(x), 4);
    return b;
}

inline std::string long_samples(const std::vector<std::int32_t> &v) {
    std::string b;
    for (std::int32_t x : v) put(b, static_cast<std::uint32_t>(x), 4);
    return b;
}

inline std::vector<std::string> counting_text(int from, int to) {
    std::vector<std::string> v;
    for (int i = from; i < to; ++i) v.push_back(std::to_string(i));
    return v;
}

// Runs a shell command line with the bottle program as $0 and `args` as
// $1 onwards.
inline RunResult shell(const std::string &line, const std::vector<std::string> &args = {}) {
    std::vector<std::string> all{"-c", line, BOTTLE_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return testsupport::run("/bin/sh", all);
}

}  // namespace bottletest
