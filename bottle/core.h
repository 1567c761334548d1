// The bottle core: bottles opened, created, read, written, flushed and
// closed by sample index, with an error state that says whether any
// transfer failed.  The C interface of bot.h turns times into indices and
// prints its messages on top of it; the bottle command and the Python
// package use it directly.  Internal to the project, not installed: the C
// interface is the one that other programs link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <sys/stat.h>

#include "bot.h"
#include "format.h"

namespace zulu::core {

// How a bottle is opened.
enum class Access {
    kReadWriteElseRead,  // read-write, else read-only (as bopen)
    kRead,               // read-only: nothing is ever written, the header not even on close
    kReadWrite,          // read-write, or fail
};

struct OpenOptions {
    Access access = Access::kReadWriteElseRead;
    // Failed transfers are recorded but print nothing (no perror, no trace
    // line) whatever Verbose holds.
    bool quiet = false;
    // Windows move between the file and the caller's buffer in one call
    // each, not page by page through the page buffer; for whole-file
    // transfers.  Traces then cover only the page buffer's own transfers.
    bool direct = false;
};

// Why a file was not opened as a bottle.
enum class OpenError {
    kNone,
    kCannotOpen,  // open failed (errno in sys_errno)
    kNoMemory,    // no memory for the record
    kNoBuffer,    // no memory for the page buffer
    kNotBottle,   // the header is not one of a usable bottle (see problem)
};

// What is wrong with a stored header.
enum class HeaderProblem {
    kNone,
    kUnreadable,  // reading it failed (errno in sys_errno)
    kShort,       // the file is shorter than the header
    kMagic,       // the magic number is not 349
    kType,        // the sample type is not 0 to 3
    kOffset,      // the position of sample 0 is negative
};

struct Opened {
    bottle_hdr *bottle = nullptr;
    OpenError error = OpenError::kNone;
    HeaderProblem problem = HeaderProblem::kNone;
    int sys_errno = 0;
    bottle_hdr header{};  // the header as read, for messages about it
    struct stat status {};  // of the opened file
};

Opened open(const char *name, const OpenOptions &options);

// The line bopen prints for a failed open ("bopen:  ...\n"), written into
// line (n bytes at most, the NUL included), and printed on standard output.
void open_failure_line(const char *name, const Opened &opened, char *line, std::size_t n);
void print_open_failure(const char *name, const Opened &opened);
inline std::string open_failure_line(const char *name, const Opened &opened) {
    std::string line(std::char_traits<char>::length(name ? name : "") + 64, '\0');
    open_failure_line(name, opened, line.data(), line.size());
    line.resize(std::char_traits<char>::length(line.c_str()));
    return line;
}

// A sentence on what is wrong with a header that was refused, such as
// "the magic number is 12, not 349", written into text (n bytes at most,
// the NUL included).  The library itself needs no C++ runtime, so that C
// programs link it plainly; problem_text is the same for C++ callers.
void describe_problem(const Opened &opened, char *text, std::size_t n);
inline std::string problem_text(const Opened &opened) {
    char text[128];
    describe_problem(opened, text, sizeof text);
    return text;
}

// Fills the header fields of a new bottle: magic, offset 40, the interval
// rounded to a float, the type's default unusable value, zero spares.
void fill_header(bottle_hdr *b, double beg, double ivl, int nsam, int type);

// Why a bottle was not created.
enum class CreateError {
    kNone,
    kIllegalType,   // type outside 0 to 3
    kCannotCreate,  // the file cannot be created (errno in sys_errno)
    kExists,        // exclusive, and the name exists
    kHeaderWrite,   // the header did not reach the file (errno in sys_errno)
    kOpen,          // opening it afterwards failed (see opened)
};

struct CreateOptions {
    OpenOptions open;
    bool exclusive = false;  // refuse a name that exists instead of emptying it
    mode_t mode = 0664;      // before the process's file-creation mask
};

struct Created {
    bottle_hdr *bottle = nullptr;
    CreateError error = CreateError::kNone;
    int sys_errno = 0;
    Opened opened;  // the reopening, when it failed
};

// Creates (or empties) the file as a bottle with no samples and opens it.
Created create(const char *name, double beg, double ivl, int type, const CreateOptions &options);

// Prints what bcreat prints for a failed creation (the open's line included).
void print_create_failure(const char *name, int type, const Created &created);

// Stand-ins for sample indices outside the int range: plus or minus any int
// count they stay clear of 0 and of every sample count.
inline constexpr std::int64_t kFarBelow = -(std::int64_t{1} << 40);
inline constexpr std::int64_t kFarAbove = std::int64_t{1} << 40;

// The sample index of time t: (t - beg) / ivl truncated toward zero, an
// interval of 0 counting as 1.  Nothing for a NaN; a quotient outside the
// int range gives a stand-in so far out that no window reaches a sample.
std::optional<std::int64_t> index_of(const bottle_hdr *b, double t);

// The time of sample i: beg + i * ivl (an interval of 0 counting as 1).
double time_of(const bottle_hdr *b, std::int64_t i);

// The time of the last sample, beg + (nsam - 1) * ivl (bot_end).
double end_time(const bottle_hdr *b);

// The line bshow prints (" FIRST -> LAST  sec: IVL  TYPE: COUNT\n", the
// times as dtoa writes them), written into line (n bytes at most, the NUL
// included); the second form writes the times in the layout and zone it is
// given, not the process-wide ones.
void show_line(const bottle_hdr *b, char *line, std::size_t n);
void show_line(const bottle_hdr *b, char *line, std::size_t n, int layout, int zone_hours);

// Samples of the open bottle that its reads can reach: nsam, within the
// largest file.
std::int64_t stored_samples(const bottle_hdr *b);

// Fills `count` slots (bytes of the bottle's sample type) with the samples
// from index `first` on; slots outside the stored samples, and those of
// samples the file no longer holds whole (cut short since it was opened),
// get the unusable value.  A failed transfer leaves zeros in its slots and
// sets the error.
void read_at(bottle_hdr *b, std::int64_t first, std::int64_t count, void *out);

// read_at for a bottle opened for direct transfers, changing nothing in the
// record: a failed read leaves zeros and returns its errno (0 when none
// failed; EINVAL, reading nothing, for a bottle without direct transfers).
// Threads may call it at once on one bottle while none writes to it.
int read_shared(const bottle_hdr *b, std::int64_t first, std::int64_t count, void *out);

enum class WriteResult {
    kDone,            // written (a failed transfer shows in error())
    kPastLargestFile, // the window or its padding reaches past the largest file; nothing written
    kNoSamples,       // samples to store but no buffer; nothing written
};

// Whether write_at places the window rather than refusing it as reaching,
// with its padding, past the largest file.
bool placeable(const bottle_hdr *b, std::int64_t first, std::int64_t count);

// Stores `count` slots from index `first` on, padding any gap after the
// last stored sample with the unusable value; slots of negative index are
// dropped.  Raises the sample count to the end of the window.
WriteResult write_at(bottle_hdr *b, std::int64_t first, std::int64_t count, const void *in);

// The errno of the first transfer of this bottle that failed (page,
// header or window), or 0 while none has.
int error(const bottle_hdr *b);

// A note of the failed transfers so far; error_since gives the errno of
// the latest failure after it (0 when there was none), so that a caller
// learns whether one call met a failure where error() says whether any
// transfer ever has.
struct FailureMark {
    unsigned own = 0, pages = 0;
};
FailureMark failure_mark(const bottle_hdr *b);
int error_since(const bottle_hdr *b, const FailureMark &mark);

// Whether the bottle writes anything back (false when opened for reading).
bool writable(const bottle_hdr *b);

// Writes back the held page and, on a writable bottle, the header with the
// current sample count, lowered to the whole samples that the file holds
// where it holds fewer (a write failed).  False when anything failed, now
// or before.
bool flush(bottle_hdr *b, const char *routine = "bflush");

// Flushes as flush does, then, on a writable bottle, waits until the file
// is on the disk (fsync), so that the samples and the header survive a
// crash of the system as well as of the program.  A failure is reported
// as "ROUTINE: fsync: REASON" and sets the error.  False when anything
// failed, now or before.
bool flush_to_disk(bottle_hdr *b, const char *routine = "bflush");

// Flushes, closes the file and frees the record.  False when anything
// failed, now or before; then *failure, where given, gets the errno of the
// first failure (as error() would have said).  `routine` names the caller
// in failure reports ("bclose: header write").
bool close(bottle_hdr *b, const char *routine = "bclose", int *failure = nullptr);

}  // namespace zulu::core
