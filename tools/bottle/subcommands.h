// The subcommands of the bottle program.
#pragma once

#include <string>
#include <vector>

namespace bottletool {

struct Subcommand {
    const char *name;
    const char *summary;  // one line for the program's usage
    const char *help;     // the text of --help
    bool takes_time;      // --help then also lists the forms of TIME
    // Runs on the words after the subcommand's name; returns the exit
    // status or throws a Failure.
    int (*run)(const std::vector<std::string> &words);
};

extern const Subcommand kInfo;
extern const Subcommand kDump;
extern const Subcommand kImport;
extern const Subcommand kPlot;
extern const Subcommand kCut;
extern const Subcommand kCat;
extern const Subcommand kGaps;
extern const Subcommand kExport;

}  // namespace bottletool
