// bottle import: a new bottle from text on standard input, one value per
// line or the last field of each CSV line.  The bottle is written under a
// temporary name and renamed into place only when it is complete.

#include <algorithm>
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
#include "place.h"

namespace bottletool {
namespace {

const char kSynopsis[] =
    "usage: bottle import -o OUT --type int|long|float|double --begin TIME\n"
    "                            --interval SECONDS [--force]\n"
    "       bottle import -o OUT --times [--epoch] --type TYPE [--begin TIME]\n"
    "                            --interval SECONDS [--force]\n"
    "       bottle import OUT --type TYPE ...  (the same, with OUT as the operand)\n"
    "Reads values from standard input, one per line, or CSV lines whose last field\n"
    "is the value (a first line whose last field is a word, such as \"time,value\", is\n"
    "a header and skipped), and writes them to a new bottle OUT: sample 0 at TIME,\n"
    "the next every SECONDS.  Every line is a sample: a blank line, an empty field,\n"
    "NA or nan is an unusable one.  Numbers take a decimal point and no thousands\n"
    "separator: a decimal comma or a thousands separator (1,5 or 1,234) is an error,\n"
    "never read as the digits after the comma; so is, after a header, a line with\n"
    "more fields than the header, and without one, a line of two plain numbers such\n"
    "as 0,5.  A value the type cannot hold, or the type's unusable value itself, is\n"
    "an error naming its line.\n";

constexpr Option kOutput{.name = "output", .alias = 'o', .value = "OUT",
                         .help = "the new bottle; without it, the operand"};
constexpr Option kType{.name = "type", .value = "TYPE", .help = "int (16-bit), long (32-bit), float or double"};
constexpr Option kBegin{.name = "begin", .value = "TIME", .help = "time of the first sample"};
constexpr Option kInterval{.name = "interval", .value = "SECONDS", .help = "time between samples, 0 or more"};
constexpr Option kTimes{
    .name = "times",
    .help = "the first field of each CSV line is the TIME of its value, which goes to the sample of that time; "
            "--begin defaults to the first line's time.  Times must increase and lie on the nominal grid of the "
            "interval (to within half a millisecond, or a quarter of the interval where that is less); a sample "
            "with no line is unusable.  A line off the grid, repeated or out of order is an error naming it.  A "
            "bare number (1435017600) could be a compact date or seconds since 1970, and is refused: write "
            "@SECONDS"};
constexpr Option kEpoch{.name = "epoch",
                        .help = "with --times: the times are seconds since 1970, as dump --epoch writes them"};
constexpr Option kForce{.name = "force", .help = "replace OUT if it exists"};
constexpr const Option *kOptions[] = {&kOutput, &kType, &kBegin, &kInterval, &kTimes, &kEpoch, &kForce};

const char kNotes[] =
    "OUT is a regular file (a link is followed to the file it names, and stays); it\n"
    "changes only when the whole input has been read and written, and an existing\n"
    "OUT is never replaced without --force.  The bottle library's messages go to\n"
    "standard error.\n";

// --- Reading the input ---------------------------------------------------

// What import needs of one input line: its last two comma-separated fields
// and how many fields it has.
struct LineFields {
    std::string_view first;   // the first field (of a long line, its first kMaxField + 1 bytes)
    std::string_view value;   // the last field
    std::string_view before;  // the field before it; empty for a line of one field
    std::size_t fields = 1;
    bool too_long = false;    // the last field is longer than kMaxField
};

// The lines of a descriptor, read in large chunks.  Of a line that crosses
// chunks only its last kTail bytes are kept, enough for the two fields,
// so memory stays bounded whatever the input.
class LineReader {
public:
    static constexpr std::size_t kMaxField = 256;

    explicit LineReader(int fd) : fd_(fd), chunk_(kChunk) {}

    // The next line (valid until the next call), or false at the end of
    // the input.
    bool next(LineFields &line) {
        held_.clear();
        first_.clear();
        first_done_ = false;
        dropped_commas_ = 0;
        bool started = false;
        for (;;) {
            if (pos_ == len_ && !fill()) break;
            started = true;
            const char *begin = chunk_.data() + pos_, *stop = chunk_.data() + len_;
            const auto *newline = static_cast<const char *>(std::memchr(begin, '\n', static_cast<std::size_t>(stop - begin)));
            const char *end = newline ? newline : stop;
            pos_ = static_cast<std::size_t>(end - chunk_.data()) + (newline ? 1 : 0);
            if (newline && held_.empty() && dropped_commas_ == 0) {  // the whole line lies in this chunk
                const std::string_view text(begin, static_cast<std::size_t>(end - begin));
                split(text, false, line);
                line.first = text.substr(0, text.find(','));
                ++line_;
                return true;
            }
            keep_tail(begin, end);
            if (newline) break;
        }
        if (!started) return false;
        split(held_, cut_, line);
        line.first = first_;
        ++line_;
        return true;
    }
    std::int64_t line() const { return line_; }

private:
    static constexpr std::size_t kChunk = std::size_t{1} << 20;
    static constexpr std::size_t kTail = 2 * kMaxField + 2;

    bool fill() {
        for (;;) {
            const ssize_t n = read_input(fd_, chunk_.data(), chunk_.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw Failure("cannot read standard input: " + system_error());
            pos_ = 0;
            len_ = static_cast<std::size_t>(n);
            return n > 0;
        }
    }
    // Keeps the last kTail bytes of a line that crosses chunks, counting
    // the commas of what it drops.
    void keep_tail(const char *begin, const char *end) {
        if (held_.empty()) cut_ = false;
        keep_first_field(begin, end);
        held_.append(begin, end);
        if (held_.size() > 2 * kTail) {
            const auto drop = static_cast<std::ptrdiff_t>(held_.size() - kTail);
            dropped_commas_ += static_cast<std::size_t>(std::count(held_.begin(), held_.begin() + drop, ','));
            held_.erase(held_.begin(), held_.begin() + drop);
            cut_ = true;
        }
    }
    // Adds what the bytes [begin, end) of a line hold of its first field,
    // up to kMaxField + 1 bytes.
    void keep_first_field(const char *begin, const char *end) {
        if (first_done_) return;
        const auto *comma = static_cast<const char *>(std::memchr(begin, ',', static_cast<std::size_t>(end - begin)));
        const char *stop = comma ? comma : end;
        first_.append(begin, std::min(static_cast<std::size_t>(stop - begin), kMaxField + 1 - first_.size()));
        first_done_ = comma != nullptr || first_.size() > kMaxField;
    }
    // The fields of a line, or of its last bytes when `cut` (bytes before
    // them were dropped).
    void split(std::string_view text, bool cut, LineFields &line) const {
        const char *last = static_cast<const char *>(memrchr(text.data(), ',', text.size()));
        if (!last) {
            line = {{}, text, {}, dropped_commas_ + 1, cut || text.size() > kMaxField};
            return;
        }
        const auto at = static_cast<std::size_t>(last - text.data());
        const char *previous = static_cast<const char *>(memrchr(text.data(), ',', at));
        const std::size_t from = previous ? static_cast<std::size_t>(previous - text.data()) + 1 : 0;
        line.value = text.substr(at + 1);
        line.before = text.substr(from, at - from);
        line.too_long = line.value.size() > kMaxField;
        line.fields = dropped_commas_ + 2 + (previous ? 1 + commas_in(text.substr(0, from - 1)) : 0);
    }
    static std::size_t commas_in(std::string_view s) {
        std::size_t n = 0;
        for (const char *p = s.data(), *end = p + s.size();
             (p = static_cast<const char *>(std::memchr(p, ',', static_cast<std::size_t>(end - p)))); ++p)
            ++n;
        return n;
    }

    int fd_;
    std::vector<char> chunk_;
    std::size_t pos_ = 0, len_ = 0;
    std::string held_;
    std::string first_;                 // the first field of a line that crosses chunks
    bool first_done_ = false;           // first_ is complete
    bool cut_ = false;                  // held_ lost the start of its line
    std::size_t dropped_commas_ = 0;    // in what held_ lost
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

std::string line_label(std::int64_t number) { return "line " + std::to_string(number) + ": "; }

// A field without the blanks and double quotes around it.
std::string_view bare(std::string_view field) {
    const std::size_t first = field.find_first_not_of(" \t\r\"");
    if (first == std::string_view::npos) return {};
    return field.substr(first, field.find_last_not_of(" \t\r\"") - first + 1);
}

// "NA", as R and spreadsheets write a missing value.
bool is_na(std::string_view field) {
    field = bare(field);
    return field.size() == 2 && (field[0] | 0x20) == 'n' && (field[1] | 0x20) == 'a';
}

// Digits with an optional fraction ("12", "12.5"), after a sign if `sign`.
bool plain_number(std::string_view s, bool sign) {
    if (sign && !s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
    const auto digits = [](std::string_view d) { return !d.empty() && d.find_first_not_of("0123456789") == std::string_view::npos; };
    const std::size_t point = s.find('.');
    return digits(s.substr(0, point)) && (point == std::string_view::npos || digits(s.substr(point + 1)));
}

// A decimal comma ("1,5") or a thousands separator ("1,234") would leave
// only the digits after the last comma as the value.  After a header line
// a line with more fields than the header is refused; without a header, a
// line whose last two fields are both plain numbers, since nothing tells
// it from a number split at its comma.
void refuse_comma_in_number(const LineFields &line, std::size_t header_fields, bool times, std::int64_t number) {
    constexpr const char *kNotRead = "a decimal comma or a thousands separator is not read (write 1234.5)";
    if (header_fields > 0 && line.fields > header_fields)
        throw Failure(line_label(number) + std::to_string(line.fields) + " fields where the header has " +
                      std::to_string(header_fields) + "; " + kNotRead);
    if (times && line.fields < 2) throw Failure(line_label(number) + "a TIME,VALUE line is expected");
    if (times && header_fields == 0 && line.fields > 2)
        throw Failure(line_label(number) + std::to_string(line.fields) + " fields where a TIME,VALUE line has 2; " +
                      kNotRead);
    if (times) return;
    if (header_fields == 0 && line.fields > 1 && plain_number(bare(line.before), true) &&
        plain_number(bare(line.value), false))
        throw Failure(line_label(number) + shown_field(std::string(line.before) + "," + std::string(line.value)) +
                      " reads as a number with a comma in it; " + kNotRead +
                      ", and CSV lines of numbers need a header line such as time,value");
}

// Reads every line of standard input into the writer; a line that holds no
// usable value of the type is a Failure naming it.
template <class T>
void import_lines(SampleWriter<T> &writer, T unusable, int type, std::optional<RowPlacer> placer) {
    const char *type_name = zulu::format::kTypes[static_cast<std::size_t>(type)].name;
    const std::int64_t limit = zulu::format::addressable_samples(type, zulu::format::kHeaderSize);
    LineReader input(STDIN_FILENO);
    LineFields line;
    std::size_t header_fields = 0;  // 0: no header line
    while (input.next(line)) {
        const auto where = [&] { return line_label(input.line()); };
        if (line.too_long) throw Failure(where() + "the value is longer than 256 characters");
        std::string_view field = line.value;
        std::string_view time_field = line.first;
        if (input.line() == 1 && field.starts_with(kByteOrderMark)) field.remove_prefix(kByteOrderMark.size());
        if (input.line() == 1 && time_field.starts_with(kByteOrderMark)) time_field.remove_prefix(kByteOrderMark.size());
        T value{};
        const ValueText kind = is_na(field) ? ValueText::kUnusable : read_value(field, unusable, value);
        if (kind == ValueText::kNotNumber && input.line() == 1 && starts_with_letter(field)) {
            header_fields = line.fields;
            continue;
        }
        refuse_comma_in_number(line, header_fields, placer.has_value(), input.line());
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
        if (placer) {
            const std::int64_t i = placer->index(bare(time_field), input.line(), limit);
            while (writer.count() < i) writer.push(unusable);
        }
        if (writer.count() >= limit)
            throw Failure(where() + "a bottle of type " + std::string(type_name) + " holds at most " +
                          std::to_string(limit) + " samples");
        writer.push(value);
    }
}

// --- The new bottle ------------------------------------------------------

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

std::string required(const Args &args, const Option &option) {
    auto v = args.value(option);
    if (!v) throw UsageError("--" + std::string(option.name) + " is required");
    return *v;
}

int run_import(const Args &args, const Context &) {
    const std::string out = job_files(args, kOutput, 0, 0, OutOperand::kLast).out;
    const std::string type_name = required(args, kType);
    const auto type = type_code(type_name);
    if (!type) throw UsageError("--type must be int, long, float or double, not " + quoted(type_name));
    const bool times = args.has(kTimes);
    const auto begin = args.value(kBegin);
    const double beg = times && !begin ? 0 : read_time(kBegin.name, required(args, kBegin));
    const double ivl = read_interval(required(args, kInterval));
    const bool epoch = args.has(kEpoch);
    if (epoch && !times) throw UsageError("--epoch says how the times of --times are written");
    if (times && ivl == 0) throw UsageError("--times places rows on the grid of the interval, which must be above 0");
    need_standard_stream(STDIN_FILENO);
    std::vector<InputFile> inputs;
    if (auto in = input_file(STDIN_FILENO, "standard input")) inputs.push_back(*in);
    OutputTarget target(out, inputs, {args.has(kForce), false, 0664});
    NewBottle bottle(target.temp_path(), out, beg, ivl, *type);
    with_sample_type(*type, [&](auto tag) {
        using T = decltype(tag);
        SampleWriter<T> writer(bottle.get());
        std::optional<RowPlacer> placer;
        if (times) placer.emplace(bottle.get(), begin.has_value(), epoch ? RowTimes::kSeconds : RowTimes::kText);
        import_lines(writer, unusable_as<T>(bot_usym(bottle.get())), *type, placer);
        writer.finish();
    });
    bottle.finish();
    target.commit();
    return 0;
}

}  // namespace

const Subcommand kImport{.name = "import", .summary = "make a bottle from values on standard input", .usage = kSynopsis,
                         .options = kOptions, .notes = kNotes, .takes_time = true, .reroutes = true, .run = run_import};

}  // namespace bottletool
