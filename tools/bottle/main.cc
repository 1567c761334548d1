// bottle: look at, dump, import, plot, cut, join, check and export bottle files from the shell.

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "command.h"
#include "date.h"
#include "output.h"
#include "files.h"
#include "subcommands.h"
#include "sysio.h"
#include "timetext.h"

namespace {

using bottletool::Subcommand;

constexpr std::array kSubcommands{&bottletool::kInfo, &bottletool::kDump, &bottletool::kImport, &bottletool::kPlot,
                                  &bottletool::kCut,  &bottletool::kCat,  &bottletool::kGaps, &bottletool::kExport};

void print_usage(std::FILE *to) {
    std::fputs("usage: bottle COMMAND [ARGS...]\n"
               "Works with bottle files (regularly sampled series behind a 40-byte header).\n"
               "Commands:\n",
               to);
    for (const Subcommand *s : kSubcommands) std::fprintf(to, "  %-7s %s\n", s->name, s->summary);
    std::fputs("Run \"bottle COMMAND --help\" for the arguments of each.  Times are in GMT.\n", to);
}

const Subcommand *find_subcommand(const std::string &name) {
    for (const Subcommand *s : kSubcommands)
        if (name == s->name) return s;
    return nullptr;
}

int run(const Subcommand &sub, const std::vector<std::string> &words) {
    try {
        if (bottletool::wants_help(words)) {
            bottletool::need_standard_stream(STDOUT_FILENO);
            std::fputs(bottletool::help_text(sub.usage, sub.options, sub.notes, sub.takes_time).c_str(), stdout);
            return 0;
        }
        return bottletool::invoke(sub, words);
    } catch (const bottletool::UsageError &e) {
        bottletool::report(sub.name, e.what());
        std::fprintf(stderr, "Run \"bottle %s --help\" for its usage.\n", sub.name);
        return e.status();
    } catch (const bottletool::Failure &e) {
        // The C interface's own line comes first, where it has one; an empty
        // message: that line has said what went wrong.
        std::fflush(stdout);
        std::fputs(e.library_line().c_str(), stderr);
        if (*e.what() != '\0') bottletool::report(sub.name, e.what());
        return e.status();
    } catch (const std::exception &e) {
        bottletool::report(sub.name, e.what());
        return bottletool::kFailed;
    }
}

// Text for standard output that was closed at start would vanish into the
// placeholder: false, with a message, in that case.
bool standard_output_open() {
    try {
        bottletool::need_standard_stream(STDOUT_FILENO);
        return true;
    } catch (const bottletool::Failure &e) {
        bottletool::report("", e.what());
        return false;
    }
}

int dispatch(const std::vector<std::string> &words) {
    if (words.empty()) {
        print_usage(stderr);
        return bottletool::kUsage;
    }
    const std::string &name = words[0];
    if (name == "-h" || name == "--help" || name == "help" || name == "--version") {
        if (!standard_output_open()) return bottletool::kFailed;
        if (name == "--version")
            std::puts("bottle " ZULU_VERSION);
        else
            print_usage(stdout);
        return 0;
    }
    const Subcommand *sub = find_subcommand(name);
    if (!sub) {
        bottletool::report("", "unknown command " + bottletool::quoted(name));
        print_usage(stderr);
        return bottletool::kUsage;
    }
    return run(*sub, std::vector<std::string>(words.begin() + 1, words.end()));
}

// Standard input, output and error closed when the program starts would be
// taken by the first files it opens, and printed text would land in those:
// hold them with /dev/null instead, and note them, so that a command that
// needs one fails.  False when that cannot be done.
bool hold_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (zulu::sysio::calls().open("/dev/null", O_RDWR, 0) != fd) return false;
        bottletool::note_closed_at_start(fd);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (!hold_standard_descriptors()) return bottletool::kFailed;
    // A write past the file size limit (ulimit -f) fails with EFBIG and is
    // reported like any other failed write, its temporary file removed,
    // instead of ending the program where it stands.
    std::signal(SIGXFSZ, SIG_IGN);
    zone = 0;  // every time the command reads or writes is GMT
    const std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
    int status = dispatch(words);
    for (const std::string &left : bottletool::take_left_behind()) {
        bottletool::report("", "cannot remove the temporary file " + left);
        status = bottletool::kFailed;
    }
    // Text still buffered for standard output can fail to reach it (a full
    // disk, a closed pipe): that is a failure, not a success.
    return close_stdout("bottle") != 0 ? bottletool::kFailed : status;
}
