#include "live.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/inotify.h>
#define ZULU_HAVE_INOTIFY 1
#endif

#include "core.h"
#include "failure.h"
#include "format.h"
#include "sysio.h"

namespace zulu::archive {
namespace {

bool same_bits(const void *a, const void *b, std::size_t n) { return std::memcmp(a, b, n) == 0; }

// Reads the header at `fd` into *h; 0, or the errno of the failure (EIO
// for a file cut shorter than a header).  A header read while the writer
// writes it back may mix old bytes with new: it is read until two reads
// agree.
int read_header(int fd, bottle_hdr *h) {
    constexpr int kTries = 8;
    bottle_hdr again{};
    for (int k = 0; k < kTries; ++k) {
        const ssize_t a = sysio::read_fully_at(fd, h, format::kHeaderSize, 0);
        const ssize_t b = sysio::read_fully_at(fd, &again, format::kHeaderSize, 0);
        if (a < 0 || b < 0) return errno != 0 ? errno : EIO;
        if (a < format::kHeaderSize || b < format::kHeaderSize) return EIO;
        if (same_bits(h, &again, format::kHeaderSize)) return 0;
    }
    return 0;  // a writer this busy with the header: the last read stands, and is checked as any
}

std::string base_name(const std::string &name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string directory_name(const std::string &name) {
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int poll_ms(milliseconds m) { return static_cast<int>(std::clamp<std::int64_t>(m.count(), 0, 1 << 30)); }

}  // namespace

std::int64_t published_samples(const bottle_hdr &stored, std::int64_t size) {
    if (!format::valid_type(stored.type)) return 0;
    const std::int64_t held = format::samples_held(stored.type, stored.doff, size);
    return std::clamp<std::int64_t>(stored.nsam, 0, held);
}

bool placement_changed(const bottle_hdr &was, const bottle_hdr &now) {
    return now.magic != was.magic || now.type != was.type || now.doff != was.doff || now.usym != was.usym ||
           !same_bits(&now.beg, &was.beg, sizeof now.beg) || !same_bits(&now.ivl, &was.ivl, sizeof now.ivl);
}

// --- LiveBottle ------------------------------------------------------------

LiveBottle::LiveBottle(const std::string &name) : file_(name) {
    file_.require_reachable();
    header_ = file_.stored_header();
    header_.pbuf = nullptr;
    count_ = published_samples(header_, file_.file_size());
    file_.get()->nsam = static_cast<std::int32_t>(count_);
}

LiveBottle::Look LiveBottle::look() {
    const int fd = getfdb(file_.get()->pbuf);
    bottle_hdr now{};
    struct stat st{};
    int err = read_header(fd, &now);
    if (err == 0 && sysio::calls().fstat(fd, &st) != 0) err = errno;
    if (err == EIO && sysio::calls().fstat(fd, &st) == 0 && st.st_size < format::kHeaderSize) return Look::kRewritten;
    if (err != 0) throw Failure("cannot read " + name() + ": " + std::strerror(err), kFailed, "", err);
    // Cut short: the file no longer holds every sample seen.  A stored
    // count below the last one, of a file that still holds them, is a
    // page the library wrote back with the header it had loaded (as
    // libraries before this one did); nothing new, then.
    if (placement_changed(header_, now) || format::samples_held(now.type, now.doff, st.st_size) < count_)
        return Look::kRewritten;
    const std::int64_t n = published_samples(now, st.st_size);
    if (n <= count_) return Look::kSame;
    count_ = n;
    file_.get()->nsam = static_cast<std::int32_t>(n);
    return Look::kGrown;
}

Grid LiveBottle::reach_for_times() const {
    const Grid g(header_.beg, header_.ivl, format::addressable_samples(header_.type, header_.doff));
    if (!g.usable()) throw Failure(name() + ": " + g.problem() + ", so no sample has a time");
    return g;
}

void LiveBottle::read(std::int64_t first, std::int64_t n, void *out) const {
    if (const int err = core::read_shared(file_.get(), first, n, out))
        throw Failure("cannot read " + name() + ": " + std::strerror(err), kFailed, "", err);
}

// --- Watch -----------------------------------------------------------------

Watch::Watch(const std::string &name, Options options)
    : name_(name), base_(base_name(name)), options_(options) {
#if ZULU_HAVE_INOTIFY
    if (!options_.notify) return;
    notify_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify_fd_ < 0) return;  // none to be had: the wait polls
    // The directory tells of the name: a file renamed onto it, made or
    // removed under it.  One that cannot be watched leaves that to the
    // rechecks.
    dir_watch_ = inotify_add_watch(notify_fd_, directory_name(name).c_str(),
                                   IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
    rewatch();
    if (file_watch_ < 0) {
        close(notify_fd_);
        notify_fd_ = -1;
    }
#endif
}

Watch::~Watch() {
    if (notify_fd_ >= 0) close(notify_fd_);
}

void Watch::rewatch() {
#if ZULU_HAVE_INOTIFY
    if (notify_fd_ < 0) return;
    if (file_watch_ >= 0) inotify_rm_watch(notify_fd_, file_watch_);
    file_watch_ = inotify_add_watch(notify_fd_, name_.c_str(),
                                    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
#endif
}

// Reads the events waiting; whether any is of the file or of its name
// (an overflowing queue counts as one).
bool Watch::relevant_events() {
    bool relevant = false;
#if ZULU_HAVE_INOTIFY
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(notify_fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            const bool of_name = e->wd == dir_watch_ && e->len > 0 && base_ == e->name;
            relevant = relevant || e->wd != dir_watch_ || of_name || (e->mask & IN_Q_OVERFLOW) != 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
#endif
    return relevant;
}

Watch::Woken Watch::wait(std::optional<milliseconds> timeout, int stop_fd) {
    const auto start = Clock::now();
    // After a poll interval, or a recheck, the caller looks all the same.
    const auto look_at = start + (notifying() ? options_.recheck : options_.poll);
    const auto give_up = timeout ? start + *timeout : Clock::time_point::max();
    for (;;) {
        const auto now = Clock::now();
        if (now >= give_up) return Woken::kTimeout;
        if (now >= look_at) return Woken::kChange;
        const auto span = std::chrono::ceil<milliseconds>(std::min(look_at, give_up) - now);
        pollfd fds[2];
        nfds_t n = 0;
        if (stop_fd >= 0) fds[n++] = {stop_fd, POLLIN, 0};
        if (notifying()) fds[n++] = {notify_fd_, POLLIN, 0};
        const int r = poll(fds, n, poll_ms(span));
        if (r < 0) {
            if (errno == EINTR) return Woken::kInterrupted;
            throw Failure("cannot wait for " + name_ + " to change: " + system_error());
        }
        if (stop_fd >= 0 && fds[0].revents != 0) return Woken::kStop;
        if (r > 0 && relevant_events()) return Woken::kChange;
        // Time up (seen above), or events of other files in the directory only.
    }
}

// --- Follower --------------------------------------------------------------

Follower::Follower(const std::string &name, Mode mode, Watch::Options options)
    : name_(name), mode_(mode), file_(std::make_unique<LiveBottle>(name)), watch_(name, options) {}

bool Follower::name_leads_elsewhere() const {
    struct stat st;
    if (::stat(name_.c_str(), &st) != 0) return false;  // nothing there: not replaced (yet)
    return st.st_dev != file_->id().dev || st.st_ino != file_->id().ino;
}

Follower::Event Follower::look() {
    const std::int64_t before = file_->count();
    if (file_->look() == LiveBottle::Look::kRewritten) return Event::kRewritten;
    if (name_leads_elsewhere()) {
        // What its writer published before the new file took the name.
        if (file_->look() == LiveBottle::Look::kRewritten) return Event::kRewritten;
        return Event::kReplaced;
    }
    return file_->count() > before ? Event::kGrown : Event::kNone;
}

bool Follower::reopen() {
    struct stat st;
    if (::stat(name_.c_str(), &st) != 0 || (S_ISREG(st.st_mode) && st.st_size < format::kHeaderSize)) return false;
    auto next = std::make_unique<LiveBottle>(name_);
    file_ = std::move(next);
    watch_.rewatch();
    return true;
}

}  // namespace zulu::archive
