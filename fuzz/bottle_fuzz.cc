// A bottle made of arbitrary file bytes: open it, show it, read single
// samples and windows, write a window, close it and open it again.  Times
// and counts come from the input; counts are bounded by the buffer the
// target hands over, and writes far past the end are skipped so that the
// file stays small.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bot.h"
#include "scratch_file.h"

using fuzzing::take;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzing::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const double t_read = take<double>(data, size);
    const double t_write = take<double>(data, size);
    const int k = take<int32_t>(data, size);
    const int read_count = std::clamp<int>(take<int16_t>(data, size), -64, 4096);
    const int write_count = std::clamp<int>(take<int16_t>(data, size), -64, 4096);
    fuzzing::write_scratch(data, size);

    bottle_hdr *b = bopen(fuzzing::scratch_path().c_str());
    if (!b) return 0;
    bshow(b);
    bread1(b, t_read, k);
    bot_end(b);
    std::vector<uint8_t> window(4096 * 8 + 8, 0xA5);
    bread(b, t_read, read_count, window.data());
    const int64_t index = bsamnum(b, t_write);
    if (index <= static_cast<int64_t>(bot_nsam(b)) + 65536) bwrite(b, t_write, write_count, window.data());
    bclose(b);

    b = bopen(fuzzing::scratch_path().c_str());
    if (b) bclose(b);
    return 0;
}
