// Failures of the libraries' system calls on demand: while a FaultInjector
// lives, the Nth call of the kinds it watches fails in the chosen way, and
// every other call goes to the system.  It records where the failed call
// was aimed, so that a test can check that nothing outside it changed.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "sysio.h"

namespace faults {

enum class Kind {
    kEIO,     // fails with EIO
    kENOSPC,  // fails with ENOSPC
    kShort,   // a read or write that moves half the bytes asked for (at least one)
    kEINTR,   // interrupted before moving anything
};

inline const char *name_of(Kind k) {
    switch (k) {
    case Kind::kEIO: return "EIO";
    case Kind::kENOSPC: return "ENOSPC";
    case Kind::kShort: return "short count";
    case Kind::kEINTR: return "EINTR";
    }
    return "?";
}

class FaultInjector {
public:
    // Fails call number n (from 1) among those that kind k applies to:
    // short counts apply to reads and writes, the others to every call.
    // A failed positioning stands for the transfer it comes before: the
    // range it was aimed at is taken as `seek_span` bytes from its offset.
    FaultInjector(Kind k, int n, std::int64_t seek_span = 512) : saved_(zulu::sysio::calls()), seek_span_(seek_span) {
        active_ = this;
        kind_ = k;
        target_ = n;
        auto &c = zulu::sysio::calls();
        c.open = open_;
        c.close = close_;
        c.lseek = lseek_;
        c.read = read_;
        c.write = write_;
        c.fstat = fstat_;
        c.fcntl_getfl = fcntl_getfl_;
        c.fsync = fsync_;
        c.fchmod = fchmod_;
        c.start_writeback = start_writeback_;
        c.mkostemp = mkostemp_;
        c.rename = rename_;
        c.rename_noreplace = rename_noreplace_;
        c.link = link_;
        c.unlink = unlink_;
        c.pread = pread_;
        c.pwrite = pwrite_;
    }
    ~FaultInjector() {
        zulu::sysio::calls() = saved_;
        active_ = nullptr;
    }
    FaultInjector(const FaultInjector &) = delete;
    FaultInjector &operator=(const FaultInjector &) = delete;

    bool fired() const { return fired_; }
    Kind kind() const { return kind_; }
    // The call that failed ("write", "read", ...), and for a read or write
    // the file range it was aimed at.
    const std::string &call() const { return call_; }
    std::int64_t from() const { return from_; }
    std::int64_t to() const { return to_; }
    // For a call on a descriptor: whether it was open for reading only.
    bool read_only() const { return read_only_; }
    // The number of calls seen that this kind applies to.
    int seen() const { return seen_; }

private:
    static bool counts(bool transfer) { return transfer || active_->kind_ != Kind::kShort; }

    // True when this call is the one to fail; records it.
    // A transfer is aimed at n bytes from `at`, or from the descriptor's
    // position when `at` is negative.
    static bool strike(const char *call, bool transfer, int fd, std::size_t n, off_t at = -1) {
        FaultInjector *f = active_;
        if (!counts(transfer) || f->fired_ || ++f->seen_ != f->target_) return false;
        f->fired_ = true;
        f->call_ = call;
        if (fd >= 0) f->read_only_ = (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY;
        if (transfer) {
            f->from_ = at >= 0 ? at : ::lseek(fd, 0, SEEK_CUR);
            f->to_ = f->from_ + static_cast<std::int64_t>(n);
        }
        return true;
    }
    static int fail() {
        errno = active_->kind_ == Kind::kENOSPC ? ENOSPC : active_->kind_ == Kind::kEINTR ? EINTR : EIO;
        return -1;
    }

    static int open_(const char *path, int flags, mode_t mode) {
        return strike("open", false, -1, 0) ? fail() : system().open(path, flags, mode);
    }
    static int close_(int fd) {
        if (!strike("close", false, fd, 0)) return system().close(fd);
        system().close(fd);  // a failed close still releases the descriptor
        return fail();
    }
    static off_t lseek_(int fd, off_t offset, int whence) {
        if (!strike("lseek", false, fd, 0)) return system().lseek(fd, offset, whence);
        active_->from_ = offset;
        active_->to_ = offset + active_->seek_span_;
        return fail();
    }
    static ssize_t read_(int fd, void *bytes, std::size_t n) {
        if (!strike("read", true, fd, n)) return system().read(fd, bytes, n);
        if (active_->kind_ == Kind::kShort) return system().read(fd, bytes, n > 1 ? n / 2 : n);
        return fail();
    }
    static ssize_t write_(int fd, const void *bytes, std::size_t n) {
        if (!strike("write", true, fd, n)) return system().write(fd, bytes, n);
        if (active_->kind_ == Kind::kShort) return system().write(fd, bytes, n > 1 ? n / 2 : n);
        return fail();
    }
    static int fstat_(int fd, struct stat *st) { return strike("fstat", false, fd, 0) ? fail() : system().fstat(fd, st); }
    static ssize_t pread_(int fd, void *bytes, std::size_t n, off_t at) {
        if (!strike("read", true, fd, n, at)) return system().pread(fd, bytes, n, at);
        if (active_->kind_ == Kind::kShort) return system().pread(fd, bytes, n > 1 ? n / 2 : n, at);
        return fail();
    }
    static ssize_t pwrite_(int fd, const void *bytes, std::size_t n, off_t at) {
        if (!strike("write", true, fd, n, at)) return system().pwrite(fd, bytes, n, at);
        if (active_->kind_ == Kind::kShort) return system().pwrite(fd, bytes, n > 1 ? n / 2 : n, at);
        return fail();
    }
    static int fcntl_getfl_(int fd) {
        return strike("fcntl", false, fd, 0) ? fail() : system().fcntl_getfl(fd);
    }
    static int fsync_(int fd) { return strike("fsync", false, fd, 0) ? fail() : system().fsync(fd); }
    static int fchmod_(int fd, mode_t mode) {
        return strike("fchmod", false, fd, 0) ? fail() : system().fchmod(fd, mode);
    }
    static int start_writeback_(int fd) {
        return strike("start_writeback", false, fd, 0) ? fail() : system().start_writeback(fd);
    }
    static int mkostemp_(char *pattern, int flags) {
        return strike("mkostemp", false, -1, 0) ? fail() : system().mkostemp(pattern, flags);
    }
    static int rename_(const char *from, const char *to) {
        return strike("rename", false, -1, 0) ? fail() : system().rename(from, to);
    }
    static int rename_noreplace_(const char *from, const char *to) {
        return strike("rename", false, -1, 0) ? fail() : system().rename_noreplace(from, to);
    }
    static int link_(const char *from, const char *to) {
        return strike("link", false, -1, 0) ? fail() : system().link(from, to);
    }
    static int unlink_(const char *path) { return strike("unlink", false, -1, 0) ? fail() : system().unlink(path); }
    static const zulu::sysio::Calls &system() { return zulu::sysio::system_calls(); }

    static inline FaultInjector *active_ = nullptr;
    zulu::sysio::Calls saved_;
    std::int64_t seek_span_;
    Kind kind_ = Kind::kEIO;
    int target_ = 0;
    int seen_ = 0;
    bool fired_ = false;
    bool read_only_ = false;
    std::string call_;
    std::int64_t from_ = -1, to_ = -1;
};

}  // namespace faults
