// The bottle library: create, open, read, write, describe and close
// bottle files.  The header moves directly between the record and the
// file; every sample byte moves through the bottle's page buffer.

#include "bot.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "date.h"

extern "C" {
struct stat statb;
}

namespace {

// The header is read into and written from the record as one 40-byte
// block, so the record must lay the fields out exactly as the file does.
// The file's fields are little-endian IEEE values: on a big-endian host
// both the header and the samples (which move as stored) would need
// swapping, which this library does not do.
static_assert(std::endian::native == std::endian::little, "bottle files are little-endian");
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);
static_assert(offsetof(bottle_hdr, magic) == 0);
static_assert(offsetof(bottle_hdr, spare0) == 2);
static_assert(offsetof(bottle_hdr, doff) == 4);
static_assert(offsetof(bottle_hdr, beg) == 8);
static_assert(offsetof(bottle_hdr, ivl) == 16);
static_assert(offsetof(bottle_hdr, nsam) == 20);
static_assert(offsetof(bottle_hdr, type) == 24);
static_assert(offsetof(bottle_hdr, usym) == 28);
static_assert(offsetof(bottle_hdr, spare1) == 32);
static_assert(offsetof(bottle_hdr, spare2) == 36);
constexpr int kHeaderSize = 40;
static_assert(offsetof(bottle_hdr, pbuf) == kHeaderSize, "no padding in the header");

constexpr int16_t kMagic = 349;

// The sample types, indexed by the header's type code.
constexpr int kTypes = 4;
constexpr std::array<const char *, kTypes> btnam{"int", "long", "float", "double"};
constexpr std::array<int, kTypes> bwidth{2, 4, 4, 8};
constexpr std::array<int32_t, kTypes> busyms{32767, 999999, 999999, 9999999};
constexpr int kMaxWidth = 8;

bool valid_type(int type) { return type >= 0 && type < kTypes; }

// The largest file is INT_MAX bytes: byte positions are ints.
constexpr int64_t kMaxFileSize = INT_MAX;

// Samples of the bottle that lie wholly within the largest file.  Every
// width is a power of two, so the division is a shift (this runs on every
// window, and a 64-bit division costs more than the rest of the setup).
inline int64_t addressable_samples(const bottle_hdr *b) {
    static_assert(std::all_of(bwidth.begin(), bwidth.end(), [](int w) { return std::has_single_bit(unsigned(w)); }));
    if (b->doff < 0) return 0;
    return (kMaxFileSize - b->doff) >> std::countr_zero(unsigned(bwidth[b->type]));
}

// File position of sample i, for 0 <= i < addressable_samples(b).
int sample_position(const bottle_hdr *b, int64_t i) { return static_cast<int>(b->doff + i * bwidth[b->type]); }

// The nearest float to d.  Beyond the largest float (after rounding) the
// nearest is an infinity, which the plain conversion does not promise.
float narrow_to_float(double d) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp+127;  // FLT_MAX plus half its last unit
    if (d >= kRoundsToInfinity) return std::numeric_limits<float>::infinity();
    if (d <= -kRoundsToInfinity) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

// A sample index from a time: the truncated quotient, or a stand-in far
// outside any window when the quotient lies outside the int range.  A
// stand-in plus or minus any int count stays clear of 0 and of every
// sample count, so window arithmetic needs no other case.
constexpr int64_t kFarBelow = -(int64_t{1} << 40);
constexpr int64_t kFarAbove = int64_t{1} << 40;

inline std::optional<int64_t> sample_index(const bottle_hdr *b, double t) {
    const double step = b->ivl == 0 ? 1.0 : static_cast<double>(b->ivl);
    const double q = (t - b->beg) / step;
    if (std::isnan(q)) return std::nullopt;
    if (q <= static_cast<double>(INT_MIN) - 1.0) return kFarBelow;
    if (q >= static_cast<double>(INT_MAX) + 1.0) return kFarAbove;
    return static_cast<int64_t>(q);  // truncates toward zero
}

// The unusable value in the bottle's own sample type, as stored.
struct Slot {
    std::array<unsigned char, kMaxWidth> bytes{};
    int width = 0;
};

Slot unusable_slot(const bottle_hdr *b) {
    Slot s;
    s.width = bwidth[b->type];
    const int32_t u = b->usym;
    switch (b->type) {
    case 0: {
        const auto v = static_cast<int16_t>(u);  // low 16 bits
        std::memcpy(s.bytes.data(), &v, sizeof v);
        break;
    }
    case 1:
        std::memcpy(s.bytes.data(), &u, sizeof u);
        break;
    case 2: {
        const auto v = static_cast<float>(u);
        std::memcpy(s.bytes.data(), &v, sizeof v);
        break;
    }
    default: {
        const auto v = static_cast<double>(u);
        std::memcpy(s.bytes.data(), &v, sizeof v);
        break;
    }
    }
    return s;
}

float sample_to_float(const unsigned char *bytes, int type) {
    switch (type) {
    case 0: {
        int16_t v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
    case 1: {
        int32_t v;
        std::memcpy(&v, bytes, sizeof v);
        return static_cast<float>(v);
    }
    case 2: {
        float v;
        std::memcpy(&v, bytes, sizeof v);
        return v;
    }
    default: {
        double v;
        std::memcpy(&v, bytes, sizeof v);
        return narrow_to_float(v);
    }
    }
}

// Fills the slots of window indices [from, to) with the unusable value;
// the window begins at index s.
void fill_unusable(const bottle_hdr *b, unsigned char *slots, int64_t s, int64_t from, int64_t to) {
    if (from >= to) return;
    const Slot u = unusable_slot(b);
    for (int64_t i = from; i < to; ++i)
        std::memcpy(slots + (i - s) * u.width, u.bytes.data(), static_cast<size_t>(u.width));
}

void fill_header(bottle_hdr *b, double beg, double ivl, int nsam, int type) {
    b->magic = kMagic;
    b->spare0 = 0;
    b->doff = kHeaderSize;
    b->beg = beg;
    b->ivl = narrow_to_float(ivl);
    b->nsam = nsam;
    b->type = type;
    b->usym = busyms[type];
    b->spare1 = 0;
    b->spare2 = 0;
}

// Owners for what bopen acquires, released when it succeeds.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

struct RecordDeleter {
    void operator()(bottle_hdr *b) const {
        closeb(b->pbuf);
        std::free(b);
    }
};
using Record = std::unique_ptr<bottle_hdr, RecordDeleter>;

// Opens read-write, else read-only.  O_NONBLOCK keeps a FIFO or terminal
// from stalling the open or the header read; on regular files it does
// nothing.
int open_bottle_file(const char *name) {
    int fd = open(name, O_RDWR | O_NONBLOCK);
    if (fd < 0) fd = open(name, O_RDONLY | O_NONBLOCK);
    return fd;
}

// Reads the 40 header bytes into the record; false unless all of them
// came and they describe a bottle this library can use.
bool read_header(int fd, bottle_hdr *b) {
    lseek(fd, 0, SEEK_SET);
    if (read(fd, b, kHeaderSize) != kHeaderSize) return false;
    return b->magic == kMagic && valid_type(b->type) && b->doff >= 0;
}

// (size - 40) / width, but never negative and never past the largest file.
int32_t count_from_size(const bottle_hdr *b, off_t size) {
    const int64_t n = std::max<int64_t>((static_cast<int64_t>(size) - kHeaderSize) / bwidth[b->type], 0);
    return static_cast<int32_t>(std::min(n, addressable_samples(b)));
}

const char *shown_name(const char *name) { return name ? name : "(null)"; }

// Writes the header at position 0, reporting a failure on standard error.
// A read-only descriptor is left alone: nothing could be changed through
// it, and the page buffer has reported any sample write that failed.
void write_header(int fd, const bottle_hdr *b) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_ACCMODE) == O_RDONLY) return;
    if (lseek(fd, 0, SEEK_SET) < 0) {
        std::perror("bclose: header write");
        return;
    }
    const ssize_t r = write(fd, b, kHeaderSize);
    if (r == kHeaderSize) return;
    if (r >= 0) errno = EIO;  // a short write leaves a torn header
    std::perror("bclose: header write");
}

}  // namespace

extern "C" {

bottle_hdr *bopen(const char *name) {
    Descriptor fd(name ? open_bottle_file(name) : -1);
    if (fd.fd < 0) {
        std::printf("bopen:  can't open file %s\n", shown_name(name));
        return nullptr;
    }
    Record b(static_cast<bottle_hdr *>(std::malloc(sizeof(bottle_hdr))));
    if (!b) {
        std::puts("bopen:  can't malloc space for struct");
        return nullptr;
    }
    b->pbuf = openb(fd.fd);
    if (!b->pbuf) {
        std::puts("bopen:  can't get buffer ptr from openb");
        return nullptr;
    }
    struct stat st;
    if (!read_header(fd.fd, b.get()) || fstat(fd.fd, &st) < 0) {
        std::printf("bopen:  %s is not a legal bottle\n", shown_name(name));
        return nullptr;
    }
    statb = st;
    b->nsam = count_from_size(b.get(), st.st_size);
    fd.release();
    return b.release();
}

bottle_hdr *bcreat(const char *name, double beg, double ivl, int type) {
    if (!valid_type(type)) {
        std::printf("bcreat: illegal sample type %d for %s\n", type, shown_name(name));
        return nullptr;
    }
    // creat's flags, with O_NONBLOCK so that a FIFO without a reader fails
    // at once instead of stalling.
    Descriptor fd(name ? open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK, 0664) : -1);
    if (fd.fd < 0) {
        std::printf("bcreat: can't create file %s\n", shown_name(name));
        return nullptr;
    }
    bottle_hdr header;
    fill_header(&header, beg, ivl, 0, type);
    // A header that fails to reach the file leaves it short, and bopen
    // below reports it as not a legal bottle.
    lseek(fd.fd, 0, SEEK_SET);
    if (write(fd.fd, &header, kHeaderSize) < 0) std::perror("bcreat: header write");
    close(fd.release());
    return bopen(name);
}

void bclose(bottle_hdr *b) {
    if (!b) return;
    const int fd = getfdb(b->pbuf);
    // The page buffer first: its page 0 holds the header as it was loaded,
    // so the header must be written after the last write-back.
    closeb(b->pbuf);
    write_header(fd, b);
    if (close(fd) < 0) std::perror("bclose: close");
    std::free(b);
}

void sethead(bottle_hdr *b, double beg, double ivl, int nsam, int type) {
    if (b && valid_type(type)) fill_header(b, beg, ivl, nsam, type);
}

float bread1(bottle_hdr *b, double t, int k) {
    if (!b) return 0;
    const float unusable = static_cast<float>(b->usym);
    const auto s = sample_index(b, t);
    if (!valid_type(b->type) || !s) return unusable;
    const int64_t i = *s + k;
    if (i < 0 || i >= b->nsam || i >= addressable_samples(b)) return unusable;
    std::array<unsigned char, kMaxWidth> bytes{};
    getb(b->pbuf, sample_position(b, i), bwidth[b->type], bytes.data());
    return sample_to_float(bytes.data(), b->type);
}

void bread(bottle_hdr *b, double t, int count, void *buf) {
    if (!b || !buf || !valid_type(b->type)) return;
    auto *slots = static_cast<unsigned char *>(buf);
    const auto index = sample_index(b, t);
    if (!index) {
        fill_unusable(b, slots, 0, 0, count);
        return;
    }
    const int64_t s = *index, e = s + count;
    const int64_t stored = std::clamp<int64_t>(b->nsam, 0, addressable_samples(b));
    const int w = bwidth[b->type];
    fill_unusable(b, slots, s, s, std::min<int64_t>(e, 0));
    if (e > 0 && s < stored) {
        const int64_t a = std::max<int64_t>(s, 0), z = std::min(e, stored);
        const int bytes = static_cast<int>(std::max<int64_t>(z - a, 0) * w);
        getb(b->pbuf, sample_position(b, a), bytes, slots + (a - s) * w);
    }
    if (e > stored) fill_unusable(b, slots, s, std::max(stored, s), e);
}

void bwrite(bottle_hdr *b, double t, int count, const void *buf) {
    if (!b) return;
    if (!valid_type(b->type)) {
        std::printf("bwrite: illegal sample type %d\n", b->type);
        return;
    }
    const auto index = sample_index(b, t);
    if (!index) {
        std::printf("bwrite: time %g has no sample index\n", t);
        return;
    }
    const int64_t s = *index, e = s + count;
    const int64_t nsam = std::max<int32_t>(b->nsam, 0);
    const bool pads = nsam < s, stores = e > 0;
    if ((pads || stores) && std::max(s, e) > addressable_samples(b)) {
        std::printf("bwrite: window ends past the largest file position\n");
        return;
    }
    if (stores && count > 0 && !buf) {
        std::printf("bwrite: no samples to write\n");
        return;
    }
    const int w = bwidth[b->type];
    const Slot u = unusable_slot(b);
    for (int64_t i = nsam; i < s; ++i) putb(b->pbuf, sample_position(b, i), w, u.bytes.data());
    if (stores) {
        const int64_t a = std::max<int64_t>(s, 0);
        const int bytes = static_cast<int>(std::max<int64_t>(e - a, 0) * w);
        const auto *slots = static_cast<const unsigned char *>(buf);
        putb(b->pbuf, sample_position(b, a), bytes, bytes > 0 ? slots + (a - s) * w : nullptr);
    }
    // e > nsam only when the window stores, and then e is addressable.
    b->nsam = static_cast<int32_t>(std::max(nsam, e));
}

int bshow(bottle_hdr *b) {
    if (!b) return 0;
    // Empty to start with: dtoa writes nothing for a layout it lacks.
    char first[40] = "";
    char last[40] = "";
    dtoa(b->beg, first);
    dtoa(bot_end(b), last);
    const char *name = valid_type(b->type) ? btnam[b->type] : "?";
    return std::printf(" %s -> %s  sec: %.0f  %s: %ld\n", first, last, static_cast<double>(b->ivl), name,
                       static_cast<long>(b->nsam));
}

double bot_beg(bottle_hdr *b) { return b ? b->beg : 0; }
float bot_ivl(bottle_hdr *b) { return b ? b->ivl : 0; }
int bot_nsam(bottle_hdr *b) { return b ? b->nsam : 0; }
int bot_type(bottle_hdr *b) { return b ? b->type : 0; }
int bot_usym(bottle_hdr *b) { return b ? b->usym : 0; }

double bot_end(bottle_hdr *b) {
    if (!b) return 0;
    return b->beg + (static_cast<double>(b->nsam) - 1) * static_cast<double>(b->ivl);
}

int bsamnum(bottle_hdr *b, double t) {
    if (!b) return 0;
    const auto s = sample_index(b, t);
    if (!s) return INT_MIN;
    return static_cast<int>(std::clamp<int64_t>(*s, INT_MIN, INT_MAX));
}

}  // extern "C"
