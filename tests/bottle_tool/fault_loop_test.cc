// The writing jobs of the bottle command run in the test's own process
// while one system call after another fails (call 1, 2, ... until a run
// meets no failure), with EIO and with ENOSPC.  After every run the
// target holds its old content (or is absent) or the new one whole, no
// temporary file is left beside it, and a run that did not succeed has
// status 1 and a message with the system's reason.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "bottle_run.h"
#include "command.h"
#include "faults.h"
#include "subcommands.h"

namespace {

using namespace bottletest;
using faults::FaultInjector;
using faults::Kind;

struct Outcome {
    int status = 0;
    std::string message;  // the library's line, the job's message, files left behind
    bool fired = false;   // the failure was met
    bool harmless = false;
    std::string call;
};

// A failure the job may meet and still succeed: a hint, a question whose
// answer it can do without, or the closing of a file it only read.
bool harmless(const FaultInjector &f) {
    return f.call() == "start_writeback" || f.call() == "fcntl" || (f.call() == "close" && f.read_only());
}

// Runs a subcommand as the program does, with the file `input` on
// standard input and its output streams captured; with a kind, call n of
// those it applies to fails.
Outcome run_job(const bottletool::Subcommand &sub, const std::vector<std::string> &words, const std::string &input,
                std::optional<Kind> kind = std::nullopt, int n = 0) {
    Outcome o;
    const int saved_stdin = dup(STDIN_FILENO);
    const int in = open(input.c_str(), O_RDONLY);
    dup2(in, STDIN_FILENO);
    close(in);
    testsupport::capture([&] {
        std::optional<FaultInjector> injector;
        if (kind) injector.emplace(*kind, n);
        try {
            o.status = bottletool::invoke(sub, words);
        } catch (const bottletool::Failure &e) {
            o.status = e.status();
            o.message = e.library_line() + e.what();
        }
        for (const std::string &left : bottletool::take_left_behind()) o.message += "; left behind: " + left;
        if (injector) {
            o.fired = injector->fired();
            o.harmless = harmless(*injector);
            o.call = injector->call();
        }
    });
    dup2(saved_stdin, STDIN_FILENO);
    close(saved_stdin);
    return o;
}

// Names in the directory that begin with a dot: the temporary files.
std::vector<std::string> hidden_files(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        if (const std::string name = e.path().filename().string(); name[0] == '.') names.push_back(name);
    return names;
}

struct Job {
    const char *name;
    const bottletool::Subcommand *sub;
    std::vector<std::string> words;  // "DIR/NAME" names a file of the scratch directory
    bool old_target;                 // DIR/out exists before each run
};

// Names the job in messages about it.
void PrintTo(const Job &job, std::ostream *os) { *os << job.name; }

class FaultLoop : public ::testing::TestWithParam<Job> {};

TEST_P(FaultLoop, LeavesTheTargetOldOrNewWholeAndNothingBeside) {
    const Job &job = GetParam();
    const TempDir dir;
    std::vector<std::string> words;
    for (const std::string &w : job.words) words.push_back(w.rfind("DIR/", 0) == 0 ? dir.file(w.substr(4)) : w);
    std::vector<std::int32_t> first, second;
    for (int i = 0; i < 3000; ++i) first.push_back(i * 7 - 5000);
    for (int i = 0; i < 500; ++i) second.push_back(i);
    write_file(dir.file("a.bot"), header(1, 1000, 1, 3000) + long_samples(first));
    write_file(dir.file("b.bot"), header(1, 5000, 1, 500) + long_samples(second));
    std::string text;
    for (int i = 0; i < 2000; ++i) text += std::to_string(i) + ".5\n";
    const std::string input = dir.file("in.txt"), target = dir.file("out"), old = "the old content\n";
    write_file(input, text);
    const auto reset = [&] {
        if (job.old_target)
            write_file(target, old);
        else
            std::filesystem::remove(target);
    };

    reset();
    const Outcome clean = run_job(*job.sub, words, input);
    ASSERT_EQ(clean.status, 0) << clean.message;
    const std::string made = read_file(target);
    ASSERT_NE(made, old);

    for (Kind kind : {Kind::kEIO, Kind::kENOSPC}) {
        const std::string reason = std::strerror(kind == Kind::kEIO ? EIO : ENOSPC);
        int n = 1;
        for (;; ++n) {
            SCOPED_TRACE(std::string(name_of(kind)) + " at call " + std::to_string(n));
            reset();
            const Outcome o = run_job(*job.sub, words, input, kind, n);
            EXPECT_EQ(hidden_files(dir.path()), std::vector<std::string>{}) << o.call;
            for (const std::string &name : hidden_files(dir.path())) std::filesystem::remove(dir.file(name));
            const bool exists = std::filesystem::exists(target);
            const std::string now = exists ? read_file(target) : "";
            if (!o.fired) {
                EXPECT_EQ(o.status, 0) << o.message;
                EXPECT_TRUE(now == made);
                break;
            }
            if (o.status == 0) {
                EXPECT_TRUE(o.harmless) << "a failed " << o.call << " went unreported";
                EXPECT_TRUE(now == made) << o.call;
            } else {
                EXPECT_EQ(o.status, 1) << o.call << ": " << o.message;
                EXPECT_NE(o.message.find(reason), std::string::npos) << o.call << ": " << o.message;
                // Old (or absent), or new whole: after the rename, a failure
                // to make the directory entry last leaves the new file.
                const bool as_before = job.old_target ? exists && now == old : !exists;
                EXPECT_TRUE(as_before || (exists && now == made)) << o.call << ": " << o.message;
            }
            if (n >= 2000 || ::testing::Test::HasFailure()) break;
        }
        EXPECT_LT(n, 2000) << "the job never ran without meeting the failure";
        EXPECT_GT(n, 5) << "too few calls to be the whole job";
    }
}

const Job kJobs[] = {
    {"import", &bottletool::kImport,
     {"DIR/out", "--type", "float", "--begin", "2020-01-01", "--interval", "10", "--force"}, true},
    {"import_new", &bottletool::kImport, {"DIR/out", "--type", "double", "--begin", "2020-01-01", "--interval", "10"},
     false},
    {"cut", &bottletool::kCut, {"DIR/a.bot", "DIR/out", "--from", "@1100", "--force"}, true},
    {"cat", &bottletool::kCat, {"DIR/out", "DIR/a.bot", "DIR/b.bot", "--force"}, true},
    {"cat_new", &bottletool::kCat, {"DIR/out", "DIR/b.bot", "DIR/a.bot"}, false},
#if ZULU_WITH_NETCDF
    {"export", &bottletool::kExport, {"DIR/a.bot", "-o", "DIR/out", "--force"}, true},
#endif
};

INSTANTIATE_TEST_SUITE_P(Jobs, FaultLoop, ::testing::ValuesIn(kJobs),
                         [](const ::testing::TestParamInfo<Job> &info) { return std::string(info.param.name); });

}  // namespace
