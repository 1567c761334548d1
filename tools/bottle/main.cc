// bottle: look at, dump, import, plot, cut, join, check, decimate and export bottle files from the shell.

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

constexpr std::array kSubcommands{&bottletool::kInfo, &bottletool::kDump,     &bottletool::kImport,
                                  &bottletool::kPlot, &bottletool::kCut,      &bottletool::kCat,
                                  &bottletool::kGaps, &bottletool::kDecimate, &bottletool::kExport};

void print_usage(std::FILE *to) {
    std::fputs("usage: bottle COMMAND [ARGS...]\n"
               "       bottle help [COMMAND]\n"
               "Works with bottle files (regularly sampled series behind a 40-byte header).\n"
               "Commands:\n",
               to);
    for (const Subcommand *s : kSubcommands) std::fprintf(to, "  %-8s %s\n", s->name, s->summary);
    std::fputs("  help     show this help, or the help of COMMAND\n"
               "Options:\n"
               "  -h, --help  show this help and exit\n"
               "  --version   show the version and exit\n"
               "Run \"bottle COMMAND --help\" for the arguments of each.  Times are in GMT.\n",
               to);
}

const Subcommand *find_subcommand(const std::string &name) {
    for (const Subcommand *s : kSubcommands)
        if (name == s->name) return s;
    return nullptr;
}

// The edit distance between two words, a swap of neighbouring letters
// counting as one edit: "dupm" is one from "dump".
std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// An unknown command word, with the commands nearest to it by edit
// distance where any is near (at most two edits, and fewer than half the
// word's letters, so that a short word is not matched to anything), and
// a pointer to the help.
int unknown_command(const std::string &name) {
    const std::size_t limit = std::min<std::size_t>(2, std::max<std::size_t>(1, name.size() / 2));
    std::size_t best = limit;
    std::vector<std::string> nearest;
    for (const Subcommand *s : kSubcommands) {
        const std::size_t d = edit_distance(name, s->name);
        if (d > best) continue;
        if (d < best) nearest.clear(), best = d;
        nearest.push_back(bottletool::quoted(s->name));
    }
    std::string message = (name.starts_with("-") ? "unknown option " : "unknown command ") + bottletool::quoted(name);
    for (std::size_t i = 0; i < nearest.size(); ++i)
        message += (i == 0 ? "; did you mean " : i + 1 == nearest.size() ? " or " : ", ") + nearest[i];
    bottletool::report("", message + (nearest.empty() ? "" : "?"));
    std::fputs("Run \"bottle --help\" for the commands.\n", stderr);
    return bottletool::kUsage;
}

int print_help(const Subcommand &sub) {
    bottletool::need_standard_stream(STDOUT_FILENO);
    std::fputs(bottletool::help_text(sub.usage, sub.options, sub.notes, sub.takes_time).c_str(), stdout);
    return 0;
}

int run(const Subcommand &sub, const std::vector<std::string> &words) {
    try {
        return bottletool::wants_help(words) ? print_help(sub) : bottletool::invoke(sub, words);
    } catch (const bottletool::UsageError &e) {
        bottletool::report(sub.name, e.what());
        std::fprintf(stderr, "Run \"bottle %s --help\" for its usage.\n", sub.name);
        return e.status();
    } catch (const bottletool::Failure &e) {
        bottletool::report_failure(sub.name, e);
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

// "bottle help [COMMAND]": the general help, or that of the command.
int help(const std::vector<std::string> &words) {
    if (words.size() > 2) {
        bottletool::report("help", "too many arguments");
        std::fputs("usage: bottle help [COMMAND]\n", stderr);
        return bottletool::kUsage;
    }
    if (words.size() == 2) {
        const Subcommand *sub = find_subcommand(words[1]);
        if (!sub) return unknown_command(words[1]);
        try {
            return print_help(*sub);
        } catch (const bottletool::Failure &e) {
            bottletool::report("", e.what());
            return e.status();
        }
    }
    if (!standard_output_open()) return bottletool::kFailed;
    print_usage(stdout);
    return 0;
}

int dispatch(const std::vector<std::string> &words) {
    if (words.empty()) {
        print_usage(stderr);
        return bottletool::kUsage;
    }
    const std::string &name = words[0];
    if (name == "help" || name == "-h" || name == "--help") return help(words);
    if (name == "--version") {
        if (!standard_output_open()) return bottletool::kFailed;
        std::puts("bottle " ZULU_VERSION);
        return 0;
    }
    const Subcommand *sub = find_subcommand(name);
    if (!sub) return unknown_command(name);
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
