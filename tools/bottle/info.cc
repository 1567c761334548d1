// bottle info: the library's summary line and the header of each bottle,
// with warnings about what the file and its header disagree on.

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "command.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle info FILE...\n"
    "Describes each bottle FILE: the bottle library's summary line, then the sample\n"
    "type, sample count, interval, begin and end times (GMT), unusable value and file\n"
    "size, with a warning where the header's stored sample count differs from the count\n"
    "the file size gives, or where a partial sample trails the data.\n"
    "A FILE that is not a bottle gets the library's message in its place; the other\n"
    "files are still described, and the exit status is 1.\n";

constexpr std::int64_t kHeaderSize = zulu::format::kHeaderSize;

void print_warning(const std::string &text) { std::printf("  warning: %s\n", text.c_str()); }

// What the file's size and stored header say that the library's view
// leaves out.
void print_warnings(const ViewedBottle &bottle) {
    bottle_hdr *h = bottle.get();
    const std::int64_t size = bottle.file_size();
    const std::int64_t width = zulu::format::width_of(bot_type(h));
    const std::int64_t from_size = size >= kHeaderSize ? (size - kHeaderSize) / width : 0;
    const std::int64_t partial = size >= kHeaderSize ? (size - kHeaderSize) % width : 0;
    const bottle_hdr &stored = bottle.stored_header();
    if (stored.nsam != from_size)
        print_warning("the header says " + std::to_string(stored.nsam) + " samples; the file size gives " +
                      std::to_string(from_size));
    if (stored.doff != kHeaderSize)
        print_warning("the header puts sample 0 at byte " + std::to_string(stored.doff) +
                      ", not 40; the sample count from the file size assumes 40");
    if (partial != 0)
        print_warning(std::to_string(partial) + " bytes after the last whole sample are part of no sample");
    if (from_size > bot_nsam(h))
        print_warning("the library reaches only the first " + std::to_string(bot_nsam(h)) +
                      " samples of a file this large");
    const Timeline line = timeline_of(h);
    if (!line.finite())
        print_warning("the begin time or the interval is not a finite number; no sample can be reached by its time");
    else if (line.step < 0)
        print_warning("the interval is negative: sample times run backward");
}

// Prints the description of one file; false when it is not a bottle.
bool describe(const std::string &name) {
    std::printf("%s:\n", name.c_str());
    const ViewedBottle bottle(name);
    if (!bottle) {
        if (!bottle.problem().empty()) std::printf("%s\n", bottle.problem().c_str());
        return false;
    }
    bottle_hdr *h = bottle.get();
    const std::int64_t size = bottle.file_size();
    bshow(h);
    const zulu::format::SampleType &type = zulu::format::kTypes[static_cast<std::size_t>(bot_type(h))];
    const Timeline line = timeline_of(h);
    std::printf("  type:      %s (%d bytes per sample)\n", type.name, type.width);
    std::printf("  samples:   %d\n", bot_nsam(h));
    std::printf("  interval:  %s s%s\n", value_text(bot_ivl(h)).c_str(),
                bot_ivl(h) == 0 ? " (sample times advance by 1 s)" : "");
    std::printf("  begin:     %s\n", iso_time(line.beg).c_str());
    std::printf("  end:       %s\n", line.count > 0 ? iso_time(line.time(line.count - 1)).c_str() : "(no samples)");
    std::printf("  unusable:  %d\n", bot_usym(h));
    std::printf("  file size: %lld bytes\n", static_cast<long long>(size));
    print_warnings(bottle);
    return true;
}

int run_info(const std::vector<std::string> &words) {
    const Args args(words, {});
    const std::vector<std::string> &files = args.operands(1, SIZE_MAX);
    need_standard_stream(STDOUT_FILENO);
    if (const auto out = input_file(STDOUT_FILENO, "standard output")) {
        std::vector<InputFile> inputs;
        for (const std::string &f : files)
            if (auto in = input_file(f)) inputs.push_back(*in);
        refuse_input(inputs, out->id, out->name);
    }
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i > 0) std::putchar('\n');
        if (!describe(files[i])) ++unreadable;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw Failure("cannot write standard output");
    if (unreadable > 0)
        throw Failure("files that are not readable bottles: " + std::to_string(unreadable) + " of " +
                      std::to_string(files.size()));
    return 0;
}

}  // namespace

const Subcommand kInfo{"info", "describe bottle files: summary line, header, warnings", kHelp, false, run_info};

}  // namespace bottletool
