// The crosshair reader, run in a child process whose standard input and
// output are pipes: the positions it stores, the exact bytes it writes, and
// what it leaves unread.  Also the demonstration program, on a pipe and on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
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

constexpr int16_t kUnset = -7;
const std::string kFrame = "\x1D\x1B\x1A<move 0 500>\x1F";  // request, move, back to text

// Appends what arrives on fd to `to` until `done` holds, fd reaches end of
// file, or five seconds pass.
void collect(int fd, std::string &to, const std::function<bool()> &done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return;
        to.append(buf, static_cast<size_t>(n));
    }
}

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

// Calls gincross in a child fed with `input`.  With `interactive` the input
// is only sent once the three request bytes have come out, as a terminal
// would: a request left in a buffer makes the trial time out.
Trial run_gincross(const std::string &input, bool interactive) {
    int in[2], out[2], res[2];
    if (pipe(in) || pipe(out) || pipe(res)) return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return {};
    if (pid == 0) {
        dup2(in[0], 0), dup2(out[1], 1);
        close(in[1]), close(out[0]);
        Outcome o;
        o.result = gincross(&o.x, &o.y);
        o.next = std::getc(stdin);
        _exit(write(res[1], &o, sizeof o) == sizeof o ? 0 : 1);
    }
    close(in[0]), close(out[1]), close(res[1]);
    auto feed = [&] {
        (void)!write(in[1], input.data(), input.size());
        close(in[1]);
    };
    Trial t;
    if (!interactive) feed();
    if (interactive) {
        collect(out[0], t.written, [&] { return t.written.size() >= 3; });
        feed();
    }
    collect(out[0], t.written, [] { return false; });
    kill(pid, SIGKILL);  // in case it hangs; harmless once it has ended
    int status = 0;
    waitpid(pid, &status, 0);
    t.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 && read(res[0], &t.got, sizeof t.got) == sizeof t.got;
    close(out[0]), close(res[0]);
    return t;
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
        const Trial t = run_gincross(r.bytes, interactive);
        ASSERT_TRUE(t.finished) << "interactive=" << interactive << " wrote: " << t.written;
        EXPECT_EQ(t.got.x, r.x);
        EXPECT_EQ(t.got.y, r.y);
        EXPECT_EQ(t.got.result, 0x1F);
        EXPECT_EQ(t.got.next, EOF);
        EXPECT_EQ(t.written, kFrame);
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, Position,
                         ::testing::Values(Report{"A\x3F\x3F\x3F\x3F", 4092, 4092}, Report{"A    ", 0, 0},
                                           Report{"A\x21\x22\x23\x24", 136, 400},
                                           Report{"\xff\xff\xff\xff\xff", 4092, 4092},
                                           Report{std::string("\r\x01\x00\x00\x1F", 5), 128, 124}));

TEST(Position, BytesAfterTheReportStayInTheInput) {
    const Trial t = run_gincross("A\x21\x22\x23\x24\r\n", true);
    ASSERT_TRUE(t.finished);
    EXPECT_EQ(t.got.x, 136);
    EXPECT_EQ(t.got.next, '\r');
}

// A report cut short: positions untouched, EOF returned, terminal still
// returned to text mode.
TEST(Position, ShortReportLeavesPositionUnchanged) {
    const std::string full = "A\x21\x22\x23\x24";
    for (size_t n = 0; n < full.size(); ++n) {
        const Trial t = run_gincross(full.substr(0, n), false);
        ASSERT_TRUE(t.finished) << n;
        EXPECT_EQ(t.got.result, EOF) << n;
        EXPECT_EQ(t.got.x, kUnset) << n;
        EXPECT_EQ(t.got.y, kUnset) << n;
        EXPECT_EQ(t.written, kFrame) << n;
    }
}

TEST(Position, NullPointersAreNotWrittenThrough) {
    testsupport::TempDir dir;
    testsupport::write_file(dir.file("in"), "A\x21\x22\x23\x24");
    ASSERT_NE(std::freopen(dir.file("in").c_str(), "rb", stdin), nullptr);
    int result = 0;
    EXPECT_EQ(testsupport::capture([&] { result = gincross(nullptr, nullptr); }).out, kFrame);
    EXPECT_EQ(result, 0x1F);
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

TEST(Demo, CommandLineManners) {
    auto help = testsupport::run(GINCROSS_DEMO_PATH, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("usage: gincross-demo\n")) << help.out;
    auto version = testsupport::run(GINCROSS_DEMO_PATH, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.starts_with("gincross-demo ")) << version.out;
    auto wrong = testsupport::run(GINCROSS_DEMO_PATH, {"-x"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_TRUE(wrong.err.starts_with("gincross-demo: unknown argument \"-x\"")) << wrong.err;
    auto extra = testsupport::run(GINCROSS_DEMO_PATH, {"--version", "x"});
    EXPECT_EQ(extra.status, 2);
    EXPECT_EQ(extra.out, "");
    EXPECT_TRUE(extra.err.starts_with("gincross-demo: too many arguments\n")) << extra.err;
}

// The demo on a pseudo-terminal left in canonical mode with echo: it must
// switch both off to receive the report (which has no line end), and put
// them back when it ends, normally or by a signal.
class DemoOnTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_TRUE(master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);  // held open so no output is lost
        termios t{};
        ASSERT_TRUE(slave_ >= 0 && tcgetattr(slave_, &t) == 0);
        t.c_lflag |= ICANON | ECHO;
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);
        std::fflush(nullptr);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            setsid();
            const int tty = open(ptsname(master_), O_RDWR);  // becomes the controlling terminal
            dup2(tty, 0), dup2(tty, 1), dup2(tty, 2);
            execl(GINCROSS_DEMO_PATH, "gincross-demo", static_cast<char *>(nullptr));
            _exit(127);
        }
        collect(master_, out_, [&] { return out_.find("\x1D\x1B\x1A") != std::string::npos; });
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(slave_), close(master_);
    }
    // The demo's wait status once it has ended (-1 if it has not), with the
    // rest of its output collected.
    int finish() {
        int status = -1;
        collect(master_, out_, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (status != -1) pid_ = -1;
        collect(master_, out_, [&] {  // until the terminal has been quiet for a while
            pollfd p{master_, POLLIN, 0};
            return poll(&p, 1, 20) <= 0;
        });
        return status;
    }
    tcflag_t modes() const {
        termios t{};
        tcgetattr(slave_, &t);
        return t.c_lflag & (ICANON | ECHO);
    }
    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    std::string out_;
};

TEST_F(DemoOnTerminal, ReadsReportWithoutLineEndAndRestoresModes) {
    ASSERT_NE(out_.find("\x1D\x1B\x1A"), std::string::npos) << out_;
    EXPECT_EQ(modes(), 0u);
    ASSERT_EQ(write(master_, "A!\"#$", 5), 5);
    const int status = finish();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " " << out_;
    EXPECT_NE(out_.find("x=136 y=400"), std::string::npos) << out_;
    EXPECT_EQ(out_.find("A!\"#$"), std::string::npos) << "report was echoed";
    EXPECT_EQ(modes(), tcflag_t(ICANON | ECHO));
}

TEST_F(DemoOnTerminal, RestoresModesWhenKilledBySignal) {
    ASSERT_NE(out_.find("\x1D\x1B\x1A"), std::string::npos) << out_;
    ASSERT_EQ(kill(pid_, SIGTERM), 0);
    const int status = finish();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(modes(), tcflag_t(ICANON | ECHO));
    EXPECT_TRUE(out_.ends_with("\x1F")) << "left in graph mode";
}

}  // namespace
