#include "follow.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <string>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace bottletool {
namespace {

// The pipe the handler writes to, and whether a signal came: plain values,
// for the handler.
int stop_pipe[2] = {-1, -1};
volatile std::sig_atomic_t stop_raised = 0;

constexpr int kStopSignals[] = {SIGINT, SIGTERM};
struct sigaction saved_actions[2];

extern "C" void note_stop(int) {
    const int saved_errno = errno;
    stop_raised = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(stop_pipe[1], &byte, 1);  // full: one is there already
    errno = saved_errno;
}

}  // namespace

std::optional<Follower::Mode> follow_mode(const Args &args) {
    const auto how = args.value(kFollow);
    if (!how) return std::nullopt;
    if (how->empty() || *how == "descriptor") return Follower::Mode::kDescriptor;
    if (*how == "name") return Follower::Mode::kName;
    throw UsageError("--follow takes descriptor or name, not " + quoted(*how));
}

StopSignals::StopSignals() {
    if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw Failure("cannot wait for signals: " + system_error());
    stop_raised = 0;
    struct sigaction action{};
    action.sa_handler = note_stop;
    action.sa_flags = SA_RESTART;  // writes under way finish; waits end with EINTR all the same
    sigemptyset(&action.sa_mask);
    // A signal ignored from the start (as a shell starts commands in the
    // background) stays ignored.
    for (std::size_t k = 0; k < std::size(kStopSignals); ++k)
        if (sigaction(kStopSignals[k], nullptr, &saved_actions[k]) == 0 && saved_actions[k].sa_handler != SIG_IGN)
            sigaction(kStopSignals[k], &action, nullptr);
}

StopSignals::~StopSignals() {
    for (std::size_t k = 0; k < std::size(kStopSignals); ++k) sigaction(kStopSignals[k], &saved_actions[k], nullptr);
    for (int &fd : stop_pipe) close(std::exchange(fd, -1));
}

int StopSignals::fd() const { return stop_pipe[0]; }

bool StopSignals::raised() const { return stop_raised != 0; }

bool StopSignals::wait(std::chrono::milliseconds span) const {
    const auto until = std::chrono::steady_clock::now() + span;
    while (!raised()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd stop{fd(), POLLIN, 0};
        poll(&stop, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30)));
    }
    return raised();
}

bool follow_on(std::string_view command, Follower &follower, Follower::Event event, const StopSignals &stop) {
    const bool by_name = follower.mode() == Follower::Mode::kName;
    const std::string what = event == Follower::Event::kReplaced ? " was replaced" : " was cut short or written anew";
    const std::string next = !by_name ? "no longer following it"
                             : event == Follower::Event::kReplaced ? "following the new file"
                                                                   : "following it from its start";
    report(command, follower.name() + what + "; " + next);
    if (!by_name) return false;
    while (!follower.reopen()) {
        const Watch::Woken woken = follower.wait(std::nullopt, stop.fd());
        if (woken == Watch::Woken::kStop || stop.raised()) return false;
    }
    return true;
}

double read_duration(std::string_view option, std::string_view text) {
    double number = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, number);
    const std::string_view unit(ptr, static_cast<std::size_t>(end - ptr));
    double scale = 0;
    if (unit.empty() || unit == "s") scale = 1;
    else if (unit == "min") scale = 60;
    else if (unit == "h") scale = 3600;
    else if (unit == "d") scale = 86400;
    const double seconds = number * scale;
    if (ec != std::errc() || scale == 0 || !(seconds > 0) || !std::isfinite(seconds))
        throw UsageError("--" + std::string(option) + " needs a length of time such as 30, 30s, 10min, 2h or 1d, not " +
                         quoted(text));
    return seconds;
}

}  // namespace bottletool
