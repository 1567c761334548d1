// The system calls of the page buffer, the bottle library and the files of
// the archive operations, made through one table so that tests can make any
// call fail: the Nth read with EIO, a
// write with ENOSPC, a short count, an interrupted call.  Production code
// never changes the table.
//
// read_fully and write_fully are the one way the libraries move bytes to
// and from a file: each finishes its transfer (retrying interrupted calls
// and short counts) or fails with errno set.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

namespace zulu::sysio {

struct Calls {
    int (*open)(const char *path, int flags, mode_t mode);
    int (*close)(int fd);
    off_t (*lseek)(int fd, off_t offset, int whence);
    ssize_t (*read)(int fd, void *bytes, size_t n);
    ssize_t (*write)(int fd, const void *bytes, size_t n);
    int (*fstat)(int fd, struct stat *st);
    int (*fcntl_getfl)(int fd);  // fcntl(fd, F_GETFL)
    int (*fsync)(int fd);
    int (*fchmod)(int fd, mode_t mode);
    // A hint to start writing a file's dirty pages (sync_file_range with
    // SYNC_FILE_RANGE_WRITE over the whole file).
    int (*start_writeback)(int fd);
    int (*mkostemp)(char *pattern, int flags);
    int (*rename)(const char *from, const char *to);
    // rename that fails with EEXIST when `to` exists (renameat2 with
    // RENAME_NOREPLACE); EINVAL or ENOSYS where the file system lacks it.
    int (*rename_noreplace)(const char *from, const char *to);
    int (*link)(const char *from, const char *to);
    int (*unlink)(const char *path);
    ssize_t (*pread)(int fd, void *bytes, size_t n, off_t offset);
    ssize_t (*pwrite)(int fd, const void *bytes, size_t n, off_t offset);
};

// The calls the libraries make; tests may replace entries.
Calls &calls();

// The operating system's own calls, to restore the table or to pass calls on.
const Calls &system_calls();

// Reads until n bytes have come, the end of the file or an error.  Returns
// the count read (less than n only at the end of the file, or when a
// non-blocking descriptor has nothing more for now), or -1 with errno set.
ssize_t read_fully(int fd, void *bytes, size_t n);

// Writes all n bytes.  Returns n, or -1 with errno set (EIO when the file
// takes no more bytes without saying why).
ssize_t write_fully(int fd, const void *bytes, size_t n);

// As read_fully and write_fully, at `offset` in the file and leaving the
// descriptor's position alone, so that threads sharing a descriptor each
// move the bytes they asked for.
ssize_t read_fully_at(int fd, void *bytes, size_t n, off_t offset);
ssize_t write_fully_at(int fd, const void *bytes, size_t n, off_t offset);

// Positions fd at `offset` from the start of the file; false with errno set
// when that fails.
bool seek_to(int fd, off_t offset);

}  // namespace zulu::sysio
