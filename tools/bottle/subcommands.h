// The subcommands of the bottle program.
#pragma once

#include "command.h"

namespace bottletool {

// What main hands a subcommand besides its parsed command line.
struct Context {
    // Where the subcommand's own output for standard output goes: the
    // original standard output, also when main has sent standard output to
    // standard error.
    int data_fd;
};

struct Subcommand {
    const char *name;
    const char *summary;        // one line for the program's usage
    const char *usage;          // --help before the options: usage and description
    Options options;            // parsed by main, listed by --help
    const char *notes;          // --help after the options
    bool takes_time = false;    // --help then also lists the forms of TIME
    bool needs_stdout = false;  // main fails before running it when standard output was closed at start
    bool reroutes = false;      // main sends standard output to standard error while it runs
    // Runs on the parsed command line; returns the exit status or throws a
    // Failure.
    int (*run)(const Args &args, const Context &context);
};

// Parses the words for the subcommand, does what its flags ask (the check
// of standard output, the reroute of the library's messages) and runs it;
// a Failure as the subcommand throws it.
int invoke(const Subcommand &sub, const std::vector<std::string> &words);

extern const Subcommand kInfo;
extern const Subcommand kDump;
extern const Subcommand kImport;
extern const Subcommand kPlot;
extern const Subcommand kCut;
extern const Subcommand kCat;
extern const Subcommand kGaps;
extern const Subcommand kDecimate;
extern const Subcommand kExport;

}  // namespace bottletool
