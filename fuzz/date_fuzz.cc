// The date library on arbitrary input: a zone, a time, a record and a text
// taken from the bytes.  Besides the sanitizers' checks, every record dtov
// fills must be a date (or the all-zero record), and dtoa must stay within
// its 40 bytes.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "date.h"

namespace {

template <typename T>
T take(const uint8_t *&data, size_t &size) {
    T value{};
    const size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

void check_record(const datevec &v) {
    if (v.jl == 0 && v.mo == 0) return;  // no date: NaN, infinity, beyond int32_t years
    if (v.jl < 1 || v.jl > 366 || v.mo < 1 || v.mo > 12 || v.dm < 1 || v.dm > msize(v.mo, v.yr) || v.dw < 0 ||
        v.dw > 6 || v.hr < 0 || v.hr > 23 || v.mn < 0 || v.mn > 59 || v.se < 0 || v.se > 59 || v.mi < 0 || v.mi > 999)
        std::abort();
}

void check_text(double t) {
    for (int layout = -1; layout <= 6; ++layout) {
        dtoa_fmt = layout;
        char buf[48];
        std::memset(buf, 0x5A, sizeof buf);
        dtoa(t, buf);
        if (layout >= 0 && layout <= 5 && std::memchr(buf, '\0', 40) == nullptr) std::abort();
        for (size_t i = 40; i < sizeof buf; ++i)
            if (buf[i] != 0x5A) std::abort();
    }
    dtoa_fmt = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    zone = take<int8_t>(data, size) % 16;
    const double t = take<double>(data, size);
    datevec record = take<datevec>(data, size);
    const std::string text(reinterpret_cast<const char *>(data), size);

    datevec v;
    check_record(*dtov(t, &v));
    check_text(t);
    const double back = vtod(&v);
    if (std::isfinite(t) && v.mo != 0 && !std::isfinite(back)) std::abort();

    if (!std::isfinite(vtod(&record))) std::abort();
    const double parsed = atod(text.c_str());
    check_record(*dtov(parsed, &v));
    check_text(parsed);
    zone = 0;
    return 0;
}
