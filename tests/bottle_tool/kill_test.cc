// The writing jobs of the bottle program ended from outside: under a file
// size limit a write fails and is reported, a signal removes the temporary
// file before the program dies of it, and SIGKILL at any moment leaves the
// target as it was or new and whole, never part of a file under its name.
// A C program killed between its writes leaves a bottle that reopens with
// every sample of its last bflush.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bottle_run.h"
#include "core.h"

namespace {

using namespace bottletest;
using Clock = std::chrono::steady_clock;

struct Launch {
    std::string program;
    std::vector<std::string> args;
    std::string input = "/dev/null";  // a file for standard input
    std::string output = "/dev/null";  // standard output, created or emptied
    std::string errors = "/dev/null";
    std::optional<rlim_t> file_limit;  // RLIMIT_FSIZE in bytes
    int *input_pipe = nullptr;         // when set: standard input is a pipe, its writing end here
    int *output_pipe = nullptr;        // when set: standard output is a pipe, its reading end here
};

// Starts the program with the signals the tests send at their default
// action and none blocked, as from a shell.
pid_t start(const Launch &l) {
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
    if (l.input_pipe && pipe(in_pipe) != 0) return -1;
    if (l.output_pipe && pipe(out_pipe) != 0) return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) std::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int i = l.input_pipe ? in_pipe[0] : open(l.input.c_str(), O_RDONLY);
        const int o = l.output_pipe ? out_pipe[1] : open(l.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(l.errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (i < 0 || o < 0 || e < 0) _exit(127);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (l.input_pipe) close(in_pipe[1]);
        if (l.output_pipe) close(out_pipe[0]);
        if (l.file_limit) {
            const rlimit limit{*l.file_limit, *l.file_limit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        std::vector<char *> argv{const_cast<char *>(l.program.c_str())};
        for (const auto &a : l.args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(l.program.c_str(), argv.data());
        _exit(127);
    }
    if (l.input_pipe) {
        close(in_pipe[0]);
        *l.input_pipe = in_pipe[1];
    }
    if (l.output_pipe) {
        close(out_pipe[1]);
        *l.output_pipe = out_pipe[0];
    }
    return pid;
}

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::vector<std::string> hidden_files(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (const std::string name = e.path().filename().string(); name[0] == '.') names.push_back(name);
    return names;
}

// A scratch directory with the jobs' inputs: a "long" bottle of n samples,
// a second one after it, and text of n values.
struct Inputs {
    TempDir dir, logs;
    explicit Inputs(int n) {
        std::vector<std::int32_t> v(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i)] = i % 1000 - 500;
        write_file(dir.file("a.bot"), header(1, 1000, 1, n) + long_samples(v));
        write_file(dir.file("b.bot"), header(1, 1000 + n, 1, 100) + long_samples(std::vector<std::int32_t>(100, 7)));
        std::string text;
        for (int i = 0; i < n; ++i) text += std::to_string(i % 1000) + ".25\n";
        write_file(logs.file("in.txt"), text);
    }
    std::string target() const { return dir.file("out"); }
};

struct Job {
    const char *name;
    std::vector<std::string> args;  // "DIR/NAME" names a file of the scratch directory
    bool to_stdout = false;         // writes standard output, DIR/out
};

const Job kWritingJobs[] = {
    {"import", {"import", "DIR/out", "--type", "double", "--begin", "@0", "--interval", "1", "--force"}},
    {"cut", {"cut", "DIR/a.bot", "DIR/out", "--from", "@1001", "--force"}},
    {"cat", {"cat", "DIR/out", "DIR/a.bot", "DIR/b.bot", "--force"}},
#if ZULU_WITH_NETCDF
    {"export", {"export", "DIR/a.bot", "-o", "DIR/out", "--force"}},
#endif
};

Launch launch_of(const Job &job, const Inputs &in) {
    Launch l;
    l.program = BOTTLE_PATH;
    for (const std::string &a : job.args) l.args.push_back(a.rfind("DIR/", 0) == 0 ? in.dir.file(a.substr(4)) : a);
    l.input = in.logs.file("in.txt");
    l.errors = in.logs.file("err");
    if (job.to_stdout) l.output = in.target();
    return l;
}

const std::string kOld = "the old content\n";

// --- ulimit -f -----------------------------------------------------------

TEST(FileSizeLimit, IsAFailedWriteWithItsReasonAndNoTemporaryFile) {
    const Inputs in(100000);  // 400 kB of samples and more of text
    std::vector<Job> jobs(std::begin(kWritingJobs), std::end(kWritingJobs));
    jobs.push_back({"dump", {"dump", "DIR/a.bot"}, true});
    for (const Job &job : jobs) {
        SCOPED_TRACE(job.name);
        write_file(in.target(), kOld);
        Launch l = launch_of(job, in);
        l.file_limit = 64 * 1024;
        const int status = wait_for(start(l));
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_TRUE(contains(read_file(in.logs.file("err")), std::strerror(EFBIG))) << read_file(in.logs.file("err"));
        EXPECT_EQ(hidden_files(in.dir.path()), std::vector<std::string>{});
        if (!job.to_stdout) {
            EXPECT_EQ(read_file(in.target()), kOld);
        }
    }
}

// --- Signals -------------------------------------------------------------

// Import reads a pipe that the test holds open: the job waits, its
// temporary file made, for as long as the test likes.
TEST(Signals, RemoveTheTemporaryFileBeforeTheProgramDies) {
    const Inputs in(10);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(strsignal(sig));
        write_file(in.target(), kOld);
        Launch l = launch_of(kWritingJobs[0], in);
        int feed = -1;
        l.input_pipe = &feed;
        const pid_t pid = start(l);
        ASSERT_GT(pid, 0);
        const std::string lines = "1\n2\n3\n";
        ASSERT_EQ(write(feed, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
        const auto give_up = Clock::now() + std::chrono::seconds(10);
        while (hidden_files(in.dir.path()).empty() && Clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(hidden_files(in.dir.path()).size(), 1u) << "no temporary file appeared";
        kill(pid, sig);
        const int status = wait_for(pid);
        close(feed);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_EQ(hidden_files(in.dir.path()), std::vector<std::string>{});
        EXPECT_EQ(read_file(in.target()), kOld);
    }
}

// --- Ended at any moment -------------------------------------------------

// Each writing job, sent each signal (SIGKILL among them) at delays spread
// over the time a run takes: whatever the moment, the target is the old
// file or the new one whole.  Only SIGKILL, which no program outlives to
// clean up, may leave the temporary file.
TEST(EndedAnyMoment, LeavesTheOldFileOrTheNewOneWhole) {
    const Inputs in(400000);
    constexpr int kSteps = 12;
    int points = 0;
    for (const Job &job : kWritingJobs) {
        SCOPED_TRACE(job.name);
        write_file(in.target(), kOld);
        const Launch l = launch_of(job, in);
        const auto begun = Clock::now();
        ASSERT_EQ(wait_for(start(l)), 0) << read_file(in.logs.file("err"));
        const auto took = Clock::now() - begun;
        const std::string made = read_file(in.target());
        ASSERT_NE(made, kOld);
        for (int sig : {SIGKILL, SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            for (int step = 0; step <= kSteps; ++step) {
                SCOPED_TRACE(std::string(strsignal(sig)) + " at step " + std::to_string(step));
                write_file(in.target(), kOld);
                const pid_t pid = start(l);
                std::this_thread::sleep_for(took * step / kSteps);
                kill(pid, sig);
                const int status = wait_for(pid);
                ++points;
                const std::string now = read_file(in.target());
                if (WIFEXITED(status)) {
                    EXPECT_EQ(WEXITSTATUS(status), 0) << read_file(in.logs.file("err"));
                    EXPECT_TRUE(now == made) << "the job ended but its output is not the whole file";
                } else {
                    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
                    EXPECT_TRUE(now == kOld || now == made) << "a file of " << now.size() << " bytes under the name";
                }
                const std::vector<std::string> left = hidden_files(in.dir.path());
                if (sig != SIGKILL) {
                    EXPECT_EQ(left, std::vector<std::string>{});
                }
                for (const std::string &name : left) {
                    EXPECT_EQ(name.rfind(".out.", 0), 0u) << name;
                    std::filesystem::remove(in.dir.file(name));
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
    EXPECT_GT(points, 100);
}

// The C program kills itself after its Nth bwrite, for N across its run:
// the bottle opens, and holds at least the samples of its last bflush,
// each as written; every sample the file holds is one it wrote.
TEST(EndedAnyMoment, CProgramBetweenWritesKeepsWhatItFlushed) {
    const TempDir dir;
    const std::string path = dir.file("w.bot");
    constexpr int kWrites = 150, kFlushEvery = 7, kWindow = 37;
    for (int stop = 1; stop <= kWrites; stop += 2) {
        SCOPED_TRACE("killed after write " + std::to_string(stop));
        std::filesystem::remove(path);
        int progress = -1;
        Launch l;
        l.program = KILL_WRITER_PATH;
        l.args = {path, std::to_string(kWrites), std::to_string(kFlushEvery), std::to_string(stop)};
        l.output_pipe = &progress;
        const pid_t pid = start(l);
        ASSERT_GT(pid, 0);
        std::string said;
        char chunk[256];
        for (ssize_t n; (n = read(progress, chunk, sizeof chunk)) != 0;)
            if (n > 0) said.append(chunk, static_cast<std::size_t>(n));
            else if (errno != EINTR) break;
        close(progress);
        const int status = wait_for(pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status << " " << said;
        std::int64_t flushed = 0;
        for (const std::string &line : lines_of(said)) flushed = std::stoll(line.substr(line.find(' ') + 1));
        EXPECT_EQ(flushed, stop / kFlushEvery * kFlushEvery * kWindow);

        const zulu::core::Opened opened = zulu::core::open(path.c_str(), {zulu::core::Access::kRead, true, true});
        ASSERT_NE(opened.bottle, nullptr) << "not a bottle once killed";
        const std::int64_t held = opened.bottle->nsam;
        zulu::core::close(opened.bottle);
        EXPECT_GE(held, flushed);
        EXPECT_LE(held, std::int64_t{stop} * kWindow);
        const std::string bytes = read_file(path);
        for (std::int64_t i = 0; i < held; ++i) {
            std::int32_t v;
            std::memcpy(&v, bytes.data() + 40 + 4 * i, 4);
            if (v != 3 * i + 1) {
                ADD_FAILURE() << "sample " << i << " is " << v << " (flushed " << flushed << ", held " << held << ")";
                break;
            }
        }
    }
}

}  // namespace
