// The bottle core: opening, creating, reading, writing, flushing and
// closing bottles by sample index.  The header moves directly between the
// record and the file; samples move through the bottle's page buffer, or
// for bottles opened for direct transfers, straight between the file and
// the caller's buffer.

#include "core.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include <fcntl.h>

#include "date.h"
#include "pagestate.h"
#include "sysio.h"

namespace zulu::core {
namespace {

using format::kHeaderSize;
using format::width_of;

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
static_assert(offsetof(bottle_hdr, pbuf) == kHeaderSize, "no padding in the header");

// The record open hands out is the first member of this block, so that a
// bottle_hdr pointer leads to what the core keeps beside it.
struct BottleState {
    bottle_hdr hdr;
    bool writable;  // the header is written back on flush and close
    bool direct;    // windows bypass the page buffer
    bool quiet;     // failures print nothing
    int error;      // errno of the first failed header or window transfer
    int latest;     // errno of the latest one
    unsigned failures;  // failed header and window transfers so far
};
static_assert(std::is_standard_layout_v<BottleState> && offsetof(BottleState, hdr) == 0);

BottleState *state_of(bottle_hdr *b) { return reinterpret_cast<BottleState *>(b); }
const BottleState *state_of(const bottle_hdr *b) { return reinterpret_cast<const BottleState *>(b); }

void record_error(bottle_hdr *b, int err) {
    BottleState *st = state_of(b);
    st->latest = err != 0 ? err : EIO;
    if (st->error == 0) st->error = st->latest;
    ++st->failures;
}

// Samples of the bottle that lie wholly within the largest file.  Every
// width is a power of two, so the division is a shift (this runs on every
// window, and a 64-bit division costs more than the rest of the setup).
inline std::int64_t addressable_samples(const bottle_hdr *b) {
    static_assert(std::all_of(format::kTypes.begin(), format::kTypes.end(),
                              [](const format::SampleType &t) { return std::has_single_bit(unsigned(t.width)); }));
    if (b->doff < 0) return 0;
    return (format::kMaxFileSize - b->doff) >> std::countr_zero(unsigned(width_of(b->type)));
}

// File position of sample i, for 0 <= i <= addressable_samples(b).
inline std::int64_t sample_position(const bottle_hdr *b, std::int64_t i) { return b->doff + i * width_of(b->type); }

double step_of(const bottle_hdr *b) { return b->ivl == 0 ? 1.0 : static_cast<double>(b->ivl); }

// Fills the slots of window indices [from, to) with the unusable value;
// the window begins at index s.
void fill_unusable(const bottle_hdr *b, unsigned char *slots, std::int64_t s, std::int64_t from, std::int64_t to) {
    if (from >= to) return;
    const format::Slot u = format::unusable_slot(b->type, b->usym);
    for (std::int64_t i = from; i < to; ++i)
        std::memcpy(slots + (i - s) * u.width, u.bytes.data(), static_cast<std::size_t>(u.width));
}

// --- Opening ------------------------------------------------------------

// Owners for what open acquires, released when it succeeds.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd >= 0) sysio::calls().close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

struct RecordDeleter {
    void operator()(BottleState *st) const {
        closeb(st->hdr.pbuf);
        std::free(st);
    }
};
using Record = std::unique_ptr<BottleState, RecordDeleter>;

// O_NONBLOCK keeps a FIFO or terminal from stalling the open or the header
// read; on regular files it does nothing.
int open_file(const char *name, Access access, bool &writable) {
    const auto &sys = sysio::calls();
    writable = access != Access::kRead;
    if (access == Access::kRead) return sys.open(name, O_RDONLY | O_NONBLOCK, 0);
    int fd = sys.open(name, O_RDWR | O_NONBLOCK, 0);
    if (fd >= 0 || access == Access::kReadWrite) return fd;
    const int first_errno = errno;
    fd = sys.open(name, O_RDONLY | O_NONBLOCK, 0);
    if (fd < 0) errno = first_errno;
    writable = false;
    return fd;
}

// Reads the 40 header bytes into *h and says what, if anything, makes
// them unusable.
HeaderProblem read_header(int fd, bottle_hdr *h, int &sys_errno) {
    ssize_t n = -1;
    if (sysio::seek_to(fd, 0)) n = sysio::read_fully(fd, h, kHeaderSize);
    if (n < 0) {
        sys_errno = errno;
        return HeaderProblem::kUnreadable;
    }
    if (n < kHeaderSize) return HeaderProblem::kShort;
    if (h->magic != format::kMagic) return HeaderProblem::kMagic;
    if (!format::valid_type(h->type)) return HeaderProblem::kType;
    if (h->doff < 0) return HeaderProblem::kOffset;
    return HeaderProblem::kNone;
}

// Writes the header at position 0; false with errno set when it did not
// reach the file whole.
bool write_header(int fd, const bottle_hdr *b) {
    return sysio::seek_to(fd, 0) && sysio::write_fully(fd, b, kHeaderSize) == kHeaderSize;
}

// --- Windows ------------------------------------------------------------

// Reads bytes of the file at `position` straight into out, by a positioned
// read that leaves the descriptor and the record alone.  Returns the bytes
// the file gave, fewer than n where it ends sooner.  A failed read leaves
// zeros, which stand for all n bytes, and its errno in err.
std::size_t read_positioned(const bottle_hdr *b, std::int64_t position, std::size_t n, unsigned char *out, int &err) {
    const ssize_t got = sysio::read_fully_at(getfdb(b->pbuf), out, n, static_cast<off_t>(position));
    if (got < 0) {
        err = errno != 0 ? errno : EIO;
        std::memset(out, 0, n);
        return n;
    }
    return static_cast<std::size_t>(got);
}

// Writes bytes straight to the file at `position`.  The held page is
// written back and dropped first: the file changes under it.
void write_direct(bottle_hdr *b, std::int64_t position, std::size_t n, const unsigned char *in) {
    const int fd = getfdb(b->pbuf);
    pages::write_back(b->pbuf);
    clrb(b->pbuf);
    if (sysio::write_fully_at(fd, in, n, static_cast<off_t>(position)) < 0) record_error(b, errno);
}

// Stores the unusable value at indices [from, to), directly in blocks.
void pad_direct(bottle_hdr *b, std::int64_t from, std::int64_t to) {
    const format::Slot u = format::unusable_slot(b->type, b->usym);
    constexpr std::int64_t kBlockSlots = 1024;
    std::array<unsigned char, kBlockSlots * format::kMaxWidth> block;
    for (std::size_t k = 0; k + static_cast<std::size_t>(u.width) <= block.size(); k += static_cast<std::size_t>(u.width))
        std::memcpy(block.data() + k, u.bytes.data(), static_cast<std::size_t>(u.width));
    for (std::int64_t i = from; i < to; i += kBlockSlots) {
        const std::int64_t n = std::min(to - i, kBlockSlots);
        write_direct(b, sample_position(b, i), static_cast<std::size_t>(n * u.width), block.data());
    }
}

}  // namespace

// --- Opening and creating ------------------------------------------------

Opened open(const char *name, const OpenOptions &options) {
    Opened result;
    bool writable = false;
    Descriptor fd(name ? open_file(name, options.access, writable) : (errno = EFAULT, -1));
    if (fd.fd < 0) {
        result.error = OpenError::kCannotOpen;
        result.sys_errno = errno;
        return result;
    }
    Record st(static_cast<BottleState *>(std::malloc(sizeof(BottleState))));
    if (!st) {
        result.error = OpenError::kNoMemory;
        return result;
    }
    *st = BottleState{{}, writable, options.direct, options.quiet, 0, 0, 0};
    bottle_hdr *b = &st->hdr;
    b->pbuf = openb(fd.fd);
    if (!b->pbuf) {
        result.error = OpenError::kNoBuffer;
        return result;
    }
    pages::set_quiet(b->pbuf, options.quiet);
    result.problem = read_header(fd.fd, b, result.sys_errno);
    std::memcpy(&result.header, b, kHeaderSize);
    if (result.problem == HeaderProblem::kNone && sysio::calls().fstat(fd.fd, &result.status) < 0) {
        result.problem = HeaderProblem::kUnreadable;
        result.sys_errno = errno;
    }
    if (result.problem != HeaderProblem::kNone) {
        result.error = OpenError::kNotBottle;
        return result;
    }
    b->nsam = format::count_from_size(b->type, b->doff, result.status.st_size);
    fd.release();
    result.bottle = &st.release()->hdr;
    return result;
}

namespace {
const char *shown_name(const char *name) { return name ? name : "(null)"; }
}  // namespace

void open_failure_line(const char *name, const Opened &opened, char *line, std::size_t n) {
    if (n == 0) return;
    line[0] = '\0';
    switch (opened.error) {
    case OpenError::kNone:
        break;
    case OpenError::kCannotOpen:
        std::snprintf(line, n, "bopen:  can't open file %s\n", shown_name(name));
        break;
    case OpenError::kNoMemory:
        std::snprintf(line, n, "bopen:  can't malloc space for struct\n");
        break;
    case OpenError::kNoBuffer:
        std::snprintf(line, n, "bopen:  can't get buffer ptr from openb\n");
        break;
    case OpenError::kNotBottle:
        std::snprintf(line, n, "bopen:  %s is not a legal bottle\n", shown_name(name));
        break;
    }
}

void print_open_failure(const char *name, const Opened &opened) {
    // As long as the name, the line is printed whole, however long the name.
    const std::size_t n = std::strlen(shown_name(name)) + 64;
    char *line = static_cast<char *>(std::malloc(n));
    if (!line) return;
    open_failure_line(name, opened, line, n);
    std::fputs(line, stdout);
    std::free(line);
}

void describe_problem(const Opened &opened, char *text, std::size_t n) {
    if (n == 0) return;
    const bottle_hdr &h = opened.header;
    text[0] = '\0';
    switch (opened.problem) {
    case HeaderProblem::kNone:
        break;
    case HeaderProblem::kUnreadable:
        std::snprintf(text, n, "its header cannot be read: %s", std::strerror(opened.sys_errno));
        break;
    case HeaderProblem::kShort:
        std::snprintf(text, n, "the file is shorter than the 40-byte header");
        break;
    case HeaderProblem::kMagic:
        std::snprintf(text, n, "the magic number is %d, not 349", h.magic);
        break;
    case HeaderProblem::kType:
        std::snprintf(text, n, "the sample type is %d, not 0 to 3", static_cast<int>(h.type));
        break;
    case HeaderProblem::kOffset:
        std::snprintf(text, n, "sample 0 is placed at byte %d, before the start of the file", static_cast<int>(h.doff));
        break;
    }
}

Created create(const char *name, double beg, double ivl, int type, const CreateOptions &options) {
    Created result;
    if (!format::valid_type(type)) {
        result.error = CreateError::kIllegalType;
        return result;
    }
    // creat's flags, with O_NONBLOCK so that a FIFO without a reader fails
    // at once instead of stalling.
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | (options.exclusive ? O_EXCL : 0);
    Descriptor fd(name ? sysio::calls().open(name, flags, options.mode) : (errno = EFAULT, -1));
    if (fd.fd < 0) {
        result.error = errno == EEXIST && options.exclusive ? CreateError::kExists : CreateError::kCannotCreate;
        result.sys_errno = errno;
        return result;
    }
    bottle_hdr header;
    fill_header(&header, beg, ivl, 0, type);
    // A header that does not reach the file leaves it short, and opening it
    // below reports it as not a legal bottle.  A failed close may mean the
    // same.
    const bool written = write_header(fd.fd, &header);
    const int write_errno = errno;
    const bool closed = sysio::calls().close(fd.release()) == 0;
    if (!written || !closed) {
        result.error = CreateError::kHeaderWrite;
        result.sys_errno = written ? errno : write_errno;
    }
    result.opened = open(name, options.open);
    result.bottle = result.opened.bottle;
    if (!result.bottle && result.error == CreateError::kNone) result.error = CreateError::kOpen;
    if (result.bottle && result.error == CreateError::kHeaderWrite) record_error(result.bottle, result.sys_errno);
    return result;
}

void print_create_failure(const char *name, int type, const Created &created) {
    switch (created.error) {
    case CreateError::kNone:
        break;
    case CreateError::kIllegalType:
        std::printf("bcreat: illegal sample type %d for %s\n", type, shown_name(name));
        break;
    case CreateError::kCannotCreate:
    case CreateError::kExists:
        std::printf("bcreat: can't create file %s\n", shown_name(name));
        break;
    case CreateError::kHeaderWrite:
        errno = created.sys_errno;
        std::perror("bcreat: header write");
        if (!created.bottle) print_open_failure(name, created.opened);
        break;
    case CreateError::kOpen:
        print_open_failure(name, created.opened);
        break;
    }
}

void fill_header(bottle_hdr *b, double beg, double ivl, int nsam, int type) {
    b->magic = format::kMagic;
    b->spare0 = 0;
    b->doff = kHeaderSize;
    b->beg = beg;
    b->ivl = format::narrow_to_float(ivl);
    b->nsam = nsam;
    b->type = type;
    b->usym = format::kTypes[static_cast<std::size_t>(type)].unusable;
    b->spare1 = 0;
    b->spare2 = 0;
}

// --- Indices and windows -------------------------------------------------

std::optional<std::int64_t> index_of(const bottle_hdr *b, double t) {
    const double q = (t - b->beg) / step_of(b);
    if (std::isnan(q)) return std::nullopt;
    if (q <= static_cast<double>(INT_MIN) - 1.0) return kFarBelow;
    if (q >= static_cast<double>(INT_MAX) + 1.0) return kFarAbove;
    return static_cast<std::int64_t>(q);  // truncates toward zero
}

double time_of(const bottle_hdr *b, std::int64_t i) { return b->beg + static_cast<double>(i) * step_of(b); }

std::int64_t stored_samples(const bottle_hdr *b) { return std::clamp<std::int64_t>(b->nsam, 0, addressable_samples(b)); }

namespace {

// read_at's work, with the direct reads' failure returned rather than
// recorded: the errno of the first that failed, or 0.
int read_window(const bottle_hdr *b, std::int64_t s, std::int64_t count, void *out) {
    auto *slots = static_cast<unsigned char *>(out);
    const std::int64_t e = s + count, stored = stored_samples(b);
    const int w = width_of(b->type);
    int err = 0;
    fill_unusable(b, slots, s, s, std::min<std::int64_t>(e, 0));
    if (e > 0 && s < stored) {
        const std::int64_t a = std::max<std::int64_t>(s, 0), z = std::min(e, stored);
        const std::int64_t bytes = std::max<std::int64_t>(z - a, 0) * w, position = sample_position(b, a);
        unsigned char *into = slots + (a - s) * w;
        std::int64_t given = 0;  // bytes the file gave
        if (state_of(b)->direct)
            given = static_cast<std::int64_t>(read_positioned(b, position, static_cast<std::size_t>(bytes), into, err));
        else
            given = pages::get(b->pbuf, static_cast<int>(position), static_cast<int>(bytes), into) - position;
        // Samples that the file no longer holds whole (it was cut short
        // since it was opened) are not there: no zeros stand in for them.
        fill_unusable(b, slots, s, a + std::clamp<std::int64_t>(given, 0, bytes) / w, z);
    }
    if (e > stored) fill_unusable(b, slots, s, std::max(stored, s), e);
    return err;
}

}  // namespace

void read_at(bottle_hdr *b, std::int64_t s, std::int64_t count, void *out) {
    // A direct bottle holds no dirty page (its windows bypass the buffer),
    // so its file already has every byte written.
    if (const int err = read_window(b, s, count, out)) record_error(b, err);
}

int read_shared(const bottle_hdr *b, std::int64_t first, std::int64_t count, void *out) {
    if (!state_of(b)->direct) return EINVAL;
    return read_window(b, first, count, out);
}

bool placeable(const bottle_hdr *b, std::int64_t s, std::int64_t count) {
    const std::int64_t e = s + count;
    const bool pads = std::max<std::int32_t>(b->nsam, 0) < s, stores = e > 0;
    return !(pads || stores) || std::max(s, e) <= addressable_samples(b);
}

WriteResult write_at(bottle_hdr *b, std::int64_t s, std::int64_t count, const void *in) {
    const std::int64_t e = s + count;
    const std::int64_t nsam = std::max<std::int32_t>(b->nsam, 0);
    const bool pads = nsam < s, stores = e > 0;
    if (!placeable(b, s, count)) return WriteResult::kPastLargestFile;
    if (stores && count > 0 && !in) return WriteResult::kNoSamples;
    const int w = width_of(b->type);
    const bool direct = state_of(b)->direct;
    if (direct && pads) {
        pad_direct(b, nsam, s);
    } else {
        const format::Slot u = format::unusable_slot(b->type, b->usym);
        for (std::int64_t i = nsam; i < s; ++i)
            putb(b->pbuf, static_cast<int>(sample_position(b, i)), w, u.bytes.data());
    }
    if (stores) {
        const std::int64_t a = std::max<std::int64_t>(s, 0);
        const std::int64_t bytes = std::max<std::int64_t>(e - a, 0) * w;
        const auto *from = bytes > 0 ? static_cast<const unsigned char *>(in) + (a - s) * w : nullptr;
        if (direct) {
            if (bytes > 0) write_direct(b, sample_position(b, a), static_cast<std::size_t>(bytes), from);
        } else {
            putb(b->pbuf, static_cast<int>(sample_position(b, a)), static_cast<int>(bytes), from);
        }
    }
    // e > nsam only when the window stores, and then e is addressable.
    b->nsam = static_cast<std::int32_t>(std::max(nsam, e));
    return WriteResult::kDone;
}

double end_time(const bottle_hdr *b) { return b->beg + (static_cast<double>(b->nsam) - 1) * static_cast<double>(b->ivl); }

void show_line(const bottle_hdr *b, char *line, std::size_t n) { show_line(b, line, n, dtoa_fmt, zone); }

void show_line(const bottle_hdr *b, char *line, std::size_t n, int layout, int zone_hours) {
    // Empty to start with: dtoa writes nothing for a layout it lacks.
    char first[40] = "";
    char last[40] = "";
    dtoa_r(b->beg, first, layout, zone_hours);
    dtoa_r(end_time(b), last, layout, zone_hours);
    const char *name = format::valid_type(b->type) ? format::kTypes[static_cast<std::size_t>(b->type)].name : "?";
    std::snprintf(line, n, " %s -> %s  sec: %.0f  %s: %ld\n", first, last, static_cast<double>(b->ivl), name,
                  static_cast<long>(b->nsam));
}

// --- Error state, flush and close ---------------------------------------

int error(const bottle_hdr *b) {
    const int own = state_of(b)->error;
    return own != 0 ? own : pages::first_error(b->pbuf);
}

FailureMark failure_mark(const bottle_hdr *b) { return {state_of(b)->failures, pages::failure_count(b->pbuf)}; }

int error_since(const bottle_hdr *b, const FailureMark &mark) {
    if (state_of(b)->failures != mark.own) return state_of(b)->latest;
    if (pages::failure_count(b->pbuf) != mark.pages) return pages::latest_error(b->pbuf);
    return 0;
}

bool writable(const bottle_hdr *b) { return state_of(b)->writable; }

namespace {

// Reports the failed call as perror does, as "ROUTINE: WHAT: REASON".
void report(const char *routine, const char *what) {
    const int error = errno;
    std::fprintf(stderr, "%s: %s: %s\n", routine, what, std::strerror(error));
}

// Writes the header back on a writable bottle, reporting a failure as
// "ROUTINE: header write: REASON".  The page buffer goes first: its page 0
// holds the header as it was loaded, so the header must follow the last
// write-back.
// A read-only descriptor (the file allowed no more, or one was put in
// its place) is left alone: nothing could be changed through it, and the
// page buffer has reported any sample write that failed.
// A held page 0 takes the header written, so that writing the page back
// later (as the writer moves past it) puts the same header in the file,
// not the older count it was loaded with: readers that follow the writer
// take the stored count as what it has published.
void write_back_header(bottle_hdr *b, int fd, const char *routine) {
    const int flags = sysio::calls().fcntl_getfl(fd);
    if (!state_of(b)->writable || (flags >= 0 && (flags & O_ACCMODE) == O_RDONLY)) return;
    // The count written back is at most the whole samples that a regular
    // file holds from the data offset: after a write that failed (a full
    // disk) the header still agrees with the file.  The record takes it as
    // well, so that a later write pads the samples lost.
    struct stat st;
    if (sysio::calls().fstat(fd, &st) != 0) {
        record_error(b, errno);
        if (!state_of(b)->quiet) report(routine, "fstat");
    } else if (S_ISREG(st.st_mode) && format::valid_type(b->type)) {
        const std::int64_t held = std::max<std::int64_t>(st.st_size - b->doff, 0) / width_of(b->type);
        if (held < b->nsam) b->nsam = static_cast<std::int32_t>(held);
    }
    if (write_header(fd, b)) {
        if (b->pbuf && b->pbuf->page == 0) std::memcpy(b->pbuf->data, b, kHeaderSize);
        return;
    }
    record_error(b, errno);
    if (!state_of(b)->quiet) report(routine, "header write");
}

}  // namespace

bool flush(bottle_hdr *b, const char *routine) {
    pages::write_back(b->pbuf);
    write_back_header(b, getfdb(b->pbuf), routine);
    return error(b) == 0;
}

bool flush_to_disk(bottle_hdr *b, const char *routine) {
    if (!flush(b, routine) || !state_of(b)->writable) return error(b) == 0;
    // EINVAL: a file that cannot be synced (a FIFO, some special files).
    if (sysio::calls().fsync(getfdb(b->pbuf)) != 0 && errno != EINVAL) {
        record_error(b, errno);
        if (!state_of(b)->quiet) report(routine, "fsync");
    }
    return error(b) == 0;
}

bool close(bottle_hdr *b, const char *routine, int *failure) {
    const int fd = getfdb(b->pbuf);
    BottleState *st = state_of(b);
    // The buffer writes a dirty page back (reporting a failure itself) and
    // goes with its error state: the bottle keeps it.
    const int page_error = pages::close(b->pbuf);
    b->pbuf = nullptr;
    if (page_error != 0) record_error(b, page_error);
    write_back_header(b, fd, routine);
    bool ok = st->error == 0;
    if (sysio::calls().close(fd) < 0) {
        ok = false;
        record_error(b, errno);
        if (!st->quiet) report(routine, "close");
    }
    if (failure) *failure = st->error;
    std::free(st);
    return ok;
}

}  // namespace zulu::core
