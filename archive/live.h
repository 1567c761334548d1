// Bottles while a writer appends to them: what a reader may see of such a
// file, and following one as it grows, through the name it goes by.
//
// What a reader sees of a file being written:
//  - A reader sees a prefix of the samples: never a sample that was not
//    written, never more than the file holds, and only whole samples, each
//    exactly as written (a sample cut by the end of the file is not one).
//  - A writer publishes its samples with bflush (or bclose): the library
//    writes back the held page, then the header with the sample count.  A
//    follower (bottle dump --follow, zulukit.follow) delivers the samples
//    the header counts that the file holds, so it delivers nothing of a
//    window until the bflush after it, and then all of it.
//  - Between two bflush calls, the C library's page buffer writes a page
//    back to the file whenever the writer moves past it; a file may then
//    hold, for a while, more samples than its header counts.  They are
//    whole and as written, and a reader that counts what the file holds
//    (opening it, Bottle.refresh) sees them; a follower does not, so that
//    what it delivers is what the writer flushed: after a writer is killed,
//    followers end with exactly the samples of its last bflush.
//  - Samples past the count read as missing, as everywhere: the unusable
//    value a reader fills them with is never delivered as a sample.
//  - Followers read appended samples once; a window written over samples
//    already delivered is not delivered again.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bot.h"
#include "files.h"
#include "grid.h"

namespace zulu::archive {

// The samples a writer has published in a file of `size` bytes whose
// header is `stored`: those the header counts, no more than the file holds
// whole (format::samples_held).
std::int64_t published_samples(const bottle_hdr &stored, std::int64_t size);

// Whether two headers of one file place its samples otherwise (another
// type, data offset, unusable value, begin time or interval): the file was
// written anew in place.
bool placement_changed(const bottle_hdr &was, const bottle_hdr &now);

// A bottle as its writer publishes samples, read through the descriptor
// opened at first, so that it stays the same file whatever becomes of its
// name.
class LiveBottle {
public:
    // Opens the bottle and looks at it; a Failure as Series::of_bottle's.
    explicit LiveBottle(const std::string &name);

    const std::string &name() const { return file_.name(); }
    const FileId &id() const { return file_.id(); }
    int type() const { return header_.type; }
    std::int32_t unusable() const { return header_.usym; }
    // The header as first read (the count aside, it stays so while the
    // file is followed).
    const bottle_hdr &header() const { return header_; }
    // The samples published as of the last look, and their grid.
    std::int64_t count() const { return count_; }
    Grid grid() const { return Grid(header_.beg, header_.ivl, count_); }
    // The grid of every sample the file could come to hold, for selecting
    // samples by time before they come; a Failure naming the file when it
    // gives samples no times.
    Grid reach_for_times() const;

    enum class Look {
        kSame,      // nothing new
        kGrown,     // count() grew
        kRewritten  // the file no longer holds the samples seen, or places them otherwise: cut short or written anew
    };
    // Reads the header and the size again.  A Failure naming the file when
    // they cannot be read.  After kRewritten the count stays as it was.
    Look look();

    // Fills `out` with `n` samples from index `first` (any indices), as
    // stored: the unusable value outside [0, count()).  A Failure naming
    // the file when a read fails.
    void read(std::int64_t first, std::int64_t n, void *out) const;

private:
    ViewedBottle file_;
    bottle_hdr header_{};
    std::int64_t count_ = 0;
};

// Waits for the file a name leads to, or the name itself, to change: with
// inotify where the system has it (and a look every `recheck` all the
// same, for changes it is not told of, as on network file systems),
// otherwise by looking every `poll`.  A wait costs nothing while nothing
// happens.
class Watch {
public:
    struct Options {
        bool notify = true;  // false: poll, as where the system has no inotify
        std::chrono::milliseconds poll{50};
        std::chrono::milliseconds recheck{1000};
    };

    explicit Watch(const std::string &name, Options options);
    explicit Watch(const std::string &name) : Watch(name, Options{}) {}
    ~Watch();
    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    // Whether changes are notified (else the wait polls).
    bool notifying() const { return notify_fd_ >= 0; }
    // Watches the file the name leads to now, after it was replaced.
    void rewatch();

    enum class Woken {
        kChange,      // something may have changed: look
        kStop,        // `stop_fd` is readable (left unread)
        kTimeout,     // `timeout` has passed
        kInterrupted  // a signal came; the caller sees to it and may wait again
    };
    // Waits until something may have changed, `stop_fd` (when not -1) is
    // readable, or `timeout` (when given) passes.  A Failure when the
    // system cannot wait.
    Woken wait(std::optional<std::chrono::milliseconds> timeout, int stop_fd = -1);

private:
    bool relevant_events();

    std::string name_;
    std::string base_;  // the last part of the name, as the directory's events name it
    Options options_;
    int notify_fd_ = -1;
    int file_watch_ = -1, dir_watch_ = -1;
};

// A bottle followed under its name.  By descriptor (the default), the file
// opened at first is followed until its name leads to another file; by
// name, the follower then goes on with that file, as `tail -F` does.
class Follower {
public:
    enum class Mode { kDescriptor, kName };

    Follower(const std::string &name, Mode mode, Watch::Options options = {});

    Mode mode() const { return mode_; }
    const std::string &name() const { return name_; }
    // The file followed now.
    const LiveBottle &file() const { return *file_; }

    enum class Event {
        kNone,
        kGrown,     // file().count() grew
        kReplaced,  // the name leads to another file; file() has had its last look
        kRewritten  // the file was cut short or written anew in place
    };
    // Looks at the file, then at its name.  A name that leads nowhere
    // (removed, or renamed away before the new file comes) is not a
    // replacement: the file is followed on.
    Event look();
    // After kReplaced or kRewritten: opens the file the name leads to now,
    // to follow it from its sample 0.  False when there is none yet, or
    // it is shorter than a header (still being made); a Failure when it is
    // not a bottle.
    bool reopen();

    Watch::Woken wait(std::optional<std::chrono::milliseconds> timeout, int stop_fd = -1) {
        return watch_.wait(timeout, stop_fd);
    }

private:
    bool name_leads_elsewhere() const;

    std::string name_;
    Mode mode_;
    std::unique_ptr<LiveBottle> file_;
    Watch watch_;
};

}  // namespace zulu::archive
