// bottle import: a new bottle from text on standard input, one value per
// line or the last field of each CSV line.  The bottle is written under a
// temporary name and renamed into place only when it is complete.

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "command.h"
#include "files.h"
#include "samples.h"
#include "subcommands.h"
#include "timetext.h"

namespace bottletool {
namespace {

const char kHelp[] =
    "usage: bottle import OUT --type int|long|float|double --begin TIME --interval SECONDS [--force]\n"
    "Reads values from standard input, one per line, or CSV lines whose last field is\n"
    "the value (a first line whose last field is a word, such as \"time,value\", is a\n"
    "header and skipped), and writes them to a new bottle OUT: sample 0 at TIME, the\n"
    "next every SECONDS.  An empty field or \"nan\" is an unusable sample.  A value the\n"
    "type cannot hold, or the type's unusable value itself, is an error naming its line.\n"
    "  --type TYPE          int (16-bit), long (32-bit), float or double\n"
    "  --begin TIME         time of the first sample\n"
    "  --interval SECONDS   time between samples, 0 or more\n"
    "  --force              replace OUT if it exists\n"
    "OUT changes only when the whole input has been read and written; an existing OUT\n"
    "is never replaced without --force.  The bottle library's messages go to standard\n"
    "error.\n";

// --- Reading the input ---------------------------------------------------

// The last comma-separated field of each line of a descriptor, read in
// large chunks; a field longer than kMaxField is reported as such rather
// than kept, so memory stays bounded whatever the input.
class LastFields {
public:
    static constexpr std::size_t kMaxField = 256;

    explicit LastFields(int fd) : fd_(fd), chunk_(kChunk) {}

    // The last field of the next line (valid until the next call), or
    // false at the end of the input.
    bool next(std::string_view &field) {
        held_.clear();
        too_long_ = false;
        bool started = false, split = false;
        for (;;) {
            if (pos_ == len_) {
                if (!fill()) break;
                split = started;
            }
            started = true;
            const char *begin = chunk_.data() + pos_, *stop = chunk_.data() + len_;
            const auto *newline = static_cast<const char *>(std::memchr(begin, '\n', static_cast<std::size_t>(stop - begin)));
            const char *line_end = newline ? newline : stop;
            const auto *comma = static_cast<const char *>(memrchr(begin, ',', static_cast<std::size_t>(line_end - begin)));
            if (comma) {
                held_.clear();
                too_long_ = false;
                begin = comma + 1;
            }
            pos_ = static_cast<std::size_t>(line_end - chunk_.data()) + (newline ? 1 : 0);
            if (newline && !split) {  // the whole line lies in this chunk
                field = std::string_view(begin, static_cast<std::size_t>(line_end - begin));
                too_long_ = field.size() > kMaxField;
                ++line_;
                return true;
            }
            hold(begin, line_end);
            if (newline) break;
        }
        if (!started) return false;
        field = held_;
        ++line_;
        return true;
    }
    std::int64_t line() const { return line_; }
    bool too_long() const { return too_long_; }

private:
    static constexpr std::size_t kChunk = std::size_t{1} << 20;

    bool fill() {
        for (;;) {
            const ssize_t n = read(fd_, chunk_.data(), chunk_.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw Failure("cannot read standard input: " + system_error());
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
            return n > 0;
        }
    }
    void hold(const char *begin, const char *end) {
        const auto n = static_cast<std::size_t>(end - begin);
        if (too_long_ || held_.size() + n > kMaxField) {
            too_long_ = true;
            return;
        }
        held_.append(begin, n);
    }

    int fd_;
    std::vector<char> chunk_;
    std::size_t pos_ = 0, len_ = 0;
    std::string held_;
    bool too_long_ = false;
    std::int64_t line_ = 0;
};

// Some programs begin UTF-8 text with this.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool starts_with_letter(std::string_view field) {
    while (!field.empty() && (field.front() == ' ' || field.front() == '\t' || field.front() == '"'))
        field.remove_prefix(1);
    return !field.empty() && ((field[0] | 0x20) >= 'a' && (field[0] | 0x20) <= 'z');
}

template <class T>
const char *range_text() {
    if constexpr (std::is_same_v<T, std::int16_t>) return "whole numbers from -32768 to 32767";
    if constexpr (std::is_same_v<T, std::int32_t>) return "whole numbers from -2147483648 to 2147483647";
    if constexpr (std::is_same_v<T, float>) return "magnitudes from 1.4e-45 to 3.4e38";
    return "magnitudes from 4.9e-324 to 1.8e308";
}

std::string shown_field(std::string_view field) {
    constexpr std::size_t kShown = 40;
    return quoted(field.size() > kShown ? std::string(field.substr(0, kShown)) + "..." : std::string(field));
}

// Reads every line of standard input into the writer; a line that holds no
// usable value of the type is a Failure naming it.
template <class T>
void import_lines(SampleWriter<T> &writer, T unusable, int type) {
    const char *type_name = kTypes[static_cast<std::size_t>(type)].name;
    const std::int64_t limit = max_samples(type);
    LastFields input(STDIN_FILENO);
    std::string_view field;
    while (input.next(field)) {
        const auto where = [&] { return "line " + std::to_string(input.line()) + ": "; };
        if (input.too_long()) throw Failure(where() + "the value is longer than 256 characters");
        if (input.line() == 1 && field.starts_with(kByteOrderMark)) field.remove_prefix(kByteOrderMark.size());
        T value{};
        const ValueText kind = read_value(field, unusable, value);
        if (kind == ValueText::kNotNumber && input.line() == 1 && starts_with_letter(field)) continue;  // a header
        switch (kind) {
        case ValueText::kNotNumber:
            throw Failure(where() + shown_field(field) + " is not " +
                          (std::is_integral_v<T> ? "a whole number" : "a number"));
        case ValueText::kOutOfRange:
            throw Failure(where() + shown_field(field) + " does not fit the type " + type_name + " (" +
                          range_text<T>() + ")");
        case ValueText::kIsUnusableValue:
            throw Failure(where() + shown_field(field) + " is the unusable value of the type " + type_name +
                          "; leave the field empty for an unusable sample");
        case ValueText::kUnusable:
            value = unusable;
            break;
        case ValueText::kValue:
            break;
        }
        if (writer.count() >= limit)
            throw Failure(where() + "a bottle of type " + std::string(type_name) + " holds at most " +
                          std::to_string(limit) + " samples");
        writer.push(value);
    }
}

// --- The new bottle ------------------------------------------------------

// A bottle made with bcreat, closed (header written back) on destruction.
class CreatedBottle {
public:
    CreatedBottle(const std::string &name, double beg, double ivl, int type)
        : h_(bcreat(name.c_str(), beg, ivl, type)) {
        if (!h_) throw Failure("");  // bcreat has printed why
    }
    ~CreatedBottle() { close(); }
    CreatedBottle(const CreatedBottle &) = delete;
    CreatedBottle &operator=(const CreatedBottle &) = delete;

    bottle_hdr *get() const { return h_; }
    void close() {
        if (h_) bclose(h_);
        h_ = nullptr;
    }

private:
    bottle_hdr *h_;
};

// The library reports failed writes but carries on: check that the file
// holds the header and every sample before it may replace the target.
void check_written(const std::string &path, const std::string &target, int type, std::int64_t count) {
    struct stat st;
    const auto header = read_stored_header(path);
    const std::int64_t size = 40 + count * kTypes[static_cast<std::size_t>(type)].width;
    if (stat(path.c_str(), &st) != 0 || st.st_size != size || !header || header->nsam != count)
        throw Failure("writing " + target + " failed; it is left as it was");
}

double read_interval(const std::string &text) {
    double ivl = 0;
    const char *end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, ivl);
    if (ec != std::errc() || ptr != end || !std::isfinite(ivl) || ivl < 0 || ivl > FLT_MAX)
        throw UsageError("--interval needs a number of seconds from 0 to 3.4e38, not " + quoted(text));
    if (ivl > 0 && static_cast<float>(ivl) == 0)
        throw UsageError("--interval " + text + " is too small for the header, which holds it as a float");
    return ivl;
}

std::string required(const Args &args, const char *option) {
    auto v = args.value(option);
    if (!v) throw UsageError(std::string("--") + option + " is required");
    return *v;
}

int run_import(const std::vector<std::string> &words) {
    const Args args(words, {{"type", 0, true}, {"begin", 0, true}, {"interval", 0, true}, {"force"}});
    const std::string out = args.operands(1, 1)[0];
    const std::string type_name = required(args, "type");
    const auto type = type_code(type_name);
    if (!type) throw UsageError("--type must be int, long, float or double, not " + quoted(type_name));
    const double beg = read_time("begin", required(args, "begin"));
    const double ivl = read_interval(required(args, "interval"));
    const StdoutToStderr route;  // the library's messages are errors here
    PendingFile pending(out, args.has("force"), 0664);
    CreatedBottle bottle(pending.path(), beg, ivl, *type);
    const std::int64_t count = with_sample_type(*type, [&](auto tag) {
        using T = decltype(tag);
        SampleWriter<T> writer(bottle.get());
        import_lines(writer, unusable_as<T>(bot_usym(bottle.get())), *type);
        writer.finish();
        return writer.count();
    });
    bottle.close();
    check_written(pending.path(), out, *type, count);
    pending.commit();
    return 0;
}

}  // namespace

const Subcommand kImport{"import", "make a bottle from values on standard input", kHelp, true, run_import};

}  // namespace bottletool
