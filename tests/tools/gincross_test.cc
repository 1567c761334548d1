// The crosshair reader, run in a child process whose standard input and
// output are pipes: the positions it stores, the exact bytes it writes, and
// what it leaves unread.  Also the demonstration program, on a pipe and on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "capture.h"
#include "gincross.h"

// The linking program's drawing routine: shows its arguments in the output.
extern "C" int move(int x, int y) { return std::printf("<move %d %d>", x, y); }

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int16_t kUnset = -7;
const std::string kFrame = "\x1D\x1B\x1A<move 0 500>\x1F";  // request, move, back to text

struct Outcome {
    int result = 0;
    int16_t x = kUnset, y = kUnset;
    int next = 0;  // the first byte left unread after the call, or EOF
};

struct Trial {
    Outcome got;
    std::string written;
    bool finished = false;  // the child ended normally within the time allowed
};

// Reads what is available on fd into `to`; false at end of file.
bool drain(int fd, std::string &to, Clock::duration wait) {
    pollfd p{fd, POLLIN, 0};
    const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count());
    if (poll(&p, 1, ms) <= 0) return true;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    to.append(buf, static_cast<size_t>(n));
    return true;
}

void child(int in, int out, int res) {
    dup2(in, 0);
    dup2(out, 1);
    Outcome o;
    o.result = gincross(&o.x, &o.y);
    o.next = std::getc(stdin);
    _exit(write(res, &o, sizeof o) == sizeof o ? 0 : 1);
}

// Calls gincross in a child fed with `input`.  With `interactive` the input
// is only sent once the three request bytes have come out, as a terminal
// would: a request left in a buffer makes the run time out.
Trial run_gincross(const std::string &input, bool interactive) {
    int in[2], out[2], res[2];
    if (pipe(in) || pipe(out) || pipe(res)) return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(in[1]), close(out[0]), close(res[0]);
        child(in[0], out[1], res[1]);
    }
    close(in[0]), close(out[1]), close(res[1]);
    auto feed = [&] {
        (void)!write(in[1], input.data(), input.size());
        close(in[1]);
        in[1] = -1;
    };
    if (!interactive) feed();
    Trial run;
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline && drain(out[0], run.written, 100ms))
        if (in[1] >= 0 && run.written.size() >= 3) feed();
    if (in[1] >= 0) close(in[1]);
    kill(pid, SIGKILL);  // no-op when it has ended already
    int status = 0;
    waitpid(pid, &status, 0);
    run.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                   read(res[0], &run.got, sizeof run.got) == sizeof run.got;
    close(out[0]), close(res[0]);
    return run;
}

struct Report {
    std::string bytes;
    int16_t x, y;
};

void PrintTo(const Report &r, std::ostream *os) {
    for (unsigned char b : r.bytes) *os << std::hex << int(b) << ' ';
}

class Position : public ::testing::TestWithParam<Report> {};

TEST_P(Position, DecodedAndFramed) {
    const Report &r = GetParam();
    for (bool interactive : {false, true}) {
        const Trial run = run_gincross(r.bytes, interactive);
        ASSERT_TRUE(run.finished) << "interactive=" << interactive << " wrote: " << run.written;
        EXPECT_EQ(run.got.x, r.x);
        EXPECT_EQ(run.got.y, r.y);
        EXPECT_EQ(run.got.result, 0x1F);
        EXPECT_EQ(run.got.next, EOF);
        EXPECT_EQ(run.written, kFrame);
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, Position,
                         ::testing::Values(Report{"A\x3F\x3F\x3F\x3F", 4092, 4092}, Report{"A    ", 0, 0},
                                           Report{"A\x21\x22\x23\x24", 136, 400},
                                           Report{"\xff\xff\xff\xff\xff", 4092, 4092},
                                           Report{std::string("\r\x01\x00\x00\x1F", 5), 128, 124}));

TEST(Position, BytesAfterTheReportStayInTheInput) {
    const Trial run = run_gincross("A\x21\x22\x23\x24\r\n", true);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.got.x, 136);
    EXPECT_EQ(run.got.next, '\r');
}

// A report cut short: positions untouched, EOF returned, terminal still
// returned to text mode.
TEST(Position, ShortReportLeavesPositionUnchanged) {
    const std::string full = "A\x21\x22\x23\x24";
    for (size_t n = 0; n < full.size(); ++n) {
        const Trial run = run_gincross(full.substr(0, n), false);
        ASSERT_TRUE(run.finished) << n;
        EXPECT_EQ(run.got.result, EOF) << n;
        EXPECT_EQ(run.got.x, kUnset) << n;
        EXPECT_EQ(run.got.y, kUnset) << n;
        EXPECT_EQ(run.written, kFrame) << n;
    }
}

TEST(Position, NullPointersAreNotWrittenThrough) {
    std::string written;
    int result = 0;
    testsupport::TempDir dir;
    testsupport::write_file(dir.file("in"), "A\x21\x22\x23\x24");
    ASSERT_NE(std::freopen(dir.file("in").c_str(), "rb", stdin), nullptr);
    written = testsupport::capture([&] { result = gincross(nullptr, nullptr); }).out;
    EXPECT_EQ(result, 0x1F);
    EXPECT_EQ(written, kFrame);
}

// ---- the demonstration program ---------------------------------------------

TEST(Demo, ReadsFromAPipe) {
    auto r = testsupport::run(GINCROSS_DEMO_PATH, {}, "A\x21\x22\x23\x24");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\x1D\x1B\x1A"), std::string::npos);
    EXPECT_TRUE(r.out.ends_with("x=136 y=400\n")) << r.out;

    r = testsupport::run(GINCROSS_DEMO_PATH, {}, "A\x21");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("gincross-demo: "), std::string::npos);
}

// The demo on a pseudo-terminal in canonical mode with echo: it must switch
// both off to receive the report (which has no line end) and restore them.
class DemoOnTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);  // held open so output is never lost
        ASSERT_GE(slave_, 0);
        termios t{};
        ASSERT_EQ(tcgetattr(slave_, &t), 0);
        t.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            const int tty = open(ptsname(master_), O_RDWR);
            dup2(tty, 0), dup2(tty, 1), dup2(tty, 2);
            execl(GINCROSS_DEMO_PATH, "gincross-demo", static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    void TearDown() override {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(slave_);
        close(master_);
    }
    // Collects output until `what` appears or five seconds pass.
    bool wait_for(const std::string &what) {
        const auto deadline = Clock::now() + 5s;
        while (output_.find(what) == std::string::npos && Clock::now() < deadline) drain(master_, output_, 100ms);
        return output_.find(what) != std::string::npos;
    }
    // The child's wait status once it ends, or -1 after five seconds.
    int wait_exit() {
        const auto deadline = Clock::now() + 5s;
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                while (drain(master_, output_, 50ms) && Clock::now() < deadline) {
                    pollfd p{master_, POLLIN, 0};
                    if (poll(&p, 1, 0) <= 0) break;
                }
                return status;
            }
            drain(master_, output_, 50ms);
        }
        return -1;
    }
    tcflag_t lflag() const {
        termios t{};
        tcgetattr(slave_, &t);
        return t.c_lflag;
    }
    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    std::string output_;
};

TEST_F(DemoOnTerminal, ReadsReportWithoutLineEndAndRestoresModes) {
    ASSERT_TRUE(wait_for("\x1D\x1B\x1A")) << output_;
    EXPECT_EQ(lflag() & (ICANON | ECHO), 0u);
    ASSERT_EQ(write(master_, "A!\"#$", 5), 5);
    const int status = wait_exit();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " " << output_;
    EXPECT_NE(output_.find("x=136 y=400"), std::string::npos) << output_;
    EXPECT_EQ(output_.find("A!\"#$"), std::string::npos) << "report was echoed";
    EXPECT_EQ(lflag() & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
}

TEST_F(DemoOnTerminal, RestoresModesWhenKilledBySignal) {
    ASSERT_TRUE(wait_for("\x1D\x1B\x1A")) << output_;
    ASSERT_EQ(kill(pid_, SIGTERM), 0);
    const int status = wait_exit();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(lflag() & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    EXPECT_TRUE(output_.ends_with("\x1F")) << "left in graph mode";
}

}  // namespace
