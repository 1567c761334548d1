#include "capture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace {

// Sends descriptor `fd` to a scratch file for as long as the object lives.
class Redirect {
public:
    explicit Redirect(int fd) : fd_(fd), file_(std::tmpfile()) {
        if (!file_) throw std::runtime_error("tmpfile failed");
        saved_ = dup(fd_);
        dup2(fileno(file_), fd_);
    }
    ~Redirect() {
        if (saved_ >= 0) restore();
        std::fclose(file_);
    }
    std::string finish() {
        restore();
        std::string text;
        std::rewind(file_);
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, n);
        return text;
    }

private:
    void restore() {
        dup2(saved_, fd_);
        close(saved_);
        saved_ = -1;
    }
    int fd_;
    FILE *file_;
    int saved_ = -1;
};

}  // namespace

Output capture(const std::function<void()> &fn) {
    std::fflush(stdout);
    std::fflush(stderr);
    Redirect out(1), err(2);
    fn();
    std::fflush(stdout);
    std::fflush(stderr);
    Output result;
    result.out = out.finish();
    result.err = err.finish();
    return result;
}

RunResult run(const std::string &path, const std::vector<std::string> &args, const std::string &input) {
    TempDir scratch;
    const std::string in = scratch.file("in"), out = scratch.file("out"), err = scratch.file("err");
    write_file(in, input);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int i = open(in.c_str(), O_RDONLY);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0 || o < 0 || e < 0) _exit(127);
        dup2(i, 0);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(path.c_str()));
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    RunResult result;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zulu-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport
