// Following a bottle from Python (zulukit.follow): blocks of the samples a
// writer publishes, as the archive library's Follower finds them.  The
// waits run without the GIL, so that other threads (and an asyncio loop
// whose executor runs the wait) go on; close() from any thread ends a wait
// under way.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "bindings.h"
#include "failure.h"
#include "format.h"
#include "live.h"

namespace py = pybind11;
namespace ops = zulu::archive;

namespace zulukit {
namespace {

using Clock = std::chrono::steady_clock;

// The numpy type of a bottle's samples.
py::dtype sample_dtype(int type) {
    static const char *const kNames[] = {"<i2", "<i4", "<f4", "<f8"};
    return py::dtype(kNames[type]);
}

class Following {
public:
    Following(const std::string &path, bool by_name) {
        if (pipe2(stop_, O_CLOEXEC | O_NONBLOCK) != 0) {
            PyErr_SetFromErrno(PyExc_OSError);
            throw py::error_already_set();
        }
        const auto mode = by_name ? ops::Follower::Mode::kName : ops::Follower::Mode::kDescriptor;
        try {
            py::gil_scoped_release unlocked;
            follower_ = std::make_unique<ops::Follower>(path, mode);
        } catch (const ops::Failure &f) {
            close_pipe();
            raise_failure(f);
        }
    }
    // No call is under way (each holds a reference to the object).
    ~Following() { close_pipe(); }
    Following(const Following &) = delete;
    Following &operator=(const Following &) = delete;

    // The next block: (its first sample's stamp in ns, or None; its index;
    // its samples), of at least `least` and at most `most` samples, or
    // fewer when `timeout` seconds pass first or the file is left.  None
    // when `timeout` seconds pass without a sample (the follow goes on:
    // a later call waits again), and once the follow has ended (see
    // stopped()).
    py::object next(std::int64_t least, std::int64_t most, std::optional<double> timeout) {
        if (least < 1 || most < least) throw py::value_error("a block holds at least one sample");
        std::optional<Clock::time_point> deadline;
        if (timeout) {
            if (!(*timeout >= 0)) throw py::value_error("timeout must be a number of seconds, 0 or more");
            deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                          std::min(*timeout, 1e9)));
        }
        for (;;) {
            Step step;
            try {
                py::gil_scoped_release unlocked;
                std::lock_guard lock(busy_);
                step = advance(least, most, deadline);
            } catch (const ops::Failure &f) {
                raise_failure(f);
            }
            if (step.kind == Step::kInterrupted) {
                if (PyErr_CheckSignals() != 0) throw py::error_already_set();
                continue;
            }
            if (step.kind == Step::kEnd) return py::none();
            py::array values(sample_dtype(step.type), std::vector<py::ssize_t>{static_cast<py::ssize_t>(step.count)});
            if (!step.bytes.empty()) std::memcpy(values.mutable_data(), step.bytes.data(), step.bytes.size());
            return py::make_tuple(step.stamp ? py::object(py::int_(*step.stamp)) : py::none(), step.first, values);
        }
    }

    // Ends the follow: a wait under way returns at once, and the file is
    // let go.
    void close() {
        closing_ = true;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(stop_[1], &byte, 1);
        py::gil_scoped_release unlocked;
        std::lock_guard lock(busy_);
        follower_.reset();
        end(kClosed);
    }

    // Why the follow ended ("closed", "replaced", "rewritten"), or None
    // while it goes on.
    py::object stopped() const {
        static const char *const kWhy[] = {nullptr, "closed", "replaced", "rewritten"};
        const int why = stopped_;
        return why == kGoingOn ? py::object(py::none()) : py::object(py::str(kWhy[why]));
    }

private:
    enum Why { kGoingOn, kClosed, kReplaced, kRewritten };

    // Notes why the follow ended, unless it had already.
    void end(Why why) {
        int going_on = kGoingOn;
        stopped_.compare_exchange_strong(going_on, why);
    }

    struct Step {
        enum Kind { kBlock, kEnd, kInterrupted } kind = kEnd;
        int type = 0;
        std::int64_t first = 0, count = 0;
        std::optional<std::int64_t> stamp;
        std::vector<unsigned char> bytes;
    };

    // Delivers the samples from pos_ on, waiting for them as asked; called
    // with busy_ held and without the GIL.
    Step advance(std::int64_t least, std::int64_t most, std::optional<Clock::time_point> deadline) {
        for (;;) {
            if (closing_) end(kClosed);
            if (stopped_ != kGoingOn) return {};
            const ops::LiveBottle &file = follower_->file();
            const std::int64_t available = file.count() - pos_;
            const bool timed_out = deadline && Clock::now() >= *deadline;
            if (available >= least || (available > 0 && (leaving_ || timed_out)))
                return block(file, std::min(available, most));
            if (leaving_) {
                if (follower_->mode() == ops::Follower::Mode::kDescriptor) {
                    end(leaving_why_);
                    return {};
                }
                if (follower_->reopen()) {
                    leaving_ = false;
                    pos_ = 0;
                    continue;
                }
            }
            if (timed_out) return {};
            std::optional<std::chrono::milliseconds> left;
            if (deadline) left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            const ops::Watch::Woken woken = follower_->wait(left, stop_[0]);
            if (woken == ops::Watch::Woken::kInterrupted) {
                Step interrupted;
                interrupted.kind = Step::kInterrupted;
                return interrupted;
            }
            if (woken == ops::Watch::Woken::kStop) continue;
            if (leaving_) continue;  // waiting for a file under the name
            const ops::Follower::Event event = follower_->look();
            if (event == ops::Follower::Event::kReplaced || event == ops::Follower::Event::kRewritten) {
                leaving_ = true;
                leaving_why_ = event == ops::Follower::Event::kReplaced ? kReplaced : kRewritten;
            }
        }
    }

    Step block(const ops::LiveBottle &file, std::int64_t n) {
        Step step{Step::kBlock, file.type(), pos_, n, file.grid().stamp(pos_, ops::kNanoDigits), {}};
        step.bytes.resize(static_cast<std::size_t>(n * zulu::format::width_of(file.type())));
        file.read(pos_, n, step.bytes.data());
        pos_ += n;
        return step;
    }

    void close_pipe() {
        for (int &fd : stop_)
            if (fd >= 0) ::close(std::exchange(fd, -1));
    }

    std::mutex busy_;  // held by a call that reads or waits, and by close()
    std::unique_ptr<ops::Follower> follower_;
    int stop_[2] = {-1, -1};
    std::atomic<bool> closing_{false};
    std::int64_t pos_ = 0;       // the next sample of the file to deliver
    bool leaving_ = false;       // the file was replaced or rewritten: its last samples, then the next file
    Why leaving_why_ = kGoingOn;
    std::atomic<int> stopped_{kGoingOn};
};

}  // namespace

void bind_follow(py::module_ &m) {
    py::class_<Following>(m, "Following", "A bottle followed as its writer flushes samples (see zulukit.follow).")
        .def(py::init<const std::string &, bool>(), py::arg("path"), py::arg("by_name"))
        .def("next", &Following::next, py::arg("least"), py::arg("most"), py::arg("timeout"))
        .def("close", &Following::close)
        .def_property_readonly("stopped", &Following::stopped);
}

}  // namespace zulukit
