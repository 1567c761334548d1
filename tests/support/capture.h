// Helpers shared by the test programs: capture what a call prints on the
// standard streams, run a program, and work in a scratch directory.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct Output {
    std::string out;  // bytes written to standard output
    std::string err;  // bytes written to standard error
};

// Calls fn with file descriptors 1 and 2 sent to scratch files and returns
// what it wrote there (stdio buffers are flushed before and after).
Output capture(const std::function<void()> &fn);

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs the program `path` with `args` (argv[1] onwards) and `input` on its
// standard input; collects both output streams and the exit status.
RunResult run(const std::string &path, const std::vector<std::string> &args,
              const std::string &input = "");

// A fresh directory that is removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);

}  // namespace testsupport
