// Files as the bottle command handles them: bottles opened only to be
// looked at, where the library's messages go, buffered output to a
// descriptor, and new files that replace their target only when complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "bot.h"

namespace bottletool {

// A bottle opened with bopen (its messages printed where standard output
// goes at the time) and released without bclose: bclose writes the header
// back, which would change a file that is only being looked at (a header
// whose stored count is wrong would be rewritten).
class ViewedBottle {
public:
    explicit ViewedBottle(const std::string &name) : h_(bopen(name.c_str())) {}
    ~ViewedBottle();
    ViewedBottle(const ViewedBottle &) = delete;
    ViewedBottle &operator=(const ViewedBottle &) = delete;

    bottle_hdr *get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }

private:
    bottle_hdr *h_;
};

// The 40 header bytes as the file holds them, read without the library.
struct StoredHeader {
    std::int32_t doff = 0;
    std::int32_t nsam = 0;
};
std::optional<StoredHeader> read_stored_header(const std::string &name);

// Sends what the program prints on standard output (the library's
// messages and traces included) to standard error from construction on,
// and keeps the original standard output as data_fd() for the command's
// own output.  Restored on destruction.
class StdoutToStderr {
public:
    StdoutToStderr();
    ~StdoutToStderr();
    StdoutToStderr(const StdoutToStderr &) = delete;
    StdoutToStderr &operator=(const StdoutToStderr &) = delete;

    int data_fd() const { return saved_; }

private:
    int saved_;
};

// Output to a descriptor through a large buffer.  A write that fails is a
// Failure naming `what`.
class OutputBuffer {
public:
    static constexpr std::size_t kSize = std::size_t{1} << 20;

    OutputBuffer(int fd, std::string what) : fd_(fd), what_(std::move(what)), buffer_(kSize) {}

    // Room for at least n more characters (n at most kSize); returns where
    // to write them.  Call commit with the end of what was written.
    char *reserve(std::size_t n) {
        if (kSize - used_ < n) flush();
        return buffer_.data() + used_;
    }
    void commit(const char *end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }
    void append(std::string_view text);
    void flush();

private:
    int fd_;
    std::string what_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
};

// A new file written under a temporary name beside `target` and renamed
// onto it by commit; destroyed uncommitted (or on SIGINT, SIGTERM, SIGHUP
// or SIGPIPE), the temporary file is removed, so the target is either left
// as it was or replaced whole.  Without `replace`, an existing target is
// never replaced.
class PendingFile {
public:
    PendingFile(std::string target, bool replace, mode_t mode);
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    const std::string &path() const { return temp_; }
    // Flushes the file to disk and renames it onto the target.
    void commit();

private:
    std::string target_;
    std::string temp_;
    bool replace_;
    mode_t mode_;
    bool committed_ = false;
};

// True when a file (or anything else) of that name exists.
bool exists(const std::string &name);

// The message of the last failed system call, for "...: REASON".
std::string system_error();

}  // namespace bottletool
