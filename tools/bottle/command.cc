#include "command.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include <unistd.h>

namespace bottletool {
namespace {

const OptionSpec *find_long(const std::vector<OptionSpec> &options, std::string_view name) {
    auto it = std::find_if(options.begin(), options.end(), [&](const OptionSpec &s) { return s.name == name; });
    return it == options.end() ? nullptr : &*it;
}

const OptionSpec *find_alias(const std::vector<OptionSpec> &options, char alias) {
    auto it = std::find_if(options.begin(), options.end(), [&](const OptionSpec &s) { return s.alias == alias; });
    return it == options.end() ? nullptr : &*it;
}

}  // namespace

Args::Args(const std::vector<std::string> &words, const std::vector<OptionSpec> &options) {
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
        const OptionSpec *option = nullptr;
        std::optional<std::string> inline_value;
        if (word[1] == '-') {
            const std::size_t eq = word.find('=');
            option = find_long(options, std::string_view(word).substr(2, eq == std::string::npos ? eq : eq - 2));
            if (eq != std::string::npos) inline_value = word.substr(eq + 1);
        } else if (word.size() == 2) {
            option = find_alias(options, word[1]);
        }
        if (!option) throw UsageError("unknown option " + quoted(word));
        const std::string name(option->name);
        if (values_.count(name)) throw UsageError("option --" + name + " is given twice");
        if (!option->takes_value) {
            if (inline_value) throw UsageError("option --" + name + " takes no value");
            values_[name] = "";
        } else if (inline_value) {
            values_[name] = *inline_value;
        } else if (i + 1 < words.size()) {
            values_[name] = words[++i];
        } else {
            throw UsageError("option --" + name + " needs a value");
        }
    }
}

std::optional<std::string> Args::value(std::string_view name) const {
    auto it = values_.find(std::string(name));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

const std::vector<std::string> &Args::operands(std::size_t min, std::size_t max) const {
    if (operands_.size() < min) throw UsageError("missing operand");
    if (operands_.size() > max) throw UsageError("unexpected operand " + quoted(operands_[max]));
    return operands_;
}

bool wants_help(const std::vector<std::string> &words) {
    for (const std::string &w : words) {
        if (w == "--") return false;
        if (w == "-h" || w == "--help") return true;
    }
    return false;
}

std::int64_t read_count(std::string_view option, std::string_view text, std::int64_t min, std::int64_t max) {
    std::int64_t n = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, n);
    if (ec != std::errc() || ptr != end || n < min || n > max)
        throw UsageError("--" + std::string(option) + " needs a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not " + quoted(text));
    return n;
}

void report(std::string_view command, std::string_view message) {
    std::fflush(stdout);
    std::fprintf(stderr, "bottle%s%.*s: %.*s\n", command.empty() ? "" : " ", static_cast<int>(command.size()),
                 command.data(), static_cast<int>(message.size()), message.data());
}

double read_time(std::string_view option, std::string_view text) {
    TimeProblem p;
    if (auto t = parse_time(text, &p)) return *t;
    std::string message = "--" + std::string(option) + ": " + quoted(text) + " is not a time: " + p.what;
    if (p.form) message += std::string("; ") + kTimeForms;
    throw UsageError(message);
}

TimeRange read_time_range(const Args &args) {
    TimeRange range;
    const auto from = args.value("from"), to = args.value("to");
    if (from) range.from = read_time("from", *from);
    if (to) range.to = read_time("to", *to);
    if (range.from && range.to && *range.from > *range.to)
        throw UsageError("--from " + *from + " is later than --to " + *to);
    return range;
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
