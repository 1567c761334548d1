#include "files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core.h"
#include "failure.h"
#include "sysio.h"

namespace zulu::archive {
namespace {

const sysio::Calls &sys() { return sysio::calls(); }

// --- Removing pending files when a signal ends the program ---------------

// The temporary files to remove, each slot a path or empty: plain arrays,
// for the handler.  Slots are taken and given back with the watched
// signals blocked, so that the handler never sees half a name, and a file
// is created and noted in one step.
constexpr std::size_t kPendingSlots = 8;
constexpr std::size_t kLongestPath = 4096;
char pending_paths[kPendingSlots][kLongestPath];

// The signals whose default action ends the program while a command
// writes: interrupted, terminated, hung up, a closed pipe, a file past
// the size limit.
constexpr std::array kWatched{SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

extern "C" void remove_pending_and_die(int sig) {
    for (char *path : pending_paths)
        if (path[0] != '\0') unlink(path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);  // delivered, with the default action, when the handler returns
}

// Installs the handler for each watched signal whose action is the
// default one: a signal the program ignores (as it does SIGXFSZ, so that
// writes fail with EFBIG instead) or handles itself is left alone.
void watch_signals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action{};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    for (int sig : kWatched) {
        struct sigaction old{};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_DFL) sigaction(sig, &action, nullptr);
    }
}

// The watched signals held back for as long as it lives.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kWatched) sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &saved_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
    sigset_t saved_;
};

// Held while a slot is taken or given back, or a file noted as left
// behind: threads may write files at once.
std::mutex slots_mutex;

// A free slot, or null when every one is taken; with slots_mutex held.
char *free_slot() {
    for (char *path : pending_paths)
        if (path[0] == '\0') return path;
    return nullptr;
}

void clear_pending(const std::string &path) {
    const std::lock_guard lock(slots_mutex);
    const SignalsHeld held;
    for (char *slot : pending_paths)
        if (path == slot) {
            slot[0] = '\0';
            return;
        }
}

// Paths of temporary files that could not be removed, with the reason.
std::vector<std::string> left_behind;

// Removes a temporary file; one that stays is noted for the program to
// report.
void remove_temporary(const std::string &path) {
    if (sys().unlink(path.c_str()) == 0 || errno == ENOENT) return;
    const std::string note = path + ": " + system_error();
    const std::lock_guard lock(slots_mutex);
    left_behind.push_back(note);
}

mode_t process_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Writes a directory's entries to the disk, so that a rename in it lasts:
// 0, or the errno of what went wrong.  A directory the program may write
// but not read cannot be opened to be flushed, and is left to the system.
int sync_directory(const std::string &path) {
    const int fd = sys().open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return errno == EACCES ? 0 : errno;
    int problem = 0;
    if (sys().fsync(fd) != 0 && errno != EINVAL) problem = errno;  // EINVAL: cannot be synced
    if (sys().close(fd) != 0 && problem == 0) problem = errno;
    return problem;
}

std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// How rename_without_replacing gave the file its new name.
enum class Renamed { kNot, kMoved, kLinked };

// Gives `from` the name `to` unless `to` exists: atomic where the file
// system allows it, else by a hard link, which leaves the name `from` for
// the caller to remove.  kNot with errno set when neither worked.
Renamed rename_without_replacing(const std::string &from, const std::string &to) {
    if (sys().rename_noreplace(from.c_str(), to.c_str()) == 0) return Renamed::kMoved;
    if (errno != EINVAL && errno != ENOSYS) return Renamed::kNot;
    return sys().link(from.c_str(), to.c_str()) == 0 ? Renamed::kLinked : Renamed::kNot;
}

// The part of the name `base` that the temporary file beside it shows,
// ".PART.XXXXXX": all of it where that name stays within the longest the
// file system of `directory` takes, else as much as does, cut before a
// character (of UTF-8) rather than inside one.
std::string visible_part(const std::string &base, const std::string &directory) {
    const long most = pathconf(directory.c_str(), _PC_NAME_MAX);
    const std::size_t longest = most > 0 ? static_cast<std::size_t>(most) : NAME_MAX;
    constexpr std::size_t kAround = sizeof "..XXXXXX" - 1;
    if (base.size() + kAround <= longest) return base;
    std::size_t n = longest > kAround ? longest - kAround : 0;
    while (n > 0 && (static_cast<unsigned char>(base[n]) & 0xC0) == 0x80) --n;
    return base.substr(0, n);
}

// What a file that is not a regular one is, for messages.
std::string file_kind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "a special file";
}

constexpr int kMostLinks = 40;  // as the kernel follows

// The command's words on replacing a file, after "NAME already exists".
constexpr const char *kForceHint = " (--force replaces it)";

// Where a name that leads to no file would be created: a dangling symbolic
// link is followed to the name it points to, so that the link stays.
std::string link_destination(const std::string &name) {
    std::string path = name;
    for (int hops = 0; hops < kMostLinks; ++hops) {
        std::array<char, 4096> text;
        const ssize_t n = readlink(path.c_str(), text.data(), text.size());
        if (n <= 0) return path;  // not a link
        if (static_cast<std::size_t>(n) == text.size()) throw Failure("cannot write " + name + ": a link is too long");
        const std::string to(text.data(), static_cast<std::size_t>(n));
        if (to.front() == '/') {
            path = to;
        } else {
            path = directory_of(path);
            path += '/';
            path += to;
        }
    }
    throw Failure("cannot write " + name + ": too many levels of symbolic links");
}

// The name of the file `name` leads to (`st` is its status), with every
// link followed, so that a new file can take its place beside it.
std::string real_path(const std::string &name, const struct stat &st) {
    char *resolved = realpath(name.c_str(), nullptr);
    if (!resolved) throw system_failure("cannot write " + name);
    std::string path(resolved);
    std::free(resolved);
    struct stat there;
    if (stat(path.c_str(), &there) != 0 || there.st_dev != st.st_dev || there.st_ino != st.st_ino)
        throw Failure("cannot write " + name + ": the file it leads to has no name to replace");
    return path;
}

// A file whose content stays put, which writing to another name of it
// would change: not a stream (a terminal, a pipe, a socket) or a directory.
std::optional<InputFile> stored_file(const struct stat &st, const std::string &name) {
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return std::nullopt;
    return InputFile{name, FileId{st.st_dev, st.st_ino}};
}

// What the system says about opening `name` as a file to read, or empty.
std::string open_problem(const std::string &name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return system_error();
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return file_kind(st.st_mode) + ", not a regular file";
    const int fd = sys().open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return system_error();
    sys().close(fd);
    return "";
}

}  // namespace

ViewedBottle::ViewedBottle(const std::string &name) : name_(name) {
    const zulu::core::Opened opened = zulu::core::open(name.c_str(), {zulu::core::Access::kRead, true, true});
    if (opened.bottle) {
        h_ = opened.bottle;
        stored_ = opened.header;
        size_ = opened.status.st_size;
        id_ = {opened.status.st_dev, opened.status.st_ino};
        // Reads reach the samples the file holds from its data offset:
        // nothing is written back, so the count is the jobs' own.
        h_->nsam = static_cast<std::int32_t>(zulu::format::samples_held(h_->type, h_->doff, size_));
        return;
    }
    library_line_ = zulu::core::open_failure_line(name.c_str(), opened);
    const bool header_problem =
        opened.error == zulu::core::OpenError::kNotBottle && opened.problem != zulu::core::HeaderProblem::kUnreadable;
    std::string reason = header_problem ? zulu::core::problem_text(opened) : open_problem(name);
    // A failure that looking again does not show (a read error, a call
    // that failed once): the reason the open itself met.
    if (reason.empty() && opened.sys_errno != 0)
        reason = opened.error == zulu::core::OpenError::kNotBottle ? zulu::core::problem_text(opened)
                                                                   : std::strerror(opened.sys_errno);
    if (!reason.empty()) problem_ = name + ": " + reason;
    not_bottle_ = header_problem;
    open_errno_ = header_problem ? 0 : (opened.sys_errno != 0 ? opened.sys_errno : EINVAL);
}

bool looks_like_bottle(const std::string &name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ViewedBottle(name).get() != nullptr;
}

void ViewedBottle::require() const {
    if (!h_) throw Failure(problem_, kFailed, library_line_, open_errno_, not_bottle_);
}

std::int64_t ViewedBottle::count() const { return h_ ? h_->nsam : 0; }

void ViewedBottle::require_reachable() const {
    require();
    if (const std::string problem = unreachable_problem(name_, stored_, size_); !problem.empty()) throw Failure(problem);
}

Grid ViewedBottle::grid() const { return h_ ? Grid(h_->beg, h_->ivl, count()) : Grid(); }

Grid ViewedBottle::grid_for_times() const {
    const Grid g = grid();
    if (!g.usable()) throw Failure(name_ + ": " + g.problem() + ", so no sample has a time");
    return g;
}

std::string unreachable_problem(const std::string &name, const bottle_hdr &stored, std::int64_t size) {
    if (!zulu::format::valid_type(stored.type) || stored.doff < 0 || size <= zulu::format::kMaxFileSize) return "";
    const std::int64_t width = zulu::format::width_of(stored.type);
    const std::int64_t held = (size - std::max<std::int64_t>(stored.doff, zulu::format::kHeaderSize)) / width;
    const std::int64_t reached = zulu::format::addressable_samples(stored.type, stored.doff);
    if (held <= reached) return "";
    return name + ": the file holds " + std::to_string(held) + " samples; a bottle reaches only the first " +
           std::to_string(reached) + " (a bottle file is at most 2 GiB), and the job would leave out the other " +
           std::to_string(held - reached);
}

ViewedBottle::~ViewedBottle() {
    if (h_) zulu::core::close(h_);
}

void ViewedBottle::check_reads() const {
    if (const int error = zulu::core::error(h_)) throw system_failure("cannot read " + name_, error);
}

NewBottle::NewBottle(const std::string &path, const std::string &shown, double beg, double ivl, int type)
    : shown_(shown) {
    const zulu::core::Created created =
        zulu::core::create(path.c_str(), beg, ivl, type, {{zulu::core::Access::kReadWrite, true, true}});
    if (created.bottle && created.error == zulu::core::CreateError::kNone) {
        h_ = created.bottle;
        return;
    }
    if (created.bottle) zulu::core::close(created.bottle);
    const int error = created.sys_errno != 0 ? created.sys_errno : created.opened.sys_errno;
    if (error != 0) throw system_failure("cannot create " + shown_, error);
    throw Failure("cannot create " + shown_);
}

NewBottle::~NewBottle() {
    if (h_) zulu::core::close(h_);
}

void NewBottle::finish() {
    const bool flushed = zulu::core::flush(h_);
    int error = 0;
    const bool closed = zulu::core::close(std::exchange(h_, nullptr), "bclose", &error);
    if (!flushed || !closed)
        throw Failure("writing " + shown_ + " failed" + (error != 0 ? std::string(": ") + std::strerror(error) : "") +
                          "; it is left as it was",
                      kFailed, "", error);
}

void OutputBuffer::append(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = std::min(text.size(), kSize);
        char *p = reserve(n);
        std::memcpy(p, text.data(), n);
        commit(p + n);
        text.remove_prefix(n);
    }
}

void OutputBuffer::flush() {
    if (used_ > 0 && sysio::write_fully(fd_, buffer_.data(), used_) < 0)
        throw system_failure("cannot write " + what_);
    used_ = 0;
}

std::optional<InputFile> input_file(const std::string &name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return std::nullopt;
    return stored_file(st, name);
}

std::optional<InputFile> input_file(int fd, const std::string &name) {
    struct stat st;
    if (fstat(fd, &st) != 0) return std::nullopt;
    return stored_file(st, name);
}

void refuse_input(const std::vector<InputFile> &inputs, const FileId &id, const std::string &output) {
    for (const InputFile &in : inputs)
        if (in.id.dev == id.dev && in.id.ino == id.ino)
            throw Failure("cannot write " + output + ": it is " + in.name + ", which this command reads");
}

void refuse_output_among(const std::vector<std::string> &names, int fd) {
    const auto out = input_file(fd, "standard output");
    if (!out) return;
    std::vector<InputFile> inputs;
    for (const std::string &name : names)
        if (auto in = input_file(name)) inputs.push_back(*in);
    refuse_input(inputs, out->id, out->name);
}

void fail_for_unreadable(std::size_t unreadable, std::size_t files) {
    if (unreadable > 0)
        throw Failure("files that are not readable bottles: " + std::to_string(unreadable) + " of " +
                      std::to_string(files));
}

OutputTarget::OutputTarget(const std::string &name, const std::vector<InputFile> &inputs, Rules rules)
    : shown_(name == "-" ? "standard output" : name), rules_(rules) {
    try {
        open_target(name, inputs);
    } catch (...) {
        discard();  // a constructor that throws has no destructor run
        throw;
    }
}

void OutputTarget::open_target(const std::string &name, const std::vector<InputFile> &inputs) {
    if (name == "-") {
        if (!rules_.direct) throw Failure("standard output (-) is not a regular file; name a file");
        need_standard_stream(STDOUT_FILENO);
        fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) throw system_failure("cannot write standard output");
        struct stat st;
        if (fstat(fd_, &st) == 0) refuse_input(inputs, FileId{st.st_dev, st.st_ino}, shown_);
        return;
    }
    struct stat st;
    if (stat(name.c_str(), &st) != 0) {
        if (errno != ENOENT) throw system_failure("cannot write " + name);
        create_temporary(link_destination(name));  // a new file, perhaps where a link points
        return;
    }
    if (S_ISDIR(st.st_mode)) throw Failure(name + " is a directory");
    if (!S_ISREG(st.st_mode)) {
        if (!rules_.direct) throw Failure(name + " is " + file_kind(st.st_mode) + ", not a regular file");
        open_direct(name, inputs);
        return;
    }
    refuse_input(inputs, FileId{st.st_dev, st.st_ino}, name);
    if (!rules_.replace) throw Failure::hinted(name + " already exists", kForceHint, EEXIST);
    create_temporary(real_path(name, st));
}

OutputTarget::~OutputTarget() { discard(); }

void OutputTarget::discard() noexcept {
    if (fd_ >= 0) sys().close(std::exchange(fd_, -1));  // a failure loses nothing: the file goes
    if (temp_.empty() || committed_) return;
    remove_temporary(temp_);
    if (rules_.watch_signals) clear_pending(temp_);
    temp_.clear();
}

// A device or a FIFO, written where it is: renaming a file over it would
// replace the node itself.
void OutputTarget::open_direct(const std::string &path, const std::vector<InputFile> &inputs) {
    fd_ = sys().open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC, 0);
    if (fd_ < 0) throw system_failure("cannot write " + path);
    struct stat st;
    if (fstat(fd_, &st) != 0 || S_ISREG(st.st_mode)) throw Failure(path + " changed while it was opened");
    refuse_input(inputs, FileId{st.st_dev, st.st_ino}, shown_);
}

void OutputTarget::create_temporary(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") throw Failure(quoted(shown_) + " is not a file name");
    std::string pattern = directory_of(path) + "/." + visible_part(base, directory_of(path)) + ".XXXXXX";
    if (pattern.size() >= kLongestPath)
        throw Failure("the file name " + quoted(path) + " is too long", kFailed, "", ENAMETOOLONG);
    target_ = path;
    if (rules_.watch_signals) {
        watch_signals();
        // Created and noted with the signals held back: a signal that ends
        // the program finds the file noted, or no file.
        const std::lock_guard lock(slots_mutex);
        const SignalsHeld held;
        char *slot = free_slot();
        if (!slot) throw Failure("cannot write " + shown_ + ": too many files are being written at once");
        fd_ = sys().mkostemp(pattern.data(), O_CLOEXEC);
        if (fd_ >= 0) std::memcpy(slot, pattern.c_str(), pattern.size() + 1);
    } else {
        fd_ = sys().mkostemp(pattern.data(), O_CLOEXEC);
    }
    if (fd_ < 0) throw system_failure("cannot create a file beside " + path);
    temp_ = pattern;
    if (sys().fchmod(fd_, rules_.mode & ~process_umask()) != 0) throw system_failure("cannot create " + shown_);
}

void OutputTarget::commit() {
    const int fd = std::exchange(fd_, -1);
    int problem = 0;
    if (!temp_.empty() && sys().fsync(fd) != 0 && errno != EINVAL) problem = errno;  // EINVAL: cannot sync
    if (sys().close(fd) != 0 && problem == 0) problem = errno;
    if (problem != 0) throw system_failure("cannot write " + shown_, problem);
    if (temp_.empty()) return;
    const Renamed renamed = rules_.replace
                                ? (sys().rename(temp_.c_str(), target_.c_str()) == 0 ? Renamed::kMoved : Renamed::kNot)
                                : rename_without_replacing(temp_, target_);
    if (renamed == Renamed::kNot) {
        if (errno == EEXIST) throw Failure::hinted(shown_ + " already exists", kForceHint, EEXIST);
        throw system_failure("cannot create " + shown_);
    }
    committed_ = true;
    if (renamed == Renamed::kLinked) remove_temporary(temp_);  // the content has both names
    if (rules_.watch_signals) clear_pending(temp_);
    if (const int failed = sync_directory(directory_of(target_)); failed != 0)
        throw system_failure(shown_ + " is written, but the directory entry of it may not last", failed);
}

void OutputTarget::start_writeback() const {
    if (!temp_.empty() && fd_ >= 0) sys().start_writeback(fd_);  // a hint: failures show in commit
}

ssize_t read_input(int fd, void *bytes, std::size_t n) { return sys().read(fd, bytes, n); }

std::vector<std::string> take_left_behind() {
    const std::lock_guard lock(slots_mutex);
    return std::exchange(left_behind, {});
}

std::string system_error() { return std::strerror(errno); }

OutputTarget::Rules data_rules(const Output &output) {
    return {.replace = output.force, .direct = false, .mode = 0664, .watch_signals = output.watch_signals};
}


namespace {
// Standard descriptors 0 to 2 that were closed at start.
std::array<bool, 3> closed_at_start{};
constexpr std::array<const char *, 3> kStandardNames{"standard input", "standard output", "standard error"};
}  // namespace

void note_closed_at_start(int fd) {
    if (fd >= 0 && fd < 3) closed_at_start[static_cast<std::size_t>(fd)] = true;
}

void need_standard_stream(int fd) {
    if (fd >= 0 && fd < 3 && closed_at_start[static_cast<std::size_t>(fd)])
        throw Failure(std::string(kStandardNames[static_cast<std::size_t>(fd)]) + " is closed");
}

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string field = "\"";
    for (char c : text) {
        if (c == '"') field += '"';
        field += c;
    }
    return field + '"';
}

}  // namespace zulu::archive
