#include "command.h"
#include "subcommands.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include <unistd.h>

namespace bottletool {
namespace {

constexpr std::size_t kWidth = 79;  // of every line of --help

const Option *find_option(Options options, std::string_view name, char alias) {
    for (const Option *o : options)
        if (name.empty() ? o->alias == alias : o->name == name) return o;
    return nullptr;
}

// A whole number from an option value, within [min, max]; a usage error
// naming the option otherwise.
std::int64_t read_count(std::string_view option, std::string_view text, std::int64_t min, std::int64_t max) {
    std::int64_t n = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc() || ptr != end || n < min || n > max)
        throw UsageError("--" + std::string(option) + " needs a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not " + quoted(text));
    return n;
}

// Appends the words of text at column `column` of the line `out` ends
// with, breaking lines at spaces before kWidth and indenting the lines
// after the first by `indent`.  The spaces between words on one line are
// kept (two after a sentence).
void append_wrapped(std::string &out, std::string_view text, std::size_t column, std::size_t indent) {
    std::size_t gap = 0;  // the spaces before the next word
    bool line_start = true;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        const std::string_view word = text.substr(0, space);
        text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
        if (word.empty()) {
            ++gap;
            continue;
        }
        if (!line_start && column + gap + word.size() > kWidth) {
            out += '\n' + std::string(indent, ' ');
            column = indent;
            line_start = true;
        }
        if (!line_start) {
            out.append(gap, ' ');
            column += gap;
        }
        out += word;
        column += word.size();
        line_start = false;
        gap = 1;
    }
    out += '\n';
}

// "-o, --output OUT" or "--force": the left column of an option's row.
std::string option_words(const Option &o) {
    std::string words = o.alias ? std::string{'-', o.alias, ',', ' '} : "";
    words += "--";
    words += o.name;
    if (o.value_optional) words.append("[=").append(o.value).append("]");
    else if (!o.value.empty()) words.append(" ").append(o.value);
    return words;
}

}  // namespace

Args::Args(const std::vector<std::string> &words, Options options) : options_(options) {
    bool options_done = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (options_done || word.size() < 2 || word[0] != '-') {
            operands_.push_back(word);
            continue;
        }
        if (word == "--") {
            options_done = true;
            continue;
        }
        const Option *option = nullptr;
        std::optional<std::string> inline_value;
        if (word[1] == '-') {
            const std::size_t eq = word.find('=');
            const std::string_view name = std::string_view(word).substr(2, eq == std::string::npos ? eq : eq - 2);
            if (!name.empty()) option = find_option(options, name, 0);
            if (eq != std::string::npos) inline_value = word.substr(eq + 1);
        } else if (word.size() == 2) {
            option = find_option(options, {}, word[1]);
        }
        if (!option) throw UsageError("unknown option " + quoted(word));
        const std::string name(option->name);
        if (find(*option)) throw UsageError("option --" + name + " is given twice");
        if (option->value.empty()) {
            if (inline_value) throw UsageError("option --" + name + " takes no value");
            values_.emplace_back(option, "");
        } else if (option->value_optional && !inline_value) {
            values_.emplace_back(option, "");
        } else if (inline_value) {
            values_.emplace_back(option, *inline_value);
        } else if (i + 1 < words.size()) {
            values_.emplace_back(option, words[++i]);
        } else {
            throw UsageError("option --" + name + " needs a value");
        }
    }
}

const std::string *Args::find(const Option &option) const {
    if (std::find(options_.begin(), options_.end(), &option) == options_.end())
        throw std::logic_error("--" + std::string(option.name) + " is not an option of this command");
    for (const auto &[o, value] : values_)
        if (o == &option) return &value;
    return nullptr;
}

std::optional<std::string> Args::value(const Option &option) const {
    if (const std::string *v = find(option)) return *v;
    return std::nullopt;
}

std::optional<std::int64_t> Args::count(const Option &option) const {
    const std::string *v = find(option);
    if (!v && option.fallback.empty()) return std::nullopt;
    return read_count(option.name, v ? std::string_view(*v) : option.fallback, option.bounds.least,
                      option.bounds.most);
}

const std::vector<std::string> &Args::operands(std::size_t min, std::size_t max) const {
    if (operands_.size() < min) throw UsageError("missing operand");
    if (operands_.size() > max) throw UsageError("unexpected operand " + quoted(operands_[max]));
    return operands_;
}

std::string help_text(std::string_view usage, Options options, std::string_view notes, bool takes_time) {
    std::size_t column = 0;
    for (const Option *o : options) column = std::max(column, 2 + option_words(*o).size() + 2);
    std::string text(usage);
    for (const Option *o : options) {
        std::string line = "  " + option_words(*o);
        line.resize(column, ' ');
        std::string help(o->help);
        if (o->bounds.shown)
            help += ", " + std::to_string(o->bounds.least) + " to " + std::to_string(o->bounds.most);
        if (!o->fallback.empty()) help += " (default: " + std::string(o->fallback) + ")";
        text += line;
        append_wrapped(text, help, column, column);
    }
    text += notes;
    if (takes_time) append_wrapped(text, std::string(kTimeForms) + ".", 0, 0);
    return text;
}

bool wants_help(const std::vector<std::string> &words) {
    for (const std::string &w : words) {
        if (w == "--") return false;
        if (w == "-h" || w == "--help") return true;
    }
    return false;
}

void report(std::string_view command, std::string_view message) {
    std::fflush(stdout);
    std::fprintf(stderr, "bottle%s%.*s: %.*s\n", command.empty() ? "" : " ", static_cast<int>(command.size()),
                 command.data(), static_cast<int>(message.size()), message.data());
}

void report_failure(std::string_view command, const Failure &failure) {
    const std::string_view what = failure.what();
    // A refused header is "NAME: WHAT IS WRONG", the second part a clause
    // of its own without ": "; it says as well that the file is no bottle.
    if (const std::size_t colon = what.rfind(": "); failure.not_bottle() && colon != std::string_view::npos)
        return report(command, std::string(what.substr(0, colon)) + " is not a bottle: " +
                                   std::string(what.substr(colon + 2)));
    if (!what.empty()) return report(command, what);
    std::fflush(stdout);
    std::fputs(failure.library_line().c_str(), stderr);
}

void report_unopened(std::string_view command, const ViewedBottle &bottle) {
    try {
        bottle.require();
    } catch (const Failure &e) {
        report_failure(command, e);
    }
}

double read_time(std::string_view option, std::string_view text) {
    TimeProblem p;
    if (auto t = parse_time(text, &p)) return *t;
    std::string message = "--" + std::string(option) + ": " + quoted(text) + " is not a time: " + p.what;
    if (p.form) message += std::string("; ") + kTimeForms;
    throw UsageError(message);
}

TimeRange read_time_range(const Args &args, const Option &from_option, const Option &to_option) {
    TimeRange range;
    const auto from = args.value(from_option), to = args.value(to_option);
    if (from) range.from = read_time(from_option.name, *from);
    if (to) range.to = read_time(to_option.name, *to);
    if (range.from && range.to && *range.from > *range.to)
        throw UsageError("--" + std::string(from_option.name) + " " + *from + " is later than --" +
                         std::string(to_option.name) + " " + *to);
    return range;
}

JoinRules read_join_rules(const Args &args, const Option *overlap, const Option &snap) {
    JoinRules rules;
    if (const auto v = overlap ? args.value(*overlap) : std::nullopt) {
        if (*v == "first") rules.overlap = Overlap::kFirst;
        else if (*v == "last") rules.overlap = Overlap::kLast;
        else throw UsageError("--overlap must be first or last, not " + quoted(*v));
    }
    if (const auto v = args.value(snap)) {
        const auto seconds = read_duration(*v);
        if (!seconds)
            throw UsageError("--" + std::string(snap.name) + " needs a duration of 0 or more (seconds, or a number " +
                             "and s, ms, us or ns), not " + quoted(*v));
        rules.snap = *seconds;
    }
    return rules;
}

void report_notes(std::string_view command, const std::vector<std::string> &notes) {
    for (const std::string &note : notes) report(command, note);
}

JobFiles job_files(const Args &args, const Option &output, std::size_t least, std::size_t most, OutOperand where) {
    if (auto out = args.value(output)) return {*out, args.operands(least, most)};
    const std::vector<std::string> &all = args.operands();
    if (all.size() <= least) throw UsageError("missing operand; name the file to write with -o OUT");
    const std::vector<std::string> &files = args.operands(least + 1, most == SIZE_MAX ? most : most + 1);
    if (where == OutOperand::kFirst) return {files.front(), {files.begin() + 1, files.end()}};
    return {files.back(), {files.begin(), files.end() - 1}};
}

int invoke(const Subcommand &sub, const std::vector<std::string> &words) {
    const Args args(words, sub.options);
    if (sub.needs_stdout) need_standard_stream(STDOUT_FILENO);
    if (!sub.reroutes) return sub.run(args, {STDOUT_FILENO});
    const StdoutToStderr route;  // the library's messages are errors here
    return sub.run(args, {route.data_fd()});
}

StdoutToStderr::StdoutToStderr() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ < 0) throw Failure("standard output is not open: " + system_error());
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
}

}  // namespace bottletool
