// The page buffer: one 512-byte page of a file held in memory, with
// byte-range transfers through it and a trace line for every disk transfer.

#include "buf.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "pagestate.h"
#include "sysio.h"

extern "C" {
int Verbose = 0;
}

namespace {

constexpr int kPageShift = 9;
constexpr int kPageSize = 1 << kPageShift;
constexpr int kPageMask = kPageSize - 1;
static_assert(kPageSize == BUF_PAGESIZE);
static_assert(sizeof(pagebuf::data) == kPageSize);
static_assert(offsetof(pagebuf, data) == 0, "the record's address is the page's");

// Byte positions run from 0 to INT_MAX, so pages from 0 to this one.
constexpr int kLastPage = INT_MAX >> kPageShift;
// One past the last byte position, as a 64-bit value.
constexpr int64_t kPositionEnd = int64_t{INT_MAX} + 1;

bool valid_page(int n) { return n >= 0 && n <= kLastPage; }

// The record openb hands out is the first member of this block, so that a
// pagebuf pointer leads to what the buffer keeps beside it.
struct PageState {
    pagebuf pb;
    int error;   // errno of the first failed transfer, 0 while none has
    int latest;  // errno of the latest failed transfer
    unsigned failures;  // failed transfers so far
    // Bytes from the held page's start that the file gave when the page
    // was loaded, or that were changed since: a page read short (the file
    // ends in it) holds zeros after them that are no bytes of the file.
    int held;
    // The held page's load failed: its bytes are not the file's, except
    // those changed since, from offset `changed_from` on, which are all a
    // write-back may put in the file.
    bool load_failed;
    int changed_from;
    bool quiet;  // failures are recorded but not printed
};
static_assert(std::is_standard_layout_v<PageState> && offsetof(PageState, pb) == 0);

PageState *state_of(pagebuf *pb) { return reinterpret_cast<PageState *>(pb); }
const PageState *state_of(const pagebuf *pb) { return reinterpret_cast<const PageState *>(pb); }

void record_error(pagebuf *pb, int error) {
    PageState *st = state_of(pb);
    st->latest = error != 0 ? error : EIO;
    if (st->error == 0) st->error = st->latest;
    ++st->failures;
}

// Reports a failed call as perror does, unless the buffer is quiet.
void report(const pagebuf *pb, const char *what) {
    if (!state_of(pb)->quiet) std::perror(what);
}

// The record's invariants: a dirty mark within the page, and dirty bytes
// only while a page is held.  Checked at the entry and exit of every
// operation in builds with checks on.
#if !defined(NDEBUG) || defined(ZULU_CHECK_INVARIANTS)
void check(const pagebuf *pb) {
    const bool held = pb->page == -1 || valid_page(pb->page);
    if (pb->dirty < 0 || pb->dirty > BUF_PAGESIZE || !held || (pb->dirty != 0 && pb->page == -1)) {
        std::fprintf(stderr, "pagebuf invariant broken: page %d, dirty %d\n", pb->page, pb->dirty);
        std::abort();
    }
}
#else
void check(const pagebuf *) {}
#endif

// Checks the record when an operation starts and again when it ends.
class Checked {
public:
    explicit Checked(const pagebuf *pb) : pb_(pb) { check(pb_); }
    ~Checked() { check(pb_); }
    Checked(const Checked &) = delete;
    Checked &operator=(const Checked &) = delete;

private:
    const pagebuf *pb_;
};

off_t page_offset(int n) { return static_cast<off_t>(n) << kPageShift; }

int page_of(int64_t position) { return static_cast<int>(position >> kPageShift); }

// Trace lines print the address of the page bytes as a decimal integer.
// Addresses may be wider than an int, so the full value is printed as a
// long, which holds a pointer on every POSIX data model (ILP32, LP64).
static_assert(sizeof(long) >= sizeof(intptr_t));
long trace_address(const pagebuf *pb) { return static_cast<long>(reinterpret_cast<intptr_t>(pb->data)); }

void trace_write(const pagebuf *pb, long result) {
    if (result < 0 && state_of(pb)->quiet) return;
    std::printf("disk[%d %d]<-core[%ld %ld]\n", pb->fd, pb->page, trace_address(pb), result);
}

void trace_read(const pagebuf *pb, int page, long result) {
    if (result < 0 && state_of(pb)->quiet) return;
    std::printf("disk[%d %d]->core[%ld %ld]\n", pb->fd, page, trace_address(pb), result);
}

// Positions the descriptor at the start of page n.  A descriptor without
// positions (a pipe, a FIFO, a terminal) cannot be positioned, but its
// transfers still go in stream order, so the failure is reported and the
// transfer made all the same; after any other failed positioning the
// transfer would land in the wrong place, and none is made.  True when the
// transfer may go ahead.
bool placed_at(pagebuf *pb, int n, const char *what, int offset = 0) {
    if (zulu::sysio::seek_to(pb->fd, page_offset(n) + offset)) return true;
    const int error = errno;
    record_error(pb, error);
    report(pb, what);
    return error == ESPIPE;
}

// Writes the held page's first `dirty` bytes back (after a failed load,
// only those changed since); false when that failed.
bool write_page(pagebuf *pb) {
    const Checked checked(pb);
    // The record is public: a mark or page set by hand is kept within bounds.
    const int n = std::clamp(pb->dirty, 0, kPageSize);
    const PageState *st = state_of(pb);
    const int from = st->load_failed ? std::min(st->changed_from, n) : 0;
    if (n == from) return true;
    if (!valid_page(pb->page)) {
        // No position to write to: writing at the descriptor's current
        // offset would put the page in the wrong place.
        errno = EINVAL;
        record_error(pb, errno);
        report(pb, "wripage lseek");
        trace_write(pb, -1);
        return false;
    }
    if (!placed_at(pb, pb->page, "wripage lseek", from)) {
        trace_write(pb, -1);
        return false;
    }
    if (zulu::sysio::write_fully(pb->fd, pb->data + from, static_cast<size_t>(n - from)) < 0) {
        record_error(pb, errno);
        report(pb, "wripage write");
        trace_write(pb, -1);
        return false;
    }
    if (Verbose) trace_write(pb, n - from);
    return true;
}

void page_switch(pagebuf *pb, int n) {
    if (n == pb->page) return;
    if (pb->dirty != 0) write_page(pb);
    reapage(pb, n);
}

// The file range [start, start + n) split into the bytes before position
// 0, the bytes in the file's positions and the bytes past the last one.
struct Span {
    int64_t start;   // first position asked for
    int64_t length;  // bytes asked for, 0 when n <= 0
    int64_t lo, hi;  // the part in [0, kPositionEnd); empty when lo >= hi
};

Span span_of(int start, int n) {
    Span s;
    s.start = start;
    s.length = std::max(n, 0);
    const int64_t end = s.start + s.length;
    s.lo = std::min<int64_t>(std::max<int64_t>(s.start, 0), end);
    s.hi = std::min(end, kPositionEnd);
    return s;
}

// Calls copy(position, offset in page, run length) for each run of the
// span within one page, switching pages as the runs reach them: first to
// the page of the span's start, then at every page start it crosses.
template <typename Copy>
void for_each_run(pagebuf *pb, int start, const Span &s, Copy copy) {
    page_switch(pb, page_of(std::max(start, 0)));
    for (int64_t p = s.lo; p < s.hi;) {
        if ((p & kPageMask) == 0) page_switch(pb, page_of(p));
        int offset = static_cast<int>(p & kPageMask);
        int run = static_cast<int>(std::min<int64_t>(kPageSize - offset, s.hi - p));
        copy(p, offset, run);
        p += run;
    }
}

}  // namespace

extern "C" {

pagebuf *openb(int fd) {
    auto *st = static_cast<PageState *>(std::calloc(1, sizeof(PageState)));
    if (!st) return nullptr;
    st->pb.fd = fd;
    st->pb.page = -1;
    st->pb.dirty = 0;
    return &st->pb;
}

int closeb(pagebuf *pb) {
    zulu::pages::close(pb);
    return 0;
}

char *ptrb(pagebuf *pb, int page) {
    if (!pb) return nullptr;
    const Checked checked(pb);
    page_switch(pb, page);
    return pb->data;
}

void wrib(pagebuf *pb) {
    if (!pb) return;
    const Checked checked(pb);
    // With no page held there is nowhere to write the page back to.
    if (valid_page(pb->page)) {
        pb->dirty = kPageSize;
        state_of(pb)->changed_from = 0;
    }
}

void clrb(pagebuf *pb) {
    if (!pb) return;
    const Checked checked(pb);
    pb->dirty = 0;
    pb->page = -1;
    state_of(pb)->held = 0;
    state_of(pb)->load_failed = false;
}

int getfdb(pagebuf *pb) { return pb ? pb->fd : -1; }

int getb(pagebuf *pb, int start, int n, void *dst) {
    zulu::pages::get(pb, start, n, dst);
    return 0;
}

int putb(pagebuf *pb, int start, int n, const void *src) {
    if (!pb) return 0;
    const Checked checked(pb);
    if (!src) n = 0;
    const auto *in = static_cast<const unsigned char *>(src);
    const Span s = span_of(start, n);
    // Bytes outside the file's range are dropped.
    for_each_run(pb, start, s, [&](int64_t p, int offset, int run) {
        std::memmove(pb->data + offset, in + (p - s.start), static_cast<size_t>(run));
        pb->dirty = std::max(pb->dirty, offset + run);
        state_of(pb)->changed_from = std::min(state_of(pb)->changed_from, offset);
    });
    return 0;
}

int wripage(pagebuf *pb) {
    if (pb) write_page(pb);
    return 0;
}

int reapage(pagebuf *pb, int page) {
    if (!pb) return 0;
    const Checked checked(pb);
    pb->dirty = 0;
    if (!valid_page(page)) {
        // A page outside the positions of any file: nothing is read and
        // nothing is held; the page bytes are zero as after a failed read.
        errno = EINVAL;
        record_error(pb, errno);
        report(pb, "reapage lseek");
        std::memset(pb->data, 0, kPageSize);
        pb->page = -1;
        state_of(pb)->held = kPageSize;
        state_of(pb)->load_failed = false;
        trace_read(pb, page, -1);
        return 0;
    }
    ssize_t r = -1;
    if (placed_at(pb, page, "reapage lseek")) {
        r = zulu::sysio::read_fully(pb->fd, pb->data, kPageSize);
        if (r < 0) {
            record_error(pb, errno);
            report(pb, "reapage read");
        }
    }
    pb->page = page;
    // A failed read leaves zeros that stand for the page's bytes (the
    // failure is recorded); a short one, zeros past the end of the file.
    state_of(pb)->held = r < 0 ? kPageSize : static_cast<int>(r);
    state_of(pb)->load_failed = r < 0;
    state_of(pb)->changed_from = kPageSize;
    if (r < 0) {
        std::memset(pb->data, 0, kPageSize);
        trace_read(pb, page, -1);
        return 0;
    }
    if (r < kPageSize) std::memset(pb->data + r, 0, static_cast<size_t>(kPageSize - r));
    if (Verbose) trace_read(pb, page, static_cast<long>(r));
    return 0;
}

}  // extern "C"

namespace zulu::pages {

std::int64_t get(pagebuf *pb, int start, int n, void *dst) {
    if (!dst) n = 0;
    auto *out = static_cast<unsigned char *>(dst);
    const Span s = span_of(start, n);
    if (s.length == 0) {
        if (pb) {
            const Checked checked(pb);
            page_switch(pb, page_of(std::max(start, 0)));
        }
        return s.lo;
    }
    // Positions outside the file's range, like those past its end, read as zeros.
    if (s.lo > s.start) std::memset(out, 0, static_cast<size_t>(s.lo - s.start));
    if (s.start + s.length > s.hi) std::memset(out + (s.hi - s.start), 0, static_cast<size_t>(s.start + s.length - s.hi));
    if (!pb) {
        std::memset(out, 0, static_cast<size_t>(s.length));
        return s.lo;
    }
    const Checked checked(pb);
    // Where the bytes the file gave end: at the first run that reaches past
    // what its page holds.
    int64_t held_to = s.hi;
    // memmove, not memcpy: dst may be the page itself, as ptrb hands it out.
    for_each_run(pb, start, s, [&](int64_t p, int offset, int run) {
        std::memmove(out + (p - s.start), pb->data + offset, static_cast<size_t>(run));
        const int held = std::max(state_of(pb)->held, pb->dirty);
        if (held_to == s.hi && offset + run > held) held_to = p + std::max(held - offset, 0);
    });
    return s.lo < s.hi ? held_to : s.lo;
}

int first_error(const pagebuf *pb) { return pb ? state_of(pb)->error : 0; }

unsigned failure_count(const pagebuf *pb) { return pb ? state_of(pb)->failures : 0; }

int latest_error(const pagebuf *pb) { return pb ? state_of(pb)->latest : 0; }

void note_error(pagebuf *pb, int error) {
    if (pb) record_error(pb, error);
}

int close(pagebuf *pb) {
    if (!pb) return 0;
    check(pb);
    if (pb->dirty != 0) write_page(pb);
    const int error = state_of(pb)->error;
    std::free(state_of(pb));
    return error;
}

void set_quiet(pagebuf *pb, bool quiet) {
    if (pb) state_of(pb)->quiet = quiet;
}

bool quiet(const pagebuf *pb) { return pb && state_of(pb)->quiet; }

bool write_back(pagebuf *pb) {
    if (!pb || pb->dirty == 0) return true;
    if (!write_page(pb)) return false;
    pb->dirty = 0;
    return true;
}

}  // namespace zulu::pages
