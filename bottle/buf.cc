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

#include <unistd.h>

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

off_t page_offset(int n) { return static_cast<off_t>(n) << kPageShift; }

int page_of(int64_t position) { return static_cast<int>(position >> kPageShift); }

// Trace lines print the address of the page bytes as a decimal integer.
// Addresses may be wider than an int, so the full value is printed as a
// long, which holds a pointer on every POSIX data model (ILP32, LP64).
static_assert(sizeof(long) >= sizeof(intptr_t));
long trace_address(const pagebuf *pb) { return static_cast<long>(reinterpret_cast<intptr_t>(pb->data)); }

void trace_write(const pagebuf *pb, long result) {
    std::printf("disk[%d %d]<-core[%ld %ld]\n", pb->fd, pb->page, trace_address(pb), result);
}

void trace_read(const pagebuf *pb, int page, long result) {
    std::printf("disk[%d %d]->core[%ld %ld]\n", pb->fd, page, trace_address(pb), result);
}

// Writes all n bytes, going on after a short write so that a write that
// runs out of room ends in the error that says why.  Returns the count
// written, or -1 with errno set.
long write_fully(int fd, const char *bytes, int n) {
    int done = 0;
    while (done < n) {
        ssize_t r = write(fd, bytes + done, static_cast<size_t>(n - done));
        if (r < 0) return -1;
        if (r == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<int>(r);
    }
    return done;
}

void page_switch(pagebuf *pb, int n) {
    if (n == pb->page) return;
    if (pb->dirty != 0) wripage(pb);
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
    auto *pb = static_cast<pagebuf *>(std::calloc(1, sizeof(pagebuf)));
    if (!pb) return nullptr;
    pb->fd = fd;
    pb->page = -1;
    pb->dirty = 0;
    return pb;
}

int closeb(pagebuf *pb) {
    if (!pb) return 0;
    if (pb->dirty != 0) wripage(pb);
    std::free(pb);
    return 0;
}

char *ptrb(pagebuf *pb, int page) {
    if (!pb) return nullptr;
    page_switch(pb, page);
    return pb->data;
}

void wrib(pagebuf *pb) {
    // With no page held there is nowhere to write the page back to.
    if (pb && valid_page(pb->page)) pb->dirty = kPageSize;
}

void clrb(pagebuf *pb) {
    if (!pb) return;
    pb->dirty = 0;
    pb->page = -1;
}

int getfdb(pagebuf *pb) { return pb ? pb->fd : -1; }

int getb(pagebuf *pb, int start, int n, void *dst) {
    if (!dst) n = 0;
    auto *out = static_cast<unsigned char *>(dst);
    const Span s = span_of(start, n);
    if (s.length == 0) {
        if (pb) page_switch(pb, page_of(std::max(start, 0)));
        return 0;
    }
    // Positions outside the file's range, like those past its end, read as zeros.
    if (s.lo > s.start) std::memset(out, 0, static_cast<size_t>(s.lo - s.start));
    if (s.start + s.length > s.hi) std::memset(out + (s.hi - s.start), 0, static_cast<size_t>(s.start + s.length - s.hi));
    if (!pb) {
        std::memset(out, 0, static_cast<size_t>(s.length));
        return 0;
    }
    // memmove, not memcpy: dst may be the page itself, as ptrb hands it out.
    for_each_run(pb, start, s, [&](int64_t p, int offset, int run) {
        std::memmove(out + (p - s.start), pb->data + offset, static_cast<size_t>(run));
    });
    return 0;
}

int putb(pagebuf *pb, int start, int n, const void *src) {
    if (!pb) return 0;
    if (!src) n = 0;
    const auto *in = static_cast<const unsigned char *>(src);
    const Span s = span_of(start, n);
    // Bytes outside the file's range are dropped.
    for_each_run(pb, start, s, [&](int64_t p, int offset, int run) {
        std::memmove(pb->data + offset, in + (p - s.start), static_cast<size_t>(run));
        pb->dirty = std::max(pb->dirty, offset + run);
    });
    return 0;
}

int wripage(pagebuf *pb) {
    if (!pb) return 0;
    const int n = std::clamp(pb->dirty, 0, kPageSize);
    if (n == 0) return 0;
    if (!valid_page(pb->page)) {
        // No position to write to: writing at the descriptor's current
        // offset would put the page in the wrong place.
        errno = EINVAL;
        std::perror("wripage lseek");
        trace_write(pb, -1);
        return 0;
    }
    if (lseek(pb->fd, page_offset(pb->page), SEEK_SET) < 0) std::perror("wripage lseek");
    const long r = write_fully(pb->fd, pb->data, n);
    if (r < 0) {
        std::perror("wripage write");
        trace_write(pb, -1);
    } else if (Verbose) {
        trace_write(pb, r);
    }
    return 0;
}

int reapage(pagebuf *pb, int page) {
    if (!pb) return 0;
    pb->dirty = 0;
    if (!valid_page(page)) {
        // A page outside the positions of any file: nothing is read and
        // nothing is held; the page bytes are zero as after a failed read.
        errno = EINVAL;
        std::perror("reapage lseek");
        std::memset(pb->data, 0, kPageSize);
        pb->page = -1;
        trace_read(pb, page, -1);
        return 0;
    }
    if (lseek(pb->fd, page_offset(page), SEEK_SET) < 0) std::perror("reapage lseek");
    const ssize_t r = read(pb->fd, pb->data, kPageSize);
    pb->page = page;
    if (r < 0) {
        std::perror("reapage read");
        std::memset(pb->data, 0, kPageSize);
        trace_read(pb, page, -1);
        return 0;
    }
    if (r < kPageSize) std::memset(pb->data + r, 0, static_cast<size_t>(kPageSize - r));
    if (Verbose) trace_read(pb, page, static_cast<long>(r));
    return 0;
}

}  // extern "C"
