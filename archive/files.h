// Files as the archive operations handle them: bottles opened only to be
// looked at, new bottles, buffered output to a descriptor, and the targets
// that output goes to, with the rule that keeps every file whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "bot.h"
#include "grid.h"

namespace zulu::archive {

// The identity of a file, to tell whether two names, or a name and a
// descriptor, lead to one file.
struct FileId {
    dev_t dev;
    ino_t ino;
};

// A bottle opened only to be looked at: read-only, so that nothing is ever
// written back (a header whose stored count is wrong stays as it was), with
// windows read straight into the caller's buffer.  Nothing is printed: a
// file that is not a usable bottle gets the library's line in
// library_line() and a problem() that says why.
class ViewedBottle {
public:
    explicit ViewedBottle(const std::string &name);
    ~ViewedBottle();
    ViewedBottle(const ViewedBottle &) = delete;
    ViewedBottle &operator=(const ViewedBottle &) = delete;

    bottle_hdr *get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    const std::string &name() const { return name_; }
    // When the open failed: "NAME: REASON" where there is a reason to add to
    // the library's line ("No such file or directory"), else empty.
    const std::string &problem() const { return problem_; }
    // When the open failed: the line the C interface prints for it ("bopen:  ...\n").
    const std::string &library_line() const { return library_line_; }
    // A Failure with problem() and library_line() when the open failed.
    void require() const;
    // The samples the file holds (format::samples_held).
    std::int64_t count() const;
    // A Failure when the file holds samples past the largest bottle file
    // (2 GiB), which no job reaches: a job that would silently leave them
    // out refuses the file instead.
    void require_reachable() const;
    // The bottle's time grid over count() samples; grid_for_times() the
    // same, or a Failure naming the file when the grid is unusable (a
    // begin time or interval not finite, an interval not positive), for
    // jobs that turn times into samples.
    Grid grid() const;
    Grid grid_for_times() const;
    // The 40 header bytes as the file holds them, the file's size, and
    // which file it is.
    const bottle_hdr &stored_header() const { return stored_; }
    std::int64_t file_size() const { return size_; }
    const FileId &id() const { return id_; }
    // A Failure naming the file when a read of it has failed.
    void check_reads() const;

private:
    std::string name_;
    bottle_hdr *h_ = nullptr;
    std::string problem_;
    std::string library_line_;
    bool not_bottle_ = false;
    int open_errno_ = 0;
    bottle_hdr stored_{};
    std::int64_t size_ = 0;
    FileId id_{};
};

// Whether the file at `name` is a regular file with the header of a
// bottle; never waits (a FIFO is none) and prints nothing.
bool looks_like_bottle(const std::string &name);

// A new bottle, written under `path` with windows written straight to the
// file and nothing printed; finish() puts the header and every sample on
// disk, or is a Failure naming `shown` that says what went wrong.
class NewBottle {
public:
    NewBottle(const std::string &path, const std::string &shown, double beg, double ivl, int type);
    ~NewBottle();
    NewBottle(const NewBottle &) = delete;
    NewBottle &operator=(const NewBottle &) = delete;

    bottle_hdr *get() const { return h_; }
    // Gives the bottle an unusable value other than its type's own, as a
    // copy keeps its source's; before any sample is written, since gaps
    // are padded with it.
    void set_unusable(std::int32_t usym) { h_->usym = usym; }
    void finish();

private:
    std::string shown_;
    bottle_hdr *h_ = nullptr;
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

// A file the command reads, by the name used in messages.
struct InputFile {
    std::string name;
    FileId id;
};

// The file of a name (links followed) or of a descriptor, when it exists
// and holds what is read from it: a regular file or a block device.
// Streams (terminals, pipes) are left out: writing one does not change
// what another name of it reads.
std::optional<InputFile> input_file(const std::string &name);
std::optional<InputFile> input_file(int fd, const std::string &name);

// A Failure when the file `id` is one of `inputs`: writing it would destroy
// what the command reads.
void refuse_input(const std::vector<InputFile> &inputs, const FileId &id, const std::string &output);

// A Failure when the descriptor `fd`, standard output, leads to one of the
// files named: writing it would destroy what the command reads.
void refuse_output_among(const std::vector<std::string> &names, int fd);

// After each file that is not a readable bottle has been reported: a
// Failure that counts them, when there are any.
void fail_for_unreadable(std::size_t unreadable, std::size_t files);

// How a job writes the file it makes: an existing file is replaced only
// when `force` says so (the one rule of every job that writes data); the
// temporary file is removed on a fatal signal where `watch_signals`.
struct Output {
    bool force = false;
    bool watch_signals = true;
};

// Where a command writes a file it makes.
//  - "-" is standard output, written directly.
//  - A symbolic link is followed: the file it names gets the content and
//    the link stays.
//  - A regular file, or a name not yet taken, gets the content under a
//    temporary name beside it (".NAME.XXXXXX", NAME cut short where the
//    file system takes no name so long), renamed onto it by commit: it is
//    left as it was or replaced whole.  Destroyed uncommitted (or on SIGINT, SIGTERM,
//    SIGHUP, SIGPIPE or SIGXFSZ, where the program leaves their action the
//    default one), the temporary file is removed.
//  - Anything else (a device, a FIFO) is opened and written directly, never
//    renamed over, where the rules allow direct output at all.
// A target that is one of `inputs` is refused before anything is written.
class OutputTarget {
public:
    struct Rules {
        bool replace = true;  // an existing file may be replaced
        bool direct = true;   // false: only a regular file will do
        mode_t mode = 0666;   // of a new file, before the umask
        // Remove the temporary file when SIGINT, SIGTERM, SIGHUP or SIGPIPE
        // ends the program (a program's own handlers, as Python's, say no).
        bool watch_signals = true;
    };

    OutputTarget(const std::string &name, const std::vector<InputFile> &inputs, Rules rules);
    ~OutputTarget();
    OutputTarget(const OutputTarget &) = delete;
    OutputTarget &operator=(const OutputTarget &) = delete;

    // The target as messages name it.
    const std::string &name() const { return shown_; }
    // The temporary file that commit renames onto the target; empty for
    // direct output.
    const std::string &temp_path() const { return temp_; }
    // Open for writing the content.
    int fd() const { return fd_; }
    // Closes the descriptor (a failure is a Failure); a temporary file is
    // first flushed to disk, then renamed onto the target, and the
    // directory flushed so that the new entry lasts (a failure of that
    // last step is a Failure too, with the new file in place).
    void commit();
    // Starts writing what the temporary file holds so far to the disk,
    // without waiting, so that the flush in commit has less left to wait
    // for; for long outputs, written block by block.  Nothing for direct
    // output.
    void start_writeback() const;

private:
    void open_target(const std::string &name, const std::vector<InputFile> &inputs);
    // Closes the descriptor and removes an uncommitted temporary file.
    void discard() noexcept;
    void open_direct(const std::string &path, const std::vector<InputFile> &inputs);
    void create_temporary(const std::string &path);

    std::string shown_;
    std::string target_;  // the file renamed onto, links followed
    std::string temp_;
    Rules rules_;
    int fd_ = -1;
    bool committed_ = false;
};

// One read of a command's input (a pipe, a file) through the system-call
// table of the libraries, as read(2).
ssize_t read_input(int fd, void *bytes, std::size_t n);

// Temporary files that a target could not remove ("PATH: REASON"), each
// given once: the program reports them as it ends.
std::vector<std::string> take_left_behind();

// Standard input, output and error closed when the program started are
// held open on /dev/null by the program, which notes them here.  A job
// that needs one of them calls need_standard_stream before it touches any
// file: a Failure when that stream was closed.
void note_closed_at_start(int fd);
void need_standard_stream(int fd);

// What is wrong with a bottle whose file of `size` bytes holds samples
// past the largest bottle file, which the library cannot reach ("NAME:
// the file holds N samples; a bottle reaches only the first M (2 GiB)"),
// or empty.  One rule for the command and the Python package.
std::string unreachable_problem(const std::string &name, const bottle_hdr &stored, std::int64_t size);

// The rules of a target that a job writes data to: a regular file (or a
// new name), replaced only with `force`.
OutputTarget::Rules data_rules(const Output &output);

// The message of the last failed system call, for "...: REASON".
std::string system_error();

}  // namespace zulu::archive
