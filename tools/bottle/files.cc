#include "files.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "command.h"

namespace bottletool {
namespace {

constexpr std::size_t kHeaderSize = 40;

std::int32_t little_endian_int32(const unsigned char *p) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

// --- Removing a pending file when a signal ends the program ---------------

// The temporary file to remove, or empty; a plain array, for the handler.
char pending_path[4096];

extern "C" void remove_pending_and_die(int sig) {
    if (pending_path[0] != '\0') unlink(pending_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void watch_signals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action{};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &action, nullptr);
}

bool set_pending(const std::string &path) {
    if (path.size() >= sizeof pending_path) return false;
    std::memcpy(pending_path, path.c_str(), path.size() + 1);
    return true;
}

void clear_pending() { pending_path[0] = '\0'; }

mode_t process_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Writes a file's data to the disk; false when that fails.
bool sync_path(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync
    close(fd);
    return ok;
}

std::string directory_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Renames from onto to unless `to` exists; atomic where the file system
// allows it, else by a hard link and an unlink.
int rename_without_replacing(const std::string &from, const std::string &to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    if (link(from.c_str(), to.c_str()) != 0) return -1;
    unlink(from.c_str());
    return 0;
}

}  // namespace

ViewedBottle::~ViewedBottle() {
    if (!h_) return;
    const int fd = getfdb(h_->pbuf);
    closeb(h_->pbuf);  // nothing was written, so nothing is written back
    close(fd);
    std::free(h_);  // bopen allocates the record with malloc
}

std::optional<StoredHeader> read_stored_header(const std::string &name) {
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::array<unsigned char, kHeaderSize> bytes{};
    const ssize_t n = pread(fd, bytes.data(), bytes.size(), 0);
    close(fd);
    if (n != static_cast<ssize_t>(bytes.size())) return std::nullopt;
    return StoredHeader{little_endian_int32(&bytes[4]), little_endian_int32(&bytes[20])};
}

StdoutToStderr::StdoutToStderr() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ < 0) throw Failure("standard output is not open: " + system_error());
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
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
    const char *p = buffer_.data();
    std::size_t left = used_;
    while (left > 0) {
        const ssize_t n = write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw Failure("cannot write " + what_ + ": " + system_error());
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    used_ = 0;
}

PendingFile::PendingFile(std::string target, bool replace, mode_t mode)
    : target_(std::move(target)), replace_(replace), mode_(mode) {
    const std::size_t slash = target_.rfind('/');
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") throw Failure(quoted(target_) + " is not a file name");
    if (!replace_ && exists(target_)) throw Failure(target_ + " already exists (--force replaces it)");
    std::string pattern = directory_of(target_) + "/." + base + ".XXXXXX";
    watch_signals();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw Failure("cannot create a file beside " + target_ + ": " + system_error());
    temp_ = pattern;
    if (!set_pending(temp_)) {
        close(fd);
        unlink(temp_.c_str());
        throw Failure("the file name " + quoted(target_) + " is too long");
    }
    fchmod(fd, mode_ & ~process_umask());
    close(fd);
}

PendingFile::~PendingFile() {
    if (!committed_) unlink(temp_.c_str());
    clear_pending();
}

void PendingFile::commit() {
    if (!sync_path(temp_)) throw Failure("cannot write " + target_ + ": " + system_error());
    const int r = replace_ ? std::rename(temp_.c_str(), target_.c_str())
                           : rename_without_replacing(temp_, target_);
    if (r != 0) {
        if (errno == EEXIST) throw Failure(target_ + " already exists (--force replaces it)");
        throw Failure("cannot create " + target_ + ": " + system_error());
    }
    committed_ = true;
    clear_pending();
    sync_path(directory_of(target_));
}

bool exists(const std::string &name) {
    struct stat st;
    return lstat(name.c_str(), &st) == 0;
}

std::string system_error() { return std::strerror(errno); }

}  // namespace bottletool
