// Every program reports output it could not write: close_stdout on its
// own, in a child process, and each program with its output sent to a full
// device.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "capture.h"
#include "output.h"

namespace {

struct Ending {
    int status = -1;  // close_stdout's result, or -1 when the child failed
    std::string err;
};

// Runs `before` in a child with standard error sent to a scratch file, then
// close_stdout("prog"), and returns its result and what it printed.
Ending close_in_child(const std::function<void()> &before) {
    testsupport::TempDir dir;
    const std::string err = dir.file("err");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (e < 0 || dup2(e, 2) < 0) _exit(127);
        before();
        _exit(close_stdout("prog"));
    }
    Ending result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) <= 1)
        result.status = WEXITSTATUS(status);
    result.err = testsupport::read_file(err);
    return result;
}

void to(const char *path) {
    const int fd = open(path, O_WRONLY);
    if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
}

TEST(CloseStdout, ReportsEveryLostWrite) {
    const std::string lost = "prog: cannot write standard output: ";
    struct {
        const char *what;
        std::function<void()> before;
        int status;
        std::string err;
    } const cases[] = {
        {"written", [] { to("/dev/null"), std::printf("text"); }, 0, ""},
        {"nothing written", [] { to("/dev/full"); }, 0, ""},
        {"lost in the final flush", [] { to("/dev/full"), std::printf("text"); }, 1,
         lost + "No space left on device\n"},
        {"lost in an earlier write",
         [] {
             to("/dev/full");
             std::setvbuf(stdout, nullptr, _IONBF, 0);
             std::printf("text");
         },
         1, lost + "an earlier write failed\n"},
        {"closed and never written", [] { close(1); }, 0, ""},
        {"closed and written", [] { close(1), std::printf("text"); }, 1, lost + "Bad file descriptor\n"},
    };
    for (const auto &c : cases) {
        const Ending e = close_in_child(c.before);
        EXPECT_EQ(e.status, c.status) << c.what;
        EXPECT_EQ(e.err, c.err) << c.what;
    }
}

// Each program, and each of its paths that prints, fails with status 1 and
// says why when its standard output is full.
TEST(Programs, ExitOneWhenTheOutputIsLost) {
    struct {
        const char *name, *path;
        std::vector<std::string> args;
        std::string input;
    } const cases[] = {
        {"julstamp", JULSTAMP_PATH, {"2015-06-23"}, ""},
        {"julstamp", JULSTAMP_PATH, {"--help"}, ""},
        {"julstamp", JULSTAMP_PATH, {"--version"}, ""},
        {"tlmword24", TLMWORD24_PATH, {"AAAA"}, ""},
        {"tlmword17", TLMWORD17_PATH, {"???"}, ""},
        {"tlmword17", TLMWORD17_PATH, {"--help"}, ""},
        {"gincross-demo", GINCROSS_DEMO_PATH, {}, "A!\"#$"},
        {"gincross-demo", GINCROSS_DEMO_PATH, {"--version"}, ""},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args{"-c", "exec \"$0\" \"$@\" >/dev/full", c.path};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = testsupport::run("/bin/sh", args, c.input);
        SCOPED_TRACE(std::string(c.name) + " " + (c.args.empty() ? "" : c.args[0]));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string(c.name) + ": cannot write standard output: No space left on device\n");
    }
}

}  // namespace
