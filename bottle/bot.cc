// The bottle library's C interface: bottles addressed by time, with the
// library's messages on standard output.  The work is the core's, by
// sample index.

#include "bot.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core.h"
#include "date.h"
#include "format.h"

extern "C" {
struct stat statb;
}

namespace {

using zulu::format::valid_type;

float sample_to_float(const unsigned char *bytes, int type) {
    return zulu::format::with_sample_type(type, [&](auto tag) {
        decltype(tag) v;
        std::memcpy(&v, bytes, sizeof v);
        if constexpr (sizeof v == sizeof(double))
            return zulu::format::narrow_to_float(v);
        else
            return static_cast<float>(v);
    });
}

}  // namespace

extern "C" {

bottle_hdr *bopen(const char *name) {
    const zulu::core::Opened opened = zulu::core::open(name, {});
    if (!opened.bottle) {
        zulu::core::print_open_failure(name, opened);
        return nullptr;
    }
    statb = opened.status;
    return opened.bottle;
}

bottle_hdr *bcreat(const char *name, double beg, double ivl, int type) {
    const zulu::core::Created created = zulu::core::create(name, beg, ivl, type, {});
    if (created.error != zulu::core::CreateError::kNone) zulu::core::print_create_failure(name, type, created);
    if (created.bottle) statb = created.opened.status;
    return created.bottle;
}

void bclose(bottle_hdr *b) {
    if (b) zulu::core::close(b);
}

int bflush(bottle_hdr *b) {
    if (!b) return -1;
    return zulu::core::flush_to_disk(b) ? 0 : -1;
}

int berror(bottle_hdr *b) { return b && zulu::core::error(b) != 0 ? 1 : 0; }

void sethead(bottle_hdr *b, double beg, double ivl, int nsam, int type) {
    if (b && valid_type(type)) zulu::core::fill_header(b, beg, ivl, nsam, type);
}

float bread1(bottle_hdr *b, double t, int k) {
    if (!b) return 0;
    const float unusable = static_cast<float>(b->usym);
    const auto s = zulu::core::index_of(b, t);
    if (!valid_type(b->type) || !s) return unusable;
    const int64_t i = *s + k;
    if (i < 0 || i >= zulu::core::stored_samples(b)) return unusable;
    std::array<unsigned char, zulu::format::kMaxWidth> bytes{};
    zulu::core::read_at(b, i, 1, bytes.data());
    return sample_to_float(bytes.data(), b->type);
}

void bread(bottle_hdr *b, double t, int count, void *buf) {
    if (!b || !buf || !valid_type(b->type)) return;
    // A time with no index (NaN) reads a window of unusable values.
    const auto s = zulu::core::index_of(b, t);
    zulu::core::read_at(b, s.value_or(zulu::core::kFarBelow), count, buf);
}

void bwrite(bottle_hdr *b, double t, int count, const void *buf) {
    if (!b) return;
    if (!valid_type(b->type)) {
        std::printf("bwrite: illegal sample type %d\n", b->type);
        return;
    }
    const auto s = zulu::core::index_of(b, t);
    if (!s) {
        std::printf("bwrite: time %g has no sample index\n", t);
        return;
    }
    switch (zulu::core::write_at(b, *s, count, buf)) {
    case zulu::core::WriteResult::kDone:
        break;
    case zulu::core::WriteResult::kPastLargestFile:
        std::printf("bwrite: window ends past the largest file position\n");
        break;
    case zulu::core::WriteResult::kNoSamples:
        std::printf("bwrite: no samples to write\n");
        break;
    }
}

int bshow(bottle_hdr *b) {
    if (!b) return 0;
    char line[160];
    zulu::core::show_line(b, line, sizeof line);
    return std::printf("%s", line);
}

double bot_beg(bottle_hdr *b) { return b ? b->beg : 0; }
float bot_ivl(bottle_hdr *b) { return b ? b->ivl : 0; }
int bot_nsam(bottle_hdr *b) { return b ? b->nsam : 0; }
int bot_type(bottle_hdr *b) { return b ? b->type : 0; }
int bot_usym(bottle_hdr *b) { return b ? b->usym : 0; }

double bot_end(bottle_hdr *b) { return b ? zulu::core::end_time(b) : 0; }

int bsamnum(bottle_hdr *b, double t) {
    if (!b) return 0;
    const auto s = zulu::core::index_of(b, t);
    if (!s) return INT_MIN;
    return static_cast<int>(std::clamp<int64_t>(*s, INT_MIN, INT_MAX));
}

}  // extern "C"
