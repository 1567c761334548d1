#include "sysio.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace zulu::sysio {
namespace {

int os_open(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int os_fcntl_getfl(int fd) { return ::fcntl(fd, F_GETFL); }
int os_start_writeback(int fd) { return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }
int os_rename_noreplace(const char *from, const char *to) {
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

constexpr Calls kSystemCalls{os_open,     ::close,  ::lseek,  ::read,          ::write,
                             ::fstat,     os_fcntl_getfl,     ::fsync,         ::fchmod,
                             os_start_writeback,    ::mkostemp, ::rename, os_rename_noreplace,
                             ::link,      ::unlink, ::pread,  ::pwrite};

Calls table = kSystemCalls;

}  // namespace

Calls &calls() { return table; }
const Calls &system_calls() { return kSystemCalls; }

namespace {

// Reads until n bytes have come through `part` (a read of the bytes from
// `done` on), the end of the file or an error; see read_fully.
template <class Part>
ssize_t read_loop(void *bytes, size_t n, Part part) {
    auto *p = static_cast<char *>(bytes);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = part(p + done, n - done, done);
        if (r < 0 && errno == EINTR) continue;
        // A descriptor that would block (a FIFO or terminal, opened without
        // waiting) has given all it has for now.
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && done > 0) break;
        if (r < 0) return -1;
        if (r == 0) break;  // end of file
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

// Writes all n bytes through `part`; see write_fully.
template <class Part>
ssize_t write_loop(const void *bytes, size_t n, Part part) {
    const auto *p = static_cast<const char *>(bytes);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = part(p + done, n - done, done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) {
            errno = EIO;
            return -1;
        }
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

ssize_t read_fully(int fd, void *bytes, size_t n) {
    return read_loop(bytes, n, [fd](char *p, size_t k, size_t) { return table.read(fd, p, k); });
}

ssize_t write_fully(int fd, const void *bytes, size_t n) {
    return write_loop(bytes, n, [fd](const char *p, size_t k, size_t) { return table.write(fd, p, k); });
}

ssize_t read_fully_at(int fd, void *bytes, size_t n, off_t offset) {
    return read_loop(bytes, n, [fd, offset](char *p, size_t k, size_t done) {
        return table.pread(fd, p, k, offset + static_cast<off_t>(done));
    });
}

ssize_t write_fully_at(int fd, const void *bytes, size_t n, off_t offset) {
    return write_loop(bytes, n, [fd, offset](const char *p, size_t k, size_t done) {
        return table.pwrite(fd, p, k, offset + static_cast<off_t>(done));
    });
}

bool seek_to(int fd, off_t offset) {
    const off_t r = table.lseek(fd, offset, SEEK_SET);
    if (r == offset) return true;
    if (r >= 0) errno = EIO;  // positioned somewhere else
    return false;
}

}  // namespace zulu::sysio
