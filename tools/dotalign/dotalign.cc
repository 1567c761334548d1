#include "dotalign.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

namespace {

// Tail length in size_t: strings longer than INT_MAX are still measured right.
std::size_t tail_length(const char *s) {
    const char *point = std::strchr(s, '.');
    return point ? std::strlen(point) : 0;
}

// The int results saturate for strings too long for an int to index.
int clamp_to_int(std::size_t n) {
    return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

bool is_entry(const char *s) { return s && *s; }

// A new block holding s followed by `pad` characters: a '.' first when s has
// no point, '0' for the rest.  Null when the size overflows or malloc fails.
char *padded_copy(const char *s, std::size_t tail, std::size_t pad) {
    const std::size_t len = std::strlen(s);
    if (pad > SIZE_MAX - 1 - len) return nullptr;
    auto *copy = static_cast<char *>(std::malloc(len + pad + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, s, len + 1);  // with its NUL, which the padding overwrites
    char *end = copy + len;
    if (tail == 0) {
        *end++ = '.';
        --pad;
    }
    std::memset(end, '0', pad);
    end[pad] = '\0';
    return copy;
}

}  // namespace

extern "C" int dotalign(char **strings, int count) {
    if (!strings || count <= 0) return 0;
    std::span<char *> column(strings, static_cast<std::size_t>(count));

    std::size_t longest = 0;
    for (const char *s : column)
        if (is_entry(s)) longest = std::max(longest, tail_length(s));

    for (char *&s : column) {
        if (!is_entry(s)) continue;
        const std::size_t tail = tail_length(s);
        if (tail == longest) continue;
        if (char *copy = padded_copy(s, tail, longest - tail)) s = copy;
    }
    return 0;
}

extern "C" int places(const char *str) {
    return str ? clamp_to_int(tail_length(str)) : 0;
}

extern "C" int where(const char *str) {
    if (!str) return -1;
    const char *point = std::strchr(str, '.');
    return point ? clamp_to_int(static_cast<std::size_t>(point - str)) : -1;
}
